// Tessera's trace provider.
//
// Every diagnostic is a message: a message GUID, a 16-bit number and up to
// two raw arguments, sent under one of four classes. A class is on exactly
// while a trace session has enabled it: an LTTng session on Linux, an Event
// Tracing for Windows logger on Windows. While it is off, an emission costs
// one load and one test and builds nothing. Nothing is ever written to
// stdout or stderr.
#pragma once

#include <bit>
#include <cstdint>

// Enable-flag bits of the four message classes.
constexpr uint32_t TRACE_FLAG_FAILURE = 0x1;      // 8-bit failure lines, failure data messages
constexpr uint32_t TRACE_FLAG_WIDE_FAILURE = 0x2; // wide lines with a negative status
constexpr uint32_t TRACE_FLAG_INFO = 0x4;         // success lines, other data messages
constexpr uint32_t TRACE_FLAG_ENTRY_EXIT = 0x8;   // TraceHelper entry and exit

struct TraceGuid {
    uint8_t bytes[16];
};

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" at compile time; the bytes
// keep the order of the text.
consteval TraceGuid MakeTraceGuid(const char (&text)[37])
{
    TraceGuid guid{};
    int nByte = 0;
    for (int i = 0; i < 36 && nByte < 16;) {
        if (text[i] == '-') {
            ++i;
            continue;
        }
        auto nibble = [](char c) {
            return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        };
        guid.bytes[nByte++] = static_cast<uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1]));
        i += 2;
    }
    return guid;
}

// One raw argument of a message.
struct TraceArg {
    const void* pData;
    uint32_t cbData;
};

// An 8-bit string with its NUL; a null string is sent as "NULL".
TraceArg TraceArgString(const char* psz);
// A UTF-16 string with its NUL; null is sent as "NULL", empty as "<NULL>".
TraceArg TraceArgWide(const char16_t* pwsz);
// A 32-bit integer; refers to the caller's value, which must outlive the call.
inline TraceArg TraceArgInt(const int32_t& n) { return {&n, sizeof n}; }

inline TraceArg MakeTraceArg(const char* psz) { return TraceArgString(psz); }
inline TraceArg MakeTraceArg(const char16_t* pwsz) { return TraceArgWide(pwsz); }
inline TraceArg MakeTraceArg(const int32_t& n) { return TraceArgInt(n); }

namespace trace_detail {
// Sends a message. Leaves errno and the thread's last error as it found
// them, since traced code reads them after its own calls.
void Emit(uint32_t dwFlag, const TraceGuid& guid, uint16_t nNumber, const TraceArg* pArgs, unsigned nArgs);
} // namespace trace_detail

#ifdef _WIN32

struct _GUID;

namespace trace_detail {
// The provider's control block. The enable callback writes the logger
// handle, level and enable flags whenever a logger enables or disables the
// provider, from a thread of the tracing service; the emitters read them
// without a lock.
struct TraceControlBlock {
    uint64_t hRegistration;     // from the provider registration; 0 when not registered
    uint64_t hLogger;           // the logger that receives the messages; 0 when none
    uint8_t cFlagWords;         // number of 32-bit enable-flag words: 1
    uint8_t nLevel;             // the level the logger asked for; recorded, never tested
    uint16_t wOptions;          // 0
    uint32_t dwEnableFlags;     // the classes that are on
    const _GUID* pControlGuid;  // the provider's control GUID
};
// The process-wide pointer: the registered provider's control block, or,
// before start-up and after shutdown, a block whose flags are always 0 (not
// ready), so that the gate needs no null test.
extern TraceControlBlock* g_pTraceControl;
} // namespace trace_detail

// The one test that gates every emission.
inline bool TraceIsEnabled(uint32_t dwFlag)
{
    const trace_detail::TraceControlBlock* pControl = __atomic_load_n(&trace_detail::g_pTraceControl, __ATOMIC_RELAXED);
    return (__atomic_load_n(&pControl->dwEnableFlags, __ATOMIC_RELAXED) & dwFlag) != 0;
}

#else

namespace trace_detail {
extern const int* volatile g_apClassState[4];
} // namespace trace_detail

// The one test that gates every emission.
inline bool TraceIsEnabled(uint32_t dwFlag)
{
    const int* pState = trace_detail::g_apClassState[std::countr_zero(dwFlag)];
    return __atomic_load_n(pState, __ATOMIC_RELAXED) != 0;
}

#endif

// Sends a message with up to two arguments (8-bit strings, UTF-16 strings
// or 32-bit integers) under dwFlag. While the class is off, nothing is
// built.
template <class... Args>
inline void TraceMessage(uint32_t dwFlag, const TraceGuid& guid, uint16_t nNumber, const Args&... args)
{
    static_assert(sizeof...(Args) <= 2, "a message carries at most two arguments");
    if (TraceIsEnabled(dwFlag)) {
        const TraceArg aArgs[] = {MakeTraceArg(args)..., TraceArg{}};
        trace_detail::Emit(dwFlag, guid, nNumber, aArgs, sizeof...(Args));
    }
}

// Loads one of Tessera's own module files by name and returns its handle, or
// null. Tracing stands below every other part of Tessera, so the caller
// passes in how modules are found.
using TraceModuleLoader = void* (*)(const char* pszFileName);

// Starts the provider. Never fails; a provider that cannot start stays
// silent.
// - Linux: when an LTTng session daemon is running, loads the provider
//   library with pfnLoadModule (the library registers the events with the
//   daemon and picks up the sessions that already exist). Without a daemon
//   nothing is loaded and every class stays off.
// - Windows: registers the provider with Event Tracing for Windows, which
//   enables it for the loggers that ask for it, now or later, and picks up
//   the boot-time logger's settings. pfnLoadModule is not used.
// A second call while the provider is started changes nothing.
void InitTracing(TraceModuleLoader pfnLoadModule);

// Stops the provider: every class is off from here on.
void CleanupTracing();

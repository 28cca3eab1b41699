// The Event Tracing for Windows transport of Tessera's trace provider.
#include "EtwTransport.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>

#include "trace/TraceGuids.h"

namespace {

using trace_detail::TraceControlBlock;

const GUID kControlGuid = trace_etw::ToWindowsGuid(kTraceControlGuid);

// The provider's control block, and the block that the process-wide pointer
// shows while the provider is not ready: nothing ever writes to it, so its
// flags stay 0.
TraceControlBlock g_ControlBlock{};
TraceControlBlock g_NotReady{};

// The function that sends messages, found on first use, and TraceMessageVa,
// which one of the stand-ins below needs.
trace_etw::TraceMessageFn g_pfnTraceMessage = nullptr;
using TraceMessageVaFn = decltype(&::TraceMessageVa);
TraceMessageVaFn g_pfnTraceMessageVa = nullptr;

const wchar_t kGlobalLoggerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger";
const wchar_t kGlobalLoggerName[] = L"GlobalLogger";
// The properties record of the boot-time logger query: the record alone,
// with no room for the logger's name or file.
constexpr ULONG kLoggerPropertiesSize = 120;
static_assert(sizeof(EVENT_TRACE_PROPERTIES) <= kLoggerPropertiesSize);

template <class T, class V>
void StoreRelaxed(T& field, V value)
{
    __atomic_store_n(&field, static_cast<T>(value), __ATOMIC_RELAXED);
}

template <class T>
T LoadRelaxed(const T& field)
{
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

// Leaves errno and the thread's last error as they were when it was made.
class SavedErrors {
public:
    SavedErrors() : m_dwLastError(GetLastError()), m_nErrno(errno) {}
    ~SavedErrors()
    {
        errno = m_nErrno;
        SetLastError(m_dwLastError);
    }
    SavedErrors(const SavedErrors&) = delete;
    SavedErrors& operator=(const SavedErrors&) = delete;

private:
    DWORD m_dwLastError;
    int m_nErrno;
};

// Stands in for TraceMessage where the system has only TraceMessageVa.
ULONG __cdecl SendThroughTraceMessageVa(TRACEHANDLE hLogger, ULONG dwMessageFlags, LPCGUID pMessageGuid,
                                        USHORT nMessageNumber, ...)
{
    va_list args;
    va_start(args, nMessageNumber);
    const ULONG nResult = g_pfnTraceMessageVa(hLogger, dwMessageFlags, pMessageGuid, nMessageNumber, args);
    va_end(args);
    return nResult;
}

// Stands in for TraceMessage where the system has neither: one TraceEvent
// whose event GUID is the message GUID, whose class version is the message
// number, and whose data fields are the arguments. The service stamps the
// time and the thread itself.
ULONG __cdecl SendThroughTraceEvent(TRACEHANDLE hLogger, ULONG /*dwMessageFlags*/, LPCGUID pMessageGuid,
                                    USHORT nMessageNumber, ...)
{
    struct {
        EVENT_TRACE_HEADER header;
        MOF_FIELD aFields[MAX_MOF_FIELDS];
    } event{};
    va_list args;
    va_start(args, nMessageNumber);
    ULONG nFields = 0;
    for (; nFields < MAX_MOF_FIELDS; ++nFields) {
        const void* pData = va_arg(args, const void*);
        if (pData == nullptr)
            break;
        event.aFields[nFields].DataPtr = reinterpret_cast<ULONG_PTR>(pData);
        event.aFields[nFields].Length = static_cast<ULONG>(va_arg(args, SIZE_T));
    }
    va_end(args);
    event.header.Size = static_cast<USHORT>(offsetof(decltype(event), aFields) + nFields * sizeof(MOF_FIELD));
    event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;
    event.header.Guid = *pMessageGuid;
    event.header.Class.Type = EVENT_TRACE_TYPE_INFO;
    event.header.Class.Version = nMessageNumber;
    return TraceEvent(hLogger, &event.header);
}

template <class Fn>
Fn LookUp(HMODULE hModule, const char* pszName)
{
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, pszName)));
}

// Finds the function that sends messages: TraceMessage from advapi32, or a
// stand-in when the system lacks it. Runs once; a function set meanwhile
// (by a test) stays.
trace_etw::TraceMessageFn FindTraceMessage()
{
    if (trace_etw::TraceMessageFn pfn = LoadRelaxed(g_pfnTraceMessage))
        return pfn;
    const HMODULE hAdvapi = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    trace_etw::TraceMessageFn pfnFound = nullptr;
    if (hAdvapi != nullptr) {
        StoreRelaxed(g_pfnTraceMessageVa, LookUp<TraceMessageVaFn>(hAdvapi, "TraceMessageVa"));
        pfnFound = LookUp<trace_etw::TraceMessageFn>(hAdvapi, "TraceMessage");
    }
    if (pfnFound == nullptr)
        pfnFound = LoadRelaxed(g_pfnTraceMessageVa) != nullptr ? SendThroughTraceMessageVa : SendThroughTraceEvent;
    trace_etw::TraceMessageFn pfnExpected = nullptr;
    if (__atomic_compare_exchange_n(&g_pfnTraceMessage, &pfnExpected, pfnFound, false, __ATOMIC_RELAXED,
                                    __ATOMIC_RELAXED))
        return pfnFound;
    return pfnExpected;
}

bool ReadDword(HKEY hKey, const wchar_t* pwszName, DWORD& dwValue)
{
    DWORD dwType = 0;
    DWORD dwData = 0;
    DWORD cbData = sizeof dwData;
    if (RegQueryValueExW(hKey, pwszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwData), &cbData) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD || cbData != sizeof dwData)
        return false;
    dwValue = dwData;
    return true;
}

// The handle of the running logger named GlobalLogger, or 0.
uint64_t QueryGlobalLoggerHandle()
{
    alignas(EVENT_TRACE_PROPERTIES) unsigned char abProperties[kLoggerPropertiesSize] = {};
    auto* pProperties = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(abProperties);
    pProperties->Wnode.BufferSize = kLoggerPropertiesSize;
    pProperties->Wnode.Flags = WNODE_FLAG_TRACED_GUID;
    // The record has no room for the name and file, so a running logger may
    // answer that more room is needed; its handle is there all the same.
    const ULONG nResult = ControlTraceW(0, kGlobalLoggerName, pProperties, EVENT_TRACE_CONTROL_QUERY);
    if (nResult != ERROR_SUCCESS && nResult != ERROR_MORE_DATA)
        return 0;
    return pProperties->Wnode.HistoricalContext;
}

} // namespace

namespace trace_detail {

TraceControlBlock* g_pTraceControl = &g_NotReady;

void Emit(uint32_t /*dwFlag*/, const TraceGuid& guid, uint16_t nNumber, const TraceArg* pArgs, unsigned nArgs)
{
    // Sending must not disturb what the traced code is about to read.
    const SavedErrors savedErrors;
    const TraceControlBlock* pControl = LoadRelaxed(g_pTraceControl);
    const TRACEHANDLE hLogger = LoadRelaxed(pControl->hLogger);
    const trace_etw::TraceMessageFn pfnSend = FindTraceMessage();
    const GUID messageGuid = trace_etw::ToWindowsGuid(guid);
    const void* const pEnd = nullptr;
    // Every result is ignored: tracing never fails an operation.
    switch (nArgs) {
    case 0:
        pfnSend(hLogger, trace_etw::kMessageFlags, &messageGuid, nNumber, pEnd);
        break;
    case 1:
        pfnSend(hLogger, trace_etw::kMessageFlags, &messageGuid, nNumber, pArgs[0].pData, SIZE_T{pArgs[0].cbData},
                pEnd);
        break;
    default:
        pfnSend(hLogger, trace_etw::kMessageFlags, &messageGuid, nNumber, pArgs[0].pData, SIZE_T{pArgs[0].cbData},
                pArgs[1].pData, SIZE_T{pArgs[1].cbData}, pEnd);
        break;
    }
}

} // namespace trace_detail

namespace trace_etw {

void FormatGuidKeyName(const GUID& guid, wchar_t (&wszName)[37])
{
    int nPos = 0;
    auto put = [&](unsigned long nValue, int nDigits) {
        for (int nShift = 4 * (nDigits - 1); nShift >= 0; nShift -= 4)
            wszName[nPos++] = L"0123456789abcdef"[(nValue >> nShift) & 0xF];
    };
    put(guid.Data1, 8);
    wszName[nPos++] = L'-';
    put(guid.Data2, 4);
    wszName[nPos++] = L'-';
    put(guid.Data3, 4);
    wszName[nPos++] = L'-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    wszName[nPos++] = L'-';
    for (int i = 2; i < 8; ++i)
        put(guid.Data4[i], 2);
    wszName[nPos] = L'\0';
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE nRequestCode, PVOID pContext, ULONG* pcbInOut, PVOID pBuffer)
{
    if (pcbInOut != nullptr)
        *pcbInOut = 0;
    auto* pControl = static_cast<TraceControlBlock*>(pContext);
    if (pControl == nullptr)
        return ERROR_INVALID_PARAMETER;
    switch (nRequestCode) {
    case WMI_ENABLE_EVENTS: {
        const TRACEHANDLE hLogger = GetTraceLoggerHandle(pBuffer);
        const UCHAR nLevel = GetTraceEnableLevel(hLogger);
        const ULONG dwFlags = GetTraceEnableFlags(hLogger);
        // The flags last, so that an emitter that sees them sees the logger.
        StoreRelaxed(pControl->hLogger, hLogger);
        StoreRelaxed(pControl->nLevel, nLevel);
        StoreRelaxed(pControl->dwEnableFlags, dwFlags);
        return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS:
        StoreRelaxed(pControl->dwEnableFlags, 0);
        StoreRelaxed(pControl->nLevel, 0);
        StoreRelaxed(pControl->hLogger, 0);
        return ERROR_SUCCESS;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

void ReadGlobalLoggerSettings(uint32_t* pdwEnableFlags, uint8_t* pnLevel, const GUID* pControlGuid,
                              uint64_t* phLogger)
{
    HKEY hLoggerKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGlobalLoggerKey, 0, KEY_READ, &hLoggerKey) != ERROR_SUCCESS)
        return;
    DWORD dwStart = 0;
    if (!ReadDword(hLoggerKey, L"Start", dwStart) || dwStart == 0) {
        RegCloseKey(hLoggerKey);
        return;
    }
    wchar_t wszGuid[37];
    FormatGuidKeyName(*pControlGuid, wszGuid);
    HKEY hProviderKey = nullptr;
    if (RegOpenKeyExW(hLoggerKey, wszGuid, 0, KEY_READ, &hProviderKey) != ERROR_SUCCESS) {
        RegCloseKey(hLoggerKey);
        return;
    }
    DWORD dwFlags = 0;
    DWORD dwLevel = 0;
    ReadDword(hProviderKey, L"Flags", dwFlags);
    ReadDword(hProviderKey, L"Level", dwLevel);
    if (dwStart == 1) {
        const uint64_t hLogger = QueryGlobalLoggerHandle();
        StoreRelaxed(*phLogger, hLogger);
        if (hLogger != 0) {
            // Bit 31 of "Flags" is not an enable flag.
            StoreRelaxed(*pdwEnableFlags, dwFlags & 0x7FFFFFFF);
            StoreRelaxed(*pnLevel, dwLevel & 0xFF);
        }
    }
    RegCloseKey(hProviderKey);
    RegCloseKey(hLoggerKey);
}

TraceControlBlock& ProviderControlBlock() { return g_ControlBlock; }

TraceMessageFn SetTraceMessageForTesting(TraceMessageFn pfnTraceMessage)
{
    const TraceMessageFn pfnPrevious = FindTraceMessage();
    StoreRelaxed(g_pfnTraceMessage, pfnTraceMessage);
    return pfnPrevious;
}

} // namespace trace_etw

void InitTracing(TraceModuleLoader /*pfnLoadModule*/)
{
    if (LoadRelaxed(trace_detail::g_pTraceControl) == &g_ControlBlock)
        return;
    const SavedErrors savedErrors;
    FindTraceMessage();
    g_ControlBlock = TraceControlBlock{0, 0, 1, 0, 0, 0, &kControlGuid};
    StoreRelaxed(trace_detail::g_pTraceControl, &g_ControlBlock);

    // A logger that already asks for the provider enables it during this
    // call, through the callback. Every result is ignored: a provider that
    // cannot register stays silent.
    TRACE_GUID_REGISTRATION registration{&kControlGuid, nullptr};
    TRACEHANDLE hRegistration = 0;
    RegisterTraceGuidsW(trace_etw::TraceControlCallback, &g_ControlBlock, &kControlGuid, 1, &registration, nullptr,
                        nullptr, &hRegistration);
    StoreRelaxed(g_ControlBlock.hRegistration, hRegistration);

    if (LoadRelaxed(g_ControlBlock.hLogger) == 0)
        trace_etw::ReadGlobalLoggerSettings(&g_ControlBlock.dwEnableFlags, &g_ControlBlock.nLevel, &kControlGuid,
                                            &g_ControlBlock.hLogger);
}

void CleanupTracing()
{
    if (LoadRelaxed(trace_detail::g_pTraceControl) != &g_ControlBlock)
        return;
    const SavedErrors savedErrors;
    if (const TRACEHANDLE hRegistration = LoadRelaxed(g_ControlBlock.hRegistration); hRegistration != 0) {
        UnregisterTraceGuids(hRegistration);
        StoreRelaxed(g_ControlBlock.hRegistration, 0);
    }
    StoreRelaxed(trace_detail::g_pTraceControl, &g_NotReady);
}

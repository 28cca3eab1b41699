// The Event Tracing for Windows transport: which messages reach a logger
// for which enable flags, what each message carries, the enable callback,
// the boot-time logger's registry settings, and that tracing leaves the
// thread's last error alone.
//
// The system's TraceMessage is replaced by a recorder, so the checks see
// exactly what would be sent. A logger's enabling is played by storing its
// handle and flags in the control block, as the enable callback does.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "trace/TraceHelper.h"
#include "trace/etw/EtwTransport.h"

namespace {

using trace_etw::ProviderControlBlock;

constexpr uint64_t kLogger = 0x0000002A00050007;

struct SentMessage {
    uint64_t hLogger;
    ULONG dwFlags;
    GUID guid;
    USHORT nNumber;
    std::vector<std::string> args; // the bytes of each argument
    bool bEndedByNull;
};
std::vector<SentMessage> g_sent;

// Records a message. Like a real sender, it changes the last error and
// errno on the way.
ULONG __cdecl RecordTraceMessage(TRACEHANDLE hLogger, ULONG dwFlags, LPCGUID pGuid, USHORT nNumber, ...)
{
    SentMessage message{hLogger, dwFlags, *pGuid, nNumber, {}, false};
    va_list args;
    va_start(args, nNumber);
    // No message carries more than two arguments.
    for (int i = 0; i < 3; ++i) {
        const char* pData = va_arg(args, const char*);
        if (pData == nullptr) {
            message.bEndedByNull = true;
            break;
        }
        if (i == 2)
            break;
        message.args.emplace_back(pData, va_arg(args, SIZE_T));
    }
    va_end(args);
    g_sent.push_back(message);
    SetLastError(ERROR_INVALID_HANDLE);
    errno = EBADF;
    return ERROR_INVALID_HANDLE;
}

bool SameGuid(const GUID& a, const TraceGuid& b)
{
    const GUID expected = trace_etw::ToWindowsGuid(b);
    return std::memcmp(&a, &expected, sizeof a) == 0;
}

std::string Bytes(const void* p, size_t cb) { return std::string(static_cast<const char*>(p), cb); }
std::string Utf16(const char16_t* pwsz)
{
    return Bytes(pwsz, (std::char_traits<char16_t>::length(pwsz) + 1) * sizeof(char16_t));
}
std::string Int32(int32_t n) { return Bytes(&n, sizeof n); }

class EtwTransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_sent.clear();
        m_pfnSystem = trace_etw::SetTraceMessageForTesting(RecordTraceMessage);
        InitTracing(nullptr);
    }
    void TearDown() override
    {
        CleanupTracing();
        trace_etw::SetTraceMessageForTesting(m_pfnSystem);
    }

    // What the enable callback stores when a logger enables dwFlags.
    static void EnableFlags(uint32_t dwFlags)
    {
        ProviderControlBlock().hLogger = kLogger;
        ProviderControlBlock().dwEnableFlags = dwFlags;
    }

    // Entry and exit, and every kind of line once.
    static void TraceEveryLine()
    {
        TraceHelper scope("TraceEveryLine");
        TraceLine8Ok("IOStream", 10, "ReadFromNativeMessaging", "Read length");
        TraceLine8Failed("IOStream", 20, "ReadFromNativeMessaging", "New memory", -1, "!pszInputMsg");
        TraceWideLineOk(u"SignMessage", u"Check certificate");
        TraceWideLineFailed(u"CryptoAgent", 30, u"SignMessage", u"Sign", static_cast<int32_t>(0x80070057),
                            u"FAILED(hResult)");
        TraceWideLineFailed(u"CryptoAgent", 40, u"SignMessage", u"Sign", 0, u"S_FALSE == hResult");
    }

private:
    trace_etw::TraceMessageFn m_pfnSystem = nullptr;
};

TEST(EtwGuidTest, ControlGuidConvertsToTheWindowsLayoutAndItsRegistryKeyName)
{
    const GUID expected = {0x5C8F2A58, 0x369A, 0x44F0, {0x92, 0x35, 0xC0, 0x5E, 0xCB, 0x1D, 0xD7, 0x3E}};
    const GUID guid = trace_etw::ToWindowsGuid(kTraceControlGuid);
    EXPECT_EQ(0, std::memcmp(&guid, &expected, sizeof guid));

    wchar_t wszName[37];
    trace_etw::FormatGuidKeyName(guid, wszName);
    EXPECT_STREQ(L"5c8f2a58-369a-44f0-9235-c05ecb1dd73e", wszName);
}

TEST_F(EtwTransportTest, StartRegistersWithNoLoggerAndShutdownReturnsToNotReady)
{
    const auto& block = ProviderControlBlock();
    EXPECT_EQ(&block, trace_detail::g_pTraceControl);
    EXPECT_NE(0u, block.hRegistration);
    EXPECT_EQ(0u, block.hLogger);
    EXPECT_EQ(1u, block.cFlagWords);
    EXPECT_EQ(0u, block.dwEnableFlags);
    ASSERT_NE(nullptr, block.pControlGuid);
    EXPECT_TRUE(SameGuid(*block.pControlGuid, kTraceControlGuid));
    // No logger has enabled anything: nothing is sent.
    TraceEveryLine();
    EXPECT_TRUE(g_sent.empty());

    CleanupTracing();
    EXPECT_EQ(0u, block.hRegistration);
    EXPECT_NE(&block, trace_detail::g_pTraceControl);
    // Flags a late callback might leave in the block no longer count.
    EnableFlags(0xF);
    TraceEveryLine();
    EXPECT_TRUE(g_sent.empty());
}

TEST_F(EtwTransportTest, EntryAndExitAloneForFlag8)
{
    EnableFlags(TRACE_FLAG_ENTRY_EXIT);
    TraceEveryLine();
    ASSERT_EQ(2u, g_sent.size());
    for (size_t i = 0; i < 2; ++i) {
        const SentMessage& message = g_sent[i];
        EXPECT_EQ(kLogger, message.hLogger);
        EXPECT_EQ(0x2Bu, message.dwFlags);
        EXPECT_TRUE(SameGuid(message.guid, kTraceGuidWide));
        EXPECT_EQ(i == 0 ? TRACE_MSG_ENTRY : TRACE_MSG_EXIT, message.nNumber);
        EXPECT_EQ(std::vector<std::string>{Bytes("TraceEveryLine", 15)}, message.args);
        EXPECT_TRUE(message.bEndedByNull);
    }
}

TEST_F(EtwTransportTest, EachClassGetsOnlyItsOwnLines)
{
    // 0x1 without 0x2: the 8-bit failure line, none of the wide ones.
    EnableFlags(TRACE_FLAG_FAILURE);
    TraceEveryLine();
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_TRUE(SameGuid(g_sent[0].guid, kTraceGuidLines8));
    EXPECT_EQ(TRACE_MSG_LINE8_FAILED, g_sent[0].nNumber);
    const char szLine[] =
        "[IOStream(20):](ReadFromNativeMessaging -- New memory)\t\t--Failed:(0xffffffff) [Reason:!pszInputMsg]\n";
    EXPECT_EQ(std::vector<std::string>{Bytes(szLine, sizeof szLine)}, g_sent[0].args);

    // 0x2: the wide line with status 0x80070057 as number 13, the status as
    // its second argument.
    g_sent.clear();
    EnableFlags(TRACE_FLAG_WIDE_FAILURE);
    TraceEveryLine();
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_TRUE(SameGuid(g_sent[0].guid, kTraceGuidWide));
    EXPECT_EQ(TRACE_MSG_WIDE_NEGATIVE, g_sent[0].nNumber);
    EXPECT_EQ((std::vector<std::string>{Utf16(u"[CryptoAgent(30):] SignMessage - Sign [Reason:FAILED(hResult)]"),
                                        Int32(static_cast<int32_t>(0x80070057))}),
              g_sent[0].args);

    // 0x4: the success lines, and the same wide line with status 0 as 14.
    g_sent.clear();
    EnableFlags(TRACE_FLAG_INFO);
    TraceEveryLine();
    ASSERT_EQ(3u, g_sent.size());
    EXPECT_EQ(TRACE_MSG_LINE8_OK, g_sent[0].nNumber);
    EXPECT_EQ((std::vector<std::string>{Utf16(u"SignMessage - Check certificate"), Int32(0)}), g_sent[1].args);
    EXPECT_EQ(TRACE_MSG_WIDE_NON_NEGATIVE, g_sent[2].nNumber);
    EXPECT_EQ(Int32(0), g_sent[2].args.at(1));
}

TEST_F(EtwTransportTest, ArgumentEncodings)
{
    EnableFlags(TRACE_FLAG_INFO);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, 32, u"", static_cast<const char*>(nullptr));
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, 33, static_cast<const char16_t*>(nullptr));
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 14);
    ASSERT_EQ(3u, g_sent.size());
    EXPECT_TRUE(SameGuid(g_sent[0].guid, kTraceGuidMessageSigning));
    EXPECT_EQ((std::vector<std::string>{Bytes(u"<NULL>", 14), Bytes("NULL", 5)}), g_sent[0].args);
    EXPECT_EQ(std::vector<std::string>{Bytes(u"NULL", 10)}, g_sent[1].args);
    EXPECT_TRUE(g_sent[2].args.empty());
    EXPECT_TRUE(g_sent[2].bEndedByNull);
}

TEST_F(EtwTransportTest, LastErrorAndErrnoSurviveEmissionsAndScopes)
{
    EnableFlags(0xF);
    SetLastError(1234);
    errno = ERANGE;
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 12, 5);
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_EQ(ERANGE, errno);

    {
        TraceHelper scope("CryptSignHash");
        EXPECT_EQ(1234u, GetLastError());
        SetLastError(ERROR_NOT_ENOUGH_MEMORY); // the traced function's own last call
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(3u, g_sent.size());
}

TEST_F(EtwTransportTest, EnableCallback)
{
    auto& block = ProviderControlBlock();
    ULONG cbInOut = 64;

    // Request 4 takes the logger handle, level and flags from what the
    // service passes in. Wine's GetTraceLoggerHandle, GetTraceEnableLevel and
    // GetTraceEnableFlags are stubs (-1, 5 and 0 whatever they are given), so
    // this compares with what the platform's own functions read from the
    // buffer instead of with the logger's fixed values.
    WNODE_HEADER wnode{};
    wnode.BufferSize = sizeof wnode;
    wnode.HistoricalContext = kLogger;
    EXPECT_EQ(0u, trace_etw::TraceControlCallback(WMI_ENABLE_EVENTS, &block, &cbInOut, &wnode));
    EXPECT_EQ(0u, cbInOut);
    const TRACEHANDLE hLogger = GetTraceLoggerHandle(&wnode);
    EXPECT_EQ(hLogger, block.hLogger);
    EXPECT_EQ(GetTraceEnableLevel(hLogger), block.nLevel);
    EXPECT_EQ(GetTraceEnableFlags(hLogger), block.dwEnableFlags);

    // An unknown request changes nothing.
    EnableFlags(0x5);
    block.nLevel = 4;
    cbInOut = 64;
    EXPECT_EQ(87u, trace_etw::TraceControlCallback(WMI_GET_ALL_DATA, &block, &cbInOut, &wnode));
    EXPECT_EQ(0u, cbInOut);
    EXPECT_EQ(kLogger, block.hLogger);
    EXPECT_EQ(4u, block.nLevel);
    EXPECT_EQ(0x5u, block.dwEnableFlags);

    // Request 5 turns everything off.
    cbInOut = 64;
    EXPECT_EQ(0u, trace_etw::TraceControlCallback(WMI_DISABLE_EVENTS, &block, &cbInOut, &wnode));
    EXPECT_EQ(0u, cbInOut);
    EXPECT_EQ(0u, block.hLogger);
    EXPECT_EQ(0u, block.nLevel);
    EXPECT_EQ(0u, block.dwEnableFlags);
    TraceEveryLine();
    EXPECT_TRUE(g_sent.empty());
}

// The boot-time logger's settings, written to the registry of the test's
// own Wine prefix. On a real Windows machine that key holds the settings of
// the machine's own boot-time logger, which a test must never change, so
// these cases run under Wine only.
class GlobalLoggerTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger";
    static constexpr const wchar_t* kProviderKey =
        L"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger\\5c8f2a58-369a-44f0-9235-c05ecb1dd73e";

    void SetUp() override
    {
        const HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
        m_bUnderWine = hNtdll != nullptr && GetProcAddress(hNtdll, "wine_get_version") != nullptr;
        if (!m_bUnderWine)
            GTEST_SKIP() << "would change this machine's boot-time logger settings";
        TearDown();
    }
    void TearDown() override
    {
        if (!m_bUnderWine)
            return;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviderKey);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"Start");
    }
    static void SetDword(const wchar_t* pwszKey, const wchar_t* pwszName, DWORD dwValue)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, pwszKey, pwszName, REG_DWORD, &dwValue,
                                                 sizeof dwValue));
    }
    // Reads the settings into zeros, as start-up does, and expects them to
    // stay zero.
    static void ExpectNothingRead()
    {
        uint32_t dwFlags = 0;
        uint8_t nLevel = 0;
        uint64_t hLogger = 0;
        const GUID guid = trace_etw::ToWindowsGuid(kTraceControlGuid);
        trace_etw::ReadGlobalLoggerSettings(&dwFlags, &nLevel, &guid, &hLogger);
        EXPECT_EQ(0u, dwFlags);
        EXPECT_EQ(0u, nLevel);
        EXPECT_EQ(0u, hLogger);
    }

    bool m_bUnderWine = false;
};

TEST_F(GlobalLoggerTest, StartMissingOrZeroLeavesEverythingZero)
{
    SetDword(kProviderKey, L"Flags", 0x80000005);
    SetDword(kProviderKey, L"Level", 4);
    ExpectNothingRead();
    SetDword(kKey, L"Start", 0);
    ExpectNothingRead();
}

TEST_F(GlobalLoggerTest, StartOneWithoutARunningGlobalLoggerLeavesTheFlagsZero)
{
    SetDword(kKey, L"Start", 1);
    SetDword(kProviderKey, L"Flags", 0x80000005);
    SetDword(kProviderKey, L"Level", 0x104);
    // On Windows with a running GlobalLogger this reads its handle, flags 0x5
    // and level 4. No logger runs here, and Wine's ControlTraceW answers
    // every query with success and an empty record, so the handle read is 0
    // and the flags and level must stay 0.
    ExpectNothingRead();
}

} // namespace

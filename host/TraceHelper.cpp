#include "TraceHelper.h"

#include <cerrno>
#include <cstdio>

#include "kernel/platform/LastError.h"
#include "kernel/platform/WideFormat.h"

namespace {

// Saves the thread's last error and errno, and puts them back when it goes.
class ErrorStateGuard {
public:
    ErrorStateGuard() : m_dwLastError(GetLastError()), m_nErrno(errno) {}
    ~ErrorStateGuard()
    {
        SetLastError(m_dwLastError);
        errno = m_nErrno;
    }

private:
    uint32_t m_dwLastError;
    int m_nErrno;
};

void SendWideLine(const char16_t* pwszLine, int32_t nStatus)
{
    const uint32_t dwFlag = nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO;
    TraceMessage(dwFlag, kTraceGuidWide, nStatus < 0 ? TRACE_MSG_WIDE_NEGATIVE : TRACE_MSG_WIDE_NON_NEGATIVE,
                 TraceArgWide(pwszLine), TraceArgInt(nStatus));
}

} // namespace

TraceHelper::TraceHelper(const char* pszFuncName) : m_pszFuncName(pszFuncName)
{
    if (TraceIsEnabled(TRACE_FLAG_ENTRY_EXIT)) {
        ErrorStateGuard guard;
        TraceMessage(TRACE_FLAG_ENTRY_EXIT, kTraceGuidWide, TRACE_MSG_ENTRY, TraceArgString(m_pszFuncName));
    }
}

TraceHelper::~TraceHelper()
{
    if (TraceIsEnabled(TRACE_FLAG_ENTRY_EXIT)) {
        ErrorStateGuard guard;
        TraceMessage(TRACE_FLAG_ENTRY_EXIT, kTraceGuidWide, TRACE_MSG_EXIT, TraceArgString(m_pszFuncName));
    }
}

// Lines are formatted only for a class that is on: formatting has no effect
// other than the message it feeds.

void TraceLine8Ok(const char* pszModule, int nLine, const char* pszFunc, const char* pszStep)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO))
        return;
    ErrorStateGuard guard;
    char szLine[TRACE_LINE_CCH] = {};
    std::snprintf(szLine, sizeof szLine, "[%s(%d)]:(%s -- %s)\t\t--OK\n", pszModule, nLine, pszFunc, pszStep);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidLines8, TRACE_MSG_LINE8_OK, TraceArgString(szLine));
}

void TraceLine8Failed(const char* pszModule, int nLine, const char* pszFunc, const char* pszStep, int32_t nStatus,
                      const char* pszReason)
{
    if (!TraceIsEnabled(TRACE_FLAG_FAILURE))
        return;
    ErrorStateGuard guard;
    char szLine[TRACE_LINE_CCH] = {};
    std::snprintf(szLine, sizeof szLine, "[%s(%d):](%s -- %s)\t\t--Failed:(0x%08x) [Reason:%s]\n", pszModule, nLine,
                  pszFunc, pszStep, static_cast<unsigned>(nStatus), pszReason);
    TraceMessage(TRACE_FLAG_FAILURE, kTraceGuidLines8, TRACE_MSG_LINE8_FAILED, TraceArgString(szLine));
}

void TraceWideLineOk(const char16_t* pwszFunc, const char16_t* pwszStep)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO))
        return;
    ErrorStateGuard guard;
    char16_t wszLine[TRACE_LINE_CCH] = {};
    FormatWide(wszLine, TRACE_LINE_CCH, u"%ws - %ws", pwszFunc, pwszStep);
    SendWideLine(wszLine, 0);
}

void TraceWideLineFailed(const char16_t* pwszModule, int nLine, const char16_t* pwszFunc, const char16_t* pwszStep,
                         int32_t nStatus, const char16_t* pwszReason)
{
    if (!TraceIsEnabled(nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO))
        return;
    ErrorStateGuard guard;
    char16_t wszLine[TRACE_LINE_CCH] = {};
    FormatWide(wszLine, TRACE_LINE_CCH, u"[%ws(%d):] %ws - %ws [Reason:%ws]", pwszModule, nLine, pwszFunc, pwszStep,
               pwszReason);
    SendWideLine(wszLine, nStatus);
}

void TraceWideStatus(const char16_t* pwszText, int32_t nStatus)
{
    if (!TraceIsEnabled(nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO))
        return;
    ErrorStateGuard guard;
    SendWideLine(pwszText, nStatus);
}

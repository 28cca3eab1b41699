#include "TraceHelper.h"

#include <cstdio>

#include "kernel/platform/WideFormat.h"

namespace {

void SendWideLine(const char16_t* pwszLine, int32_t nStatus)
{
    const uint32_t dwFlag = nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO;
    TraceMessage(dwFlag, kTraceGuidWide, nStatus < 0 ? TRACE_MSG_WIDE_NEGATIVE : TRACE_MSG_WIDE_NON_NEGATIVE,
                 pwszLine, nStatus);
}

} // namespace

TraceHelper::TraceHelper(const char* pszFuncName) : m_pszFuncName(pszFuncName)
{
    TraceMessage(TRACE_FLAG_ENTRY_EXIT, kTraceGuidWide, TRACE_MSG_ENTRY, m_pszFuncName);
}

TraceHelper::~TraceHelper()
{
    TraceMessage(TRACE_FLAG_ENTRY_EXIT, kTraceGuidWide, TRACE_MSG_EXIT, m_pszFuncName);
}

// Lines are formatted only for a class that is on: formatting has no effect
// other than the message it feeds.

void TraceLine8Ok(const char* pszModule, int nLine, const char* pszFunc, const char* pszStep)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO))
        return;
    char szLine[TRACE_LINE_CCH] = {};
    std::snprintf(szLine, sizeof szLine, "[%s(%d)]:(%s -- %s)\t\t--OK\n", pszModule, nLine, pszFunc, pszStep);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidLines8, TRACE_MSG_LINE8_OK, szLine);
}

void TraceLine8Failed(const char* pszModule, int nLine, const char* pszFunc, const char* pszStep, int32_t nStatus,
                      const char* pszReason)
{
    if (!TraceIsEnabled(TRACE_FLAG_FAILURE))
        return;
    char szLine[TRACE_LINE_CCH] = {};
    std::snprintf(szLine, sizeof szLine, "[%s(%d):](%s -- %s)\t\t--Failed:(0x%08x) [Reason:%s]\n", pszModule, nLine,
                  pszFunc, pszStep, static_cast<unsigned>(nStatus), pszReason);
    TraceMessage(TRACE_FLAG_FAILURE, kTraceGuidLines8, TRACE_MSG_LINE8_FAILED, szLine);
}

void TraceWideLineOk(const char16_t* pwszFunc, const char16_t* pwszStep)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO))
        return;
    char16_t wszLine[TRACE_LINE_CCH] = {};
    FormatWide(wszLine, TRACE_LINE_CCH, u"%ws - %ws", pwszFunc, pwszStep);
    SendWideLine(wszLine, 0);
}

void TraceWideLineFailed(const char16_t* pwszModule, int nLine, const char16_t* pwszFunc, const char16_t* pwszStep,
                         int32_t nStatus, const char16_t* pwszReason)
{
    if (!TraceIsEnabled(nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO))
        return;
    char16_t wszLine[TRACE_LINE_CCH] = {};
    FormatWide(wszLine, TRACE_LINE_CCH, u"[%ws(%d):] %ws - %ws [Reason:%ws]", pwszModule, nLine, pwszFunc, pwszStep,
               pwszReason);
    SendWideLine(wszLine, nStatus);
}

void TraceWideStatus(const char16_t* pwszText, int32_t nStatus)
{
    if (!TraceIsEnabled(nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO))
        return;
    SendWideLine(pwszText, nStatus);
}

#include "TraceHelper.h"

#include <cstdio>

namespace {

// A wide line of at most TRACE_LINE_CCH - 1 characters: what does not fit is
// cut, and a null text adds nothing.
class WideLine {
public:
    WideLine& operator<<(const char16_t* pwsz)
    {
        for (; pwsz != nullptr && *pwsz != u'\0' && m_nLength + 1 < TRACE_LINE_CCH; ++pwsz)
            m_wszLine[m_nLength++] = *pwsz;
        return *this;
    }
    WideLine& operator<<(int n)
    {
        char szNumber[16];
        std::snprintf(szNumber, sizeof szNumber, "%d", n);
        for (const char* p = szNumber; *p != '\0' && m_nLength + 1 < TRACE_LINE_CCH; ++p)
            m_wszLine[m_nLength++] = static_cast<char16_t>(*p);
        return *this;
    }
    const char16_t* Text() const { return m_wszLine; }

private:
    char16_t m_wszLine[TRACE_LINE_CCH] = {};
    int m_nLength = 0;
};

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
    WideLine line;
    line << pwszFunc << u" - " << pwszStep;
    SendWideLine(line.Text(), 0);
}

void TraceWideLineFailed(const char16_t* pwszModule, int nLine, const char16_t* pwszFunc, const char16_t* pwszStep,
                         int32_t nStatus, const char16_t* pwszReason)
{
    if (!TraceIsEnabled(nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO))
        return;
    WideLine line;
    line << u"[" << pwszModule << u"(" << nLine << u"):] " << pwszFunc << u" - " << pwszStep << u" [Reason:" << pwszReason
         << u"]";
    SendWideLine(line.Text(), nStatus);
}

void TraceWideStatus(const char16_t* pwszText, int32_t nStatus)
{
    if (!TraceIsEnabled(nStatus < 0 ? TRACE_FLAG_WIDE_FAILURE : TRACE_FLAG_INFO))
        return;
    SendWideLine(pwszText, nStatus);
}

#include "CryptoAgent.h"

#include "host/TraceHelper.h"
#include "kernel/platform/ResourceModule.h"
#include "kernel/platform/SystemMessages.h"
#include "kernel/platform/WideFormat.h"

namespace {
constexpr int kDescriptionCch = 512;
}

CCryptoAgent::CCryptoAgent() = default;

CCryptoAgent::~CCryptoAgent() = default;

HRESULT CCryptoAgent::FinishOperation(HRESULT hResult)
{
    m_nLastError = FAILED(hResult) ? hResult : KVRA_OK;
    return m_nLastError;
}

HRESULT CCryptoAgent::GetLastErrorDesc(std::u16string& bstrDesc)
{
    TRACE_SCOPE();
    bstrDesc.clear();
    const auto dwCode = static_cast<uint32_t>(m_nLastError);
    char16_t wszDesc[kDescriptionCch] = {};
    size_t nLength;
    if (dwCode & STATUS_CUSTOMER_BIT)
        nLength = static_cast<size_t>(LoadStringW(g_hInstance, dwCode & 0xFFFF, wszDesc, kDescriptionCch));
    else
        nLength = FormatSystemMessage(dwCode, wszDesc, kDescriptionCch);
    // The text keeps whatever line break it ends with; the suffix gets the
    // room that remains.
    if (nLength < kDescriptionCch - 1)
        FormatWide(wszDesc + nLength, kDescriptionCch - 1 - nLength, u"\n(0x%08x)", dwCode);
    bstrDesc.assign(wszDesc);
    return KVRA_OK;
}

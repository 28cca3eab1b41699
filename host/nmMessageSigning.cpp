#include "nmMessageSigning.h"

#include <new>
#include <string>

#include "TesseraHost.h"
#include "TraceHelper.h"
#include "agent/CryptoAgent.h"
#include "kernel/Encodings.h"

#define TRACE_WMODULE u"nmMessageSigning"

namespace {

using MethodHandler = HRESULT (*)(CCryptoAgent*, const cJSON*, JsonPtr*);

struct MethodEntry {
    const char* pszName;
    MethodHandler pfnHandler;
};

// Names are tried in this order. A function whose handler has not been
// written yet is answered like an unknown one.
constexpr MethodEntry kMethods[] = {
    {"SelectSignCertificate", nullptr},
    {"SignMessage", nullptr},
    {"SignMessageDetached", nullptr},
    {"SignMessagePKCS1", nullptr},
    {"GetLastErrorDesc", nmGetLastErrorDesc},
};

bool EqualsIgnoringAsciiCase(const char* psz1, const char* psz2)
{
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (; *psz1 != '\0' && *psz2 != '\0'; ++psz1, ++psz2) {
        if (lower(static_cast<unsigned char>(*psz1)) != lower(static_cast<unsigned char>(*psz2)))
            return false;
    }
    return *psz1 == *psz2;
}

// The work of nmGetLastErrorDesc: 0 with the description in UTF-8, or -1
// whatever failed (the cause goes to the trace only).
HRESULT DescribeLastError(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, std::string& strUTF8Desc)
{
    static constexpr char16_t kFunc[] = u"nmGetLastErrorDesc";
    if (nullptr == pJSONArgs) {
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(pArgs)", E_INVALIDARG, u"NULL == pJSONArgs");
        return -1;
    }
    TRACE_WSTEP_OK(kFunc, u"Check parameter(pArgs)");
    if (nullptr == pobjCryptoAgent) {
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(pobjCryptoAgent)", E_INVALIDARG, u"NULL == pobjCryptoAgent");
        return -1;
    }
    TRACE_WSTEP_OK(kFunc, u"Check parameter(pobjCryptoAgent)");
    if (0 != cJSON_GetArraySize(pJSONArgs)) {
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(Args count)", E_INVALIDARG, u"0 != nArgsCount");
        return -1;
    }
    TRACE_WSTEP_OK(kFunc, u"Check parameter(Args count)");

    std::u16string bstrDesc;
    HRESULT hResult;
    try {
        hResult = pobjCryptoAgent->GetLastErrorDesc(bstrDesc);
    } catch (const std::bad_alloc&) {
        hResult = E_OUTOFMEMORY;
    }
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"GetLastErrorDesc", hResult, u"FAILED(hResult)");
        return -1;
    }
    TRACE_WSTEP_OK(kFunc, u"GetLastErrorDesc");
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, 32, bstrDesc.c_str());

    hResult = UTF16ToUTF8(bstrDesc.c_str(), strUTF8Desc);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"UTF16ToUTF8", hResult, u"FAILED(hResult)");
        return -1;
    }
    TRACE_WSTEP_OK(kFunc, u"UTF16ToUTF8");
    return KVRA_OK;
}

} // namespace

HRESULT Invoke(const char* pszFuncName, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidInvoke, 10, pszFuncName);
    if (pszFuncName != nullptr) {
        for (const MethodEntry& method : kMethods) {
            if (EqualsIgnoringAsciiCase(pszFuncName, method.pszName)) {
                if (method.pfnHandler == nullptr)
                    break;
                return method.pfnHandler(g_pobjCryptoAgent, pJSONArgs, ppResponseJSON);
            }
        }
    }
    TraceMessage(TRACE_FLAG_FAILURE, kTraceGuidInvoke, 11);
    return -1;
}

HRESULT nmGetLastErrorDesc(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    std::string strUTF8Desc;
    const HRESULT nCode = DescribeLastError(pobjCryptoAgent, pJSONArgs, strUTF8Desc);
    ConstructResponseJSON("GetLastErrorDesc", nCode, nCode == KVRA_OK ? strUTF8Desc.c_str() : nullptr,
                          ppResponseJSON);
    return KVRA_OK;
}

#include "nmMessageSigning.h"

#include <new>
#include <string>

#include "IOStream.h"
#include "TesseraHost.h"
#include "trace/TraceHelper.h"
#include "agent/CryptoAgent.h"
#include "kernel/Encodings.h"

#define TRACE_WMODULE u"nmMessageSigning"

namespace {

using MethodHandler = HRESULT (*)(CCryptoAgent*, const cJSON*, JsonPtr*);

struct MethodEntry {
    const char* pszName;
    MethodHandler pfnHandler;
};

// Names are tried in this order.
constexpr MethodEntry kMethods[] = {
    {"SelectSignCertificate", nmSelectSignCertificate},
    {"SignMessage", nmSignMessage},
    {"SignMessageDetached", nmSignMessageDetached},
    {"SignMessagePKCS1", nmSignMessagePKCS1},
    {"GetLastErrorDesc", nmGetLastErrorDesc},
};

using AgentOperation = HRESULT (CCryptoAgent::*)(const char16_t*, const char16_t*, std::u16string&);

// What tells the four handlers with two parameters apart.
struct TwoParameterHandler {
    const char* pszFunction;        // the name the response carries
    const char16_t* pwszHandler;    // the name the trace lines carry
    const char16_t* apwszCopyStep[2];
    const char16_t* apwszConvertStep[2];
    const char16_t* pwszOperationStep;
    const char16_t* pwszResultStep;
    AgentOperation pfnOperation;
    bool bTraceParamsAsUTF8;        // the signing handlers trace them both ways
    uint16_t nFirstDataMessage;     // the handler's data messages, in order
    bool bSelection;                // a refused request leaves nothing selected
    int32_t nSignType;              // for measuring the answer first; 0: nothing to measure
    int16_t bAttached;
};

const TwoParameterHandler kSelectSignCertificate = {
    "SelectSignCertificate",
    u"nmSelectSignCertificate",
    {u"ConverJSONArrayItemtoNULLEndString(SubjectDNFilter)", u"ConverJSONArrayItemtoNULLEndString(IssuerDNFilter)"},
    {u"UTF8ToUTF16(SubjectDNFilter)", u"UTF8ToUTF16(IssuerDNFilter)"},
    u"pobjCryptoAgent->SelectSignCertificate",
    u"UTF16ToUTF8(bstrSubjectDN)",
    &CCryptoAgent::SelectSignCertificate,
    false,
    10,
    true,
    0,
    VARIANT_FALSE,
};

const TwoParameterHandler kSignMessage = {
    "SignMessage",
    u"nmSignMessage",
    {u"ConverJSONArrayItemtoNULLEndString", u"ConverJSONArrayItemtoNULLEndString"},
    {u"UTF8ToUTF16(pszUTF8SourceMsg)", u"UTF8ToUTF16(pszUTF8Algorithm)"},
    u"SignMessage",
    u"UTF16ToUTF8(bstrSignature)",
    static_cast<AgentOperation>(&CCryptoAgent::SignMessage),
    true,
    14,
    false,
    SIGN_TYPE_PKCS7,
    VARIANT_TRUE,
};

const TwoParameterHandler kSignMessageDetached = {
    "SignMessageDetached",
    u"nmSignMessageDetached",
    {u"ConverJSONArrayItemtoNULLEndString", u"ConverJSONArrayItemtoNULLEndString"},
    {u"UTF8ToUTF16(pszUTF8SourceMsg)", u"UTF8ToUTF16(pszUTF8Algorithm)"},
    u"SignMessageDetached",
    u"UTF16ToUTF8(bstrSignature)",
    &CCryptoAgent::SignMessageDetached,
    true,
    20,
    false,
    SIGN_TYPE_PKCS7,
    VARIANT_FALSE,
};

const TwoParameterHandler kSignMessagePKCS1 = {
    "SignMessagePKCS1",
    u"nmSignMessagePKCS1",
    {u"ConverJSONArrayItemtoNULLEndString", u"ConverJSONArrayItemtoNULLEndString"},
    {u"UTF8ToUTF16(pszUTF8SourceMsg)", u"UTF8ToUTF16(pszUTF8Algorithm)"},
    u"SignMessagePKCS1",
    u"UTF16ToUTF8(bstrSignature)",
    &CCryptoAgent::SignMessagePKCS1,
    true,
    26,
    false,
    SIGN_TYPE_PKCS1,
    VARIANT_FALSE,
};

// A parameter copy's positive status, as the trace shows it: in the
// system's result layout.
HRESULT TraceStatusOf(HRESULT nResult)
{
    return nResult > 0 ? MakeStatus(0x80070000 + (static_cast<uint32_t>(nResult) & 0xFFFF)) : nResult;
}

// Whether the answer to a signing request could be sent at all, found before
// anything is signed. Only a size the agent could measure says no: whatever
// keeps it from measuring, the operation itself reports.
bool AnswerWouldFit(const TwoParameterHandler& handler, CCryptoAgent* pobjCryptoAgent, const std::u16string& wstrMessage,
                    const std::u16string& wstrAlgorithm)
{
    Base64Size size{};
    if (handler.nSignType == 0 || FAILED(pobjCryptoAgent->MeasureSignature(wstrMessage.c_str(), wstrAlgorithm.c_str(),
                                                                          handler.nSignType, handler.bAttached, size)))
        return true;
    // The response around an empty result, then the text: Base64 prints as
    // it is, and each CR and each LF as two characters.
    JsonPtr pEnvelope;
    std::string strEnvelope;
    if (FAILED(ConstructResponseJSON(handler.pszFunction, KVRA_OK, "", &pEnvelope)))
        return true;
    ConvertJSONToResponseMsg(handler.pszFunction, pEnvelope.get(), &strEnvelope);
    return strEnvelope.size() + size.cchText + 2 * size.cLineBreaks <= MAX_SEND_MSG_LEN;
}

// The work of a two-parameter handler: 0 with the agent's output in UTF-8,
// the status that the response carries, or KVRA_E_SEND_MSG_TOO_LONG when no
// response could ever be sent.
HRESULT RunTwoParameterHandler(const TwoParameterHandler& handler, CCryptoAgent* pobjCryptoAgent,
                               const cJSON* pJSONArgs, std::string& strUTF8Result)
{
    const char16_t* kFunc = handler.pwszHandler;
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
    if (2 != cJSON_GetArraySize(pJSONArgs)) {
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(Args count)", E_INVALIDARG, u"2 != nArgsCount");
        return -1;
    }
    TRACE_WSTEP_OK(kFunc, u"Check parameter(Args count)");

    uint16_t nMessage = handler.nFirstDataMessage;
    std::u16string awstrParams[2];
    for (int i = 0; i < 2; ++i) {
        std::string strParam;
        HRESULT nResult = ConverJSONArrayItemtoNULLEndString(pJSONArgs, i, &strParam);
        if (KVRA_OK != nResult) {
            TRACE_WSTEP_FAILED(kFunc, handler.apwszCopyStep[i], TraceStatusOf(nResult), u"KVRA_OK != nResult");
            // A text holding U+0000 is never taken in part: the request is
            // refused as a whole, as the agent's own failure, so that the
            // page's GetLastErrorDesc describes it.
            if (E_INVALIDARG == nResult)
                pobjCryptoAgent->RefuseArguments(nResult, handler.bSelection);
            return nResult;
        }
        TRACE_WSTEP_OK(kFunc, handler.apwszCopyStep[i]);
        if (handler.bTraceParamsAsUTF8)
            TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, nMessage++, strParam.c_str());
        nResult = UTF8ToUTF16(strParam.c_str(), awstrParams[i]);
        if (FAILED(nResult)) {
            TRACE_WSTEP_FAILED(kFunc, handler.apwszConvertStep[i], nResult, u"FAILED(hResult)");
            return nResult;
        }
        TRACE_WSTEP_OK(kFunc, handler.apwszConvertStep[i]);
        TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, nMessage++, awstrParams[i].c_str());
    }

    // A signature whose answer is too large to send ends the host, as a
    // response too long to write does; finding that out before signing
    // spares the user a PIN prompt and the key a signature nobody receives.
    if (!AnswerWouldFit(handler, pobjCryptoAgent, awstrParams[0], awstrParams[1])) {
        TRACE_WSTEP_FAILED(kFunc, u"Check WriteMsgSize", KVRA_E_SEND_MSG_TOO_LONG, u"nWriteMsgSize > MAX_SEND_MSG_LEN");
        return KVRA_E_SEND_MSG_TOO_LONG;
    }

    std::u16string bstrOutput;
    HRESULT hResult;
    try {
        hResult = (pobjCryptoAgent->*handler.pfnOperation)(awstrParams[0].c_str(), awstrParams[1].c_str(), bstrOutput);
    } catch (const std::bad_alloc&) {
        hResult = E_OUTOFMEMORY;
    }
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, handler.pwszOperationStep, hResult, u"FAILED(hResult)");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, handler.pwszOperationStep);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, nMessage++, bstrOutput.c_str());

    hResult = UTF16ToUTF8(bstrOutput.c_str(), strUTF8Result);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, handler.pwszResultStep, hResult, u"FAILED(hResult)");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, handler.pwszResultStep);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidMessageSigning, nMessage, strUTF8Result.c_str());
    return KVRA_OK;
}

HRESULT RespondTwoParameterHandler(const TwoParameterHandler& handler, CCryptoAgent* pobjCryptoAgent,
                                   const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    std::string strUTF8Result;
    const HRESULT nCode = RunTwoParameterHandler(handler, pobjCryptoAgent, pJSONArgs, strUTF8Result);
    if (KVRA_E_SEND_MSG_TOO_LONG == nCode)
        return nCode;
    ConstructResponseJSON(handler.pszFunction, nCode, nCode == KVRA_OK ? strUTF8Result.c_str() : nullptr,
                          ppResponseJSON);
    return KVRA_OK;
}

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
            if (EqualsIgnoringAsciiCase(pszFuncName, method.pszName))
                return method.pfnHandler(g_pobjCryptoAgent, pJSONArgs, ppResponseJSON);
        }
    }
    TraceMessage(TRACE_FLAG_FAILURE, kTraceGuidInvoke, 11);
    return -1;
}

HRESULT nmSelectSignCertificate(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    return RespondTwoParameterHandler(kSelectSignCertificate, pobjCryptoAgent, pJSONArgs, ppResponseJSON);
}

HRESULT nmSignMessage(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    return RespondTwoParameterHandler(kSignMessage, pobjCryptoAgent, pJSONArgs, ppResponseJSON);
}

HRESULT nmSignMessageDetached(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    return RespondTwoParameterHandler(kSignMessageDetached, pobjCryptoAgent, pJSONArgs, ppResponseJSON);
}

HRESULT nmSignMessagePKCS1(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    return RespondTwoParameterHandler(kSignMessagePKCS1, pobjCryptoAgent, pJSONArgs, ppResponseJSON);
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

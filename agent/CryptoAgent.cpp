#include "CryptoAgent.h"

#include <new>

#include "CryptoModule.h"
#include "SigningFilter.h"
#include "trace/TraceHelper.h"
#include "kernel/platform/CryptoProvider.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/ResourceModule.h"
#include "kernel/platform/SystemMessages.h"
#include "kernel/platform/WideFormat.h"

#define TRACE_WMODULE u"CryptoAgent"

namespace {

constexpr int kDescriptionCch = 512;
constexpr uint32_t kAlgorithmIds[] = {0, CALG_MD5, CALG_SHA1, CALG_SHA_256, CALG_SHA_384, CALG_SHA_512};

bool EqualsIgnoringAsciiCase(const char16_t* pwsz1, const char16_t* pwsz2)
{
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    for (; *pwsz1 != u'\0' && *pwsz2 != u'\0'; ++pwsz1, ++pwsz2) {
        if (lower(*pwsz1) != lower(*pwsz2))
            return false;
    }
    return *pwsz1 == *pwsz2;
}

} // namespace

CCryptoAgent::CCryptoAgent() = default;

CCryptoAgent::~CCryptoAgent() = default;

HRESULT CCryptoAgent::FinishOperation(HRESULT hResult)
{
    m_nLastError = FAILED(hResult) ? hResult : KVRA_OK;
    return m_nLastError;
}

HRESULT CCryptoAgent::MeasureSignature(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                       int32_t nSignType, int16_t bAttached, Base64Size& size)
{
    const int32_t nHashKind = HashKindFromName(pwszAlgorithm);
    if (pwszMessage == nullptr || *pwszMessage == u'\0' || m_vtrSignCertSet.empty() || nHashKind == 0 ||
        (nSignType != SIGN_TYPE_PKCS1 && nSignType != SIGN_TYPE_PKCS7))
        return E_INVALIDARG;
    const TesseraCryptoModule* pModule = LoadCryptoModule();
    if (pModule == nullptr)
        return AgentStatusFromError(GetLastError());
    return pModule->pfnMeasureSignature(m_vtrSignCertSet.front(), pwszMessage, nSignType, kAlgorithmIds[nHashKind],
                                        nSignType == SIGN_TYPE_PKCS7 && bAttached == VARIANT_TRUE, size);
}

HRESULT CCryptoAgent::RefuseArguments(HRESULT hResult, bool bSelection)
{
    if (bSelection)
        m_vtrSignCertSet.clear();
    return FinishOperation(hResult);
}

int32_t CCryptoAgent::HashKindFromName(const char16_t* pwszAlgorithm)
{
    if (pwszAlgorithm == nullptr)
        return 0;
    const char16_t* const kNames[] = {u"MD-5", u"SHA-1", u"SHA-256"};
    for (int32_t i = 0; i < 3; ++i) {
        if (EqualsIgnoringAsciiCase(pwszAlgorithm, kNames[i]))
            return i + 1;
    }
    return 0;
}

HRESULT CCryptoAgent::SelectCertificate(int32_t nPurpose, const char16_t* pwszSubjectDN, const char16_t* pwszIssuerDN,
                                        std::u16string& bstrSubjectDN)
{
    TraceHelper traceHelper("CCryptoAgent::SelectCertificate");
    static constexpr char16_t kFunc[] = u"CCryptoAgent::SelectCertificate";
    bstrSubjectDN.clear();
    // From here on, a failure leaves no certificate selected.
    m_vtrSignCertSet.clear();

    HRESULT hResult;
    if (nPurpose != CERT_PURPOSE_SIGNING) {
        // Signing is the only purpose a selection serves.
        hResult = E_INVALIDARG;
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(nPurpose)", hResult, u"CERT_PURPOSE_SIGNING != nPurpose");
    } else if (const TesseraCryptoModule* pModule = LoadCryptoModule(); pModule == nullptr) {
        hResult = AgentStatusFromError(GetLastError());
        TRACE_WSTEP_FAILED(kFunc, u"LoadCryptoModule", hResult, u"NULL == pModule");
    } else {
        const CertFilter filter = SigningCertificateFilter(pwszSubjectDN, pwszIssuerDN);
        CertContextRef pChosen;
        std::u16string wstrSubject;
        hResult = pModule->pfnSelectCertificate(filter, pChosen, wstrSubject);
        if (SUCCEEDED(hResult)) {
            m_vtrSignCertSet.push_back(std::move(pChosen));
            bstrSubjectDN = std::move(wstrSubject);
        }
    }
    m_nLastError = hResult;
    return hResult;
}

HRESULT CCryptoAgent::SignMessage(const char16_t* pwszMessage, int32_t nSignType, int32_t nHashKind,
                                  int16_t bAttached, std::u16string& bstrSignature)
{
    TraceHelper traceHelper("CCryptoAgent::SignMessage");
    static constexpr char16_t kFunc[] = u"CCryptoAgent::SignMessage";
    bstrSignature.clear();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCryptoAgent, 10, nSignType);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCryptoAgent, 11, nHashKind);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCryptoAgent, 12, bAttached == VARIANT_TRUE ? "TRUE" : "FALSE");

    HRESULT hResult = KVRA_OK;
    const uint32_t uSignAlgorithm = nHashKind >= 1 && nHashKind <= 5 ? kAlgorithmIds[nHashKind] : 0;
    if (pwszMessage == nullptr) {
        hResult = E_INVALIDARG;
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(bstrSourceMessage)", hResult, u"bstrSourceMessage == NULL");
    } else if (*pwszMessage == u'\0') {
        hResult = E_INVALIDARG;
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(bstrSourceMessage)", hResult, u"0 == wcslen(bstrSourceMessage)");
    } else if (m_vtrSignCertSet.empty()) {
        hResult = KVRA_E_CERT_NOT_READY;
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(m_vtrSignCertSet)", hResult, u"m_vtrSignCertSet.empty()");
    } else if (uSignAlgorithm == 0) {
        hResult = KVRA_E_INVALID_HASH_ALG;
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(uSignAlgorithm)", hResult, u"uSignAlgorithm == 0");
    } else if (nSignType != SIGN_TYPE_PKCS1 && nSignType != SIGN_TYPE_PKCS7) {
        hResult = KVRA_E_INVALID_SIGN_TYPE;
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter(nSignType)", hResult, u"Invalid sign type");
    } else if (const TesseraCryptoModule* pModule = LoadCryptoModule(); pModule == nullptr) {
        hResult = AgentStatusFromError(GetLastError());
        TRACE_WSTEP_FAILED(kFunc, u"LoadCryptoModule", hResult, u"NULL == pModule");
    } else {
        hResult = pModule->pfnSignMessage(m_vtrSignCertSet.front(), pwszMessage, nSignType, uSignAlgorithm,
                                          nSignType == SIGN_TYPE_PKCS7 && bAttached == VARIANT_TRUE, bstrSignature);
        if (FAILED(hResult))
            bstrSignature.clear();
    }
    m_nLastError = hResult;
    return hResult;
}

HRESULT CCryptoAgent::SignMessageByName(const char16_t* pwszMessage, const char16_t* pwszAlgorithm, int32_t nSignType,
                                        int16_t bAttached, std::u16string& bstrSignature)
{
    const HRESULT hResult = SignMessage(pwszMessage, nSignType, HashKindFromName(pwszAlgorithm), bAttached,
                                        bstrSignature);
    if (FAILED(hResult))
        TRACE_WSTEP_FAILED(u"CCryptoAgent::SignMessage", u"SignMessage (R) FAILED.", hResult, u"FAILED(hResult)");
    return FinishOperation(hResult);
}

HRESULT CCryptoAgent::SignMessage(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                  std::u16string& bstrSignature)
{
    TraceHelper traceHelper("CCryptoAgent::SignMessage");
    return SignMessageByName(pwszMessage, pwszAlgorithm, SIGN_TYPE_PKCS7, VARIANT_TRUE, bstrSignature);
}

HRESULT CCryptoAgent::SignMessageDetached(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                          std::u16string& bstrSignature)
{
    TraceHelper traceHelper("CCryptoAgent::SignMessageDetached");
    return SignMessageByName(pwszMessage, pwszAlgorithm, SIGN_TYPE_PKCS7, VARIANT_FALSE, bstrSignature);
}

HRESULT CCryptoAgent::SignMessagePKCS1(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                       std::u16string& bstrSignature)
{
    TraceHelper traceHelper("CCryptoAgent::SignMessagePKCS1");
    return SignMessageByName(pwszMessage, pwszAlgorithm, SIGN_TYPE_PKCS1, VARIANT_FALSE, bstrSignature);
}

HRESULT CCryptoAgent::SelectSignCertificate(const char16_t* pwszSubjectDN, const char16_t* pwszIssuerDN,
                                            std::u16string& bstrSubjectDN)
{
    TraceHelper traceHelper("CCryptoAgent::SelectSignCertificate");
    const HRESULT hResult = SelectCertificate(CERT_PURPOSE_SIGNING, pwszSubjectDN, pwszIssuerDN, bstrSubjectDN);
    if (FAILED(hResult))
        TRACE_WSTEP_FAILED(u"CCryptoAgent::SelectSignCertificate", u"SelectCertificate (R) FAILED.", hResult,
                           u"FAILED(hResult)");
    return FinishOperation(hResult);
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

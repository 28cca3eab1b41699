// Signing with the selected certificate, inside the crypto module.
#include "CryptoModule.h"
#include "trace/TraceHelper.h"
#include "kernel/Encodings.h"
#include "kernel/HashAndSign.h"
#include "kernel/Pkcs7Encoder.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/TextConversion.h"

#define TRACE_WMODULE u"CryptoAgent"

HRESULT ModuleSignMessage(const CertContextRef& pCert, const char16_t* pwszMessage, int32_t nSignType,
                          uint32_t dwAlgId, bool bAttached, std::u16string& bstrSignature)
{
    TraceHelper traceHelper("CCryptoAgent::SignMessage");
    static constexpr char16_t kFunc[] = u"CCryptoAgent::SignMessage";
    if (nSignType == 2) {
        const HRESULT hResult = SignData(bstrSignature, pwszMessage, pCert, dwAlgId, bAttached);
        if (FAILED(hResult))
            TRACE_WSTEP_FAILED(kFunc, u"SignData (Kernel) FAILED.", hResult, u"FAILED(hResult)");
        return hResult;
    }

    // The bare PKCS#1 value, as one line of padded Base64. Only an RSA key
    // makes one: any other key's signature would look like one and not be,
    // so it is refused before the key is used.
    if (pCert && GetPublicKeyInfo(*pCert).algorithm != KeyAlgorithm::Rsa) {
        TRACE_WSTEP_FAILED(kFunc, u"Check key algorithm", NTE_BAD_ALGID, u"not an RSA key");
        return NTE_BAD_ALGID;
    }
    std::string strUTF8;
    HRESULT hResult = UTF16ToUTF8(pwszMessage, strUTF8);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"UTF16ToUTF8 (Kernel) FAILED.", hResult, u"FAILED(hResult)");
        return hResult;
    }
    std::vector<uint8_t> vtrSignature;
    hResult = CalculateHashandSign(pCert, reinterpret_cast<const uint8_t*>(strUTF8.data()),
                                   static_cast<uint32_t>(strUTF8.size()), dwAlgId, vtrSignature);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"CalculateHashandSign (Kernel) FAILED.", hResult, u"FAILED(hResult)");
        return hResult;
    }
    std::string strBase64;
    hResult = Base64EncodeEx(vtrSignature.data(), static_cast<int32_t>(vtrSignature.size()), strBase64,
                             BASE64_NO_LINE_BREAKS);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"Base64EncodeEx (Kernel) FAILED.", hResult, u"FAILED(hResult)");
        return hResult;
    }
    hResult = UTF8ToUTF16(strBase64.c_str(), bstrSignature);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"UTF8ToUTF16 (Kernel) FAILED.", hResult, u"FAILED(hResult)");
        return hResult;
    }
    return KVRA_OK;
}

HRESULT ModuleMeasureSignature(const CertContextRef& pCert, const char16_t* pwszMessage, int32_t nSignType,
                               uint32_t dwAlgId, bool bAttached, Base64Size& size)
{
    TraceHelper traceHelper("CCryptoAgent::MeasureSignature");
    if (!pCert || pwszMessage == nullptr)
        return E_POINTER;
    // Only attached content adds to the size, so only then is it counted.
    if (nSignType == 2)
        return MeasureSignData(bAttached ? Utf8LengthOfUtf16(pwszMessage) : 0, pCert, dwAlgId, bAttached, size);
    // The bare PKCS#1 value: one line of padded Base64. Only an RSA key has
    // one; the signing refuses the others.
    if (GetPublicKeyInfo(*pCert).algorithm != KeyAlgorithm::Rsa)
        return NTE_BAD_ALGID;
    const uint32_t cbSignature = GetSignatureLength(*pCert);
    if (cbSignature == 0)
        return E_FAIL;
    size = Base64EncodedSize(cbSignature, BASE64_NO_LINE_BREAKS);
    return KVRA_OK;
}

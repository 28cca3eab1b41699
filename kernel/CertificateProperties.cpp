#include "CertificateProperties.h"

#include <new>

#include "Encodings.h"
#include "HashAndSign.h"
#include "trace/TraceHelper.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CryptoProvider.h"

namespace {

constexpr uint32_t kNameFlags = CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;

void SetSize(uint32_t* pdwSize, size_t nSize)
{
    if (pdwSize != nullptr)
        *pdwSize = static_cast<uint32_t>(nSize);
}

HRESULT NameToString(const CERT_NAME_BLOB& name, uint32_t dwStrType, std::u16string* pwstrName, uint32_t* pdwSize)
{
    const uint32_t cchName = CertNameToStrW(X509_ASN_ENCODING, &name, dwStrType, nullptr, 0);
    if (cchName == 0) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CertNameToStr", hr);
        return hr;
    }
    std::u16string wstrName;
    try {
        wstrName.assign(cchName, u'\0');
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"Dispatch memory failed.", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    const uint32_t cchWritten = CertNameToStrW(X509_ASN_ENCODING, &name, dwStrType, wstrName.data(), cchName);
    wstrName.resize(cchWritten > 0 ? cchWritten - 1 : 0);
    if (pwstrName != nullptr)
        *pwstrName = std::move(wstrName);
    SetSize(pdwSize, cchWritten);
    return KVRA_OK;
}

// The provider parameter of the certificate's key, as a wide string.
HRESULT GetProviderString(const CertContextRef& pCert, uint32_t dwParam, std::u16string* pwstrValue,
                          uint32_t* pdwSize)
{
    HCRYPTPROV hProv;
    uint32_t dwKeySpec = 0;
    if (!CryptAcquireCertificatePrivateKey(pCert, hProv, dwKeySpec)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptAcquireCertificatePrivateKey FAILED.", hr);
        return hr;
    }
    std::vector<uint8_t> vtrValue;
    HRESULT hr = GetProviderInfo(*hProv, dwParam, vtrValue);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetProviderInfo FAILED.", hr);
        return hr;
    }
    vtrValue.push_back(0); // in case the provider's text had no NUL
    std::u16string wstrValue;
    hr = UTF8ToUTF16(reinterpret_cast<const char*>(vtrValue.data()), wstrValue);
    if (FAILED(hr)) {
        TraceWideStatus(u"UTF8ToUTF16 FAILED.", hr);
        return hr;
    }
    SetSize(pdwSize, wstrValue.size());
    if (pwstrValue != nullptr)
        *pwstrValue = std::move(wstrValue);
    return KVRA_OK;
}

} // namespace

HRESULT GetCertSubject(const CertContextRef& pCert, std::u16string* pwstrSubject, uint32_t* pdwSize,
                       uint32_t dwStrType)
{
    TRACE_SCOPE();
    if (!pCert)
        return E_POINTER;
    return NameToString(GetSubjectNameBlob(*pCert), dwStrType | kNameFlags, pwstrSubject, pdwSize);
}

HRESULT GetCertIssuer(const CertContextRef& pCert, std::u16string* pwstrIssuer, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    if (!pCert)
        return E_POINTER;
    return NameToString(GetIssuerNameBlob(*pCert), CERT_X500_NAME_STR | kNameFlags, pwstrIssuer,
                        pdwSize);
}

HRESULT GetCertSerialNumber(const CertContextRef& pCert, std::vector<uint8_t>* pvtrSerial, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    if (!pCert)
        return E_POINTER;
    try {
        std::vector<uint8_t> vtrSerial = GetSerialNumberBytes(*pCert);
        SetSize(pdwSize, vtrSerial.size());
        if (pvtrSerial != nullptr)
            *pvtrSerial = std::move(vtrSerial);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"Dispatch memory failed.", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT GetCertKeyUsage(const CertContextRef& pCert, uint32_t* pdwKeyUsage, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    if (!pCert)
        return E_POINTER;
    uint8_t bUsage = 0;
    if (!GetKeyUsageByte(*pCert, bUsage)) {
        TraceWideStatus(u"CertFindExtension", KVRA_E_NO_KEY_USAGE);
        return KVRA_E_NO_KEY_USAGE;
    }
    if (pdwKeyUsage != nullptr)
        *pdwKeyUsage = bUsage;
    SetSize(pdwSize, sizeof(uint32_t));
    return KVRA_OK;
}

HRESULT GetCertSubjectKeyID(const CertContextRef& pCert, std::vector<uint8_t>* pvtrKeyId, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    if (!pCert)
        return E_POINTER;
    try {
        std::vector<uint8_t> vtrKeyId;
        if (!GetSubjectKeyIdentifier(*pCert, pvtrKeyId != nullptr ? &vtrKeyId : nullptr)) {
            TraceWideStatus(u"CertFindExtension", KVRA_E_NO_SUBJECT_KEY_ID);
            return KVRA_E_NO_SUBJECT_KEY_ID;
        }
        if (pvtrKeyId == nullptr)
            return KVRA_OK;
        SetSize(pdwSize, vtrKeyId.size());
        *pvtrKeyId = std::move(vtrKeyId);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"Dispatch memory failed.", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT GetCertProviderName(const CertContextRef& pCert, std::u16string* pwstrName, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    return GetProviderString(pCert, PP_NAME, pwstrName, pdwSize);
}

HRESULT GetCertContainerName(const CertContextRef& pCert, std::u16string* pwstrName, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    return GetProviderString(pCert, PP_CONTAINER, pwstrName, pdwSize);
}

HRESULT GetCertToDate(const CertContextRef& pCert, SYSTEMTIME* pstTime, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    if (!pCert || pstTime == nullptr)
        return E_POINTER;
    *pstTime = GetNotAfter(*pCert);
    SetSize(pdwSize, sizeof(SYSTEMTIME));
    return KVRA_OK;
}

HRESULT GetCertFromDate(const CertContextRef& pCert, SYSTEMTIME* pstTime, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    if (!pCert || pstTime == nullptr)
        return E_POINTER;
    *pstTime = GetNotBefore(*pCert);
    SetSize(pdwSize, sizeof(SYSTEMTIME));
    return KVRA_OK;
}

HRESULT QueryCertContextInfo(const CertContextRef& pCert, int nKind, void* pvValue, uint32_t* pdwSize)
{
    TRACE_SCOPE();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 10, static_cast<int32_t>(nKind));
    switch (nKind) {
    case CERT_QUERY_SUBJECT_X500:
        return GetCertSubject(pCert, static_cast<std::u16string*>(pvValue), pdwSize, CERT_X500_NAME_STR);
    case CERT_QUERY_SUBJECT_SIMPLE:
        return GetCertSubject(pCert, static_cast<std::u16string*>(pvValue), pdwSize, CERT_SIMPLE_NAME_STR);
    case CERT_QUERY_ISSUER:
        return GetCertIssuer(pCert, static_cast<std::u16string*>(pvValue), pdwSize);
    case CERT_QUERY_SERIAL_NUMBER:
        return GetCertSerialNumber(pCert, static_cast<std::vector<uint8_t>*>(pvValue), pdwSize);
    case CERT_QUERY_PROVIDER_NAME:
        return GetCertProviderName(pCert, static_cast<std::u16string*>(pvValue), pdwSize);
    case CERT_QUERY_TO_DATE:
        return GetCertToDate(pCert, static_cast<SYSTEMTIME*>(pvValue), pdwSize);
    case CERT_QUERY_FROM_DATE:
        return GetCertFromDate(pCert, static_cast<SYSTEMTIME*>(pvValue), pdwSize);
    case CERT_QUERY_SUBJECT_KEY_ID:
        return GetCertSubjectKeyID(pCert, static_cast<std::vector<uint8_t>*>(pvValue), pdwSize);
    case CERT_QUERY_KEY_USAGE:
        return GetCertKeyUsage(pCert, static_cast<uint32_t*>(pvValue), pdwSize);
    case CERT_QUERY_CONTAINER_NAME:
        return GetCertContainerName(pCert, static_cast<std::u16string*>(pvValue), pdwSize);
    default:
        TraceWideStatus(u"QueryCertContextInfo", KVRA_E_QUERY_TYPE_NOT_SUPPORTED);
        return KVRA_E_QUERY_TYPE_NOT_SUPPORTED;
    }
}

std::string DescribePublicKey(const PublicKeyInfo& key)
{
    switch (key.algorithm) {
    case KeyAlgorithm::Rsa:
        return "RSA " + std::to_string(key.dwBits);
    case KeyAlgorithm::Ec: {
        static const struct {
            const char* pszOid;
            const char* pszName;
        } kCurves[] = {{"1.2.840.10045.3.1.7", "P-256"}, {"1.3.132.0.34", "P-384"}, {"1.3.132.0.35", "P-521"}};
        for (const auto& curve : kCurves) {
            if (key.strCurveOid == curve.pszOid)
                return std::string("EC ") + curve.pszName;
        }
        return key.strCurveOid.empty() ? "EC " + std::to_string(key.dwBits) : "EC " + key.strCurveOid;
    }
    default:
        return key.dwBits != 0 ? "Unknown " + std::to_string(key.dwBits) : "Unknown";
    }
}

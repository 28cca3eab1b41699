#include "CertificateFilters.h"

#include <cstring>
#include <new>

#include "CertificateProperties.h"
#include "HashAndSign.h"
#include "trace/TraceHelper.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/CryptoProvider.h"
#include "kernel/platform/WideFormat.h"

void ParseFilters(const char16_t* pwszFilter, std::vector<std::u16string>& vtrFilters)
{
    if (pwszFilter == nullptr)
        return;
    ForEachAlternative(pwszFilter, [&](std::u16string_view wsvAlternative) { vtrFilters.emplace_back(wsvAlternative); });
}

HRESULT CheckCertSubjectName(const CertContextRef& pCert, const NameFilter& subjects)
{
    if (!subjects.Applies())
        return KVRA_OK;
    std::u16string wstrSubject;
    const HRESULT hr = GetCertSubject(pCert, &wstrSubject, nullptr, CERT_X500_NAME_STR);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetCertSubjectName", hr);
        return hr;
    }
    return subjects.Matches(wstrSubject) ? KVRA_OK : E_FAIL;
}

HRESULT CheckCertIssuer(const CertContextRef& pCert, const NameFilter& issuers)
{
    if (!issuers.Applies())
        return KVRA_OK;
    std::u16string wstrIssuer;
    const HRESULT hr = GetCertIssuer(pCert, &wstrIssuer, nullptr);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetCertIssuer", hr);
        return hr;
    }
    return issuers.Matches(wstrIssuer) ? KVRA_OK : E_FAIL;
}

HRESULT CheckCertKeyUsage(const CertContextRef& pCert, uint32_t dwKeyUsage)
{
    if (dwKeyUsage == 0)
        return KVRA_OK;
    uint32_t dwCertUsage = 0;
    const HRESULT hr = GetCertKeyUsage(pCert, &dwCertUsage, nullptr);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetCertKeyUsage FAILED", hr);
        return hr;
    }
    return (dwCertUsage & dwKeyUsage) != 0 ? KVRA_OK : KVRA_E_INVALID_CERT_USAGE;
}

HRESULT CheckCertSubjectKeyID(const CertContextRef& pCert, const uint8_t* pbKeyId, uint32_t cbKeyId)
{
    if (pbKeyId == nullptr)
        return KVRA_OK;
    std::vector<uint8_t> vtrKeyId;
    const HRESULT hr = GetCertSubjectKeyID(pCert, &vtrKeyId, nullptr);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetCertSubjectKeyID", hr);
        return hr;
    }
    // Compared over the certificate's length, and only where the caller's
    // bytes reach that far.
    if (cbKeyId < vtrKeyId.size() || std::memcmp(pbKeyId, vtrKeyId.data(), vtrKeyId.size()) != 0)
        return E_FAIL;
    return KVRA_OK;
}

HRESULT CheckCertSerialNumber(const CertContextRef& pCert, const uint8_t* pbSerial, uint32_t cbSerial)
{
    if (pbSerial == nullptr)
        return KVRA_OK;
    std::vector<uint8_t> vtrSerial;
    const HRESULT hr = QueryCertContextInfo(pCert, CERT_QUERY_SERIAL_NUMBER, &vtrSerial, nullptr);
    if (FAILED(hr)) {
        TraceWideStatus(u"QueryCertContextInfo", hr);
        return hr;
    }
    if (cbSerial < vtrSerial.size() || std::memcmp(pbSerial, vtrSerial.data(), vtrSerial.size()) != 0)
        return E_FAIL;
    return KVRA_OK;
}

HRESULT CheckCertTimeValidity(const CertContextRef& pCert, const FILETIME* pftTime)
{
    if (pftTime == nullptr)
        return KVRA_OK;
    if (TraceIsEnabled(TRACE_FLAG_INFO)) {
        const SYSTEMTIME st = FileTimeToSystemTime(*pftTime);
        char16_t wszTime[64];
        FormatWide(wszTime, 64, u"%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
                   st.wMinute, st.wSecond);
        TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 11, static_cast<const char16_t*>(wszTime));
    }
    return CertVerifyTimeValidity(pftTime, *pCert) != 0 ? E_FAIL : KVRA_OK;
}

HRESULT CheckCertSignatureAlg(const CertContextRef& pCert, const char* pszOid)
{
    if (pszOid == nullptr)
        return KVRA_OK;
    // The certificate's identifier only has to begin with the filter text.
    return GetSignatureAlgorithmOid(*pCert).starts_with(pszOid) ? KVRA_OK : E_FAIL;
}

HRESULT ExtractCertificatesFromStore(const CertStore* pStore, CertList& certList)
{
    TRACE_SCOPE();
    if (pStore == nullptr) {
        certList.clear();
        TraceWideStatus(u"Check Parameters(hCertStore)", E_INVALIDARG);
        return E_INVALIDARG;
    }
    try {
        certList.insert(certList.end(), pStore->Certificates().begin(), pStore->Certificates().end());
    } catch (const std::bad_alloc&) {
        certList.clear();
        TraceWideStatus(u"CertDuplicateCertificateContext", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT ExtractCertificatesFromLocalStore(const char16_t* pwszStoreName, CertList& certList)
{
    TRACE_SCOPE();
    if (pwszStoreName == nullptr) {
        certList.clear();
        TraceWideStatus(u"Check Parameters(pwszStoreName)", E_INVALIDARG);
        return E_INVALIDARG;
    }
    const HCERTSTORE hStore = CertOpenSystemStore(pwszStoreName);
    if (!hStore) {
        const HRESULT hr = KernelStatusFromError(GetLastError());
        TraceWideStatus(u"CertOpenStore", hr);
        if (FAILED(hr)) {
            certList.clear();
            return hr;
        }
    }
    const HRESULT hr = ExtractCertificatesFromStore(hStore.get(), certList);
    if (FAILED(hr))
        TraceWideStatus(u"ExtractCertificatesFromStore FAILED.", hr);
    return hr;
}

namespace {

// The cheap tests come first; the private-key probe, which may talk to a
// token, comes last.
FilterRejection FirstRejection(const CertFilter& filter, const NameFilter& subjects, const NameFilter& issuers,
                               const CertContextRef& pCert, HRESULT* phrKey)
{
    if (CheckCertSubjectName(pCert, subjects) != KVRA_OK)
        return FilterRejection::SubjectName;
    if (CheckCertIssuer(pCert, issuers) != KVRA_OK)
        return FilterRejection::Issuer;
    if (CheckCertKeyUsage(pCert, filter.dwKeyUsage) != KVRA_OK)
        return FilterRejection::KeyUsage;
    if (CheckCertSubjectKeyID(pCert, filter.pbSubjectKeyID, filter.cbSubjectKeyID) != KVRA_OK)
        return FilterRejection::SubjectKeyId;
    if (CheckCertSerialNumber(pCert, filter.pbSerialNumber, filter.cbSerialNumber) != KVRA_OK)
        return FilterRejection::SerialNumber;
    if (CheckCertTimeValidity(pCert, filter.pftValidityTime) != KVRA_OK)
        return FilterRejection::Validity;
    if (CheckCertSignatureAlg(pCert, filter.pszSignatureAlgOID) != KVRA_OK)
        return FilterRejection::SignatureAlg;
    if (filter.bCheckPrivateKey == 1) {
        HCRYPTPROV hProv;
        uint32_t dwKeySpec = 0;
        if (!CryptAcquireCertificatePrivateKey(pCert, hProv, dwKeySpec)) {
            const HRESULT hr = KernelStatusFromError(GetLastError());
            TraceWideStatus(u"CryptAcquireCertificatePrivateKey", hr);
            if (phrKey != nullptr)
                *phrKey = hr;
            return FilterRejection::PrivateKey;
        }
    }
    return FilterRejection::None;
}

// Each filter text is parsed once, whatever the number of certificates.
HRESULT AssignNameFilters(const CertFilter& filter, NameFilter& subjects, NameFilter& issuers)
{
    HRESULT hr = subjects.Assign(filter.pwszSubjectDN);
    if (SUCCEEDED(hr))
        hr = issuers.Assign(filter.pwszIssuerDN);
    return hr;
}

} // namespace

HRESULT ExplainCertificateRejection(const CertFilter* pFilter, const CertContextRef& pCert, FilterRejection& rejection,
                                    HRESULT* phrKey)
{
    const CertFilter noFilter{};
    const CertFilter& filter = pFilter != nullptr ? *pFilter : noFilter;
    NameFilter subjects, issuers;
    const HRESULT hr = AssignNameFilters(filter, subjects, issuers);
    if (FAILED(hr))
        return hr;
    rejection = FirstRejection(filter, subjects, issuers, pCert, phrKey);
    return KVRA_OK;
}

HRESULT FilterCertificates(const CertFilter* pFilter, CertList& outList, const CertList& inList)
{
    TRACE_SCOPE();
    const CertFilter noFilter{};
    const CertFilter& filter = pFilter != nullptr ? *pFilter : noFilter;
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 12, static_cast<int32_t>(filter.dwKeyUsage));
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 13, filter.bCheckPrivateKey == 1 ? "TRUE" : "FALSE");
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 14, filter.pwszSubjectDN);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 15, filter.pwszIssuerDN);

    NameFilter subjects, issuers;
    const HRESULT hr = AssignNameFilters(filter, subjects, issuers);
    if (FAILED(hr)) {
        outList.clear();
        TraceWideStatus(u"ParseFilters", hr);
        return hr;
    }

    for (const CertContextRef& pCert : inList) {
        if (FirstRejection(filter, subjects, issuers, pCert, nullptr) != FilterRejection::None)
            continue;
        try {
            outList.push_back(CertDuplicateCertificateContext(pCert));
        } catch (const std::bad_alloc&) {
            outList.clear();
            TraceWideStatus(u"CertDuplicateCertificateContext", E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
    }
    return KVRA_OK;
}

#include "CertificateFilters.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "CertificateProperties.h"
#include "HashAndSign.h"
#include "host/TraceHelper.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/CryptoProvider.h"
#include "kernel/platform/WideFormat.h"

namespace {

constexpr size_t kMaxAlternative = 255;

// Simple case folding for the scripts with letter case that names use.
char16_t FoldCase(char16_t c)
{
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? c + 0x20 : c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs upper/lower case as even/odd, except for a
        // stretch where the pairs start on odd code points.
        const bool bOddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (bOddUpper ? (c % 2 == 1) : (c % 2 == 0))
            return c + 1;
    }
    return c;
}

bool MatchesAny(const std::u16string& wstrName, const std::vector<std::u16string>& vtrFilters)
{
    return std::any_of(vtrFilters.begin(), vtrFilters.end(),
                       [&](const std::u16string& wstrFilter) { return ContainsIgnoringCase(wstrName, wstrFilter); });
}

} // namespace

bool ContainsIgnoringCase(std::u16string_view wsvText, std::u16string_view wsvPattern)
{
    auto it = std::search(wsvText.begin(), wsvText.end(), wsvPattern.begin(), wsvPattern.end(),
                          [](char16_t a, char16_t b) { return FoldCase(a) == FoldCase(b); });
    return it != wsvText.end() || wsvPattern.empty();
}

void ParseFilters(const char16_t* pwszFilter, std::vector<std::u16string>& vtrFilters)
{
    if (pwszFilter == nullptr)
        return;
    std::u16string_view wsvRest(pwszFilter);
    for (;;) {
        const size_t nSeparator = wsvRest.find(u'#');
        const std::u16string_view wsvPiece = wsvRest.substr(0, nSeparator);
        vtrFilters.emplace_back(wsvPiece.substr(0, kMaxAlternative));
        if (nSeparator == std::u16string_view::npos)
            break;
        wsvRest.remove_prefix(nSeparator + 1);
    }
}

HRESULT CheckCertSubjectName(const CertContextRef& pCert, const std::vector<std::u16string>& vtrFilters)
{
    if (vtrFilters.empty())
        return KVRA_OK;
    std::u16string wstrSubject;
    const HRESULT hr = GetCertSubject(pCert, &wstrSubject, nullptr, CERT_X500_NAME_STR);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetCertSubjectName", hr);
        return hr;
    }
    return MatchesAny(wstrSubject, vtrFilters) ? KVRA_OK : E_FAIL;
}

HRESULT CheckCertIssuer(const CertContextRef& pCert, const std::vector<std::u16string>& vtrFilters)
{
    if (vtrFilters.empty())
        return KVRA_OK;
    std::u16string wstrIssuer;
    const HRESULT hr = GetCertIssuer(pCert, &wstrIssuer, nullptr);
    if (FAILED(hr)) {
        TraceWideStatus(u"GetCertIssuer", hr);
        return hr;
    }
    return MatchesAny(wstrIssuer, vtrFilters) ? KVRA_OK : E_FAIL;
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

HRESULT FilterCertificates(const CertFilter* pFilter, CertList& outList, const CertList& inList)
{
    TRACE_SCOPE();
    const CertFilter noFilter{};
    const CertFilter& filter = pFilter != nullptr ? *pFilter : noFilter;
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 12, static_cast<int32_t>(filter.dwKeyUsage));
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 13, filter.bCheckPrivateKey == 1 ? "TRUE" : "FALSE");
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 14, filter.pwszSubjectDN);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificate, 15, filter.pwszIssuerDN);

    std::vector<std::u16string> vtrSubjects, vtrIssuers;
    try {
        ParseFilters(filter.pwszSubjectDN, vtrSubjects);
        ParseFilters(filter.pwszIssuerDN, vtrIssuers);
    } catch (const std::bad_alloc&) {
        outList.clear();
        TraceWideStatus(u"ParseFilters", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }

    for (const CertContextRef& pCert : inList) {
        // The cheap tests come first; the private-key probe, which may talk
        // to a token, comes last.
        if (CheckCertSubjectName(pCert, vtrSubjects) != KVRA_OK || CheckCertIssuer(pCert, vtrIssuers) != KVRA_OK ||
            CheckCertKeyUsage(pCert, filter.dwKeyUsage) != KVRA_OK ||
            CheckCertSubjectKeyID(pCert, filter.pbSubjectKeyID, filter.cbSubjectKeyID) != KVRA_OK ||
            CheckCertSerialNumber(pCert, filter.pbSerialNumber, filter.cbSerialNumber) != KVRA_OK ||
            CheckCertTimeValidity(pCert, filter.pftValidityTime) != KVRA_OK ||
            CheckCertSignatureAlg(pCert, filter.pszSignatureAlgOID) != KVRA_OK)
            continue;
        if (filter.bCheckPrivateKey == 1) {
            HCRYPTPROV hProv;
            uint32_t dwKeySpec = 0;
            if (!CryptAcquireCertificatePrivateKey(pCert, hProv, dwKeySpec)) {
                TraceWideStatus(u"CryptAcquireCertificatePrivateKey", KernelStatusFromError(GetLastError()));
                continue;
            }
        }
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

#include "CertContextData.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

bool SameEncoding(const CERT_CONTEXT& a, const CERT_CONTEXT& b)
{
    const CRYPT_DATA_BLOB encA = GetEncodedCertificate(a);
    const CRYPT_DATA_BLOB encB = GetEncodedCertificate(b);
    return encA.cbData == encB.cbData && std::memcmp(encA.pbData, encB.pbData, encA.cbData) == 0;
}

} // namespace

bool CertStore::AddCertificate(const CertContextRef& pCert, bool bUseExisting)
{
    const bool bPresent = bUseExisting && std::any_of(m_vtrCerts.begin(), m_vtrCerts.end(),
                                                      [&](const CertContextRef& p) { return SameEncoding(*p, *pCert); });
    if (bPresent)
        return true;
    try {
        m_vtrCerts.push_back(pCert);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return false;
    }
    return true;
}

HCERTSTORE CertOpenSystemStore(const char16_t* pwszStoreName)
{
    if (pwszStoreName == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    Win32CertStore hSystemStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                                CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                                AsWide(pwszStoreName));
    if (hSystemStore == nullptr)
        return nullptr;
    HCERTSTORE pStore;
    try {
        pStore = std::make_unique<CertStore>();
    } catch (const std::bad_alloc&) {
        CertCloseStore(hSystemStore, 0);
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
    // The references taken here keep the certificates valid after the
    // store is closed.
    for (PCCERT_CONTEXT pCert = nullptr; (pCert = CertEnumCertificatesInStore(hSystemStore, pCert)) != nullptr;) {
        CertContextRef pRef = WrapCertificateContext(CertDuplicateCertificateContext(pCert));
        if (!pRef || !pStore->AddCertificate(pRef, false)) {
            const DWORD dwError = GetLastError();
            CertFreeCertificateContext(pCert);
            CertCloseStore(hSystemStore, 0);
            SetLastError(dwError);
            return nullptr;
        }
    }
    CertCloseStore(hSystemStore, 0);
    return pStore;
}

HCERTSTORE CertOpenMemoryStore()
{
    try {
        return std::make_unique<CertStore>();
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
}

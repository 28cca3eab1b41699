#include "CertContextData.h"

#include <new>

namespace {

struct CertificateRelease {
    void operator()(const CERT_CONTEXT* p) const { CertFreeCertificateContext(Win32Cert(*p)); }
};

} // namespace

CertContextRef WrapCertificateContext(PCCERT_CONTEXT pCert)
{
    if (pCert == nullptr)
        return nullptr;
    try {
        return CertContextRef(reinterpret_cast<const CERT_CONTEXT*>(pCert), CertificateRelease{});
    } catch (const std::bad_alloc&) {
        CertFreeCertificateContext(pCert);
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
}

CertContextRef CreateCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded)
{
    PCCERT_CONTEXT pCert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, pbEncoded,
                                                        static_cast<DWORD>(cbEncoded));
    if (pCert == nullptr)
        return nullptr;
    return WrapCertificateContext(pCert);
}

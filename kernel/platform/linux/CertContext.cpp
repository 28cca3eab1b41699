#include "CertContextData.h"

#include <openssl/provider.h>

#include <new>

#include "kernel/platform/LastError.h"

namespace {
constexpr uint32_t CRYPT_E_ASN1_BADTAG = 0x8009310B;
constexpr uint32_t E_OUTOFMEMORY_CODE = 0x8007000E;

// The library context certificates are parsed in: one with OpenSSL's null
// provider alone, so that parsing leaves the public key undecoded (OpenSSL
// sets up its key decoders for every certificate, ten times the cost of the
// rest of the parse) and CertPublicKey decodes it once it is needed. Null,
// and the default context used, should it not be made. Kept to the end.
OSSL_LIB_CTX* ParsingContext()
{
    static OSSL_LIB_CTX* const s_pContext = [] {
        OSSL_LIB_CTX* pContext = OSSL_LIB_CTX_new();
        if (pContext != nullptr && OSSL_PROVIDER_load(pContext, "null") == nullptr) {
            OSSL_LIB_CTX_free(pContext);
            pContext = nullptr;
        }
        return pContext;
    }();
    return s_pContext;
}

} // namespace

CertContextRef CreateTokenCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded, CERTCertificate* pNssCert,
                                             PK11SlotInfo* pSlot)
{
    std::unique_ptr<CERTCertificate, CertificateDeleter> pOwned(pNssCert);
    std::unique_ptr<PK11SlotInfo, SlotDeleter> pOwnedSlot(pSlot);
    const unsigned char* p = pbEncoded;
    std::unique_ptr<X509, X509Deleter> pX509(reinterpret_cast<X509*>(ASN1_item_d2i_ex(
        nullptr, &p, static_cast<long>(cbEncoded), ASN1_ITEM_rptr(X509), ParsingContext(), nullptr)));
    if (!pX509) {
        SetLastError(CRYPT_E_ASN1_BADTAG);
        return nullptr;
    }
    try {
        auto pContext = std::make_shared<CERT_CONTEXT>();
        pContext->vtrEncoded.assign(pbEncoded, pbEncoded + cbEncoded);
        pContext->pX509 = std::move(pX509);
        pContext->pNssCert = std::move(pOwned);
        pContext->pSlot = std::move(pOwnedSlot);
        return pContext;
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY_CODE);
        return nullptr;
    }
}

CertContextRef CreateCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded)
{
    return CreateTokenCertificateContext(pbEncoded, cbEncoded, nullptr, nullptr);
}

const EVP_PKEY* CertPublicKey(const CERT_CONTEXT& cert)
{
    if (!cert.pPublicKey && cert.pX509) {
        unsigned char* pDer = nullptr;
        const int cbDer = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.pX509.get()), &pDer);
        if (cbDer > 0) {
            const unsigned char* p = pDer;
            cert.pPublicKey.reset(d2i_PUBKEY(nullptr, &p, cbDer));
        }
        OPENSSL_free(pDer);
    }
    return cert.pPublicKey.get();
}

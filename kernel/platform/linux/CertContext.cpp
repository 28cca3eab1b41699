#include "CertContextData.h"

#include <new>

#include "kernel/platform/LastError.h"

namespace {
constexpr uint32_t CRYPT_E_ASN1_BADTAG = 0x8009310B;
constexpr uint32_t E_OUTOFMEMORY_CODE = 0x8007000E;
}

CertContextRef CreateTokenCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded, CERTCertificate* pNssCert,
                                             PK11SlotInfo* pSlot)
{
    std::unique_ptr<CERTCertificate, CertificateDeleter> pOwned(pNssCert);
    std::unique_ptr<PK11SlotInfo, SlotDeleter> pOwnedSlot(pSlot);
    const unsigned char* p = pbEncoded;
    std::unique_ptr<X509, X509Deleter> pX509(d2i_X509(nullptr, &p, static_cast<long>(cbEncoded)));
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

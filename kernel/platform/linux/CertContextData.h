// What a certificate is on Linux: its DER encoding, its fields parsed by
// OpenSSL, and the NSS certificate and token through which its private key
// is found. For the Linux platform layer and Linux-only tests.
#pragma once

#include <cert.h>
#include <keyhi.h>
#include <openssl/x509.h>
#include <pk11pub.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/platform/CertContext.h"

struct CertificateDeleter {
    void operator()(CERTCertificate* p) const { CERT_DestroyCertificate(p); }
};
struct X509Deleter {
    void operator()(X509* p) const { X509_free(p); }
};
struct SlotDeleter {
    void operator()(PK11SlotInfo* p) const { PK11_FreeSlot(p); }
};
struct PublicKeyDeleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PrivateKeyDeleter {
    void operator()(SECKEYPrivateKey* p) const { SECKEY_DestroyPrivateKey(p); }
};

struct CERT_CONTEXT {
    std::vector<uint8_t> vtrEncoded;
    std::unique_ptr<X509, X509Deleter> pX509;
    std::unique_ptr<CERTCertificate, CertificateDeleter> pNssCert; // may be null
    // The token the certificate was found on. NSS shares one certificate
    // object between all tokens that hold the same certificate, so its own
    // idea of the token may be another one.
    std::unique_ptr<PK11SlotInfo, SlotDeleter> pSlot; // may be null
    // The private key once found in a certificate database that needs no
    // login, for the certificate's later uses: such a key stays where it is
    // for as long as the certificate is held.
    mutable std::unique_ptr<SECKEYPrivateKey, PrivateKeyDeleter> pDatabaseKey;
    // The public key, decoded from pX509 on first use (CertPublicKey).
    mutable std::unique_ptr<EVP_PKEY, PublicKeyDeleter> pPublicKey;
};

// The certificate's public key, decoded on first use and kept: parsing a
// certificate leaves it undecoded, so X509_get0_pubkey finds none. Null
// when it does not decode.
const EVP_PKEY* CertPublicKey(const CERT_CONTEXT& cert);

// Makes a certificate from its DER encoding and the NSS certificate and the
// token it came from (whose references it takes over; either may be null).
// Returns null, with the last error set, when the encoding does not parse.
CertContextRef CreateTokenCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded, CERTCertificate* pNssCert,
                                             PK11SlotInfo* pSlot);

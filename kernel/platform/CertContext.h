// Counted references to certificates, standing in for the platform's
// certificate contexts: a reference stays valid for as long as it is held,
// whatever happens to the store it came from.
#pragma once

#include <cert.h>
#include <openssl/x509.h>
#include <pk11pub.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CertificateDeleter {
    void operator()(CERTCertificate* p) const { CERT_DestroyCertificate(p); }
};
struct X509Deleter {
    void operator()(X509* p) const { X509_free(p); }
};
struct SlotDeleter {
    void operator()(PK11SlotInfo* p) const { PK11_FreeSlot(p); }
};

// One certificate: its DER encoding, its parsed fields, and the NSS handle
// and token through which its private key is found.
struct CERT_CONTEXT {
    std::vector<uint8_t> vtrEncoded;
    std::unique_ptr<X509, X509Deleter> pX509;
    std::unique_ptr<CERTCertificate, CertificateDeleter> pNssCert; // may be null
    // The token the certificate was found on. NSS shares one certificate
    // object between all tokens that hold the same certificate, so its own
    // idea of the token may be another one.
    std::unique_ptr<PK11SlotInfo, SlotDeleter> pSlot; // may be null
};

// A certificate reference: copying it adds a reference, destroying it drops
// one.
using CertContextRef = std::shared_ptr<const CERT_CONTEXT>;

// Makes a certificate from its DER encoding and, optionally, the NSS
// certificate and the token it came from (whose references it takes over).
// Returns null, with the last error set, when the encoding does not parse.
CertContextRef CreateCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded, CERTCertificate* pNssCert = nullptr,
                                        PK11SlotInfo* pSlot = nullptr);

// A new reference to the same certificate.
inline CertContextRef CertDuplicateCertificateContext(const CertContextRef& pCert) { return pCert; }

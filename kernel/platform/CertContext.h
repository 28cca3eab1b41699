// Counted references to certificates, standing in for the platform's
// certificate contexts: a reference stays valid for as long as it is held,
// whatever happens to the store it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// One certificate as the platform holds it. Only the platform layer looks
// inside; everything else asks it (CertFields.h, CertName.h).
struct CERT_CONTEXT;

// A certificate reference: copying it adds a reference, destroying it drops
// one.
using CertContextRef = std::shared_ptr<const CERT_CONTEXT>;

// Makes a certificate from its DER encoding. Returns null, with the last
// error set, when the encoding does not parse.
CertContextRef CreateCertificateContext(const uint8_t* pbEncoded, size_t cbEncoded);

// A new reference to the same certificate.
inline CertContextRef CertDuplicateCertificateContext(const CertContextRef& pCert) { return pCert; }

// Counted references to certificates, standing in for the platform's
// certificate contexts: a reference stays valid for as long as it is held,
// whatever happens to the store it came from.
#pragma once

#include <memory>

// The certificate itself; its fields and key arrive with the certificate
// store layer.
struct CERT_CONTEXT;

// A certificate reference: copying it adds a reference, destroying it drops
// one.
using CertContextRef = std::shared_ptr<const CERT_CONTEXT>;

// What a certificate is on Windows: a certificate context of CryptoAPI,
// whose reference a seam certificate reference owns.
#pragma once

#include "WindowsApi.h"

// Takes over one reference on pCert. Returns null, with the last error set,
// when there is no memory (the reference is released then).
CertContextRef WrapCertificateContext(PCCERT_CONTEXT pCert);

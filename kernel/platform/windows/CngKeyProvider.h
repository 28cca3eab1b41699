// A CNG key handle as a key of the platform's crypto seam: hashed with CNG's
// own hashes and signed with NCryptSignHash, as a certificate's CNG key is
// once CryptAcquireCertificatePrivateKey has opened it.
#pragma once

#include "WindowsApi.h"

// Wraps hKey. With bRelease the provider frees the key when it goes (also
// when this fails); without it the caller keeps the key, and it must outlive
// the provider. On failure returns false with the last error set.
bool CryptProviderForCngKey(NCRYPT_KEY_HANDLE hKey, bool bRelease, HCRYPTPROV& hProv);

// The crypto module: the part of the agent's work that needs NSS, OpenSSL
// and, for several candidates, the selection dialog. It is a shared module
// that the agent loads on the first selection or signing request, so that
// a host answering only "GetLastErrorDesc" starts without any of them.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/CertificateFilters.h"
#include "kernel/Encodings.h"
#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"

struct TesseraCryptoModule {
    uint32_t cbSize;

    // Reads the user's store, keeps what passes the filter and chooses: the
    // only candidate at once, one of several in the selection dialog. On
    // success gives the chosen certificate and its subject in X.500 form.
    HRESULT (*pfnSelectCertificate)(const CertFilter& filter, CertContextRef& pChosen, std::u16string& wstrSubject);

    // Signs the message's UTF-8 bytes with the certificate: sign type 1 is
    // the bare PKCS#1 value as one line of Base64, sign type 2 a PKCS#7
    // SignedData (with the message when bAttached) in lines of 76.
    HRESULT (*pfnSignMessage)(const CertContextRef& pCert, const char16_t* pwszMessage, int32_t nSignType,
                              uint32_t dwAlgId, bool bAttached, std::u16string& bstrSignature);

    // The size of the text pfnSignMessage would give for the same arguments,
    // found without signing: the key is not used, so no PIN is asked for.
    HRESULT (*pfnMeasureSignature)(const CertContextRef& pCert, const char16_t* pwszMessage, int32_t nSignType,
                                   uint32_t dwAlgId, bool bAttached, Base64Size& size);
};

#define TESSERA_CRYPTO_MODULE "tessera-crypto"
#define TESSERA_CRYPTO_ENTRY "tessera_crypto_module"

// Loads the module the first time; null, with the last error set, when it
// cannot be loaded.
const TesseraCryptoModule* LoadCryptoModule();

// What a provider handle and a hash object are on Linux: a private key
// found through NSS (which may ask for the token's PIN through pinentry) and
// an OpenSSL digest. For the Linux platform layer only.
#pragma once

#include <keyhi.h>
#include <openssl/evp.h>
#include <pk11pub.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "CertContextData.h"
#include "PinPrompt.h"
#include "kernel/platform/CryptoProvider.h"

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};

// An acquired private key. On a token that needs a login the key itself is
// only found, after the login, when it is first used. The PIN context lives
// as long as the key, since a key that asks for its PIN before every
// signature prompts again there.
struct CryptProvider {
    CertContextRef pCert;
    PinPromptContext pin;
    std::unique_ptr<SECKEYPrivateKey, PrivateKeyDeleter> pKey;
    std::unique_ptr<PK11SlotInfo, SlotDeleter> pSlot;
};

struct CryptHash {
    CryptProvider* pProvider;
    uint32_t dwAlgId;
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> pDigest;
    std::vector<uint8_t> vtrDigest; // set once the hash is finished
};

// Whether the token may hold the certificate's private key, found out
// without a login: NSS has paired the certificate with a key object it can
// see, or the token is logged in and holds a key with the certificate's
// CKA_ID, or the token (a device, not NSS's own database) hides its keys
// until login and the certificate is not a certificate authority's. Many
// smart cards and USB tokens show no key object at all, public or private,
// before login.
bool TokenMayHoldKey(PK11SlotInfo* pSlot, CERTCertificate* pCert);

// Logs in to the key's token if it needs it (prompting for the PIN) and
// finds the key. On failure returns false with the last error set:
// 0x8010006E cancelled, 0x8010006B wrong PIN, 0x8010006C PIN blocked,
// 0x80100069 token removed, 0x8009200B no key, 0x80090020 otherwise.
bool EnsurePrivateKey(CryptProvider& prov);

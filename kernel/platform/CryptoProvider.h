// Private keys, hashing and raw signing, standing in for the platform's
// cryptographic providers: a provider handle is a certificate's private key
// found through NSS (which may ask for the token's PIN), a hash object is
// an OpenSSL digest, and a signature is PKCS#1 v1.5 over a DigestInfo.
#pragma once

#include <keyhi.h>
#include <openssl/evp.h>
#include <pk11pub.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "CertContext.h"
#include "PinPrompt.h"

// Key specifications.
constexpr uint32_t AT_KEYEXCHANGE = 1;
constexpr uint32_t AT_SIGNATURE = 2;

// Provider parameters.
constexpr uint32_t PP_IMPTYPE = 3;
constexpr uint32_t PP_NAME = 4;
constexpr uint32_t PP_CONTAINER = 6;

// PP_IMPTYPE bits.
constexpr uint32_t CRYPT_IMPL_HARDWARE = 1;
constexpr uint32_t CRYPT_IMPL_SOFTWARE = 2;
constexpr uint32_t CRYPT_IMPL_REMOVABLE = 8;

// Hash algorithm identifiers.
constexpr uint32_t CALG_MD5 = 0x8003;
constexpr uint32_t CALG_SHA1 = 0x8004;
constexpr uint32_t CALG_SHA_256 = 0x800C;
constexpr uint32_t CALG_SHA_384 = 0x800D;
constexpr uint32_t CALG_SHA_512 = 0x800E;

struct PrivateKeyDeleter {
    void operator()(SECKEYPrivateKey* p) const { SECKEY_DestroyPrivateKey(p); }
};
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
using HCRYPTPROV = std::unique_ptr<CryptProvider>;

struct CryptHash {
    CryptProvider* pProvider;
    uint32_t dwAlgId;
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> pDigest;
    std::vector<uint8_t> vtrDigest; // set once the hash is finished
};
using HCRYPTHASH = std::unique_ptr<CryptHash>;

// Whether the token may hold the certificate's private key, found out
// without a login: NSS has paired the certificate with a key object it can
// see, or the token is logged in and holds a key with the certificate's
// CKA_ID, or the token (a device, not NSS's own database) hides its keys
// until login and the certificate is not a certificate authority's. Many smart cards and USB tokens show no key
// object at all, public or private, before login.
bool TokenMayHoldKey(PK11SlotInfo* pSlot, CERTCertificate* pCert);

// Opens the certificate's private key. Never prompts: on a token that needs
// a login the PIN is asked for when the key is first used, and the key is
// then found by the certificate's CKA_ID. On failure returns false with the
// last error set: 0x8009200B when there is no key, 0x80100069 when the
// token is gone, 0x80090020 for other failures.
bool CryptAcquireCertificatePrivateKey(const CertContextRef& pCert, HCRYPTPROV& hProv, uint32_t& dwKeySpec);

// Logs in to the key's token if it needs it (prompting for the PIN) and
// finds the key. On failure returns false with the last error set:
// 0x8010006E cancelled, 0x8010006B wrong PIN, 0x8010006C PIN blocked,
// 0x80100069 token removed, 0x8009200B no key, 0x80090020 otherwise.
bool EnsurePrivateKey(CryptProvider& prov);

// Reads a provider parameter: PP_NAME (the token's module name) and
// PP_CONTAINER (token label and key nickname) as NUL-terminated UTF-8,
// PP_IMPTYPE as a 32-bit value. With a null pbData, reports the size.
bool CryptGetProvParam(const CryptProvider& prov, uint32_t dwParam, uint8_t* pbData, uint32_t* pcbData);

// A hash object of the algorithm for this key. Fails with NTE_BAD_ALGID for
// an unknown algorithm or a key that cannot make RSA PKCS#1 signatures.
bool CryptCreateHash(CryptProvider& prov, uint32_t dwAlgId, HCRYPTHASH& hHash);

bool CryptHashData(CryptHash& hash, const uint8_t* pbData, uint32_t cbData);

// Signs the hash (PKCS#1 v1.5 with the DigestInfo of the hash); the first
// use of a key on a token that needs a login prompts for its PIN. With a
// null pbSignature, reports the size. The signature comes out least significant
// byte first, as the platform gives it.
bool CryptSignHashW(CryptHash& hash, uint32_t dwKeySpec, uint8_t* pbSignature, uint32_t* pcbSignature);

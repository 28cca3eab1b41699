// Private keys, hashing and raw signing: the platform's cryptographic
// providers. A provider handle is a certificate's private key (the provider
// may ask for a token's PIN), and a signature is PKCS#1 v1.5 over a
// DigestInfo for an RSA key, ECDSA's r||s over the bare hash for an EC key.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CertContext.h"

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

// An acquired private key and a hash object, as the platform keeps them;
// only the platform layer looks inside.
struct CryptProvider;
struct CryptHash;
struct CryptProviderDeleter {
    void operator()(CryptProvider* p) const;
};
struct CryptHashDeleter {
    void operator()(CryptHash* p) const;
};
using HCRYPTPROV = std::unique_ptr<CryptProvider, CryptProviderDeleter>;
using HCRYPTHASH = std::unique_ptr<CryptHash, CryptHashDeleter>;

// Opens the certificate's private key. Never prompts: on a token that needs
// a login the PIN is asked for when the key is first used, and the key is
// then found by the certificate's CKA_ID. On failure returns false with the
// last error set: 0x8009200B when there is no key, 0x80100069 when the
// token is gone, 0x80090020 for other failures.
bool CryptAcquireCertificatePrivateKey(const CertContextRef& pCert, HCRYPTPROV& hProv, uint32_t& dwKeySpec);

// Reads a provider parameter: PP_NAME (the token's module name) and
// PP_CONTAINER (token label and key nickname) as NUL-terminated UTF-8,
// PP_IMPTYPE as a 32-bit value. With a null pbData, reports the size.
bool CryptGetProvParam(const CryptProvider& prov, uint32_t dwParam, uint8_t* pbData, uint32_t* pcbData);

// A hash object of the algorithm for this key. Fails with NTE_BAD_ALGID for
// an unknown algorithm, a key that is neither RSA nor EC, a mechanism the
// key's token lacks, or MD5 with an EC key.
bool CryptCreateHash(CryptProvider& prov, uint32_t dwAlgId, HCRYPTHASH& hHash);

bool CryptHashData(CryptHash& hash, const uint8_t* pbData, uint32_t cbData);

// Signs the hash (RSA: PKCS#1 v1.5 with the DigestInfo of the hash; EC: the
// raw r||s, twice the field's size, as a whole reversed below); the first
// use of a key on a token that needs a login prompts for its PIN. With a
// null pbSignature, reports the size. The signature comes out least significant
// byte first, as the platform gives it.
bool CryptSignHashW(CryptHash& hash, uint32_t dwKeySpec, uint8_t* pbSignature, uint32_t* pcbSignature);

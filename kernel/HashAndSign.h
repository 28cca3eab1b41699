// Hashing and raw signing with a certificate's own private key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/CryptoProvider.h"

// The digest OID and the signature algorithm OID that a PKCS#7 signer
// states for a hash algorithm (0x8003 MD5, 0x8004 SHA-1 with plain
// rsaEncryption, 0x800C/D/E SHA-256/384/512). Returns false, leaving both
// outputs as they were, for any other algorithm.
bool GetAlgorithmIdentifiers(uint32_t dwAlgId, std::string& strDigestOid, std::string& strSignatureOid);

// The same for a key of that kind: RSA as above; an EC key states
// ecdsa-with-SHA1/256/384/512 and has no MD5 signature (false). Any other
// kind of key gives false.
bool GetAlgorithmIdentifiers(uint32_t dwAlgId, KeyAlgorithm keyAlgorithm, std::string& strDigestOid,
                             std::string& strSignatureOid);

// The DER ECDSA-Sig-Value, SEQUENCE { INTEGER r, INTEGER s }, of a raw
// signature r||s (two big-endian halves of equal length). E_FAIL for an
// empty or odd-length input.
HRESULT EncodeEcdsaSignature(const uint8_t* pbRaw, uint32_t cbRaw, std::vector<uint8_t>& vtrDer);

// The longest signature the certificate's key can make, in bytes, as a
// signer states it: the modulus length for RSA, the longest DER
// ECDSA-Sig-Value for EC (whose actual length varies by a byte or two). 0
// when the key cannot be read.
uint32_t GetMaxSignatureLength(const CERT_CONTEXT& cert);

// Hashes the bytes (fed in pieces of 16 KiB) and signs the hash with the
// certificate's private key: for RSA PKCS#1 v1.5, most significant byte
// first; for EC the DER ECDSA-Sig-Value. A token that needs a login prompts
// for its PIN. Nothing is kept between calls.
HRESULT CalculateHashandSign(const CertContextRef& pCert, const uint8_t* pbData, uint32_t dwDataLength,
                             uint32_t dwAlgId, std::vector<uint8_t>& vtrSignature);

// A provider parameter (PP_NAME, PP_CONTAINER) of an acquired key.
// E_FAIL when the provider reports it empty.
HRESULT GetProviderInfo(const CryptProvider& prov, uint32_t dwParam, std::vector<uint8_t>& vtrValue);

// The status of the platform call that just failed: its last error by the
// kernel's rule, or E_FAIL when it left none.
HRESULT LastErrorStatus();

// Hashing and raw signing with a certificate's own private key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CryptoProvider.h"

// The digest OID and the signature algorithm OID that a PKCS#7 signer
// states for a hash algorithm (0x8003 MD5, 0x8004 SHA-1 with plain
// rsaEncryption, 0x800C/D/E SHA-256/384/512). Returns false, leaving both
// outputs as they were, for any other algorithm.
bool GetAlgorithmIdentifiers(uint32_t dwAlgId, std::string& strDigestOid, std::string& strSignatureOid);

// Hashes the bytes (fed in pieces of 16 KiB) and signs the hash with the
// certificate's private key: PKCS#1 v1.5, most significant byte first. A
// token that needs a login prompts for its PIN. Nothing is kept between
// calls.
HRESULT CalculateHashandSign(const CertContextRef& pCert, const uint8_t* pbData, uint32_t dwDataLength,
                             uint32_t dwAlgId, std::vector<uint8_t>& vtrSignature);

// A provider parameter (PP_NAME, PP_CONTAINER) of an acquired key.
// E_FAIL when the provider reports it empty.
HRESULT GetProviderInfo(const CryptProvider& prov, uint32_t dwParam, std::vector<uint8_t>& vtrValue);

// The status of the platform call that just failed: its last error by the
// kernel's rule, or E_FAIL when it left none.
HRESULT LastErrorStatus();

// PKCS#7 SignedData of a message, in Base64, with the message attached or
// detached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Encodings.h"
#include "platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"

// Signs the UTF-8 bytes of the message with the certificate's key and
// returns the Base64 of the ContentInfo (CR LF after every 76 characters).
// NTE_BAD_ALGID for an unknown algorithm or one the key cannot sign with
// (MD5 with an EC key), E_POINTER for a null message, otherwise the status
// of the first step that failed.
HRESULT SignData(std::u16string& bstrResult, const char16_t* pwszMessage, const CertContextRef& pCert,
                 uint32_t dwAlgId, bool bIncludeContent);

// Builds the ContentInfo of a SignedData with one signer, no signed
// attributes and the signing certificate alone, and Base64-encodes it with
// dwBase64Flags. The content is the memory bytes, or with bFromFile the
// file's bytes; it is embedded only with bIncludeContent. The signature
// must be that of the content; nothing is hashed or signed here.
HRESULT EncapsulatePKCS7(const uint8_t* pbContent, uint32_t cbContent, const char16_t* pwszFilePath, bool bFromFile,
                         bool bIncludeContent, const CertContextRef& pCert, std::string strDigestOid,
                         std::string strSignatureOid, const uint8_t* pbSignature, uint32_t cbSignature,
                         uint32_t dwBase64Flags, std::u16string& bstrResult, uint32_t* pdwBase64Length);

// The size of the text SignData would give for cbContent bytes of content
// with this certificate and algorithm, found without signing (so without
// asking for a PIN): the structure is measured with a placeholder of the
// key's signature length. NTE_BAD_ALGID for an unknown algorithm, E_FAIL
// when the certificate's key cannot be read or the structure would be too
// large to encode (SignData would then fail too).
HRESULT MeasureSignData(uint64_t cbContent, const CertContextRef& pCert, uint32_t dwAlgId, bool bIncludeContent,
                        Base64Size& size);

// The structure encoder, standing in for CryptEncodeObject: the standard
// DER of a few PKCS#7 and X.509 structures, from records shaped like the
// platform's.
#pragma once

#include <cstdint>

constexpr uint32_t X509_ASN_ENCODING = 0x00000001;
constexpr uint32_t PKCS_7_ASN_ENCODING = 0x00010000;

// Structure types (in a namespace of their own: OpenSSL has a type named
// like the last one).
namespace StructType {
constexpr uintptr_t PKCS_ATTRIBUTE = 22;
constexpr uintptr_t X509_OCTET_STRING = 25;
constexpr uintptr_t PKCS_CONTENT_INFO = 33;
constexpr uintptr_t X509_ALGORITHM_IDENTIFIER = 74;
constexpr uintptr_t PKCS7_SIGNER_INFO = 500;
} // namespace StructType

struct CRYPT_DATA_BLOB {
    uint32_t cbData;
    const uint8_t* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPT_DATA_BLOB; // least significant byte first
using CERT_NAME_BLOB = CRYPT_DATA_BLOB;     // a DER-encoded Name
using CRYPT_OBJID_BLOB = CRYPT_DATA_BLOB;   // DER of the parameters, or empty

struct CRYPT_ATTRIBUTE {
    const char* pszObjId;
    uint32_t cValue;
    const CRYPT_DATA_BLOB* rgValue; // each a DER element
};

struct CRYPT_ATTRIBUTES {
    uint32_t cAttr;
    const CRYPT_ATTRIBUTE* rgAttr;
};

struct CRYPT_ALGORITHM_IDENTIFIER {
    const char* pszObjId;
    CRYPT_OBJID_BLOB Parameters;
};

struct CRYPT_CONTENT_INFO {
    const char* pszObjId;
    CRYPT_DATA_BLOB Content; // a complete DER element, or empty
};

struct CMSG_SIGNER_INFO {
    uint32_t dwVersion;
    CERT_NAME_BLOB Issuer;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
    CRYPT_DATA_BLOB EncryptedHash; // most significant byte first
    CRYPT_ATTRIBUTES AuthAttrs;
    CRYPT_ATTRIBUTES UnauthAttrs;
};

// Encodes the record. With a null pbEncoded, reports the size. Algorithm
// identifiers with empty parameters are written with NULL parameters, but
// for the ECDSA signature algorithms (ecdsa-with-SHA1, ecdsa-with-SHA256/
// 384/512), whose standard DER has none, with the parameters left out.
// Returns false with the last error set on failure.
bool CryptEncodeObject(uint32_t dwCertEncodingType, uintptr_t lpszStructType, const void* pvStructInfo,
                       uint8_t* pbEncoded, uint32_t* pcbEncoded);

#include "kernel/platform/StructureEncoder.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kernel/platform/LastError.h"

namespace {

constexpr uint32_t CRYPT_E_ASN1_ERROR = 0x80093100;
constexpr uint32_t CRYPT_E_OID_FORMAT = 0x80091003;
constexpr uint32_t ERROR_MORE_DATA = 234;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t kOutOfMemory = 0x8007000E;

template <class T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslDeleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
using TypePtr = std::unique_ptr<ASN1_TYPE, OpenSslDeleter<ASN1_TYPE, ASN1_TYPE_free>>;
using AttributePtr = std::unique_ptr<X509_ATTRIBUTE, OpenSslDeleter<X509_ATTRIBUTE, X509_ATTRIBUTE_free>>;
using AlgorithmPtr = std::unique_ptr<X509_ALGOR, OpenSslDeleter<X509_ALGOR, X509_ALGOR_free>>;
using OctetsPtr = std::unique_ptr<ASN1_OCTET_STRING, OpenSslDeleter<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>>;
using NamePtr = std::unique_ptr<X509_NAME, OpenSslDeleter<X509_NAME, X509_NAME_free>>;
using IntegerPtr = std::unique_ptr<ASN1_INTEGER, OpenSslDeleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
using SignerInfoPtr =
    std::unique_ptr<PKCS7_SIGNER_INFO, OpenSslDeleter<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>>;

// The failure of one encoding, with the code to report.
struct EncodeError {
    uint32_t dwCode;
};

ObjectPtr ToObject(const char* pszOid)
{
    ObjectPtr pObject(pszOid != nullptr ? OBJ_txt2obj(pszOid, 1) : nullptr);
    if (!pObject)
        throw EncodeError{CRYPT_E_OID_FORMAT};
    return pObject;
}

// A DER element given as a blob, as an ASN1_TYPE.
TypePtr ToType(const CRYPT_DATA_BLOB& blob)
{
    const unsigned char* p = blob.pbData;
    TypePtr pType(d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(blob.cbData)));
    if (!pType)
        throw EncodeError{CRYPT_E_ASN1_ERROR};
    return pType;
}

// Runs an OpenSSL i2d function into a vector.
template <class T>
std::vector<uint8_t> Serialize(const T* pValue, int (*pfnI2d)(const T*, unsigned char**))
{
    const int n = pfnI2d(pValue, nullptr);
    if (n <= 0)
        throw EncodeError{CRYPT_E_ASN1_ERROR};
    std::vector<uint8_t> vtr(static_cast<size_t>(n));
    unsigned char* p = vtr.data();
    pfnI2d(pValue, &p);
    return vtr;
}

std::vector<uint8_t> Header(int nTag, int nClass, bool bConstructed, size_t cbContent)
{
    std::vector<uint8_t> vtr(static_cast<size_t>(ASN1_object_size(bConstructed, static_cast<int>(cbContent), nTag)) -
                             cbContent);
    unsigned char* p = vtr.data();
    ASN1_put_object(&p, bConstructed, static_cast<int>(cbContent), nTag, nClass);
    return vtr;
}

// ecdsa-with-SHA1 (1.2.840.10045.4.1) and ecdsa-with-SHA2 (under
// 1.2.840.10045.4.3): identifiers whose parameters are absent, not NULL.
bool TakesNoParameters(const char* pszObjId)
{
    return std::strcmp(pszObjId, "1.2.840.10045.4.1") == 0 ||
           std::strncmp(pszObjId, "1.2.840.10045.4.3.", std::strlen("1.2.840.10045.4.3.")) == 0;
}

void SetAlgorithm(X509_ALGOR* pAlgorithm, const CRYPT_ALGORITHM_IDENTIFIER& identifier)
{
    ObjectPtr pObject = ToObject(identifier.pszObjId);
    if (identifier.Parameters.cbData == 0) {
        X509_ALGOR_set0(pAlgorithm, pObject.release(),
                        TakesNoParameters(identifier.pszObjId) ? V_ASN1_UNDEF : V_ASN1_NULL, nullptr);
        return;
    }
    TypePtr pParameters = ToType(identifier.Parameters);
    X509_ALGOR_set0(pAlgorithm, pObject.release(), pParameters->type, pParameters->value.ptr);
    pParameters->value.ptr = nullptr;
    pParameters->type = V_ASN1_UNDEF;
}

std::vector<uint8_t> EncodeAttribute(const CRYPT_ATTRIBUTE& attribute)
{
    AttributePtr pAttribute(X509_ATTRIBUTE_new());
    if (!pAttribute)
        throw std::bad_alloc();
    ObjectPtr pObject = ToObject(attribute.pszObjId);
    if (!X509_ATTRIBUTE_set1_object(pAttribute.get(), pObject.get()))
        throw std::bad_alloc();
    for (uint32_t i = 0; i < attribute.cValue; ++i) {
        TypePtr pValue = ToType(attribute.rgValue[i]);
        if (!X509_ATTRIBUTE_set1_data(pAttribute.get(), pValue->type, pValue->value.ptr, -1))
            throw EncodeError{CRYPT_E_ASN1_ERROR};
    }
    return Serialize(pAttribute.get(), i2d_X509_ATTRIBUTE);
}

std::vector<uint8_t> EncodeAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER& identifier)
{
    AlgorithmPtr pAlgorithm(X509_ALGOR_new());
    if (!pAlgorithm)
        throw std::bad_alloc();
    SetAlgorithm(pAlgorithm.get(), identifier);
    return Serialize(pAlgorithm.get(), i2d_X509_ALGOR);
}

std::vector<uint8_t> EncodeOctetString(const CRYPT_DATA_BLOB& blob)
{
    OctetsPtr pOctets(ASN1_OCTET_STRING_new());
    if (!pOctets || !ASN1_OCTET_STRING_set(pOctets.get(), blob.pbData, static_cast<int>(blob.cbData)))
        throw std::bad_alloc();
    return Serialize(pOctets.get(), i2d_ASN1_OCTET_STRING);
}

// SEQUENCE { contentType OBJECT IDENTIFIER, content [0] EXPLICIT ANY OPTIONAL }
std::vector<uint8_t> EncodeContentInfo(const CRYPT_CONTENT_INFO& info)
{
    ObjectPtr pObject = ToObject(info.pszObjId);
    std::vector<uint8_t> vtrBody = Serialize(pObject.get(), i2d_ASN1_OBJECT);
    if (info.Content.cbData != 0) {
        const std::vector<uint8_t> vtrTag = Header(0, V_ASN1_CONTEXT_SPECIFIC, true, info.Content.cbData);
        vtrBody.insert(vtrBody.end(), vtrTag.begin(), vtrTag.end());
        vtrBody.insert(vtrBody.end(), info.Content.pbData, info.Content.pbData + info.Content.cbData);
    }
    std::vector<uint8_t> vtrOut = Header(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, true, vtrBody.size());
    vtrOut.insert(vtrOut.end(), vtrBody.begin(), vtrBody.end());
    return vtrOut;
}

// The serial number blob is least significant byte first; the INTEGER's
// content is the same bytes the other way round.
IntegerPtr ToInteger(const CRYPT_INTEGER_BLOB& blob)
{
    if (blob.cbData == 0)
        throw EncodeError{CRYPT_E_ASN1_ERROR};
    std::vector<uint8_t> vtrContent(blob.pbData, blob.pbData + blob.cbData);
    std::reverse(vtrContent.begin(), vtrContent.end());
    std::vector<uint8_t> vtrDer = Header(V_ASN1_INTEGER, V_ASN1_UNIVERSAL, false, vtrContent.size());
    vtrDer.insert(vtrDer.end(), vtrContent.begin(), vtrContent.end());
    const unsigned char* p = vtrDer.data();
    IntegerPtr pInteger(d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(vtrDer.size())));
    if (!pInteger)
        throw EncodeError{CRYPT_E_ASN1_ERROR};
    return pInteger;
}

std::vector<uint8_t> EncodeSignerInfo(const CMSG_SIGNER_INFO& info)
{
    if (info.AuthAttrs.cAttr != 0 || info.UnauthAttrs.cAttr != 0)
        throw EncodeError{ERROR_INVALID_PARAMETER_CODE}; // no signer needs them
    SignerInfoPtr pSigner(PKCS7_SIGNER_INFO_new());
    if (!pSigner)
        throw std::bad_alloc();
    if (!ASN1_INTEGER_set(pSigner->version, static_cast<long>(info.dwVersion)))
        throw std::bad_alloc();

    const unsigned char* p = info.Issuer.pbData;
    NamePtr pIssuer(d2i_X509_NAME(nullptr, &p, static_cast<long>(info.Issuer.cbData)));
    if (!pIssuer)
        throw EncodeError{CRYPT_E_ASN1_ERROR};
    if (!X509_NAME_set(&pSigner->issuer_and_serial->issuer, pIssuer.get()))
        throw std::bad_alloc();
    ASN1_INTEGER_free(pSigner->issuer_and_serial->serial);
    pSigner->issuer_and_serial->serial = ToInteger(info.SerialNumber).release();

    SetAlgorithm(pSigner->digest_alg, info.HashAlgorithm);
    SetAlgorithm(pSigner->digest_enc_alg, info.HashEncryptionAlgorithm);
    if (!ASN1_OCTET_STRING_set(pSigner->enc_digest, info.EncryptedHash.pbData,
                               static_cast<int>(info.EncryptedHash.cbData)))
        throw std::bad_alloc();
    return Serialize(pSigner.get(), i2d_PKCS7_SIGNER_INFO);
}

std::vector<uint8_t> Encode(uintptr_t lpszStructType, const void* pvStructInfo)
{
    switch (lpszStructType) {
    case StructType::PKCS_ATTRIBUTE:
        return EncodeAttribute(*static_cast<const CRYPT_ATTRIBUTE*>(pvStructInfo));
    case StructType::X509_ALGORITHM_IDENTIFIER:
        return EncodeAlgorithm(*static_cast<const CRYPT_ALGORITHM_IDENTIFIER*>(pvStructInfo));
    case StructType::X509_OCTET_STRING:
        return EncodeOctetString(*static_cast<const CRYPT_DATA_BLOB*>(pvStructInfo));
    case StructType::PKCS_CONTENT_INFO:
        return EncodeContentInfo(*static_cast<const CRYPT_CONTENT_INFO*>(pvStructInfo));
    case StructType::PKCS7_SIGNER_INFO:
        return EncodeSignerInfo(*static_cast<const CMSG_SIGNER_INFO*>(pvStructInfo));
    default:
        throw EncodeError{ERROR_FILE_NOT_FOUND_CODE}; // no encoder for this type
    }
}

} // namespace

bool CryptEncodeObject(uint32_t dwCertEncodingType, uintptr_t lpszStructType, const void* pvStructInfo,
                       uint8_t* pbEncoded, uint32_t* pcbEncoded)
{
    if (pvStructInfo == nullptr || pcbEncoded == nullptr ||
        (dwCertEncodingType & (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    try {
        const std::vector<uint8_t> vtrEncoded = Encode(lpszStructType, pvStructInfo);
        const auto cbEncoded = static_cast<uint32_t>(vtrEncoded.size());
        if (pbEncoded == nullptr) {
            *pcbEncoded = cbEncoded;
            return true;
        }
        if (*pcbEncoded < cbEncoded) {
            *pcbEncoded = cbEncoded;
            SetLastError(ERROR_MORE_DATA);
            return false;
        }
        std::memcpy(pbEncoded, vtrEncoded.data(), cbEncoded);
        *pcbEncoded = cbEncoded;
        return true;
    } catch (const EncodeError& error) {
        SetLastError(error.dwCode);
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
    }
    return false;
}

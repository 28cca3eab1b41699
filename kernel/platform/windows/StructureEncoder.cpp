// CryptEncodeObject over the seam's records: each record is copied into
// CryptoAPI's own shape (which differs only in constness) and encoded by the
// platform.
#include "WindowsApi.h"

#include <new>
#include <vector>

namespace {

Win32DataBlob AsWin32Blob(const CRYPT_DATA_BLOB& blob) { return {blob.cbData, const_cast<BYTE*>(blob.pbData)}; }

Win32AlgorithmIdentifier AsWin32Algorithm(const CRYPT_ALGORITHM_IDENTIFIER& algorithm)
{
    return {const_cast<LPSTR>(algorithm.pszObjId), AsWin32Blob(algorithm.Parameters)};
}

// One attribute list in CryptoAPI's shape, with the storage it points into.
class AttributeList {
public:
    explicit AttributeList(const CRYPT_ATTRIBUTES& attributes)
    {
        m_vtrValues.resize(attributes.cAttr);
        m_vtrAttributes.resize(attributes.cAttr);
        for (uint32_t i = 0; i < attributes.cAttr; ++i) {
            const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
            for (uint32_t j = 0; j < attribute.cValue; ++j)
                m_vtrValues[i].push_back(AsWin32Blob(attribute.rgValue[j]));
            m_vtrAttributes[i] = {const_cast<LPSTR>(attribute.pszObjId), attribute.cValue, m_vtrValues[i].data()};
        }
    }
    Win32Attributes Get() { return {static_cast<DWORD>(m_vtrAttributes.size()), m_vtrAttributes.data()}; }

private:
    std::vector<std::vector<Win32DataBlob>> m_vtrValues;
    std::vector<Win32Attribute> m_vtrAttributes;
};

bool Encode(uint32_t dwCertEncodingType, uintptr_t lpszStructType, const void* pvStructInfo, uint8_t* pbEncoded,
            uint32_t* pcbEncoded)
{
    DWORD cbEncoded = *pcbEncoded;
    if (!::CryptEncodeObject(dwCertEncodingType, reinterpret_cast<LPCSTR>(lpszStructType), pvStructInfo, pbEncoded,
                             &cbEncoded)) {
        *pcbEncoded = cbEncoded;
        return false;
    }
    *pcbEncoded = cbEncoded;
    return true;
}

} // namespace

bool CryptEncodeObject(uint32_t dwCertEncodingType, uintptr_t lpszStructType, const void* pvStructInfo,
                       uint8_t* pbEncoded, uint32_t* pcbEncoded)
{
    if (pvStructInfo == nullptr || pcbEncoded == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    try {
        switch (lpszStructType) {
        case StructType::PKCS_ATTRIBUTE: {
            const auto& attribute = *static_cast<const CRYPT_ATTRIBUTE*>(pvStructInfo);
            const CRYPT_ATTRIBUTES list{1, &attribute};
            AttributeList win32(list);
            Win32Attributes attributes = win32.Get();
            return Encode(dwCertEncodingType, lpszStructType, attributes.rgAttr, pbEncoded, pcbEncoded);
        }
        case StructType::X509_OCTET_STRING: {
            const Win32DataBlob blob = AsWin32Blob(*static_cast<const CRYPT_DATA_BLOB*>(pvStructInfo));
            return Encode(dwCertEncodingType, lpszStructType, &blob, pbEncoded, pcbEncoded);
        }
        case StructType::PKCS_CONTENT_INFO: {
            const auto& content = *static_cast<const CRYPT_CONTENT_INFO*>(pvStructInfo);
            const Win32ContentInfo info{const_cast<LPSTR>(content.pszObjId), AsWin32Blob(content.Content)};
            return Encode(dwCertEncodingType, lpszStructType, &info, pbEncoded, pcbEncoded);
        }
        case StructType::X509_ALGORITHM_IDENTIFIER: {
            const Win32AlgorithmIdentifier algorithm =
                AsWin32Algorithm(*static_cast<const CRYPT_ALGORITHM_IDENTIFIER*>(pvStructInfo));
            return Encode(dwCertEncodingType, lpszStructType, &algorithm, pbEncoded, pcbEncoded);
        }
        case StructType::PKCS7_SIGNER_INFO: {
            const auto& signer = *static_cast<const CMSG_SIGNER_INFO*>(pvStructInfo);
            AttributeList authAttrs(signer.AuthAttrs);
            AttributeList unauthAttrs(signer.UnauthAttrs);
            const Win32SignerInfo info{signer.dwVersion,
                                       AsWin32Blob(signer.Issuer),
                                       AsWin32Blob(signer.SerialNumber),
                                       AsWin32Algorithm(signer.HashAlgorithm),
                                       AsWin32Algorithm(signer.HashEncryptionAlgorithm),
                                       AsWin32Blob(signer.EncryptedHash),
                                       authAttrs.Get(),
                                       unauthAttrs.Get()};
            return Encode(dwCertEncodingType, lpszStructType, &info, pbEncoded, pcbEncoded);
        }
        default:
            SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
            return false;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return false;
    }
}

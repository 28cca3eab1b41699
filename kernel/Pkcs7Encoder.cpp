#include "Pkcs7Encoder.h"

#include <new>

#include "DerEncoder.h"
#include "Encodings.h"
#include "HashAndSign.h"
#include "trace/TraceHelper.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/ReadableFile.h"
#include "kernel/platform/StructureEncoder.h"

namespace {

constexpr char kDataOid[] = "1.2.840.113549.1.7.1";
constexpr char kSignedDataOid[] = "1.2.840.113549.1.7.2";
constexpr uint8_t kSignedDataVersion[] = {0x02, 0x01, 0x01};

CRYPT_DATA_BLOB Blob(const std::vector<uint8_t>& vtr)
{
    return CRYPT_DATA_BLOB{static_cast<uint32_t>(vtr.size()), vtr.data()};
}

HRESULT Fail(const char16_t* pwszStep, HRESULT hr)
{
    TraceWideStatus(pwszStep, hr);
    return hr;
}

// The kind of the signer's key, which chooses the signature algorithm's
// identifier; without a certificate the RSA ones, as the failure to come
// does not depend on them.
KeyAlgorithm SignerKeyAlgorithm(const CertContextRef& pCert)
{
    return pCert ? GetPublicKeyInfo(*pCert).algorithm : KeyAlgorithm::Rsa;
}

// The file's bytes, for content taken from a file. Files of 4 GiB or more
// are refused rather than cut.
HRESULT ReadContentFile(const char16_t* pwszFilePath, std::vector<uint8_t>& vtrContent)
{
    if (pwszFilePath == nullptr)
        return Fail(u"CreateFile", E_POINTER);
    const std::unique_ptr<ReadableFile> pFile = ReadableFile::Open(pwszFilePath);
    if (!pFile)
        return Fail(u"CreateFile", KernelStatusFromError(GetLastError()));
    uint64_t cbSize = 0;
    if (!pFile->GetSize(cbSize) || cbSize > 0xFFFFFFFFull)
        return Fail(u"GetFileSizeEx", E_FAIL);
    try {
        vtrContent.assign(static_cast<size_t>(cbSize), 0);
    } catch (const std::bad_alloc&) {
        return Fail(u"New Memory", E_OUTOFMEMORY);
    }
    size_t cbRead = 0;
    if (!pFile->Read(vtrContent.data(), vtrContent.size(), cbRead))
        return Fail(u"ReadFile", E_FAIL);
    vtrContent.resize(cbRead);
    return KVRA_OK;
}

// AlgorithmIdentifier { digest OID, NULL }: the attribute encoding
// SEQUENCE { OID, SET {} } with its last two bytes made into a NULL.
HRESULT EncodeDigestAlgorithm(const std::string& strDigestOid, std::vector<uint8_t>& vtrAlgorithm)
{
    const CRYPT_ATTRIBUTE attribute{strDigestOid.c_str(), 0, nullptr};
    HRESULT hr = EncodeObject(StructType::PKCS_ATTRIBUTE, &attribute, vtrAlgorithm);
    if (FAILED(hr)) {
        TraceWideStatus(u"EncodeObject-PKCS_ATTRIBUTE", hr);
        const CRYPT_ALGORITHM_IDENTIFIER algorithm{strDigestOid.c_str(), {0, nullptr}};
        hr = EncodeObject(StructType::X509_ALGORITHM_IDENTIFIER, &algorithm, vtrAlgorithm);
        if (FAILED(hr))
            return Fail(u"EncodeObject-X509_ALGORITHM_IDENTIFIER", hr);
    }
    if (vtrAlgorithm.size() < 2)
        return Fail(u"EncodeObject-PKCS_ATTRIBUTE", E_FAIL);
    vtrAlgorithm[vtrAlgorithm.size() - 2] = 0x05;
    vtrAlgorithm[vtrAlgorithm.size() - 1] = 0x00;
    return KVRA_OK;
}

// The DER of the ContentInfo of a SignedData with one signer, no signed
// attributes and the signing certificate alone; the content is embedded only
// with bIncludeContent.
HRESULT BuildContentInfo(const uint8_t* pbContent, uint32_t cbContent, bool bIncludeContent,
                         const CertContextRef& pCert, const std::string& strDigestOid,
                         const std::string& strSignatureOid, const uint8_t* pbSignature, uint32_t cbSignature,
                         std::vector<uint8_t>& vtrContentInfo)
{
    // digestAlgorithms: SET { AlgorithmIdentifier }
    std::vector<uint8_t> vtrAlgorithm, vtrDigestAlgorithms;
    HRESULT hr = EncodeDigestAlgorithm(strDigestOid, vtrAlgorithm);
    if (FAILED(hr))
        return hr;
    hr = ASN1Encode(0x31, vtrAlgorithm.data(), static_cast<uint32_t>(vtrAlgorithm.size()), vtrDigestAlgorithms);
    if (FAILED(hr))
        return Fail(u"ASN1Encode-digestAlgorithms", hr);

    // contentInfo: SEQUENCE { data, [0] { OCTET STRING } } when attached.
    std::vector<uint8_t> vtrOctets, vtrInnerContentInfo;
    if (bIncludeContent) {
        const CRYPT_DATA_BLOB content{cbContent, pbContent};
        hr = EncodeObject(StructType::X509_OCTET_STRING, &content, vtrOctets);
        if (FAILED(hr))
            return Fail(u"EncodeObject-X509_OCTET_STRING", hr);
    }
    const CRYPT_CONTENT_INFO innerInfo{kDataOid, Blob(vtrOctets)};
    hr = EncodeObject(StructType::PKCS_CONTENT_INFO, &innerInfo, vtrInnerContentInfo);
    if (FAILED(hr))
        return Fail(u"EncodeObject-PKCS_CONTENT_INFO", hr);

    // certificates: [0] { the signing certificate }
    std::vector<uint8_t> vtrCertificates;
    const CRYPT_DATA_BLOB certificate = GetEncodedCertificate(*pCert);
    hr = ASN1Encode(0xA0, certificate.pbData, certificate.cbData, vtrCertificates);
    if (FAILED(hr))
        return Fail(u"ASN1Encode-certificates", hr);

    // signerInfos: SET { SignerInfo }
    const CERT_NAME_BLOB issuer = GetIssuerNameBlob(*pCert);
    if (issuer.pbData == nullptr)
        return Fail(u"X509_NAME_get0_der", E_FAIL);
    const std::vector<uint8_t> vtrSerial = GetSerialNumberBytes(*pCert);
    CMSG_SIGNER_INFO signer{};
    signer.dwVersion = 1;
    signer.Issuer = issuer;
    signer.SerialNumber = Blob(vtrSerial);
    signer.HashAlgorithm.pszObjId = strDigestOid.c_str();
    signer.HashEncryptionAlgorithm.pszObjId = strSignatureOid.c_str();
    signer.EncryptedHash = CRYPT_DATA_BLOB{cbSignature, pbSignature};
    std::vector<uint8_t> vtrSignerInfo, vtrSignerInfos;
    hr = EncodeObject(StructType::PKCS7_SIGNER_INFO, &signer, vtrSignerInfo);
    if (FAILED(hr))
        return Fail(u"EncodeObject-PKCS7_SIGNER_INFO", hr);
    hr = ASN1Encode(0x31, vtrSignerInfo.data(), static_cast<uint32_t>(vtrSignerInfo.size()), vtrSignerInfos);
    if (FAILED(hr))
        return Fail(u"ASN1Encode-signerInfos", hr);

    // SignedData: SEQUENCE { version, digestAlgorithms, contentInfo,
    // certificates, signerInfos }
    std::vector<uint8_t> vtrBody(std::begin(kSignedDataVersion), std::end(kSignedDataVersion));
    for (const auto* pPart : {&vtrDigestAlgorithms, &vtrInnerContentInfo, &vtrCertificates, &vtrSignerInfos})
        vtrBody.insert(vtrBody.end(), pPart->begin(), pPart->end());
    std::vector<uint8_t> vtrSignedData;
    hr = ASN1Encode(0x30, vtrBody.data(), static_cast<uint32_t>(vtrBody.size()), vtrSignedData);
    if (FAILED(hr))
        return Fail(u"ASN1Encode-SignedData", hr);

    // ContentInfo: SEQUENCE { signedData, [0] SignedData }
    const CRYPT_CONTENT_INFO outerInfo{kSignedDataOid, Blob(vtrSignedData)};
    hr = EncodeObject(StructType::PKCS_CONTENT_INFO, &outerInfo, vtrContentInfo);
    if (FAILED(hr))
        return Fail(u"EncodeObject-PKCS_CONTENT_INFO", hr);
    return KVRA_OK;
}

// Reads the header of the DER element at nOffset: its own length and the
// length of its value. False when it runs past the end.
bool ReadElementHeader(const std::vector<uint8_t>& vtrDer, size_t nOffset, size_t& cbHeader, uint64_t& cbValue)
{
    if (nOffset + 2 > vtrDer.size())
        return false;
    const uint8_t bLength = vtrDer[nOffset + 1];
    if (bLength < 0x80) {
        cbHeader = 2;
        cbValue = bLength;
        return true;
    }
    const size_t cbLength = bLength & 0x7F;
    if (cbLength == 0 || cbLength > 8 || nOffset + 2 + cbLength > vtrDer.size())
        return false;
    cbValue = 0;
    for (size_t i = 0; i < cbLength; ++i)
        cbValue = cbValue << 8 | vtrDer[nOffset + 2 + i];
    cbHeader = 2 + cbLength;
    return true;
}

// The length the ContentInfo would have with cbContent bytes of content
// embedded, from the same structure built without it: only the inner
// contentInfo grows, and with it the length fields of the elements around
// it (SignedData, its [0] wrapper and the outer ContentInfo).
HRESULT AttachedLength(const std::vector<uint8_t>& vtrDetached, uint64_t cbContent, uint64_t& cbAttached)
{
    std::vector<uint8_t> vtrInner;
    const CRYPT_CONTENT_INFO innerInfo{kDataOid, {0, nullptr}};
    HRESULT hr = EncodeObject(StructType::PKCS_CONTENT_INFO, &innerInfo, vtrInner);
    if (FAILED(hr))
        return hr;
    const uint64_t cbDataOid = vtrInner.size() - 2; // SEQUENCE { OID }, short form

    // ContentInfo { OID signedData, [0] { SignedData { body } } }
    size_t cbHeader = 0, cbOidHeader = 0, cbWrapperHeader = 0, cbSignedDataHeader = 0;
    uint64_t cbOuter = 0, cbOid = 0, cbWrapper = 0, cbBody = 0;
    const bool bRead = ReadElementHeader(vtrDetached, 0, cbHeader, cbOuter) &&
                       ReadElementHeader(vtrDetached, cbHeader, cbOidHeader, cbOid) &&
                       ReadElementHeader(vtrDetached, cbHeader + cbOidHeader + cbOid, cbWrapperHeader, cbWrapper) &&
                       ReadElementHeader(vtrDetached, cbHeader + cbOidHeader + cbOid + cbWrapperHeader,
                                         cbSignedDataHeader, cbBody);
    if (!bRead || cbBody < vtrInner.size())
        return E_FAIL;
    const uint64_t cbInner = DerElementLength(cbDataOid + DerElementLength(DerElementLength(cbContent)));
    const uint64_t cbAttachedBody = cbBody - vtrInner.size() + cbInner;
    cbAttached = DerElementLength(cbOidHeader + cbOid + DerElementLength(DerElementLength(cbAttachedBody)));
    return KVRA_OK;
}

} // namespace

HRESULT EncapsulatePKCS7(const uint8_t* pbContent, uint32_t cbContent, const char16_t* pwszFilePath, bool bFromFile,
                         bool bIncludeContent, const CertContextRef& pCert, std::string strDigestOid,
                         std::string strSignatureOid, const uint8_t* pbSignature, uint32_t cbSignature,
                         uint32_t dwBase64Flags, std::u16string& bstrResult, uint32_t* pdwBase64Length)
{
    TRACE_SCOPE();
    if (!pCert || pbSignature == nullptr || (pbContent == nullptr && cbContent != 0))
        return Fail(u"Check Parameters", E_POINTER);
    try {
        std::vector<uint8_t> vtrFileContent;
        if (bIncludeContent && bFromFile) {
            const HRESULT hr = ReadContentFile(pwszFilePath, vtrFileContent);
            if (FAILED(hr))
                return hr;
            pbContent = vtrFileContent.data();
            cbContent = static_cast<uint32_t>(vtrFileContent.size());
        }
        std::vector<uint8_t> vtrContentInfo;
        HRESULT hr = BuildContentInfo(pbContent, cbContent, bIncludeContent, pCert, strDigestOid, strSignatureOid,
                                      pbSignature, cbSignature, vtrContentInfo);
        if (FAILED(hr))
            return hr;

        std::string strBase64;
        hr = Base64EncodeEx(vtrContentInfo.data(), static_cast<int32_t>(vtrContentInfo.size()), strBase64,
                            dwBase64Flags);
        if (FAILED(hr))
            return Fail(u"Base64EncodeEx", hr);
        // The text is ASCII: each character becomes the same UTF-16 unit.
        bstrResult.assign(strBase64.begin(), strBase64.end());
        if (pdwBase64Length != nullptr)
            *pdwBase64Length = static_cast<uint32_t>(strBase64.size());
        return KVRA_OK;
    } catch (const std::bad_alloc&) {
        return Fail(u"New Memory", E_OUTOFMEMORY);
    }
}

HRESULT MeasureSignData(uint64_t cbContent, const CertContextRef& pCert, uint32_t dwAlgId, bool bIncludeContent,
                        Base64Size& size)
{
    TRACE_SCOPE();
    std::string strDigestOid, strSignatureOid;
    if (!GetAlgorithmIdentifiers(dwAlgId, SignerKeyAlgorithm(pCert), strDigestOid, strSignatureOid))
        return Fail(u"GetAlgorithmIdentifiers", NTE_BAD_ALGID);
    if (!pCert)
        return Fail(u"Check Parameters", E_POINTER);
    const uint32_t cbSignature = GetMaxSignatureLength(*pCert);
    if (cbSignature == 0)
        return Fail(u"GetSignatureLength", E_FAIL);
    try {
        // A placeholder of the signature's length: the structure's size does
        // not depend on the signature's bytes. An ECDSA signature may come
        // out a byte or two shorter than its longest form, never longer.
        const std::vector<uint8_t> vtrPlaceholder(cbSignature, 0);
        std::vector<uint8_t> vtrDetached;
        HRESULT hr = BuildContentInfo(nullptr, 0, false, pCert, strDigestOid, strSignatureOid, vtrPlaceholder.data(),
                                      cbSignature, vtrDetached);
        if (FAILED(hr))
            return hr;
        uint64_t cbDer = vtrDetached.size();
        if (bIncludeContent) {
            hr = AttachedLength(vtrDetached, cbContent, cbDer);
            if (FAILED(hr))
                return Fail(u"AttachedLength", hr);
        }
        // Base64EncodeEx refuses sources this large, so SignData would fail
        // rather than answer.
        if (cbDer > kMaxBase64Source)
            return Fail(u"Base64EncodeEx", E_FAIL);
        size = Base64EncodedSize(cbDer, 0);
        return KVRA_OK;
    } catch (const std::bad_alloc&) {
        return Fail(u"New Memory", E_OUTOFMEMORY);
    }
}

HRESULT SignData(std::u16string& bstrResult, const char16_t* pwszMessage, const CertContextRef& pCert,
                 uint32_t dwAlgId, bool bIncludeContent)
{
    TRACE_SCOPE();
    std::string strDigestOid, strSignatureOid;
    if (!GetAlgorithmIdentifiers(dwAlgId, SignerKeyAlgorithm(pCert), strDigestOid, strSignatureOid))
        return Fail(u"GetAlgorithmIdentifiers", NTE_BAD_ALGID);

    std::string strContent;
    HRESULT hr = UTF16ToUTF8(pwszMessage, strContent);
    if (FAILED(hr))
        return Fail(u"UTF16ToUTF8", hr);

    std::vector<uint8_t> vtrSignature;
    const auto* pbContent = reinterpret_cast<const uint8_t*>(strContent.data());
    const auto cbContent = static_cast<uint32_t>(strContent.size());
    hr = CalculateHashandSign(pCert, pbContent, cbContent, dwAlgId, vtrSignature);
    if (FAILED(hr))
        return Fail(u"CalculateHashandSign", hr);

    hr = EncapsulatePKCS7(pbContent, cbContent, nullptr, false, bIncludeContent, pCert, strDigestOid,
                          strSignatureOid, vtrSignature.data(), static_cast<uint32_t>(vtrSignature.size()), 0,
                          bstrResult, nullptr);
    if (FAILED(hr))
        return Fail(u"EncapsulatePKCS7", hr);
    TraceWideStatus(u"EncapsulatePKCS7", KVRA_OK);
    return KVRA_OK;
}

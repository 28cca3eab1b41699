#include "WindowsApi.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct LocalRelease {
    void operator()(void* p) const { LocalFree(p); }
};

// The extension's value decoded as lpszStructType, or null.
template <class T>
std::unique_ptr<T, LocalRelease> DecodeExtension(const CERT_CONTEXT& cert, const char* pszOid,
                                                 LPCSTR lpszStructType)
{
    const CERT_INFO* pInfo = Win32Cert(cert)->pCertInfo;
    PCERT_EXTENSION pExtension = CertFindExtension(pszOid, pInfo->cExtension, pInfo->rgExtension);
    if (pExtension == nullptr)
        return nullptr;
    void* pvDecoded = nullptr;
    DWORD cbDecoded = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, lpszStructType, pExtension->Value.pbData,
                             pExtension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvDecoded, &cbDecoded))
        return nullptr;
    return std::unique_ptr<T, LocalRelease>(static_cast<T*>(pvDecoded));
}

CRYPT_DATA_BLOB AsSeamBlob(const Win32DataBlob& blob) { return {blob.cbData, blob.pbData}; }

Win32FileTime AsWin32FileTime(FILETIME ft)
{
    return {static_cast<DWORD>(ft & 0xFFFFFFFF), static_cast<DWORD>(ft >> 32)};
}

FILETIME AsSeamFileTime(const Win32FileTime& ft)
{
    return static_cast<FILETIME>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

SYSTEMTIME AsSeamSystemTime(const Win32SystemTime& st)
{
    return {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

} // namespace

std::vector<uint8_t> GetSerialNumberBytes(const CERT_CONTEXT& cert)
{
    const CRYPT_INTEGER_BLOB serial = AsSeamBlob(Win32Cert(cert)->pCertInfo->SerialNumber);
    return std::vector<uint8_t>(serial.pbData, serial.pbData + serial.cbData);
}

CRYPT_DATA_BLOB GetEncodedCertificate(const CERT_CONTEXT& cert)
{
    return {Win32Cert(cert)->cbCertEncoded, Win32Cert(cert)->pbCertEncoded};
}

CERT_NAME_BLOB GetSubjectNameBlob(const CERT_CONTEXT& cert) { return AsSeamBlob(Win32Cert(cert)->pCertInfo->Subject); }

CERT_NAME_BLOB GetIssuerNameBlob(const CERT_CONTEXT& cert) { return AsSeamBlob(Win32Cert(cert)->pCertInfo->Issuer); }

bool GetKeyUsageByte(const CERT_CONTEXT& cert, uint8_t& bUsage)
{
    const auto pUsage = DecodeExtension<CRYPT_BIT_BLOB>(cert, szOID_KEY_USAGE, X509_KEY_USAGE);
    if (!pUsage)
        return false;
    bUsage = pUsage->cbData > 0 ? pUsage->pbData[0] : 0;
    return true;
}

bool GetSubjectKeyIdentifier(const CERT_CONTEXT& cert, std::vector<uint8_t>* pvtrKeyId)
{
    const auto pKeyId = DecodeExtension<Win32DataBlob>(cert, szOID_SUBJECT_KEY_IDENTIFIER, reinterpret_cast<LPCSTR>(StructType::X509_OCTET_STRING));
    if (!pKeyId)
        return false;
    if (pvtrKeyId != nullptr)
        pvtrKeyId->assign(pKeyId->pbData, pKeyId->pbData + pKeyId->cbData);
    return true;
}

uint32_t GetSignatureLength(const CERT_CONTEXT& cert)
{
    const DWORD dwBits =
        CertGetPublicKeyLength(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &Win32Cert(cert)->pCertInfo->SubjectPublicKeyInfo);
    return (dwBits + 7) / 8;
}

PublicKeyInfo GetPublicKeyInfo(const CERT_CONTEXT& cert)
{
    PublicKeyInfo info;
    CERT_PUBLIC_KEY_INFO& key = Win32Cert(cert)->pCertInfo->SubjectPublicKeyInfo;
    const char* pszAlgorithm = key.Algorithm.pszObjId != nullptr ? key.Algorithm.pszObjId : "";
    info.dwBits = CertGetPublicKeyLength(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &key);
    if (std::strcmp(pszAlgorithm, szOID_RSA_RSA) == 0) {
        info.algorithm = KeyAlgorithm::Rsa;
    } else if (std::strcmp(pszAlgorithm, szOID_ECC_PUBLIC_KEY) == 0) {
        info.algorithm = KeyAlgorithm::Ec;
        // The parameters are the named curve's OBJECT IDENTIFIER.
        void* pvDecoded = nullptr;
        DWORD cbDecoded = 0;
        if (key.Algorithm.Parameters.cbData != 0 &&
            CryptDecodeObjectEx(X509_ASN_ENCODING, X509_OBJECT_IDENTIFIER, key.Algorithm.Parameters.pbData,
                                key.Algorithm.Parameters.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvDecoded,
                                &cbDecoded)) {
            const std::unique_ptr<void, LocalRelease> pDecoded(pvDecoded);
            if (const char* pszCurve = *static_cast<const LPSTR*>(pvDecoded))
                info.strCurveOid = pszCurve;
        }
        // A platform that cannot measure an EC key still knows the sizes of
        // the named curves.
        if (info.dwBits == 0) {
            if (info.strCurveOid == "1.2.840.10045.3.1.7")
                info.dwBits = 256;
            else if (info.strCurveOid == "1.3.132.0.34")
                info.dwBits = 384;
            else if (info.strCurveOid == "1.3.132.0.35")
                info.dwBits = 521;
        }
    }
    return info;
}

std::string GetSignatureAlgorithmOid(const CERT_CONTEXT& cert)
{
    const char* pszOid = Win32Cert(cert)->pCertInfo->SignatureAlgorithm.pszObjId;
    return pszOid != nullptr ? pszOid : "";
}

SYSTEMTIME GetNotBefore(const CERT_CONTEXT& cert)
{
    return FileTimeToSystemTime(AsSeamFileTime(Win32Cert(cert)->pCertInfo->NotBefore));
}

SYSTEMTIME GetNotAfter(const CERT_CONTEXT& cert)
{
    return FileTimeToSystemTime(AsSeamFileTime(Win32Cert(cert)->pCertInfo->NotAfter));
}

int32_t CertVerifyTimeValidity(const FILETIME* pTimeToVerify, const CERT_CONTEXT& cert)
{
    Win32FileTime ftTime{};
    if (pTimeToVerify != nullptr)
        ftTime = AsWin32FileTime(*pTimeToVerify);
    return ::CertVerifyTimeValidity(pTimeToVerify != nullptr ? &ftTime : nullptr, Win32Cert(cert)->pCertInfo);
}

FILETIME SystemTimeToFileTime(const SYSTEMTIME& st)
{
    const Win32SystemTime stWin{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                st.wMilliseconds};
    Win32FileTime ft{};
    if (!::SystemTimeToFileTime(&stWin, &ft))
        return 0;
    return AsSeamFileTime(ft);
}

SYSTEMTIME FileTimeToSystemTime(FILETIME ft)
{
    const Win32FileTime ftWin = AsWin32FileTime(ft);
    Win32SystemTime st{};
    ::FileTimeToSystemTime(&ftWin, &st);
    return AsSeamSystemTime(st);
}

FILETIME GetSystemTimeAsFileTime()
{
    Win32FileTime ft{};
    ::GetSystemTimeAsFileTime(&ft);
    return AsSeamFileTime(ft);
}

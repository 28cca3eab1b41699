#include "kernel/platform/CertFields.h"
#include "CertContextData.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>

namespace {

// Seconds from 1 January 1601 to 1 January 1970.
constexpr int64_t kEpochDifference = 11644473600;
constexpr int64_t kTicksPerSecond = 10000000;

SYSTEMTIME FromTime(const ASN1_TIME* pTime)
{
    struct tm tmValue {};
    ASN1_TIME_to_tm(pTime, &tmValue);
    return SYSTEMTIME{static_cast<uint16_t>(tmValue.tm_year + 1900), static_cast<uint16_t>(tmValue.tm_mon + 1),
                      static_cast<uint16_t>(tmValue.tm_wday),        static_cast<uint16_t>(tmValue.tm_mday),
                      static_cast<uint16_t>(tmValue.tm_hour),        static_cast<uint16_t>(tmValue.tm_min),
                      static_cast<uint16_t>(tmValue.tm_sec),         0};
}

} // namespace

std::vector<uint8_t> GetSerialNumberBytes(const CERT_CONTEXT& cert)
{
    // The DER of the INTEGER, minus its tag and length: the content bytes.
    unsigned char* pDer = nullptr;
    const int nDer = i2d_ASN1_INTEGER(X509_get0_serialNumber(cert.pX509.get()), &pDer);
    std::vector<uint8_t> vtrSerial;
    if (nDer > 0) {
        const unsigned char* p = pDer;
        long nContent = 0;
        int nTag = 0, nClass = 0;
        if (!(ASN1_get_object(&p, &nContent, &nTag, &nClass, nDer) & 0x80))
            vtrSerial.assign(p, p + nContent);
        OPENSSL_free(pDer);
    }
    std::reverse(vtrSerial.begin(), vtrSerial.end());
    return vtrSerial;
}

bool GetKeyUsageByte(const CERT_CONTEXT& cert, uint8_t& bUsage)
{
    X509* pX509 = cert.pX509.get();
    if (!(X509_get_extension_flags(pX509) & EXFLAG_KUSAGE))
        return false;
    bUsage = static_cast<uint8_t>(X509_get_key_usage(pX509) & 0xFF);
    return true;
}

bool GetSubjectKeyIdentifier(const CERT_CONTEXT& cert, std::vector<uint8_t>* pvtrKeyId)
{
    const ASN1_OCTET_STRING* pKeyId = X509_get0_subject_key_id(cert.pX509.get());
    if (pKeyId == nullptr)
        return false;
    if (pvtrKeyId != nullptr) {
        const unsigned char* p = ASN1_STRING_get0_data(pKeyId);
        pvtrKeyId->assign(p, p + ASN1_STRING_length(pKeyId));
    }
    return true;
}

uint32_t GetSignatureLength(const CERT_CONTEXT& cert)
{
    const EVP_PKEY* pKey = CertPublicKey(cert);
    const int n = pKey != nullptr ? EVP_PKEY_get_size(pKey) : 0;
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

PublicKeyInfo GetPublicKeyInfo(const CERT_CONTEXT& cert)
{
    PublicKeyInfo info;
    const EVP_PKEY* pKey = CertPublicKey(cert);
    if (pKey == nullptr)
        return info;
    const int nBits = EVP_PKEY_get_bits(pKey);
    info.dwBits = nBits > 0 ? static_cast<uint32_t>(nBits) : 0;
    switch (EVP_PKEY_get_base_id(pKey)) {
    case EVP_PKEY_RSA:
        info.algorithm = KeyAlgorithm::Rsa;
        break;
    case EVP_PKEY_EC: {
        info.algorithm = KeyAlgorithm::Ec;
        char szGroup[80] = {};
        size_t cchGroup = 0;
        if (EVP_PKEY_get_group_name(pKey, szGroup, sizeof szGroup, &cchGroup) == 1) {
            const int nNid = OBJ_sn2nid(szGroup);
            char szOid[128] = {};
            if (nNid != NID_undef && OBJ_obj2txt(szOid, sizeof szOid, OBJ_nid2obj(nNid), 1) > 0)
                info.strCurveOid = szOid;
        }
        break;
    }
    default:
        break;
    }
    return info;
}

std::string GetSignatureAlgorithmOid(const CERT_CONTEXT& cert)
{
    const X509_ALGOR* pAlgorithm = nullptr;
    X509_get0_signature(nullptr, &pAlgorithm, cert.pX509.get());
    const ASN1_OBJECT* pObject = nullptr;
    X509_ALGOR_get0(&pObject, nullptr, nullptr, pAlgorithm);
    char szOid[128] = {};
    OBJ_obj2txt(szOid, sizeof szOid, pObject, 1);
    return szOid;
}

SYSTEMTIME GetNotBefore(const CERT_CONTEXT& cert) { return FromTime(X509_get0_notBefore(cert.pX509.get())); }

SYSTEMTIME GetNotAfter(const CERT_CONTEXT& cert) { return FromTime(X509_get0_notAfter(cert.pX509.get())); }

int32_t CertVerifyTimeValidity(const FILETIME* pTimeToVerify, const CERT_CONTEXT& cert)
{
    const FILETIME ftTime = pTimeToVerify != nullptr ? *pTimeToVerify : GetSystemTimeAsFileTime();
    if (ftTime < SystemTimeToFileTime(GetNotBefore(cert)))
        return -1;
    if (ftTime > SystemTimeToFileTime(GetNotAfter(cert)))
        return 1;
    return 0;
}

FILETIME SystemTimeToFileTime(const SYSTEMTIME& st)
{
    struct tm tmValue {};
    tmValue.tm_year = st.wYear - 1900;
    tmValue.tm_mon = st.wMonth - 1;
    tmValue.tm_mday = st.wDay;
    tmValue.tm_hour = st.wHour;
    tmValue.tm_min = st.wMinute;
    tmValue.tm_sec = st.wSecond;
    const int64_t nSeconds = static_cast<int64_t>(timegm(&tmValue)) + kEpochDifference;
    return static_cast<FILETIME>(nSeconds * kTicksPerSecond + st.wMilliseconds * 10000LL);
}

SYSTEMTIME FileTimeToSystemTime(FILETIME ft)
{
    const auto nSeconds = static_cast<time_t>(static_cast<int64_t>(ft / kTicksPerSecond) - kEpochDifference);
    struct tm tmValue {};
    gmtime_r(&nSeconds, &tmValue);
    return SYSTEMTIME{static_cast<uint16_t>(tmValue.tm_year + 1900), static_cast<uint16_t>(tmValue.tm_mon + 1),
                      static_cast<uint16_t>(tmValue.tm_wday),        static_cast<uint16_t>(tmValue.tm_mday),
                      static_cast<uint16_t>(tmValue.tm_hour),        static_cast<uint16_t>(tmValue.tm_min),
                      static_cast<uint16_t>(tmValue.tm_sec),         static_cast<uint16_t>(ft / 10000 % 1000)};
}

FILETIME GetSystemTimeAsFileTime()
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<FILETIME>((static_cast<int64_t>(ts.tv_sec) + kEpochDifference) * kTicksPerSecond +
                                 ts.tv_nsec / 100);
}

namespace {

CERT_NAME_BLOB NameBlob(const X509_NAME* pName)
{
    const unsigned char* pbName = nullptr;
    size_t cbName = 0;
    if (pName == nullptr || X509_NAME_get0_der(const_cast<X509_NAME*>(pName), &pbName, &cbName) != 1)
        return CERT_NAME_BLOB{0, nullptr};
    return CERT_NAME_BLOB{static_cast<uint32_t>(cbName), pbName};
}

} // namespace

CERT_NAME_BLOB GetSubjectNameBlob(const CERT_CONTEXT& cert)
{
    return NameBlob(X509_get_subject_name(cert.pX509.get()));
}

CERT_NAME_BLOB GetIssuerNameBlob(const CERT_CONTEXT& cert)
{
    return NameBlob(X509_get_issuer_name(cert.pX509.get()));
}

CRYPT_DATA_BLOB GetEncodedCertificate(const CERT_CONTEXT& cert)
{
    return CRYPT_DATA_BLOB{static_cast<uint32_t>(cert.vtrEncoded.size()), cert.vtrEncoded.data()};
}

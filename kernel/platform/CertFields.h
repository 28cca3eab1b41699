// The fields of a certificate that the kernel reads, standing in for the
// platform's parsed certificate, its extension decoder and its time
// conversions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CertContext.h"
#include "StructureEncoder.h"

// The platform's calendar record (16 bytes), in UTC.
struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// A moment as 100-nanosecond intervals since 1 January 1601, UTC.
using FILETIME = uint64_t;

// The serial number's DER content bytes, least significant first, as the
// platform holds them (a leading 00 sign byte included).
std::vector<uint8_t> GetSerialNumberBytes(const CERT_CONTEXT& cert);

// The certificate's DER encoding; valid for as long as the certificate is
// held.
CRYPT_DATA_BLOB GetEncodedCertificate(const CERT_CONTEXT& cert);

// The subject's and the issuer's encoded names (DER), as the certificate
// holds them; valid for as long as the certificate is held. An empty blob
// when the name cannot be encoded.
CERT_NAME_BLOB GetSubjectNameBlob(const CERT_CONTEXT& cert);
CERT_NAME_BLOB GetIssuerNameBlob(const CERT_CONTEXT& cert);

// The first byte of the key-usage bit string. False when the certificate
// has no key-usage extension.
bool GetKeyUsageByte(const CERT_CONTEXT& cert, uint8_t& bUsage);

// The subject key identifier's bytes. False when the certificate has no
// subject-key-identifier extension.
bool GetSubjectKeyIdentifier(const CERT_CONTEXT& cert, std::vector<uint8_t>* pvtrKeyId);

// The length in bytes of a signature made with the certificate's key (the
// modulus length of an RSA key), or 0 when its public key cannot be read.
uint32_t GetSignatureLength(const CERT_CONTEXT& cert);

// The kinds of public key the kernel tells apart.
enum class KeyAlgorithm { Other, Rsa, Ec };

// The certificate's public key as its SubjectPublicKeyInfo states it: the
// algorithm, the key's size in bits (an RSA modulus, an EC curve's field)
// and, for an EC key on a named curve, the curve's object identifier in
// dotted form. dwBits is 0 when the key cannot be read.
struct PublicKeyInfo {
    KeyAlgorithm algorithm = KeyAlgorithm::Other;
    uint32_t dwBits = 0;
    std::string strCurveOid;
};
PublicKeyInfo GetPublicKeyInfo(const CERT_CONTEXT& cert);

// The signature algorithm's object identifier in dotted form.
std::string GetSignatureAlgorithmOid(const CERT_CONTEXT& cert);

// The validity period's ends as calendar records and as file times.
SYSTEMTIME GetNotBefore(const CERT_CONTEXT& cert);
SYSTEMTIME GetNotAfter(const CERT_CONTEXT& cert);

// -1 when the time lies before the validity period, 1 when after it, 0
// within it. A null time means now.
int32_t CertVerifyTimeValidity(const FILETIME* pTimeToVerify, const CERT_CONTEXT& cert);

// Conversions between the two time forms.
FILETIME SystemTimeToFileTime(const SYSTEMTIME& st);
SYSTEMTIME FileTimeToSystemTime(FILETIME ft);
FILETIME GetSystemTimeAsFileTime();

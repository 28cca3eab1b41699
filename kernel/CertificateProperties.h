// Read-only queries of one property of a certificate each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertFields.h"

// Query kinds of QueryCertContextInfo, and what pvValue points to:
enum CertQueryKind : int {
    CERT_QUERY_SUBJECT_X500 = 1,   // std::u16string; size: characters with the NUL
    CERT_QUERY_SUBJECT_SIMPLE = 2, // std::u16string; size: characters with the NUL
    CERT_QUERY_ISSUER = 3,         // std::u16string; size: characters with the NUL
    CERT_QUERY_SERIAL_NUMBER = 4,  // std::vector<uint8_t>, least significant byte first; size: bytes
    CERT_QUERY_PROVIDER_NAME = 5,  // std::u16string; size: characters without the NUL
    CERT_QUERY_TO_DATE = 6,        // SYSTEMTIME; size: 16
    CERT_QUERY_FROM_DATE = 7,      // SYSTEMTIME; size: 16
    CERT_QUERY_SUBJECT_KEY_ID = 8, // std::vector<uint8_t>; size: bytes
    CERT_QUERY_KEY_USAGE = 9,      // uint32_t; size: 4
    CERT_QUERY_CONTAINER_NAME = 10 // std::u16string; size: characters without the NUL
};

// Runs the query of that kind. Any other kind gives 0xA0071003. pdwSize
// may be null.
HRESULT QueryCertContextInfo(const CertContextRef& pCert, int nKind, void* pvValue, uint32_t* pdwSize);

// The subject name as text: string type CERT_X500_NAME_STR (key=value) or
// CERT_SIMPLE_NAME_STR (values only), always last relative name first and
// unquoted.
HRESULT GetCertSubject(const CertContextRef& pCert, std::u16string* pwstrSubject, uint32_t* pdwSize,
                       uint32_t dwStrType);
// The issuer name in X.500 form.
HRESULT GetCertIssuer(const CertContextRef& pCert, std::u16string* pwstrIssuer, uint32_t* pdwSize);
HRESULT GetCertSerialNumber(const CertContextRef& pCert, std::vector<uint8_t>* pvtrSerial, uint32_t* pdwSize);
// The first byte of the key usage; 0xA0071020 without the extension.
HRESULT GetCertKeyUsage(const CertContextRef& pCert, uint32_t* pdwKeyUsage, uint32_t* pdwSize);
// 0xA0071021 without the extension. With a null pvtrKeyId only tests that
// the extension is there.
HRESULT GetCertSubjectKeyID(const CertContextRef& pCert, std::vector<uint8_t>* pvtrKeyId, uint32_t* pdwSize);
// The names of the key's provider and container; acquiring the key may ask
// for the token's PIN.
HRESULT GetCertProviderName(const CertContextRef& pCert, std::u16string* pwstrName, uint32_t* pdwSize);
HRESULT GetCertContainerName(const CertContextRef& pCert, std::u16string* pwstrName, uint32_t* pdwSize);
// The end and start of validity, in UTC.
HRESULT GetCertToDate(const CertContextRef& pCert, SYSTEMTIME* pstTime, uint32_t* pdwSize);
HRESULT GetCertFromDate(const CertContextRef& pCert, SYSTEMTIME* pstTime, uint32_t* pdwSize);
// The key's type and size as a person reads them: "RSA 2048", "EC P-256",
// "EC P-384"; an EC key on a curve without a short name gives the curve's
// OID, and a key of another kind "Unknown" and its size when known.
std::string DescribePublicKey(const PublicKeyInfo& key);

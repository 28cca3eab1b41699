// Collecting certificates from a store and narrowing them down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NameFilter.h"
#include "platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/CertStore.h"

using CertList = std::vector<CertContextRef>;

// What a certificate must satisfy; a null or zero field places no
// restriction.
struct CertFilter {
    const char16_t* pwszSubjectDN = nullptr; // "#"-separated alternatives
    const char16_t* pwszIssuerDN = nullptr;  // "#"-separated alternatives
    const uint8_t* pbSubjectKeyID = nullptr; // raw key identifier
    uint32_t cbSubjectKeyID = 0;             //   and its length in bytes
    const uint8_t* pbSerialNumber = nullptr; // least significant byte first
    uint32_t cbSerialNumber = 0;             //   and its length in bytes
    uint32_t dwKeyUsage = 0;                 // passes with any one of these bits
    int32_t bCheckPrivateKey = 0;            // exactly 1: the private key must be obtainable
    const char* pszSignatureAlgOID = nullptr; // prefix of the signature algorithm OID
    const FILETIME* pftValidityTime = nullptr; // moment at which it must be valid
};

// Appends every certificate of the user's store of that name ("MY").
// After a failure the list is empty.
HRESULT ExtractCertificatesFromLocalStore(const char16_t* pwszStoreName, CertList& certList);

// Appends every certificate of an open store, in store order.
HRESULT ExtractCertificatesFromStore(const CertStore* pStore, CertList& certList);

// Splits a filter string at every "#" into alternatives (each cut to 255
// characters) and appends them. A null string gives none; an empty one
// gives one empty alternative. (FilterCertificates keeps each distinct
// alternative once instead, in a NameFilter.)
void ParseFilters(const char16_t* pwszFilter, std::vector<std::u16string>& vtrFilters);

// Appends to outList every certificate of inList that passes all criteria
// of the record (null: every certificate passes), in input order. Returns
// E_INVALIDARG for a name filter with more than kMaxFilterAlternatives
// distinct alternatives, and the failure to add a certificate; after a
// failure outList is empty.
HRESULT FilterCertificates(const CertFilter* pFilter, CertList& outList, const CertList& inList);

// The first criterion of a filter that a certificate fails, in the order
// FilterCertificates checks them.
enum class FilterRejection {
    None,         // it passes
    SubjectName,  // no subject alternative matches
    Issuer,       // no issuer alternative matches
    KeyUsage,     // none of the key-usage bits
    SubjectKeyId, // another subject key identifier
    SerialNumber, // another serial number
    Validity,     // not valid at the filter's moment
    SignatureAlg, // signed with another algorithm
    PrivateKey,   // its private key cannot be obtained
};

// Which criterion of the record (null: none) the certificate fails, as
// FilterCertificates decides it; the private key is probed only when
// everything else passes. When the key cannot be obtained, *phrKey (if not
// null) gets the reason. E_INVALIDARG for a name filter with too many
// alternatives.
HRESULT ExplainCertificateRejection(const CertFilter* pFilter, const CertContextRef& pCert, FilterRejection& rejection,
                                    HRESULT* phrKey = nullptr);

// The criteria, each 0 for pass and non-zero for reject.
HRESULT CheckCertSubjectName(const CertContextRef& pCert, const NameFilter& subjects);
HRESULT CheckCertIssuer(const CertContextRef& pCert, const NameFilter& issuers);
HRESULT CheckCertKeyUsage(const CertContextRef& pCert, uint32_t dwKeyUsage);
HRESULT CheckCertSubjectKeyID(const CertContextRef& pCert, const uint8_t* pbKeyId, uint32_t cbKeyId);
HRESULT CheckCertSerialNumber(const CertContextRef& pCert, const uint8_t* pbSerial, uint32_t cbSerial);
HRESULT CheckCertTimeValidity(const CertContextRef& pCert, const FILETIME* pftTime);
HRESULT CheckCertSignatureAlg(const CertContextRef& pCert, const char* pszOid);

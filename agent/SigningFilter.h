// The filter a selection for signing applies to the user's certificates:
// the page's subject and issuer alternatives, the digital-signature key
// usage, and a private key that can be obtained. The doctor explains a
// certificate's absence with this very filter.
#pragma once

#include "kernel/CertificateFilters.h"

inline CertFilter SigningCertificateFilter(const char16_t* pwszSubjectDN, const char16_t* pwszIssuerDN)
{
    CertFilter filter;
    filter.pwszSubjectDN = pwszSubjectDN;
    filter.pwszIssuerDN = pwszIssuerDN;
    filter.dwKeyUsage = 0x80; // digital signature
    filter.bCheckPrivateKey = 1;
    return filter;
}

// Every certificate the user's store looks at, not only the ones it offers,
// each with where it lives and whether the store takes it: what the doctor
// reports when a certificate is not offered. Linux only (the store there is
// Tessera's own over NSS; on Windows it is the system's).
#pragma once

#include <string>
#include <vector>

#include "CertContext.h"

enum class StoreVerdict {
    Candidate,    // in the store, to be filtered like any other
    NoPrivateKey, // no key of it where the store looks
    CaOnToken,    // an authority's certificate on a device, never offered
    Duplicate,    // the same certificate is taken from an earlier place
};

struct SurveyedCertificate {
    CertContextRef pCert;
    std::string strLocation;   // the database's folder, or "token LABEL"
    std::string strKind;       // "database", "firefox-profile" or "token"
    StoreVerdict verdict = StoreVerdict::Candidate;
};

// Every present token's and database's certificates, in the store's order,
// found as the store finds them: without a login or a prompt. False, with
// the last error set, when NSS cannot be started.
bool SurveyUserCertificates(std::vector<SurveyedCertificate>& vtrOut);

// Every certificate the store looks at, and whether a selection for signing
// offers it, by the store's own verdict and the selection's own filter.
#include <cstdio>

#include "Checks.h"
#include "agent/SigningFilter.h"
#include "kernel/CertificateProperties.h"
#include "kernel/Encodings.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CertSurvey.h"
#include "kernel/platform/LastError.h"

namespace {

std::string Hex(HRESULT hr)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "0x%08X", static_cast<unsigned>(hr));
    return sz;
}

std::string Subject(const CertContextRef& pCert)
{
    std::u16string wstrSubject;
    std::string strSubject;
    if (FAILED(GetCertSubject(pCert, &wstrSubject, nullptr, CERT_X500_NAME_STR)) ||
        FAILED(UTF16ToUTF8(wstrSubject.c_str(), strSubject)))
        return "?";
    return strSubject;
}

std::string Date(const SYSTEMTIME& st)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
    return sz;
}

} // namespace

void CheckCertificates(Report& report, Verdict& verdict)
{
    report.Heading(DoctorTextId::SectionCertificates);
    report.Array("certificates");
    std::vector<SurveyedCertificate> vtrSurvey;
    if (!SurveyUserCertificates(vtrSurvey)) {
        const std::string strStatus = Hex(KernelStatusFromError(GetLastError()));
        report.Set("storeProblem", cJSON_CreateString(strStatus.c_str()));
        report.Line(0, report.Text(DoctorTextId::StoreFailed, {strStatus}));
        return;
    }
    if (vtrSurvey.empty())
        report.Line(0, report.Text(DoctorTextId::NoCertificates));
    const CertFilter filter = SigningCertificateFilter(nullptr, nullptr);
    const FILETIME now = GetSystemTimeAsFileTime();
    for (const SurveyedCertificate& surveyed : vtrSurvey) {
        const PublicKeyInfo key = GetPublicKeyInfo(*surveyed.pCert);
        const char* pszKey = key.algorithm == KeyAlgorithm::Rsa ? "RSA" : key.algorithm == KeyAlgorithm::Ec ? "EC" : "other";
        const bool bExpired = CertVerifyTimeValidity(&now, *surveyed.pCert) != 0;
        const char* pszReason = "offered";
        std::string strLine;
        HRESULT hrKey = KVRA_OK;
        switch (surveyed.verdict) {
        case StoreVerdict::NoPrivateKey:
            pszReason = "no-private-key";
            strLine = report.Text(DoctorTextId::NoPrivateKey);
            break;
        case StoreVerdict::CaOnToken:
            pszReason = "ca-on-token";
            strLine = report.Text(DoctorTextId::CaOnToken);
            break;
        case StoreVerdict::Duplicate:
            pszReason = "duplicate";
            strLine = report.Text(DoctorTextId::Duplicate);
            break;
        case StoreVerdict::Candidate: {
            FilterRejection rejection = FilterRejection::None;
            ExplainCertificateRejection(&filter, surveyed.pCert, rejection, &hrKey);
            if (rejection == FilterRejection::KeyUsage) {
                pszReason = "no-signing-usage";
                strLine = report.Text(DoctorTextId::NoSigningUsage);
            } else if (rejection == FilterRejection::PrivateKey) {
                pszReason = "key-unobtainable";
                strLine = report.Text(DoctorTextId::KeyUnobtainable, {Hex(hrKey)});
            } else {
                ++verdict.nOffered;
                strLine = bExpired ? report.Text(DoctorTextId::OfferedExpired, {Date(GetNotAfter(*surveyed.pCert))})
                                   : report.Text(DoctorTextId::Offered);
            }
            break;
        }
        }
        const std::string strSubject = Subject(surveyed.pCert);
        cJSON* pEntry = report.Entry("certificates");
        AddString(pEntry, "subject", strSubject);
        AddString(pEntry, "location", surveyed.strLocation);
        AddString(pEntry, "kind", surveyed.strKind);
        AddString(pEntry, "key", pszKey);
        AddNumber(pEntry, "bits", key.dwBits);
        AddBool(pEntry, "expired", bExpired);
        AddBool(pEntry, "offered", std::string_view(pszReason) == "offered");
        AddString(pEntry, "reason", pszReason);
        if (FAILED(hrKey))
            AddString(pEntry, "status", Hex(hrKey));
        report.Line(0, report.Text(DoctorTextId::CertificateLine, {strSubject}));
        report.Line(1, report.Text(DoctorTextId::CertificateDetail, {surveyed.strLocation, pszKey, std::to_string(key.dwBits)}));
        report.Line(1, strLine);
    }
}

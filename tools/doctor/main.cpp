// tessera-doctor: tells the user why a certificate is, or is not, offered
// for signing, and whether the browsers can reach the host at all. It
// changes nothing, needs no network and never asks for a PIN.
//
//   tessera-doctor          the readable report, in the user's language
//   tessera-doctor --json   the same findings as JSON
//
// Exits 0 when a browser can start a working host and at least one
// certificate is offered, 1 otherwise, 2 on a bad command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "Checks.h"
#include "kernel/platform/Language.h"

int main(int argc, char** argv)
{
    bool bJson = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            bJson = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("usage: tessera-doctor [--json]\n"
                      "Reports the browsers' host manifests, the host, every certificate and why it is or is not\n"
                      "offered, smart-card readers and PKCS#11 modules. Changes nothing.");
            return 0;
        } else {
            std::fprintf(stderr, "tessera-doctor: unknown argument %s (try --help)\n", argv[i]);
            return 2;
        }
    }

    Report report(GetUserUiLanguage());
    Verdict verdict;
    CheckBrowsers(report, verdict);
    // The modules are loaded and let go of before NSS loads them for the
    // certificates.
    CheckCards(report);
    CheckCertificates(report, verdict);
    CheckSandboxes(report);

    const bool bGood = verdict.bBrowserReachesHost && verdict.nOffered > 0;
    report.Set("browserReachesHost", cJSON_CreateBool(verdict.bBrowserReachesHost));
    report.Set("offered", cJSON_CreateNumber(verdict.nOffered));
    report.Set("ok", cJSON_CreateBool(bGood));
    report.Heading(bGood                           ? DoctorTextId::VerdictGood
                   : !verdict.bBrowserReachesHost ? DoctorTextId::VerdictNoBrowser
                                                  : DoctorTextId::VerdictNoCertificate,
                   {std::to_string(verdict.nOffered)});
    const std::string out = bJson ? report.Json() : report.Readable();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return bGood ? 0 : 1;
}

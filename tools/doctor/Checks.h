// The doctor's checks, one section of the report each, in the order the
// report gives them.
#pragma once

#include <span>
#include <string>

#include "Report.h"

// A browser the host is registered with, as host/manifests/browsers.list
// gives it.
struct BrowserInfo {
    const char* pszKey;
    const char* pszName;
    bool bChromium;               // a Chromium-family browser, else Firefox
    const char* pszSystemDirs;    // ","-separated absolute folders
    const char* pszUserDir;       // under $HOME, "-" for none
    const char* pszProfileDir;    // under $HOME, "-" for none
    const char* pszExternalDir;   // absolute, "-" for none
};
std::span<const BrowserInfo> Browsers();

// A folder of the table under the user's home ("" for "-"): one starting
// with ".config/" is under $XDG_CONFIG_HOME when that is set.
std::string UserFolder(const char* pszRelative);

// What decides the doctor's exit status.
struct Verdict {
    bool bBrowserReachesHost = false; // some browser's manifest starts a host that answers
    int nOffered = 0;                 // certificates a selection would offer
};

void CheckBrowsers(Report& report, Verdict& verdict);
void CheckCards(Report& report);
void CheckCertificates(Report& report, Verdict& verdict);
void CheckSandboxes(Report& report);

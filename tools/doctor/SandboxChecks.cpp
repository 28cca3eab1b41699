// Browsers installed as a snap or a Flatpak, which reach native hosts
// differently (or not at all).
#include <sys/stat.h>

#include "Checks.h"

namespace {

bool IsDir(const std::string& strPath)
{
    struct stat st {};
    return stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct FlatpakBrowser {
    const char* pszAppId;
    const char* pszName;
};

constexpr FlatpakBrowser kFlatpaks[] = {
    {"org.mozilla.firefox", "Firefox"},   {"org.chromium.Chromium", "Chromium"},
    {"com.google.Chrome", "Google Chrome"}, {"com.microsoft.Edge", "Microsoft Edge"},
    {"com.brave.Browser", "Brave"},       {"com.vivaldi.Vivaldi", "Vivaldi"},
    {"com.opera.Opera", "Opera"},
};

} // namespace

void CheckSandboxes(Report& report)
{
    report.Heading(DoctorTextId::SectionSandboxes);
    report.Array("sandboxes");
    bool bAny = false;
    const auto add = [&](const char* pszKind, const std::string& strName, const std::string& strText) {
        cJSON* pEntry = report.Entry("sandboxes");
        AddString(pEntry, "kind", pszKind);
        AddString(pEntry, "browser", strName);
        report.Line(0, strText);
        bAny = true;
    };
    if (IsDir("/snap/firefox"))
        add("snap", "Firefox", report.Text(DoctorTextId::SnapFirefox));
    if (IsDir("/snap/chromium"))
        add("snap", "Chromium", report.Text(DoctorTextId::SnapChromium));
    const std::string strUserApps = UserFolder(".local/share/flatpak/app");
    for (const FlatpakBrowser& browser : kFlatpaks) {
        if (IsDir(std::string("/var/lib/flatpak/app/") + browser.pszAppId) ||
            IsDir(strUserApps + "/" + browser.pszAppId))
            add("flatpak", browser.pszName, report.Text(DoctorTextId::Flatpak, {browser.pszName}));
    }
    if (bAny)
        report.Line(0, report.Text(DoctorTextId::MoreInReadme, {"Sandboxed browsers"}));
    else
        report.Line(0, report.Text(DoctorTextId::NoSandboxes));
}

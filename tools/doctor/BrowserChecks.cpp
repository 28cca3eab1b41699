// The browsers' host manifests, the hosts they name, and whether the
// extension is installed for each browser.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "Checks.h"
#include "HostProbe.h"

namespace {

constexpr char kHostName[] = "org.tessera.host";
constexpr size_t kMaxFileBytes = 1024 * 1024;

using JsonPtr = std::unique_ptr<cJSON, void (*)(cJSON*)>;

bool IsFile(const std::string& strPath)
{
    struct stat st {};
    return stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A small regular file's bytes; nothing for anything else.
bool ReadSmallFile(const std::string& strPath, std::string& strText)
{
    struct stat st {};
    if (stat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > kMaxFileBytes)
        return false;
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    strText = text.str();
    return static_cast<bool>(file) || file.eof();
}

JsonPtr ParseFile(const std::string& strPath)
{
    std::string strText;
    if (!ReadSmallFile(strPath, strText))
        return JsonPtr(nullptr, cJSON_Delete);
    return JsonPtr(cJSON_ParseWithLength(strText.data(), strText.size()), cJSON_Delete);
}

bool ArrayHasString(const cJSON* pArray, const std::string& value)
{
    const cJSON* pItem = nullptr;
    cJSON_ArrayForEach(pItem, pArray)
    {
        if (cJSON_IsString(pItem) && value == pItem->valuestring)
            return true;
    }
    return false;
}

std::vector<std::string> Split(const char* pszList)
{
    std::vector<std::string> vtr;
    std::istringstream list(pszList);
    for (std::string item; std::getline(list, item, ',');) {
        if (!item.empty() && item != "-")
            vtr.push_back(item);
    }
    return vtr;
}

std::vector<std::string> SubFolders(const std::string& strDir)
{
    std::vector<std::string> vtr;
    std::unique_ptr<DIR, int (*)(DIR*)> pDir(opendir(strDir.c_str()), closedir);
    if (!pDir)
        return vtr;
    while (const dirent* pEntry = readdir(pDir.get())) {
        if (pEntry->d_name[0] != '.')
            vtr.push_back(strDir + "/" + pEntry->d_name);
    }
    return vtr;
}

// The hosts named by the manifests, each asked once.
class Hosts {
public:
    explicit Hosts(Report& report) : m_report(report) {}

    bool Works(const std::string& strPath, const std::string& strOrigin)
    {
        const auto it = m_results.find(strPath);
        if (it != m_results.end())
            return it->second;
        const HostProbe probe = ProbeHost(strPath, strOrigin);
        const bool bWorks = probe.outcome == HostProbe::Outcome::Answered;
        m_results.emplace(strPath, bWorks);
        cJSON* pEntry = m_report.Entry("hosts");
        AddString(pEntry, "path", strPath);
        static const char* const kOutcomes[] = {"answered", "missing", "not-executable", "no-answer", "bad-answer"};
        AddString(pEntry, "status", kOutcomes[static_cast<int>(probe.outcome)]);
        if (bWorks)
            AddNumber(pEntry, "milliseconds", static_cast<double>(probe.nMilliseconds));
        if (!probe.strProblem.empty())
            AddString(pEntry, "problem", probe.strProblem);
        switch (probe.outcome) {
        case HostProbe::Outcome::Answered:
            m_lines.push_back(m_report.Text(DoctorTextId::HostAnswered, {strPath, std::to_string(probe.nMilliseconds)}));
            break;
        case HostProbe::Outcome::Missing:
            m_lines.push_back(m_report.Text(DoctorTextId::HostMissing, {strPath}));
            break;
        case HostProbe::Outcome::NotExecutable:
            m_lines.push_back(m_report.Text(DoctorTextId::HostNotExecutable, {strPath}));
            break;
        case HostProbe::Outcome::NoAnswer:
            m_lines.push_back(m_report.Text(DoctorTextId::HostNoAnswer, {strPath, probe.strProblem}));
            break;
        case HostProbe::Outcome::BadAnswer:
            m_lines.push_back(m_report.Text(DoctorTextId::HostBadAnswer, {strPath}));
            break;
        }
        return bWorks;
    }

    void Print()
    {
        m_report.Array("hosts");
        if (m_lines.empty())
            return;
        m_report.Heading(DoctorTextId::SectionHost);
        for (const std::string& line : m_lines)
            m_report.Line(0, line);
    }

private:
    Report& m_report;
    std::map<std::string, bool> m_results;
    std::vector<std::string> m_lines;
};

// Whether the Chromium-family profile folder holds the extension: its
// settings in a profile's Preferences or Secure Preferences.
std::vector<std::string> ProfilesWithExtension(const std::string& strUserDataDir, bool bChromium)
{
    std::vector<std::string> vtr;
    for (const std::string& strProfile : SubFolders(strUserDataDir)) {
        if (bChromium) {
            for (const char* pszFile : {"/Preferences", "/Secure Preferences"}) {
                const JsonPtr pPrefs = ParseFile(strProfile + pszFile);
                const cJSON* pSettings = cJSON_GetObjectItemCaseSensitive(
                    cJSON_GetObjectItemCaseSensitive(pPrefs.get(), "extensions"), "settings");
                if (cJSON_GetObjectItemCaseSensitive(pSettings, TESSERA_CHROMIUM_EXTENSION_ID) != nullptr) {
                    vtr.push_back(strProfile);
                    break;
                }
            }
        } else {
            std::string strText;
            if (ReadSmallFile(strProfile + "/extensions.json", strText) &&
                strText.find("\"" TESSERA_FIREFOX_EXTENSION_ID "\"") != std::string::npos)
                vtr.push_back(strProfile);
        }
    }
    return vtr;
}

} // namespace

void CheckBrowsers(Report& report, Verdict& verdict)
{
    report.Heading(DoctorTextId::SectionBrowsers);
    Hosts hosts(report);
    for (const BrowserInfo& browser : Browsers()) {
        cJSON* pEntry = report.Entry("browsers");
        AddString(pEntry, "browser", browser.pszKey);
        AddString(pEntry, "name", browser.pszName);
        cJSON* pManifests = cJSON_AddArrayToObject(pEntry, "manifests");
        std::vector<std::string> vtrDirs = Split(browser.pszSystemDirs);
        if (const std::string strUser = UserFolder(browser.pszUserDir); !strUser.empty())
            vtrDirs.push_back(strUser);
        const std::string strOrigin = browser.bChromium ? "chrome-extension://" TESSERA_CHROMIUM_EXTENSION_ID "/"
                                                        : TESSERA_FIREFOX_EXTENSION_ID;
        bool bAnyManifest = false;
        for (const std::string& strDir : vtrDirs) {
            const std::string strPath = strDir + "/" + kHostName + ".json";
            if (!IsFile(strPath))
                continue;
            bAnyManifest = true;
            cJSON* pManifest = cJSON_CreateObject();
            cJSON_AddItemToArray(pManifests, pManifest);
            AddString(pManifest, "path", strPath);
            const JsonPtr pJson = ParseFile(strPath);
            const cJSON* pName = cJSON_GetObjectItemCaseSensitive(pJson.get(), "name");
            const cJSON* pHost = cJSON_GetObjectItemCaseSensitive(pJson.get(), "path");
            const cJSON* pAllowed =
                cJSON_GetObjectItemCaseSensitive(pJson.get(), browser.bChromium ? "allowed_origins" : "allowed_extensions");
            const char* pszStatus = "good";
            if (!cJSON_IsObject(pJson.get())) {
                pszStatus = "unreadable";
                report.Line(0, report.Text(DoctorTextId::ManifestUnreadable, {browser.pszName, strPath}));
            } else if (!cJSON_IsString(pName) || std::strcmp(pName->valuestring, kHostName) != 0) {
                pszStatus = "wrong-name";
                report.Line(0, report.Text(DoctorTextId::ManifestWrongName, {browser.pszName, strPath}));
            } else if (!ArrayHasString(pAllowed, strOrigin)) {
                pszStatus = "extension-not-allowed";
                report.Line(0, report.Text(DoctorTextId::ManifestNoExtension, {browser.pszName, strPath, strOrigin}));
            } else if (!cJSON_IsString(pHost) || !hosts.Works(pHost->valuestring, strOrigin)) {
                pszStatus = "host-not-working";
                report.Line(0, report.Text(DoctorTextId::ManifestNoHost,
                                           {browser.pszName, strPath, cJSON_IsString(pHost) ? pHost->valuestring : "?"}));
            } else {
                verdict.bBrowserReachesHost = true;
                report.Line(0, report.Text(DoctorTextId::ManifestGood, {browser.pszName, strPath, pHost->valuestring}));
            }
            if (cJSON_IsString(pHost))
                AddString(pManifest, "host", pHost->valuestring);
            AddString(pManifest, "status", pszStatus);
        }
        if (!bAnyManifest) {
            std::string strDirs;
            for (const std::string& strDir : vtrDirs)
                strDirs += (strDirs.empty() ? "" : ", ") + strDir;
            report.Line(0, report.Text(DoctorTextId::ManifestMissing, {browser.pszName, strDirs}));
        }

        // The extension: installed for every profile by an external JSON,
        // or found in a profile.
        cJSON* pExtension = cJSON_AddObjectToObject(pEntry, "extension");
        std::string strExternal;
        if (std::strcmp(browser.pszExternalDir, "-") != 0) {
            strExternal = std::string(browser.pszExternalDir) + "/" TESSERA_CHROMIUM_EXTENSION_ID ".json";
            if (!IsFile(strExternal))
                strExternal.clear();
        }
        cJSON_AddItemToObject(pExtension, "external",
                              strExternal.empty() ? cJSON_CreateNull() : cJSON_CreateString(strExternal.c_str()));
        cJSON* pProfiles = cJSON_AddArrayToObject(pExtension, "profiles");
        const std::string strProfileDir = UserFolder(browser.pszProfileDir);
        const std::vector<std::string> vtrProfiles =
            strProfileDir.empty() ? std::vector<std::string>{} : ProfilesWithExtension(strProfileDir, browser.bChromium);
        for (const std::string& strProfile : vtrProfiles)
            cJSON_AddItemToArray(pProfiles, cJSON_CreateString(strProfile.c_str()));
        if (!strExternal.empty())
            report.Line(1, report.Text(DoctorTextId::ExtensionExternal, {browser.pszName, strExternal}));
        for (const std::string& strProfile : vtrProfiles)
            report.Line(1, report.Text(DoctorTextId::ExtensionInProfile, {browser.pszName, strProfile}));
        if (strExternal.empty() && vtrProfiles.empty() && bAnyManifest)
            report.Line(1, report.Text(DoctorTextId::ExtensionNowhere, {browser.pszName}));
    }
    hosts.Print();
}

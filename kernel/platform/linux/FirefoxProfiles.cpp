#include "FirefoxProfiles.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string_view>
#include <utility>

namespace {

// One section of an ini file: its name and its key=value lines in order.
struct IniSection {
    std::string strName;
    std::vector<std::pair<std::string, std::string>> values;

    std::string Get(std::string_view key) const
    {
        for (const auto& [k, v] : values) {
            if (k == key)
                return v;
        }
        return {};
    }
};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Reads an ini file as Firefox writes it. A missing or unreadable file has
// no sections.
std::vector<IniSection> ReadIni(const std::string& strPath)
{
    std::vector<IniSection> sections;
    std::ifstream file(strPath);
    for (std::string strLine; std::getline(file, strLine);) {
        const std::string_view line = Trim(strLine);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const size_t nEnd = line.find(']');
            if (nEnd != std::string_view::npos)
                sections.push_back({std::string(line.substr(1, nEnd - 1)), {}});
            continue;
        }
        const size_t nEquals = line.find('=');
        if (nEquals == std::string_view::npos || sections.empty())
            continue;
        sections.back().values.emplace_back(std::string(Trim(line.substr(0, nEquals))),
                                            std::string(Trim(line.substr(nEquals + 1))));
    }
    return sections;
}

// A profile path from an ini file: absolute as it stands, otherwise
// relative to the folder holding the ini file.
std::string ProfilePath(const std::string& strBase, const std::string& strPath, bool bRelative)
{
    if (strPath.empty())
        return {};
    if (!bRelative || strPath.front() == '/')
        return strPath;
    return strBase + "/" + strPath;
}

// The folder with its symbolic links resolved, when it holds a certificate
// database Tessera can open (the SQL format Firefox has used since version
// 58); "" otherwise.
std::string DatabaseFolder(const std::string& strDir)
{
    char szResolved[PATH_MAX];
    if (strDir.empty() || realpath(strDir.c_str(), szResolved) == nullptr)
        return {};
    struct stat st {};
    const std::string strDb = std::string(szResolved) + "/cert9.db";
    if (stat(strDb.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return szResolved;
}

std::string BaseName(const std::string& strDir)
{
    const size_t nSlash = strDir.find_last_of('/');
    return nSlash == std::string::npos ? strDir : strDir.substr(nSlash + 1);
}

} // namespace

std::vector<FirefoxProfile> FindFirefoxProfiles(const std::string& strHome)
{
    static const char* const kPlaces[] = {
        "/.config/mozilla/firefox",
        "/.mozilla/firefox",
        "/snap/firefox/common/.mozilla/firefox",
        "/.var/app/org.mozilla.firefox/.mozilla/firefox",
    };
    std::vector<FirefoxProfile> profiles;
    if (strHome.empty())
        return profiles;
    std::set<std::string> seen;
    // The Chromium database is read already; a profile folder that is the
    // same folder is not a second database.
    if (const std::string strPki = DatabaseFolder(strHome + "/.pki/nssdb"); !strPki.empty())
        seen.insert(strPki);

    for (const char* pszPlace : kPlaces) {
        const std::string strBase = strHome + pszPlace;
        const std::vector<IniSection> listed = ReadIni(strBase + "/profiles.ini");
        // A profile's name, found by the path an install's default gives.
        auto nameOf = [&](const std::string& strDir) {
            for (const IniSection& section : listed) {
                if (!section.strName.starts_with("Profile"))
                    continue;
                const std::string strPath =
                    ProfilePath(strBase, section.Get("Path"), section.Get("IsRelative") != "0");
                if (!section.Get("Name").empty() && DatabaseFolder(strPath) == strDir)
                    return section.Get("Name");
            }
            return BaseName(strDir);
        };
        auto add = [&](const std::string& strPath, const std::string& strName) {
            const std::string strDir = DatabaseFolder(strPath);
            if (strDir.empty() || !seen.insert(strDir).second)
                return;
            profiles.push_back({strName.empty() ? nameOf(strDir) : strName, strDir});
        };

        for (const IniSection& install : ReadIni(strBase + "/installs.ini"))
            add(ProfilePath(strBase, install.Get("Default"), true), {});
        for (const IniSection& section : listed) {
            if (section.strName.starts_with("Install"))
                add(ProfilePath(strBase, section.Get("Default"), true), {});
        }
        for (const IniSection& section : listed) {
            if (section.strName.starts_with("Profile"))
                add(ProfilePath(strBase, section.Get("Path"), section.Get("IsRelative") != "0"), section.Get("Name"));
        }
    }
    return profiles;
}

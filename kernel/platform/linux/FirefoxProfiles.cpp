#include "FirefoxProfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string_view>
#include <utility>

namespace {

// An ini file larger than this is no file Firefox wrote: it is not read.
constexpr off_t kMaxIniSize = 1 << 20;

// A file descriptor, closed when it goes.
class OpenFile {
public:
    explicit OpenFile(int fd) : m_fd(fd) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Opens a file for reading only if it is a regular file: a symbolic link
// at the last step is not followed, and a FIFO or a device is never waited
// on. The folders a sandboxed browser keeps its profiles in are writable by
// that browser, which may plant anything there. -1 for anything else.
int OpenRegularFile(const std::string& strPath, struct stat& st)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether a file is an SQLite database that can be read without writing
// beside it: a regular file, and not in WAL mode (the header's read and
// write versions, bytes 18 and 19, are 2 then), since SQLite creates a
// -wal and a -shm file for a reader of such a database, in the profile.
bool IsReadableDatabase(const std::string& strPath)
{
    struct stat st {};
    const OpenFile file(OpenRegularFile(strPath, st));
    if (file.Get() < 0)
        return false;
    unsigned char abHeader[20] = {};
    const ssize_t cbHeader = read(file.Get(), abHeader, sizeof abHeader);
    return cbHeader != static_cast<ssize_t>(sizeof abHeader) || (abHeader[18] != 2 && abHeader[19] != 2);
}

// The text of a small regular file; empty for anything else.
std::string ReadSmallFile(const std::string& strPath)
{
    struct stat st {};
    const OpenFile file(OpenRegularFile(strPath, st));
    if (file.Get() < 0 || st.st_size > kMaxIniSize)
        return {};
    std::string strText;
    char buffer[16384];
    for (ssize_t n; (n = read(file.Get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 || strText.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxIniSize))
            return {}; // unreadable, or grown since
        strText.append(buffer, static_cast<size_t>(n));
    }
    return strText;
}

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

// Reads an ini file as Firefox writes it. A missing or unreadable file, or
// one that is not a regular file of at most 1 MiB, has no sections.
std::vector<IniSection> ReadIni(const std::string& strPath)
{
    std::vector<IniSection> sections;
    std::istringstream file(ReadSmallFile(strPath));
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
// 58) without writing to it; "" otherwise. As ssh treats its files, the
// folder must be the user's own and writable by nobody else, and its
// database files regular files, not in WAL mode.
std::string DatabaseFolder(const std::string& strDir)
{
    char szResolved[PATH_MAX];
    if (strDir.empty() || realpath(strDir.c_str(), szResolved) == nullptr)
        return {};
    struct stat st {};
    if (stat(szResolved, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    const std::string strFolder = szResolved;
    if (!IsReadableDatabase(strFolder + "/cert9.db") || !IsReadableDatabase(strFolder + "/key4.db"))
        return {};
    return strFolder;
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

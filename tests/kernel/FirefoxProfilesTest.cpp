// Finding a user's Firefox profiles from the files Firefox keeps them in,
// in scratch home folders laid out as each kind of install lays them out.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kernel/platform/linux/FirefoxProfiles.h"

namespace fs = std::filesystem;

namespace {

class FirefoxProfiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szDir[] = "/tmp/tessera-profiles-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_home = szDir;
    }
    void TearDown() override { fs::remove_all(m_home); }

    // A profile folder holding a certificate database (or not).
    std::string Profile(const std::string& relative, bool bDatabase = true)
    {
        const fs::path dir = m_home / relative;
        fs::create_directories(dir);
        if (bDatabase) {
            std::ofstream(dir / "cert9.db") << "";
            std::ofstream(dir / "key4.db") << "";
        }
        return dir.string();
    }
    void Write(const std::string& relative, const std::string& text)
    {
        fs::create_directories((m_home / relative).parent_path());
        std::ofstream(m_home / relative) << text;
    }
    std::vector<std::string> Found()
    {
        std::vector<std::string> found;
        for (const FirefoxProfile& profile : FindFirefoxProfiles(m_home.string()))
            found.push_back(profile.strName + " " + fs::relative(profile.strDir, m_home).string());
        return found;
    }

    fs::path m_home;
};

} // namespace

TEST_F(FirefoxProfiles, InstallDefaultsComeFirstThenEveryListedProfileOnce)
{
    const std::string base = ".config/mozilla/firefox";
    Profile(base + "/a1.work");
    Profile(base + "/b2.default-esr");
    const std::string elsewhere = Profile("elsewhere/absolute");
    Profile(base + "/c3.empty", false); // no certificate database
    // Listed with Windows line ends and spaces around '=', as hand edits leave them.
    Write(base + "/profiles.ini", "[General]\r\nStartWithLastProfile=1\r\n\r\n"
                                  "[Profile0]\r\nName=work\r\nIsRelative=1\r\nPath=a1.work\r\n\r\n"
                                  "[Profile1]\r\nName = default-esr\r\nIsRelative=1\r\nPath=b2.default-esr\r\n\r\n"
                                  "; a comment\r\n[Profile2]\r\nName=outside\r\nIsRelative=0\r\nPath=" +
                                      elsewhere + "\r\n\r\n"
                                  "[Profile3]\r\nName=empty\r\nIsRelative=1\r\nPath=c3.empty\r\n\r\n"
                                  "[Profile4]\r\nName=gone\r\nIsRelative=1\r\nPath=d4.gone\r\n");
    Write(base + "/installs.ini", "[4F96D1932A9F858E]\nDefault=b2.default-esr\nLocked=1\n");
    EXPECT_EQ(Found(), (std::vector<std::string>{"default-esr " + base + "/b2.default-esr", "work " + base + "/a1.work",
                                                 "outside elsewhere/absolute"}));
}

TEST_F(FirefoxProfiles, EveryPlaceFirefoxKeepsProfilesIsReadInTurn)
{
    // The flatpak's, the snap's, the old place and the new, written in the
    // reverse of the order they are read.
    const char* const places[] = {".var/app/org.mozilla.firefox/.mozilla/firefox", "snap/firefox/common/.mozilla/firefox",
                                  ".mozilla/firefox", ".config/mozilla/firefox"};
    for (const char* place : places) {
        Profile(std::string(place) + "/p.default");
        Write(std::string(place) + "/profiles.ini", "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\n");
    }
    // An older profiles.ini names the install's default in an [Install…]
    // section of its own, and no installs.ini exists; a profile reached
    // twice (here through a symbolic link) counts once.
    Profile(".mozilla/firefox/q.release");
    fs::create_directory_symlink(m_home / ".mozilla/firefox/q.release", m_home / ".mozilla/firefox/q.link");
    Write(".mozilla/firefox/profiles.ini", "[Profile1]\nName=default\nIsRelative=1\nPath=p.default\n"
                                           "[Profile0]\nName=release\nIsRelative=1\nPath=q.link\n"
                                           "[Install9A2B]\nDefault=q.release\n");
    EXPECT_EQ(Found(), (std::vector<std::string>{
                           "default .config/mozilla/firefox/p.default",
                           "release .mozilla/firefox/q.release",
                           "default .mozilla/firefox/p.default",
                           "default snap/firefox/common/.mozilla/firefox/p.default",
                           "default .var/app/org.mozilla.firefox/.mozilla/firefox/p.default",
                       }));
}

TEST_F(FirefoxProfiles, NothingToFindIsNoProfileAtAll)
{
    EXPECT_TRUE(Found().empty());
    EXPECT_TRUE(FindFirefoxProfiles("").empty());
    // A default naming no listed profile keeps its folder's name; a profile
    // that is Chromium's own database is not a second database.
    Profile(".mozilla/firefox/x.unlisted");
    Profile(".pki/nssdb");
    Write(".mozilla/firefox/installs.ini", "[A]\nDefault=x.unlisted\n[B]\nDefault=\n[C]\nDefault=" +
                                               (m_home / ".pki/nssdb").string() + "\n");
    Write(".mozilla/firefox/profiles.ini", "Name=stray line before any section\n[Profile0\nPath=x.unlisted\n");
    EXPECT_EQ(Found(), std::vector<std::string>{"x.unlisted .mozilla/firefox/x.unlisted"});
}

// A sandboxed browser can write its own profile folders: what it plants
// there is skipped, and never blocks or fills the host.
TEST_F(FirefoxProfiles, WhatASandboxedBrowserCouldPlantIsSkippedWithoutWaiting)
{
    const std::string base = ".var/app/org.mozilla.firefox/.mozilla/firefox";
    Profile(base + "/good");
    for (const char* name : {"fifo-key", "linked-cert", "group-writable", "not-mine", "wal"})
        Profile(base + "/" + name);
    // An SQLite header whose read and write versions say WAL.
    std::string wal = std::string("SQLite format 3", 16) + std::string(84, '\0');
    wal[18] = wal[19] = 2;
    Write(base + "/wal/key4.db", wal);
    fs::remove(m_home / base / "fifo-key/key4.db");
    ASSERT_EQ(mkfifo((m_home / base / "fifo-key/key4.db").c_str(), 0600), 0);
    fs::rename(m_home / base / "linked-cert/cert9.db", m_home / base / "linked-cert/real.db");
    fs::create_symlink("real.db", m_home / base / "linked-cert/cert9.db");
    fs::permissions(m_home / base / "group-writable", fs::perms::group_write, fs::perm_options::add);
    // Only root can give a folder away; anyone else leaves that case out.
    const bool bGivenAway = chown((m_home / base / "not-mine").c_str(), 65534, 65534) == 0;
    std::string listed;
    for (const char* name : {"good", "fifo-key", "linked-cert", "group-writable", "not-mine", "wal"})
        listed += std::string("[Profile") + name + "]\nName=" + name + "\nIsRelative=1\nPath=" + name + "\n";
    Write(base + "/profiles.ini", listed);
    if (!bGivenAway)
        fs::remove_all(m_home / base / "not-mine");

    // profiles.ini a FIFO, installs.ini a link to /dev/zero; then one over 1 MiB.
    const std::string snap = "snap/firefox/common/.mozilla/firefox";
    Profile(snap + "/p");
    fs::create_directories(m_home / snap);
    ASSERT_EQ(mkfifo((m_home / snap / "profiles.ini").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", m_home / snap / "installs.ini");
    EXPECT_EQ(Found(), std::vector<std::string>{"good " + base + "/good"});
    fs::remove(m_home / snap / "profiles.ini");
    Write(snap + "/profiles.ini", "[Profile0]\nName=p\nIsRelative=1\nPath=p\n" + std::string(1 << 20, ';'));
    EXPECT_EQ(Found(), std::vector<std::string>{"good " + base + "/good"});
}

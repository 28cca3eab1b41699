// The rpm that cpack makes from a tree of its own configured as
// tools/make-package --rpm does (TESSERA_PACKAGE_FORMAT=RPM, /usr, lib64):
// its files and the folders it owns, its dependencies and scripts, an install
// into a scratch root where the host finds its modules, the erase, rpmlint.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"

using namespace tessera::test;

namespace {

const std::string kScratch = TESSERA_BINARY_DIR "/rpm-test";
const std::string kTree = kScratch + "/tree";
const std::string kHost = "/usr/bin/tessera-host";
const std::string kFirefoxManifest = "/usr/lib64/mozilla/native-messaging-hosts/org.tessera.host.json";
const std::vector<std::string> kEtcManifests = {"/etc/chromium/native-messaging-hosts/org.tessera.host.json",
    "/etc/opt/chrome/native-messaging-hosts/org.tessera.host.json",
    "/etc/opt/edge/native-messaging-hosts/org.tessera.host.json"};

std::vector<std::string> ExpectedFiles()
{
    std::vector<std::string> files = {kHost, "/usr/bin/tessera-doctor", "/usr/lib64/tessera/libtessera-crypto.so",
        "/usr/lib64/tessera/libtessera-ui.so", "/usr/lib64/tessera/libtessera-lttng.so", kFirefoxManifest,
        "/usr/share/man/man1/tessera-host.1.gz", "/usr/share/man/man1/tessera-doctor.1.gz",
        "/usr/share/doc/tessera/copyright", "/usr/share/doc/tessera/changelog.gz", "/usr/share/tessera/demo/index.html"};
    files.insert(files.end(), kEtcManifests.begin(), kEtcManifests.end());
    return files;
}

// Runs a shell command and returns its standard output; nExit gets its status.
std::string Capture(const std::string& strCommand, int* pnExit = nullptr)
{
    const std::string strOut = kScratch + "/capture.out";
    const int nExit = RunShell("(" + strCommand + ") > '" + strOut + "'");
    if (pnExit != nullptr)
        *pnExit = nExit;
    return ReadFileBytes(strOut);
}

std::vector<std::string> Lines(const std::string& strText)
{
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);)
        lines.push_back(strLine);
    return lines;
}

class RpmTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (RunShell("command -v rpmbuild > /dev/null") != 0)
            return;
        // The tree stays between runs, so that a second run builds only what changed.
        RunShell("mkdir -p '" + kTree + "' && rm -rf '" + kScratch + "/root' '" + kTree + "'/tessera-*.rpm");
        const std::string strLog = kScratch + "/build.log";
        const int nExit = RunShell(
            "'" TESSERA_CMAKE "' -S '" TESSERA_SOURCE_DIR "' -B '" + kTree + "' -G '" TESSERA_GENERATOR "'"
            " -DCMAKE_C_COMPILER='" TESSERA_C_COMPILER "' -DCMAKE_CXX_COMPILER='" TESSERA_CXX_COMPILER "'"
            " -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTESSERA_PACKAGE_FORMAT=RPM"
            " -DTESSERA_TESTS=OFF -DTESSERA_BENCH=OFF -DTESSERA_WERROR=" TESSERA_WERROR
            " -DTESSERA_EXTENSION_CRX=" TESSERA_EXTENSION_CRX " > '" + strLog + "' 2>&1"
            " && '" TESSERA_CMAKE "' --build '" + kTree + "' -j \"$(nproc)\" >> '" + strLog + "' 2>&1"
            " && cd '" + kTree + "' && '" TESSERA_CPACK "' >> '" + strLog + "' 2>&1");
        if (nExit == 0)
            s_strRpm = kTree + "/tessera-" TESSERA_VERSION "-1." + Lines(Capture("uname -m")).at(0) + ".rpm";
        s_strLog = ReadFileBytes(strLog);
    }

    void SetUp() override
    {
        if (RunShell("command -v rpmbuild > /dev/null") != 0)
            GTEST_SKIP() << "rpmbuild is not installed (Debian's package rpm has it)";
        ASSERT_FALSE(s_strRpm.empty()) << "configuring, building or cpack failed:\n" << s_strLog;
        ASSERT_EQ(RunShell("test -f '" + s_strRpm + "'"), 0) << "no " << s_strRpm;
    }

    std::string Query(const std::string& strOptions) { return Capture("rpm -qp " + strOptions + " '" + s_strRpm + "'"); }

    static inline std::string s_strRpm;
    static inline std::string s_strLog;
};

TEST_F(RpmTest, HoldsItsFilesInFedorasFoldersAndOwnsNoFolderItShares)
{
    std::map<std::string, std::string> entries; // path -> "perms flags"
    for (const auto& strLine : Lines(Query("--qf '[%{FILENAMES} %{FILEMODES:perms} %{FILEFLAGS:fflags}\\n]'"))) {
        const size_t nSpace = strLine.find(' ');
        entries[strLine.substr(0, nSpace)] = strLine.substr(nSpace + 1);
    }
    for (const auto& strFile : ExpectedFiles()) {
        ASSERT_TRUE(entries.contains(strFile)) << strFile << " not in the rpm";
        EXPECT_EQ(entries[strFile][0], '-') << strFile << ": " << entries[strFile];
    }
    for (const auto& [strPath, strAttributes] : entries) {
        SCOPED_TRACE(strPath + " " + strAttributes);
        EXPECT_TRUE(strPath.starts_with("/usr/") || strPath.starts_with("/etc/"));
        // Not Debian's folders, nor build-id links in /usr/lib.
        EXPECT_FALSE(strPath.starts_with("/usr/lib/") || strPath.starts_with("/usr/local/") ||
                     strPath.find("lintian") != std::string::npos);
        // An administrator's edits to a manifest under /etc survive an upgrade.
        if (strPath.starts_with("/etc/") && strAttributes[0] == '-') {
            EXPECT_TRUE(strAttributes.ends_with(" cn"));
        }
        // The folders it owns are its own or those a browser reads its files
        // from, never their parents (/etc/opt, /usr/lib64/mozilla, ...) nor
        // system folders (/usr/bin, /usr/lib64, /usr/share/man/man1, ...).
        if (strAttributes[0] == 'd') {
            EXPECT_TRUE(strPath == "/usr/lib64/tessera" || strPath == "/usr/share/doc/tessera" ||
                        strPath.starts_with("/usr/share/tessera") || strPath.ends_with("/native-messaging-hosts") ||
                        strPath.ends_with("/extensions"));
        }
    }
}

TEST_F(RpmTest, RequiresFedorasPackagesBySonameOrNameAndRunsNoScripts)
{
    const std::vector<std::string> names = {"nss", "p11-kit", "qt6-qtbase", "qt6-qtbase-gui", "pinentry"};
    const std::vector<std::string> required = Lines(Query("--requires"));
    for (const auto& strName : names)
        EXPECT_NE(std::find(required.begin(), required.end(), strName), required.end()) << strName << " not required";
    // Everything else is a soname the host or a module links (never one of
    // its own modules) or rpm's own: no Debian package names such as
    // libnss3, p11-kit-modules or qt6-qpa-plugins.
    for (const auto& strRequire : required) {
        const bool bSoname = strRequire.find(".so") != std::string::npos && !strRequire.starts_with("libtessera");
        EXPECT_TRUE(bSoname || std::find(names.begin(), names.end(), strRequire) != names.end() ||
                    strRequire.starts_with("rpmlib(") || strRequire.starts_with("rtld(") ||
                    strRequire.starts_with("config(tessera) = "))
            << strRequire;
    }
    EXPECT_EQ(Query("--recommends"), "opensc\n");
    for (const auto& strProvide : Lines(Query("--provides")))
        EXPECT_EQ(strProvide.find(".so"), std::string::npos) << strProvide << ": the modules are the host's alone";
    EXPECT_EQ(Query("--scripts"), "");
}

TEST_F(RpmTest, InstallsIntoAScratchRootWhereTheHostFindsItsModulesAndErasesClean)
{
    const std::string strRoot = kScratch + "/root";
    const std::string strRpm = "rpm --root '" + strRoot + "' --dbpath /rpmdb";
    int nExit = -1;
    const std::string strInstall = Capture("mkdir -p '" + strRoot + "/home' && " + strRpm + " --initdb && " + strRpm +
                                           " -i --nodeps --noscripts --nosignature --ignorearch '" + s_strRpm + "' 2>&1",
                                           &nExit);
    ASSERT_EQ(nExit, 0) << strInstall;
    for (const auto& strFile : ExpectedFiles())
        EXPECT_EQ(RunShell("test -f '" + strRoot + strFile + "'"), 0) << strFile << " not installed";

    cJSON* pManifest = cJSON_Parse(ReadFileBytes(strRoot + kFirefoxManifest).c_str());
    ASSERT_NE(pManifest, nullptr);
    const cJSON* pPath = cJSON_GetObjectItemCaseSensitive(pManifest, "path");
    EXPECT_STREQ(cJSON_IsString(pPath) ? pPath->valuestring : "<missing>", kHost.c_str());
    cJSON_Delete(pManifest);

    // A selection that finds nothing is the crypto module's answer, so the
    // host found it in lib64 (a missing module answers ERROR_MOD_NOT_FOUND).
    WriteFileBytes(kScratch + "/frames.in",
                   Frame(R"({"function":"SelectSignCertificate","params":[{"param":"No Such Holder 7f3a"},{"param":""}]})"));
    const std::string strOutput = Capture("env -i PATH=/usr/bin:/bin LANG=C HOME='" + strRoot + "/home' '" + strRoot +
                                          kHost + "' < '" + kScratch + "/frames.in' 2>&1", &nExit);
    EXPECT_EQ(nExit, 0);
    EXPECT_EQ(SplitFrames(strOutput),
              std::vector<std::string>{R"({"function":"SelectSignCertificate","errorcode":-1610149887,"result":false})"});

    ASSERT_EQ(RunShell(strRpm + " -e tessera 2> /dev/null"), 0);
    EXPECT_EQ(Capture("find '" + strRoot + "' -path '" + strRoot + "/rpmdb' -prune -o -type f -print"), "");
}

TEST_F(RpmTest, RpmlintFindsNoErrors)
{
    if (RunShell("command -v rpmlint > /dev/null") != 0)
        GTEST_SKIP() << "rpmlint is not installed";
    // A package built here is not signed: signing needs the publisher's key.
    WriteFileBytes(kScratch + "/rpmlintrc", "addFilter(\"E: no-signature\")\n");
    const std::string strReport = Capture("rpmlint -r '" + kScratch + "/rpmlintrc' '" + s_strRpm + "' 2>&1");
    EXPECT_NE(strReport.find(" 0 errors, "), std::string::npos) << strReport;
    for (const auto& strLine : Lines(strReport))
        EXPECT_EQ(strLine.find(": E: "), std::string::npos) << strLine;
}

} // namespace

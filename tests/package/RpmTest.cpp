// The rpm that cpack makes from a tree of its own configured as
// tools/make-package --rpm does (TESSERA_PACKAGE_FORMAT=RPM, /usr, lib64):
// its files and folders, its dependencies and scripts, an install into a
// scratch root where the host finds its modules, the erase, rpmlint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"

using namespace tessera::test;

namespace {

const std::string kScratch = TESSERA_BINARY_DIR "/rpm-test";
const std::string kTree = kScratch + "/tree";
const std::string kFirefoxManifest = "/usr/lib64/mozilla/native-messaging-hosts/org.tessera.host.json";
const std::vector<std::string> kFiles = {"/usr/bin/tessera-host", "/usr/bin/tessera-doctor",
    "/usr/lib64/tessera/libtessera-crypto.so", "/usr/lib64/tessera/libtessera-ui.so", kFirefoxManifest,
    "/etc/chromium/native-messaging-hosts/org.tessera.host.json",
    "/etc/opt/chrome/native-messaging-hosts/org.tessera.host.json",
    "/etc/opt/edge/native-messaging-hosts/org.tessera.host.json",
    "/etc/brave/native-messaging-hosts/org.tessera.host.json", "/usr/share/man/man1/tessera-host.1.gz",
    "/usr/share/man/man1/tessera-doctor.1.gz", "/usr/share/doc/tessera/copyright"};

// Runs a shell command and returns its standard output.
std::string Capture(const std::string& strCommand)
{
    RunShell("(" + strCommand + ") > '" + kScratch + "/capture.out'");
    return ReadFileBytes(kScratch + "/capture.out");
}

class RpmTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (RunShell("command -v rpmbuild > /dev/null") != 0)
            return;
        // The tree stays between runs, so that a second run builds only what changed.
        const std::string strLog = kScratch + "/build.log";
        RunShell("mkdir -p '" + kTree + "' && rm -rf '" + kScratch + "/root' '" + kTree + "'/tessera-*.rpm");
        if (RunShell("cmake -S '" TESSERA_SOURCE_DIR "' -B '" + kTree + "' -DCMAKE_BUILD_TYPE=Release"
                     " -DCMAKE_INSTALL_PREFIX=/usr -DTESSERA_PACKAGE_FORMAT=RPM -DTESSERA_TESTS=OFF -DTESSERA_BENCH=OFF"
                     " > '" + strLog + "' 2>&1 && cmake --build '" + kTree + "' -j \"$(nproc)\" >> '" + strLog +
                     "' 2>&1 && cd '" + kTree + "' && cpack >> '" + strLog + "' 2>&1") == 0)
            s_strRpm = Capture("ls '" + kTree + "'/tessera-" TESSERA_VERSION "-1.*.rpm | tr -d '\\n'");
        s_strLog = ReadFileBytes(strLog);
    }

    void SetUp() override
    {
        if (RunShell("command -v rpmbuild > /dev/null") != 0)
            GTEST_SKIP() << "rpmbuild is not installed (Debian's package rpm has it)";
        ASSERT_FALSE(s_strRpm.empty()) << "configuring, building or cpack failed:\n" << s_strLog;
    }

    std::string Query(const std::string& strOptions, const std::string& strFilter = "cat")
    {
        return Capture("rpm -qp " + strOptions + " '" + s_strRpm + "' | " + strFilter);
    }

    static inline std::string s_strRpm;
    static inline std::string s_strLog;
};

TEST_F(RpmTest, HoldsItsFilesInFedorasFoldersWithFedorasDependenciesAndNoScripts)
{
    const std::string strList = kScratch + "/files";
    const std::string strFiles = Query("--qf '[%{FILEMODES:perms} %{FILENAMES} %{FILEFLAGS:fflags}\\n]'", "tee " + strList);
    for (const auto& strFile : kFiles)
        EXPECT_NE(strFiles.find(" " + strFile + " "), std::string::npos) << strFile << " not in the rpm";
    // Its own folders and those a browser reads its files from, never their
    // parents (/etc/opt, /usr/lib64/mozilla) nor system folders (/usr/bin,
    // /usr/share/man/man1); nothing in Debian's /usr/lib, no build-id links.
    // An administrator's edits to a manifest under /etc survive an upgrade.
    EXPECT_EQ(Capture("awk '$1 ~ /^d/ || $2 ~ /^\\/usr\\/lib\\// {print $2}' '" + strList + "' | grep -Ev "
                      "'^/usr/lib64/tessera$|^/usr/share/(doc/)?tessera(/|$)|/(native-messaging-hosts|extensions)$';"
                      "awk '$1 ~ /^-/ && $2 ~ /^\\/etc\\// && $3 != \"cn\"' '" + strList + "'"),
              "");

    // Beside sonames and rpm's own, Fedora's names only: no Debian ones
    // such as libnss3, p11-kit-modules or qt6-qpa-plugins.
    EXPECT_EQ(Query("--requires", "grep -Ev '[.]so|^rpmlib[(]|^rtld[(]|^config[(]tessera[)] = ' | sort"),
              "nss\np11-kit\npinentry\nqt6-qtbase\nqt6-qtbase-gui\n");
    EXPECT_EQ(Query("--recommends"), "opensc\n");
    EXPECT_EQ(Query("--scripts"), "");
}

TEST_F(RpmTest, InstallsIntoAScratchRootWhereTheHostFindsItsModulesAndErasesClean)
{
    const std::string strRoot = kScratch + "/root";
    const std::string strRpm = "rpm --root '" + strRoot + "' --dbpath /rpmdb";
    ASSERT_EQ(RunShell("mkdir -p '" + strRoot + "/home' && " + strRpm + " --initdb && " + strRpm +
                       " -i --nodeps --noscripts --nosignature --ignorearch '" + s_strRpm + "' 2> /dev/null"),
              0);
    for (const auto& strFile : kFiles)
        EXPECT_EQ(RunShell("test -f '" + strRoot + strFile + "'"), 0) << strFile << " not installed";
    EXPECT_EQ(RunShell("grep -q '\"path\": \"/usr/bin/tessera-host\"' '" + strRoot + kFirefoxManifest + "'"), 0);

    // A selection that finds nothing is the crypto module's answer, so the
    // host found it in lib64 (a missing module answers ERROR_MOD_NOT_FOUND).
    WriteFileBytes(kScratch + "/frames.in",
                   Frame(R"({"function":"SelectSignCertificate","params":[{"param":"No Such Holder 7f3a"},{"param":""}]})"));
    EXPECT_EQ(SplitFrames(Capture("env -i PATH=/usr/bin:/bin LANG=C HOME='" + strRoot + "/home' '" + strRoot +
                                  "/usr/bin/tessera-host' < '" + kScratch + "/frames.in' 2>&1")),
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
}

} // namespace

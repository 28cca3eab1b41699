// The Debian package made by cpack from this build tree: what it holds, the
// browser manifests in it, an install into a fresh root where the installed
// host answers, and lintian's verdict.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"

using namespace tessera::test;

namespace {

const std::string kScratch = TESSERA_BINARY_DIR "/package-test";
const std::string kModuleDir = std::string("/usr/") + TESSERA_LIBDIR + "/tessera/";
const std::string kHost = "/usr/bin/tessera-host";

struct Manifest {
    std::string strPath;
    std::string strTemplate;
};
const std::vector<Manifest> kManifests = {
    {"/etc/chromium/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/etc/opt/chrome/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/etc/opt/edge/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/usr/lib/mozilla/native-messaging-hosts/org.tessera.host.json", "firefox.json.in"},
};

std::vector<std::string> ExpectedFiles()
{
    std::vector<std::string> files = {kHost,
        kModuleDir + "libtessera-crypto.so", kModuleDir + "libtessera-ui.so", kModuleDir + "libtessera-lttng.so",
        "/usr/share/tessera/extension/chromium/manifest.json", "/usr/share/tessera/extension/firefox/manifest.json",
        "/usr/share/tessera/demo/index.html", "/usr/share/doc/tessera/copyright", "/usr/share/doc/tessera/changelog.gz"};
    for (const auto& manifest : kManifests)
        files.push_back(manifest.strPath);
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

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
Json ParseJson(const std::string& strText) { return Json(cJSON_Parse(strText.c_str()), cJSON_Delete); }

std::string StringField(const Json& json, const char* pszName)
{
    const cJSON* pItem = cJSON_GetObjectItemCaseSensitive(json.get(), pszName);
    return cJSON_IsString(pItem) ? pItem->valuestring : "<missing>";
}

class PackageTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (TESSERA_SANITIZED)
            return;
        RunShell("rm -rf '" + kScratch + "' && mkdir -p '" + kScratch + "'");
        std::string strArch = Capture("dpkg --print-architecture");
        strArch.erase(strArch.find_last_not_of('\n') + 1);
        const int nExit = RunShell("cpack --config '" TESSERA_BINARY_DIR "/CPackConfig.cmake' -B '" + kScratch +
                                   "' > '" + kScratch + "/cpack.log' 2>&1");
        if (nExit == 0)
            s_strDeb = kScratch + "/tessera_" TESSERA_VERSION "_" + strArch + ".deb";
    }

    void SetUp() override
    {
        if (TESSERA_SANITIZED)
            GTEST_SKIP() << "sanitizer build: not a release package";
        ASSERT_FALSE(s_strDeb.empty()) << "cpack failed:\n" << ReadFileBytes(kScratch + "/cpack.log");
        ASSERT_EQ(RunShell("test -f '" + s_strDeb + "'"), 0) << "no " << s_strDeb;
    }

    static inline std::string s_strDeb;
};

TEST_F(PackageTest, HoldsHostModulesManifestsExtensionAndDemoWithTheirDependencies)
{
    const std::string strList = Capture("dpkg-deb -c '" + s_strDeb + "' | awk '{print $6}'");
    for (const auto& strFile : ExpectedFiles())
        EXPECT_NE(strList.find("." + strFile + "\n"), std::string::npos) << strFile << " not in the package";
    EXPECT_EQ(strList.find("/usr/local/"), std::string::npos) << "the package installs under /usr only";

    // The /etc manifests are conffiles, so an administrator's edits survive
    // an upgrade and a purge removes them.
    EXPECT_EQ(Capture("dpkg-deb --info '" + s_strDeb + "' conffiles"),
              kManifests[0].strPath + "\n" + kManifests[1].strPath + "\n" + kManifests[2].strPath + "\n");

    const std::string strControl = Capture("dpkg-deb -f '" + s_strDeb + "' Package Version Depends");
    EXPECT_NE(strControl.find("Package: tessera\n"), std::string::npos) << strControl;
    EXPECT_NE(strControl.find("Version: " TESSERA_VERSION "\n"), std::string::npos) << strControl;
    // What the host loads by name, and what dpkg-shlibdeps finds in the
    // modules (NSS in the crypto module, Qt in the dialog module).
    for (const char* pszDepend : {"p11-kit-modules", "qt6-qpa-plugins", "libnss3", "libqt6widgets6", "libcjson1"})
        EXPECT_NE(strControl.find(pszDepend), std::string::npos) << pszDepend << " missing from " << strControl;
}

TEST_F(PackageTest, ManifestsAreTheTemplatesNamingTheInstalledHost)
{
    for (const auto& manifest : kManifests) {
        SCOPED_TRACE(manifest.strPath);
        const Json json = ParseJson(Capture("dpkg-deb --fsys-tarfile '" + s_strDeb + "' | tar -xO ." + manifest.strPath));
        ASSERT_TRUE(json) << "not JSON";
        EXPECT_EQ(StringField(json, "name"), "org.tessera.host");
        EXPECT_EQ(StringField(json, "type"), "stdio");
        EXPECT_EQ(StringField(json, "path"), kHost);
        // Everything else, the allowed extension above all, as the template has it.
        Json expected = ParseJson(ReadFileBytes(TESSERA_SOURCE_DIR "/host/manifests/" + manifest.strTemplate));
        ASSERT_TRUE(expected);
        cJSON_ReplaceItemInObjectCaseSensitive(expected.get(), "path", cJSON_CreateString(kHost.c_str()));
        EXPECT_TRUE(cJSON_Compare(json.get(), expected.get(), true)) << cJSON_Print(json.get());
    }
}

TEST_F(PackageTest, InstallsIntoAFreshRootWhereTheHostAnswersAndPurgesClean)
{
    const std::string strRoot = kScratch + "/root";
    // Maintainer scripts run outside the root. A tree configured for
    // /usr/local puts the modules in /usr/lib/tessera, for which CPack adds
    // an ldconfig call: a stand-in keeps it off this machine's cache.
    const std::string strDpkg = "PATH='" + kScratch + "/bin':\"$PATH\" dpkg --root='" + strRoot + "' --log=/dev/null";
    ASSERT_EQ(RunShell("mkdir -p '" + strRoot + "'/var/lib/dpkg/info '" + strRoot + "'/var/lib/dpkg/updates '" +
                       strRoot + "'/home '" + kScratch + "'/bin && touch '" + strRoot + "'/var/lib/dpkg/status '" +
                       strRoot + "'/var/lib/dpkg/available && printf '#!/bin/sh\\n' > '" + kScratch +
                       "'/bin/ldconfig && chmod +x '" + kScratch + "'/bin/ldconfig"),
              0);
    // The root has none of the libraries the package depends on; the host
    // runs on this machine's.
    int nExit = -1;
    const std::string strInstall = Capture(strDpkg + " --force-not-root --force-depends --force-script-chrootless -i '" +
                                           s_strDeb + "' 2>&1", &nExit);
    ASSERT_EQ(nExit, 0) << strInstall;

    const std::string strListed = Capture(strDpkg + " -L tessera");
    for (const auto& strFile : ExpectedFiles()) {
        EXPECT_NE(strListed.find(strFile + "\n"), std::string::npos) << strFile << " not listed";
        EXPECT_EQ(RunShell("test -f '" + strRoot + strFile + "'"), 0) << strFile << " not installed";
    }

    // The host finds its modules beside itself in the root: a selection
    // that finds nothing comes from the crypto module (a missing module
    // would answer ERROR_MOD_NOT_FOUND instead).
    WriteFileBytes(kScratch + "/frames.in",
                   Frame(R"({"function":"GetLastErrorDesc","params":[]})") +
                       Frame(R"({"function":"SelectSignCertificate","params":[{"param":"No Such Holder 7f3a"},{"param":""}]})") +
                       Frame(R"({"function":"GetLastErrorDesc","params":[]})"));
    const std::string strOutput = Capture("env -i PATH=/usr/bin:/bin LANG=C HOME='" + strRoot + "/home' '" + strRoot +
                                              kHost + "' < '" + kScratch + "/frames.in' 2> '" + kScratch + "/host.err'",
                                          &nExit);
    EXPECT_EQ(nExit, 0);
    EXPECT_EQ(ReadFileBytes(kScratch + "/host.err"), "");
    const auto responses = SplitFrames(strOutput);
    ASSERT_TRUE(responses.has_value()) << strOutput;
    EXPECT_EQ(*responses, (std::vector<std::string>{
        R"J({"function":"GetLastErrorDesc","errorcode":0,"result":"The operation completed successfully.\r\n\n(0x00000000)"})J",
        R"({"function":"SelectSignCertificate","errorcode":-1610149887,"result":false})",
        R"J({"function":"GetLastErrorDesc","errorcode":0,"result":"There is no available certificate in store.\n(0xa0071001)"})J"}));

    ASSERT_EQ(RunShell(strDpkg + " --force-not-root --force-script-chrootless --purge tessera > /dev/null"), 0);
    EXPECT_EQ(Capture("find '" + strRoot + "' -path '" + strRoot + "/var/lib/dpkg' -prune -o -type f -print"), "");
}

TEST_F(PackageTest, LintianFindsNoErrors)
{
    if (RunShell("command -v lintian > /dev/null") != 0)
        GTEST_SKIP() << "lintian is not installed";
    const std::string strReport = Capture("lintian '" + s_strDeb + "' 2>&1");
    std::istringstream lines(strReport);
    for (std::string strLine; std::getline(lines, strLine);)
        EXPECT_FALSE(strLine.starts_with("E:")) << strLine;
}

} // namespace

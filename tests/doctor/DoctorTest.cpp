// tessera-doctor as a user runs it: the real binary on the fixture store,
// its --json findings read back, with host manifests of our making in a
// configuration folder of the test's own.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"

using namespace tessera::test;

namespace {

using JsonPtr = std::unique_ptr<cJSON, void (*)(cJSON*)>;

struct DoctorRun {
    int nExit = -1;
    std::string strOutput;
    std::string strStderr; // nothing but a bad command line goes there
    JsonPtr pJson{nullptr, cJSON_Delete};
};

const char* String(const cJSON* pObject, const char* pszName)
{
    const cJSON* pItem = cJSON_GetObjectItemCaseSensitive(pObject, pszName);
    return cJSON_IsString(pItem) ? pItem->valuestring : "";
}

// The entry of a findings array whose member has that value.
const cJSON* Find(const cJSON* pArray, const char* pszName, const std::string& value, const char* pszName2 = nullptr,
                  const std::string& value2 = "")
{
    const cJSON* pItem = nullptr;
    cJSON_ArrayForEach(pItem, pArray)
    {
        if (value == String(pItem, pszName) && (pszName2 == nullptr || value2 == String(pItem, pszName2)))
            return pItem;
    }
    return nullptr;
}

class Doctor : public ::testing::Test {
protected:
    void SetUp() override
    {
        FixtureStore::Get();
        char szDir[] = "/tmp/tessera-doctor-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strConfig = szDir;
    }
    void TearDown() override { RunShell("rm -rf '" + m_strConfig + "'"); }

    // Writes a browser's user manifest naming strHost (as JSON text).
    void WriteManifest(const std::string& strBrowserDir, const std::string& strText)
    {
        const std::string strDir = m_strConfig + "/" + strBrowserDir + "/NativeMessagingHosts";
        ASSERT_EQ(RunShell("mkdir -p '" + strDir + "'"), 0);
        WriteFileBytes(strDir + "/org.tessera.host.json", strText);
    }
    // The Chromium manifest the install writes, naming strHost.
    static std::string Manifest(const std::string& strHost)
    {
        std::string strText = ReadFileBytes(TESSERA_SOURCE_DIR "/host/manifests/chromium.json.in");
        const std::string strMark = "@TESSERA_HOST_PATH@";
        return strText.replace(strText.find(strMark), strMark.size(), strHost);
    }

    DoctorRun Run(const std::string& strArgs, const std::string& strEnv = "")
    {
        DoctorRun run;
        const std::string strCommand = "XDG_CONFIG_HOME='" + m_strConfig + "' PCSCLITE_CSOCK_NAME='" + m_strConfig +
                                       "/no-pcscd' " + strEnv + " '" TESSERA_DOCTOR_PATH "' " + strArgs + " 2>'" + m_strConfig + "/stderr'";
        FILE* pPipe = popen(strCommand.c_str(), "r");
        if (pPipe == nullptr)
            return run;
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, pPipe)) > 0;)
            run.strOutput.append(buf, n);
        const int status = pclose(pPipe);
        run.nExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.pJson.reset(cJSON_Parse(run.strOutput.c_str()));
        run.strStderr = ReadFileBytes(m_strConfig + "/stderr");
        return run;
    }

    std::string m_strConfig;
};

} // namespace

// Every kind of fixture certificate with its reason, as a selection for
// signing decides it: the keyless, the encipherment-only, the authority on
// the token, the copy in a second database, and the expired one, which is
// offered all the same (the page decides about validity).
TEST_F(Doctor, EveryCertificateIsReportedWithTheReasonItIsOrIsNotOffered)
{
    WriteManifest("chromium", Manifest(HostPath()));
    const DoctorRun run = Run("--json");
    ASSERT_TRUE(run.pJson) << run.strOutput;
    EXPECT_EQ(run.strStderr, "");
    const cJSON* pCerts = cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "certificates");
    const struct {
        const char* pszSubject;
        const char* pszKind;
        const char* pszReason;
    } kExpected[] = {
        {"CN=Alice Signer, O=Tessera Test, C=CN", "database", "offered"},
        {"CN=Alice Signer, O=Tessera Test, C=CN", "firefox-profile", "duplicate"},
        {"CN=Carol Encipher, O=Tessera Test, C=CN", "database", "no-signing-usage"},
        {"CN=Nokey Only, O=Tessera Test, C=CN", "database", "no-private-key"},
        {"CN=Tessera Test CA, O=Tessera Test, C=CN", "token", "ca-on-token"},
        {"CN=Hardware Signer, O=Tessera Test, C=CN", "token", "offered"},
        {"CN=Elena Elliptic, O=Tessera Test, C=CN", "database", "offered"},
        {"CN=Erin Expired, O=Tessera Test, C=CN", "database", "offered"},
    };
    for (const auto& expected : kExpected) {
        const cJSON* pCert = Find(pCerts, "subject", expected.pszSubject, "kind", expected.pszKind);
        ASSERT_NE(pCert, nullptr) << expected.pszSubject << " in " << expected.pszKind << "\n" << run.strOutput;
        EXPECT_STREQ(String(pCert, "reason"), expected.pszReason) << expected.pszSubject;
        EXPECT_EQ(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(pCert, "offered")),
                  std::string(expected.pszReason) == "offered")
            << expected.pszSubject;
    }
    EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(
        Find(pCerts, "subject", "CN=Erin Expired, O=Tessera Test, C=CN"), "expired")));
    EXPECT_STREQ(String(Find(pCerts, "subject", "CN=Elena Elliptic, O=Tessera Test, C=CN"), "key"), "EC");

    // The JSON's shape: a verdict and every section, and the exit status
    // agreeing with the verdict.
    EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "ok")));
    EXPECT_GE(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "offered")->valueint, 10);
    for (const char* pszSection : {"browsers", "hosts", "certificates", "modules", "sandboxes"})
        EXPECT_TRUE(cJSON_IsArray(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), pszSection))) << pszSection;
    EXPECT_EQ(run.nExit, 0);

    // With no pcscd to answer, the cards section says so, and the token's
    // module is still listed with its token.
    EXPECT_STREQ(String(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "pcsc"), "status"), "no-service");
    const cJSON* pSoftHsm = Find(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "modules"), "name", "softhsm2");
    ASSERT_NE(pSoftHsm, nullptr) << run.strOutput;
    EXPECT_NE(Find(cJSON_GetObjectItemCaseSensitive(pSoftHsm, "slots"), "token", "Tessera Token"), nullptr);

    // The readable report gives the same findings, in Chinese under a
    // Chinese locale.
    const DoctorRun text = Run("", "LANG=zh_CN.UTF-8");
    EXPECT_NE(text.strOutput.find("CN=Nokey Only, O=Tessera Test, C=CN\n    位于 "), std::string::npos) << text.strOutput;
    EXPECT_NE(text.strOutput.find("不提供：未找到私钥"), std::string::npos);
    EXPECT_NE(text.strOutput.find("PC/SC：pcscd 没有应答"), std::string::npos);
}

// A manifest that is no JSON, one naming a host that does not exist, and
// one whose host ends without answering are each told apart, and with no
// working host the doctor fails; so it does with no certificate at all.
TEST_F(Doctor, BrokenManifestsAndHostsAreToldApartAndFailTheVerdict)
{
    WriteManifest("chromium", "{\"name\": \"org.tessera.host\", ");
    WriteManifest("google-chrome", Manifest(m_strConfig + "/no-such-host"));
    const std::string strSilent = m_strConfig + "/silent-host";
    WriteFileBytes(strSilent, "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(chmod(strSilent.c_str(), 0755), 0);
    WriteManifest("microsoft-edge", Manifest(strSilent));

    const DoctorRun run = Run("--json");
    ASSERT_TRUE(run.pJson) << run.strOutput;
    const cJSON* pBrowsers = cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "browsers");
    // Each browser's folder here is named as its key.
    const auto status = [&](const std::string& strBrowser) {
        const cJSON* pManifests = cJSON_GetObjectItemCaseSensitive(Find(pBrowsers, "browser", strBrowser), "manifests");
        return std::string(String(
            Find(pManifests, "path", m_strConfig + "/" + strBrowser + "/NativeMessagingHosts/org.tessera.host.json"),
            "status"));
    };
    EXPECT_EQ(status("chromium"), "unreadable");
    EXPECT_EQ(status("google-chrome"), "host-not-working");
    EXPECT_EQ(status("microsoft-edge"), "host-not-working");
    const cJSON* pHosts = cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "hosts");
    EXPECT_STREQ(String(Find(pHosts, "path", m_strConfig + "/no-such-host"), "status"), "missing");
    EXPECT_STREQ(String(Find(pHosts, "path", strSilent), "status"), "no-answer");
    if (!cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "browserReachesHost"))) {
        // (A host registered system-wide on this machine would reach it.)
        EXPECT_EQ(run.nExit, 1);
        EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "ok")));
    }

    // A working host, but a home and a token store without certificates.
    WriteManifest("chromium", Manifest(HostPath()));
    ASSERT_EQ(RunShell("mkdir '" + m_strConfig + "/tokens'"), 0);
    WriteFileBytes(m_strConfig + "/softhsm2.conf", "directories.tokendir = " + m_strConfig + "/tokens\n");
    const DoctorRun empty =
        Run("--json", "HOME='" + m_strConfig + "' SOFTHSM2_CONF='" + m_strConfig + "/softhsm2.conf'");
    ASSERT_TRUE(empty.pJson) << empty.strOutput;
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(empty.pJson.get(), "certificates")), 0);
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(empty.pJson.get(), "offered")->valueint, 0);
    EXPECT_EQ(empty.nExit, 1);
    const DoctorRun bad = Run("--no-such-option");
    EXPECT_EQ(bad.nExit, 2);
    EXPECT_NE(bad.strStderr.find("--no-such-option"), std::string::npos);
}

// tools/register-browsers writes a manifest into the user folder of every
// browser the doctor checks, under XDG_CONFIG_HOME where the browser follows
// it, and the doctor finds each of them good, finds the extension in a
// Chromium-family and a Firefox profile and names a Flatpak browser;
// --remove leaves no manifest behind.
TEST_F(Doctor, EveryBrowserRegisteredForTheUserIsFoundGoodAndRemovedAgain)
{
    const std::string strHome = m_strConfig + "/home";
    const std::string strEnv = "HOME='" + strHome + "' XDG_CONFIG_HOME='" + m_strConfig + "' ";
    const std::string strRegister = strEnv + "'" TESSERA_SOURCE_DIR "/tools/register-browsers' ";
    ASSERT_EQ(RunShell("mkdir '" + strHome + "' && " + strRegister + "--host '" + HostPath() + "' > /dev/null"), 0);
    const std::string strBraveProfile = m_strConfig + "/BraveSoftware/Brave-Browser/Profile 1";
    const std::string strFirefoxProfile = strHome + "/.mozilla/firefox/x1.default-esr";
    ASSERT_EQ(RunShell("mkdir -p '" + strBraveProfile + "' '" + strFirefoxProfile + "' '" + strHome +
                       "/.local/share/flatpak/app/com.vivaldi.Vivaldi'"),
              0);
    WriteFileBytes(strBraveProfile + "/Secure Preferences",
                   "{\"extensions\": {\"settings\": {\"" TESSERA_EXTENSION_ID "\": {\"state\": 1}}}}");
    WriteFileBytes(strFirefoxProfile + "/extensions.json", "{\"addons\": [{\"id\": \"extension@tessera.org\"}]}");

    const DoctorRun run = Run("--json", strEnv);
    ASSERT_TRUE(run.pJson) << run.strOutput;
    const cJSON* pBrowsers = cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "browsers");
    const struct {
        const char* pszBrowser;
        std::string strFolder;
    } kExpected[] = {
        {"chromium", m_strConfig + "/chromium"},
        {"google-chrome", m_strConfig + "/google-chrome"},
        {"google-chrome-beta", m_strConfig + "/google-chrome-beta"},
        {"google-chrome-unstable", m_strConfig + "/google-chrome-unstable"},
        {"microsoft-edge", m_strConfig + "/microsoft-edge"},
        {"microsoft-edge-beta", m_strConfig + "/microsoft-edge-beta"},
        {"microsoft-edge-dev", m_strConfig + "/microsoft-edge-dev"},
        {"brave", m_strConfig + "/BraveSoftware/Brave-Browser"},
        {"vivaldi", m_strConfig + "/vivaldi"},
        {"opera", m_strConfig + "/google-chrome"}, // Opera reads Google Chrome's folders
        {"firefox", strHome + "/.mozilla"},
    };
    for (const auto& expected : kExpected) {
        const std::string strDir = expected.strFolder + (std::string(expected.pszBrowser) == "firefox"
                                                             ? "/native-messaging-hosts"
                                                             : "/NativeMessagingHosts");
        const cJSON* pManifests =
            cJSON_GetObjectItemCaseSensitive(Find(pBrowsers, "browser", expected.pszBrowser), "manifests");
        EXPECT_STREQ(String(Find(pManifests, "path", strDir + "/org.tessera.host.json"), "status"), "good")
            << expected.pszBrowser << "\n" << run.strOutput;
    }
    EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "browserReachesHost")));
    const auto profiles = [&](const char* pszBrowser) {
        const cJSON* pExtension =
            cJSON_GetObjectItemCaseSensitive(Find(pBrowsers, "browser", pszBrowser), "extension");
        return cJSON_PrintUnformatted(cJSON_GetObjectItemCaseSensitive(pExtension, "profiles"));
    };
    const auto expect = [&](const char* pszBrowser, const std::string& strExpected) {
        char* pszProfiles = profiles(pszBrowser);
        EXPECT_EQ(std::string(pszProfiles != nullptr ? pszProfiles : ""), strExpected) << pszBrowser;
        cJSON_free(pszProfiles);
    };
    expect("brave", "[\"" + strBraveProfile + "\"]");
    expect("firefox", "[\"" + strFirefoxProfile + "\"]");
    expect("vivaldi", "[]");
    const cJSON* pSandboxes = cJSON_GetObjectItemCaseSensitive(run.pJson.get(), "sandboxes");
    EXPECT_STREQ(String(Find(pSandboxes, "browser", "Vivaldi"), "kind"), "flatpak") << run.strOutput;
    const DoctorRun text = Run("", strEnv + "LANG=C");
    EXPECT_NE(text.strOutput.find("Brave: the extension is in the profile " + strBraveProfile), std::string::npos)
        << text.strOutput;
    EXPECT_NE(text.strOutput.find("Vivaldi is installed as a Flatpak"), std::string::npos);

    ASSERT_EQ(RunShell(strRegister + "--remove > /dev/null"), 0);
    EXPECT_EQ(RunShell("find '" + m_strConfig + "' -name org.tessera.host.json | grep -q ."), 1);
}

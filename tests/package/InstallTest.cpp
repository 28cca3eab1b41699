// The Debian package installed with apt, as a user would: Chromium, started
// on a fresh profile with no extension of its own, installs and enables
// Tessera's packed extension by itself, and a page signs through the
// installed host; a purge then leaves nothing of the package behind.
//
// The install must not change this machine, where other tests run meanwhile
// and Tessera may be installed for real. The test process takes a mount
// namespace of its own and lays overlays on /usr, /etc and /var whose writes
// go to a scratch folder: apt, dpkg, Chromium and the host, all started from
// this process, see the install, and nothing else does. It all goes away with
// the process.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Chromium.h"
#include "tests/support/FixtureStore.h"
#include "tests/support/StaticServer.h"

using namespace tessera::test;

namespace {

const std::string kScratch = TESSERA_BINARY_DIR "/package-install-test";
const char* const kSystemDirs[] = {"/usr", "/etc", "/var"};
constexpr char kAlice[] = "CN=Alice Signer, O=Tessera Test, C=CN";

bool Exists(const std::string& strPath)
{
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0;
}

// A page expression for a call: the response as JSON, or "Error: why".
std::string Settled(const std::string& strCall)
{
    return "(" + strCall + ").then(r => JSON.stringify(r), e => 'Error: ' + e.message)";
}

class InstallTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (TESSERA_SANITIZED)
            GTEST_SKIP() << "sanitizer build: not a release package";
        if (!TESSERA_PACKS_CRX)
            GTEST_SKIP() << "this tree packs no CRX (TESSERA_EXTENSION_CRX is off, or Chromium was missing when it was configured)";
        if (geteuid() != 0)
            GTEST_SKIP() << "installing the package takes root";
        if (ChromiumPath().empty() || RunShell("command -v apt-get > /dev/null") != 0)
            GTEST_SKIP() << "needs Chromium and apt-get";

        char szDir[] = "/tmp/tessera-install-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strDir = szDir;
        // One package for all the tests, each installing it afresh.
        static std::string s_strDeb;
        if (s_strDeb.empty()) {
            ASSERT_EQ(RunShell("rm -rf '" + kScratch + "' && mkdir -p '" + kScratch + "'"), 0);
            ASSERT_EQ(RunShell("cpack --config '" TESSERA_BINARY_DIR "/CPackConfig.cmake' -B '" + kScratch +
                               "' > '" + kScratch + "/cpack.log' 2>&1"),
                      0)
                << ReadFileBytes(kScratch + "/cpack.log");
            s_strDeb = Output("ls '" + kScratch + "'/tessera_" TESSERA_VERSION "_*.deb");
        }
        m_strDeb = s_strDeb;
        ASSERT_FALSE(m_strDeb.empty()) << "cpack made no package";
        FixtureStore::Get();
        const std::string strProblem = PrivateSystem();
        if (!strProblem.empty())
            GTEST_SKIP() << "cannot overlay the system privately: " << strProblem;
    }

    void TearDown() override
    {
        m_browser.reset();
        m_site.reset();
        for (const auto& strDir : m_overlaid)
            umount2(strDir.c_str(), MNT_DETACH);
        if (HasFailure() && !m_strDir.empty())
            std::cerr << "kept for inspection: " << m_strDir << "\n";
        else if (!m_strDir.empty())
            RunShell("rm -rf '" + m_strDir + "'");
    }

    // Moves this process (one thread so far) into a mount namespace of its
    // own, where writes to /usr, /etc and /var go to overlays in the scratch
    // folder. "" when done, else what failed.
    std::string PrivateSystem()
    {
        if (unshare(CLONE_NEWNS) != 0)
            return std::string("unshare: ") + strerror(errno);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("making / private: ") + strerror(errno);
        for (const char* pszDir : kSystemDirs) {
            const std::string strUpper = m_strDir + pszDir + ".upper";
            const std::string strWork = m_strDir + pszDir + ".work";
            if (mkdir(strUpper.c_str(), 0755) != 0 || mkdir(strWork.c_str(), 0755) != 0)
                return std::string("mkdir: ") + strerror(errno);
            const std::string strOptions =
                std::string("lowerdir=") + pszDir + ",upperdir=" + strUpper + ",workdir=" + strWork;
            if (mount("overlay", pszDir, "overlay", 0, strOptions.c_str()) != 0)
                return std::string("overlay on ") + pszDir + ": " + strerror(errno);
            m_overlaid.push_back(pszDir);
        }
        return "";
    }

    std::string Dir(const std::string& name) const { return m_strDir + "/" + name; }

    // A command's standard output, its last newline dropped.
    std::string Output(const std::string& strCommand)
    {
        RunShell("(" + strCommand + ") > '" + Dir("output") + "' 2>&1");
        std::string strOut = ReadFileBytes(Dir("output"));
        if (!strOut.empty() && strOut.back() == '\n')
            strOut.pop_back();
        return strOut;
    }

    // Runs apt-get with the arguments; its exit code, its output in the log.
    int Apt(const std::string& strArgs, const std::string& strLog)
    {
        return RunShell("cd '" + kScratch + "' && DEBIAN_FRONTEND=noninteractive apt-get -y -q " + strArgs + " > '" +
                        Dir(strLog) + "' 2>&1");
    }

    // Installs the package with apt into the overlays.
    void InstallPackage()
    {
        // man-db's trigger would rebuild the whole manual index (only in the
        // overlay, but slowly).
        RunShell("rm -f /var/lib/man-db/auto-update");
        ASSERT_EQ(Apt("install --no-install-recommends '" + m_strDeb + "'", "install.log"), 0)
            << ReadFileBytes(Dir("install.log"));
        EXPECT_EQ(Output("dpkg-query -W -f '${Status} ${Version}' tessera"), "install ok installed " TESSERA_VERSION);
    }

    // Starts Chromium on a fresh profile and no --load-extension, and waits
    // until it has installed the extension from
    // /usr/share/chromium/extensions and started it.
    void StartChromium(bool bExtensionUpdates)
    {
        ChromiumOptions options{Dir("profile"), "", Dir("chromium.log"), {}};
        options.bExtensionUpdates = bExtensionUpdates;
        m_browser = std::make_unique<Chromium>(options);
        ASSERT_TRUE(m_browser->Call("Target.setDiscoverTargets", "{\"discover\":true}")) << m_browser->LastProblem();
        ASSERT_TRUE(m_browser->WaitForServiceWorker("chrome-extension://" TESSERA_EXTENSION_ID "/"))
            << "the extension did not start: " << m_browser->LastProblem() << "\n" << ReadFileBytes(Dir("chromium.log"));
    }

    // Makes a call that raises the consent question, answers it Allow and
    // returns the call's outcome as the page received it.
    std::string CallAllowing(const std::string& strPage, const std::string& strCall)
    {
        const int nCall = m_browser->StartEvaluate(strPage, Settled(strCall));
        const std::string strConsent =
            m_browser->AttachToNewPage("chrome-extension://" TESSERA_EXTENSION_ID "/consent.html");
        EXPECT_FALSE(strConsent.empty()) << "no consent window: " << m_browser->LastProblem();
        // Allow takes a press only once the window has been left alone a moment.
        const std::string strAllow = "document.getElementById('allow')";
        EXPECT_EQ(m_browser->Evaluate(strConsent,
                                      "new Promise(resolve => { const check = () => " + strAllow + ".getAttribute('aria-disabled') === 'false';"
                                      " if (check()) return resolve(true);"
                                      " new MutationObserver((_, o) => { if (check()) { o.disconnect(); resolve(true); } })"
                                      ".observe(document, {subtree: true, attributes: true}); })"),
                  "true")
            << m_browser->LastProblem();
        EXPECT_TRUE(m_browser->PointerButton(strConsent, "#allow", true) &&
                    m_browser->PointerButton(strConsent, "#allow", false))
            << m_browser->LastProblem();
        Json result = m_browser->Await(nCall);
        return m_browser->EvaluationValue(result.get());
    }

    std::string m_strDeb;
    std::string m_strDir;
    std::vector<std::string> m_overlaid;
    std::unique_ptr<StaticServer> m_site;
    std::unique_ptr<Chromium> m_browser;
};

TEST_F(InstallTest, AptInstallsAnExtensionChromiumEnablesByItselfThatSignsAndPurgeRemovesEveryFile)
{
    // What the package holds, and which of it this system has already.
    std::map<std::string, bool> existedBefore;
    std::istringstream paths(Output("dpkg-deb -c '" + m_strDeb + "' | awk '{print $6}'"));
    for (std::string strPath; std::getline(paths, strPath);) {
        strPath.erase(0, strPath.find('/'));
        if (strPath.size() > 1 && strPath.back() == '/')
            strPath.pop_back();
        if (strPath != "/")
            existedBefore[strPath] = Exists(strPath);
    }
    ASSERT_TRUE(existedBefore.count("/usr/share/tessera/extension/tessera.crx"));

    ASSERT_NO_FATAL_FAILURE(InstallPackage());

    // The host comes from the manifest in /etc/chromium/native-messaging-hosts,
    // and the page is the demo the package installed.
    m_site = std::make_unique<StaticServer>("/usr/share/tessera/demo");
    ASSERT_FALSE(m_site->Origin().empty());
    ASSERT_NO_FATAL_FAILURE(StartChromium(false));

    const std::string strPage = m_browser->OpenPage(m_site->Origin() + "/index.html");
    ASSERT_FALSE(strPage.empty()) << m_browser->LastProblem();
    ASSERT_EQ(m_browser->Evaluate(strPage, "typeof window.tessera"), "object");
    const std::string strSelected = CallAllowing(strPage, "tessera.selectSignCertificate('Alice Signer', '')");
    EXPECT_EQ(strSelected, std::string(R"({"function":"SelectSignCertificate","errorcode":0,"result":")") + kAlice +
                               "\"}");
    const std::string strSigned = m_browser->Evaluate(strPage, Settled("tessera.signMessage('abc', 'SHA-256')"));
    Json response(cJSON_Parse(strSigned.c_str()));
    const std::string strSignature = JsonText(response.get(), "result");
    ASSERT_FALSE(strSignature.empty()) << strSigned;
    WriteFileBytes(Dir("signature.der"), DecodeBase64(strSignature));
    EXPECT_EQ(Output("openssl cms -verify -inform DER -binary -purpose any -CAfile '" +
                     FixtureStore::Get().CertPem("test-ca") + "' -in '" + Dir("signature.der") + "' 2>/dev/null"),
              "abc");
    m_browser.reset();

    ASSERT_EQ(Apt("purge tessera", "purge.log"), 0) << ReadFileBytes(Dir("purge.log"));
    EXPECT_NE(Output("dpkg-query -W -f '${Status}' tessera"), "install ok installed");
    // Every file of the package is gone, and every folder it made.
    for (const auto& [strPath, bExisted] : existedBefore) {
        struct stat st;
        if (lstat(strPath.c_str(), &st) != 0)
            continue;
        EXPECT_TRUE(S_ISDIR(st.st_mode) && bExisted) << strPath << " is left after the purge";
    }
}

// The package's update manifest is the installed extension's one update
// channel (without an update URL of its own, the extension would be checked
// at the browser's web store under its id). Chromium, asked to check by the
// Update button of chrome://extensions, passes over a newer CRX lying beside
// the installed one while the manifest offers the installed version, and
// takes it once the manifest offers it.
TEST_F(InstallTest, TheInstalledExtensionTakesUpdatesFromThePackagesUpdateManifestAlone)
{
    ASSERT_NO_FATAL_FAILURE(InstallPackage());
    const std::string strManifest = "/usr/share/tessera/extension/update.xml";
    const std::string strOffered = "file:///usr/share/tessera/extension/tessera.crx' version='" TESSERA_VERSION;
    std::string strUpdates = ReadFileBytes(strManifest);
    const size_t nOffered = strUpdates.find(strOffered);
    ASSERT_NE(nOffered, std::string::npos) << strUpdates;
    // The installed extension, one version on, packed with the package's key.
    const std::string strNewerCrx = "/usr/share/tessera/extension/tessera-99.0.crx";
    ASSERT_EQ(RunShell("cp -r /usr/share/tessera/extension/chromium '" + Dir("newer") + "' && sed -i 's/\"version\": \"" +
                       TESSERA_VERSION "\"/\"version\": \"99.0\"/' '" + Dir("newer") + "/manifest.json' && cmake -DCHROMIUM=" +
                       ChromiumPath() + " -DKEY='" TESSERA_EXTENSION_KEY "' -DDIR='" + Dir("newer") + "' -P '" +
                       TESSERA_SOURCE_DIR "/packaging/PackExtension.cmake' > /dev/null && cp '" + Dir("newer.crx") +
                       "' " + strNewerCrx),
              0);

    ASSERT_NO_FATAL_FAILURE(StartChromium(true));
    const std::string strPage = m_browser->OpenPage("chrome://extensions/");
    const std::string strInfo = "chrome.developerPrivate.getExtensionInfo('" TESSERA_EXTENSION_ID "')";
    EXPECT_EQ(m_browser->Evaluate(strPage, strInfo + ".then(i => i.updateUrl)"), "file://" + strManifest);
    // autoUpdate settles once the check has read the update manifests.
    const std::string strCheck = "chrome.developerPrivate.autoUpdate().then(() => " + strInfo + ")";
    EXPECT_EQ(m_browser->Evaluate(strPage, strCheck + ".then(i => i.version)"), TESSERA_VERSION);

    WriteFileBytes(strManifest, strUpdates.replace(nOffered, strOffered.size(), "file://" + strNewerCrx + "' version='99.0"));
    // The install follows the check (or came before it, after a check of
    // Chromium's own).
    EXPECT_EQ(m_browser->Evaluate(strPage,
                                  "new Promise(resolve => { chrome.developerPrivate.onItemStateChanged.addListener(e => {"
                                  " if (e.extensionInfo?.id === '" TESSERA_EXTENSION_ID "' && e.extensionInfo.version === '99.0')"
                                  " resolve('updated'); }); " +
                                      strCheck + ".then(i => i.version === '99.0' && resolve('updated')); })",
                                  std::chrono::seconds(60)),
              "updated")
        << m_browser->LastProblem();
}

} // namespace

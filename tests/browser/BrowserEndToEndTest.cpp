// Tessera in a real headless browser: the same scenario in Chromium, driven
// over DevTools with the extension loaded unpacked and the host registered
// in its profile, and in Firefox, driven over Marionette with the extension
// installed for the session and the host registered in the browser's own
// HOME; both by tools/register-browsers. The demo page is served from
// 127.0.0.1. Every signature made from the page is checked by the openssl
// command-line tool. The registered "host" is a small wrapper that records
// each start before it runs the real one, so a test can tell how many hosts
// the browser started, and can make the next one exit unanswered. What only
// DevTools can arrange or observe is tested in Chromium alone.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "tests/support/BrowserDriver.h"
#include "tests/support/Chromium.h"
#include "tests/support/Firefox.h"
#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"
#include "tests/support/StaticServer.h"

using namespace tessera::test;

namespace {

constexpr char kOtherHost[] = "tessera.test";
constexpr char kAlice[] = "CN=Alice Signer, O=Tessera Test, C=CN";
constexpr int64_t kNotReady = -1610145791;     // 0xA0072001: nothing selected
constexpr int64_t kBadAlgorithm = -1610145760; // 0xA0072020

struct Response {
    bool bRejected = false;      // the promise rejected: strError says why
    std::string strError;
    std::string strFunction;
    int64_t nErrorCode = 0;
    std::string strResult;       // a string result, or "false"
    std::string strRaw;          // the response as the page received it
};

Response ParseResponse(const std::string& text)
{
    Response response;
    if (text.rfind("Error: ", 0) == 0) {
        response.bRejected = true;
        response.strError = text.substr(7);
        return response;
    }
    response.strRaw = text;
    Json json(cJSON_Parse(text.c_str()));
    response.strFunction = JsonText(json.get(), "function");
    const cJSON* code = cJSON_GetObjectItemCaseSensitive(json.get(), "errorcode");
    response.nErrorCode = cJSON_IsNumber(code) ? static_cast<int64_t>(code->valuedouble) : 1;
    const cJSON* result = cJSON_GetObjectItemCaseSensitive(json.get(), "result");
    response.strResult = cJSON_IsString(result) ? result->valuestring : cJSON_IsFalse(result) ? "false" : "?";
    return response;
}

// A page expression for one call: the response as JSON, or "Error: why".
std::string Settled(const std::string& strCall)
{
    return "(" + strCall + ").then(r => JSON.stringify(r), e => 'Error: ' + e.message)";
}

// A page expression that resolves once the condition (an expression) holds,
// checked again at every change to the document.
std::string WhenTrue(const std::string& strCondition)
{
    return "new Promise(resolve => {"
           "  const check = () => " + strCondition + ";"
           "  if (check()) return resolve(true);"
           "  const observer = new MutationObserver(() => {"
           "    if (check()) { observer.disconnect(); resolve(true); }"
           "  });"
           "  observer.observe(document, {subtree: true, childList: true, attributes: true, characterData: true});"
           "})";
}

// A page expression for an array nested n levels deep.
std::string Nested(int n)
{
    return "((n) => { let v = []; for (let i = 1; i < n; i++) v = [v]; return v; })(" + std::to_string(n) + ")";
}

// Waits for a process that is not ours (a host the browser started) to end.
bool WaitForExit(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return errno == ESRCH;
    pollfd pfd{fd, POLLIN, 0};
    const int nReady = poll(&pfd, 1, static_cast<int>(timeout.count()));
    close(fd);
    return nReady == 1;
}

enum class Browser { Chromium, Firefox };

const char* NameOf(Browser browser)
{
    return browser == Browser::Chromium ? "Chromium" : "Firefox";
}

void PrintTo(Browser browser, std::ostream* out)
{
    *out << NameOf(browser);
}

// One test's browser, sites and host wrapper, whichever the browser.
class EndToEnd : public ::testing::Test {
protected:
    virtual Browser Kind() const = 0;

    void SetUp() override
    {
        const Browser kind = Kind();
        if (kind == Browser::Chromium && ChromiumPath().empty())
            GTEST_SKIP() << "Chromium is not installed (tools/setup-deps installs it)";
        if (kind == Browser::Firefox && FirefoxPath().empty())
            GTEST_SKIP() << "Firefox ESR is not installed (tools/setup-deps installs it)";
        const FixtureStore& store = FixtureStore::Get();
        ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + store.CertPem("alice") + " > " + store.Dir() +
                           "/browser-alice.pub"),
                  0);
        // The host reads the fixture store from the HOME the store set up,
        // whatever HOME the browser itself was given.
        const std::string strStoreHome = std::getenv("HOME");

        char szDir[] = "/tmp/tessera-browser-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strDir = szDir;
        WriteFileBytes(Dir("host-wrapper"), "#!/bin/sh\n"
                                            "echo $$ >> '" + Dir("host-starts") + "'\n"
                                            "HOME='" + strStoreHome + "'\n"
                                            "export HOME\n"
                                            "if [ -e '" + Dir("exit-next-host") + "' ]; then\n"
                                            "  rm -f '" + Dir("exit-next-host") + "'\n"
                                            "  head -c 4 > /dev/null\n"
                                            "  exit 0\n"
                                            "fi\n"
                                            "if [ -e '" + Dir("hold-hosts") + "' ]; then\n"
                                            "  exec cat 3>&1 > /dev/null\n" // its output stays open, unwritten
                                            "fi\n"
                                            "exec '" + std::string(HostPath()) + "' \"$@\"\n");
        ASSERT_EQ(RunShell("chmod +x " + Dir("host-wrapper") + " && mkdir " + Dir("home") + " " + Dir("profile")), 0);
        // Chromium finds the host in its profile, Firefox in its HOME.
        const std::string strRegister = std::string(TESSERA_SOURCE_DIR) + "/tools/register-browsers --host " +
                                        Dir("host-wrapper");
        ASSERT_EQ(RunShell(kind == Browser::Chromium
                               ? strRegister + " --user-data-dir " + Dir("profile") + " > /dev/null"
                               : "HOME=" + Dir("home") + " " + strRegister + " > /dev/null"),
                  0);
        const std::string strDemo = std::string(TESSERA_SOURCE_DIR) + "/examples/demo";
        m_site = std::make_unique<StaticServer>(strDemo);
        m_otherSite = std::make_unique<StaticServer>(strDemo);
        ASSERT_FALSE(m_site->Origin().empty());
        ASSERT_FALSE(m_otherSite->Origin().empty());
        // kOtherHost names this computer too: a site on plain http that is
        // not on a loopback address, as far as the browser can tell.
        BrowserSetup setup{Dir("profile"), Dir("home"), Dir("browser.log"), "", {kOtherHost}};
        if (kind == Browser::Chromium) {
            setup.strExtensionDir = std::string(TESSERA_SOURCE_DIR) + "/extension";
            auto chromium = std::make_unique<ChromiumDriver>(setup);
            m_browser = &chromium->DevTools();
            m_chromium = chromium.get();
            m_driver = std::move(chromium);
        } else {
            setup.strExtensionDir = TESSERA_FIREFOX_EXTENSION_DIR;
            m_driver = std::make_unique<FirefoxDriver>(setup);
        }
        ASSERT_TRUE(m_driver->Ready()) << "the browser or the extension did not start: " << m_driver->LastProblem();
    }

    void TearDown() override
    {
        m_browser = nullptr;
        m_chromium = nullptr;
        m_driver.reset();
        m_site.reset();
        m_otherSite.reset();
        // A failed test leaves the profile and the browser's log behind.
        if (HasFailure())
            std::cerr << "kept for inspection: " << m_strDir << "\n";
        else if (!m_strDir.empty())
            RunShell("rm -rf '" + m_strDir + "'");
    }

    std::string Dir(const std::string& name) const { return m_strDir + "/" + name; }

    std::string OpenDemo(const StaticServer& site)
    {
        const std::string strPage = m_driver->OpenPage(site.Origin() + "/index.html");
        EXPECT_FALSE(strPage.empty()) << m_driver->LastProblem();
        EXPECT_EQ(m_driver->Evaluate(strPage, "typeof window.tessera"), "object");
        return strPage;
    }

    Response Call(const std::string& strPage, const std::string& strCall)
    {
        const std::string text = m_driver->Evaluate(strPage, Settled(strCall));
        EXPECT_FALSE(text.empty()) << strCall << ": " << m_driver->LastProblem();
        return ParseResponse(text);
    }

    // Starts a call without waiting for it (it may wait for a question to
    // be answered): its promise is kept in the page for Finish.
    void Start(const std::string& strPage, const std::string& strCall)
    {
        EXPECT_EQ(m_driver->Evaluate(strPage, "(window.tesseraCall = " + Settled(strCall) + ", 'started')"), "started")
            << m_driver->LastProblem();
    }

    Response Finish(const std::string& strPage)
    {
        const std::string text = m_driver->Evaluate(strPage, "window.tesseraCall");
        EXPECT_FALSE(text.empty()) << m_driver->LastProblem();
        return ParseResponse(text);
    }

    // Makes a call that raises the consent question, answers it with the
    // button given ("allow" or "deny"), and returns the call's outcome.
    Response CallAnswering(const std::string& strPage, const std::string& strCall, const char* pszButton,
                           const std::string& strOrigin)
    {
        Start(strPage, strCall);
        const std::string strConsent = WaitForConsent();
        EXPECT_FALSE(strConsent.empty()) << "no consent window: " << m_driver->LastProblem();
        EXPECT_EQ(m_driver->Evaluate(strConsent, "document.getElementById('origin').textContent"), strOrigin)
            << m_driver->LastProblem();
        Click(strConsent, pszButton);
        return Finish(strPage);
    }

    std::string WaitForConsent() { return m_driver->WaitForNewPage(m_driver->ExtensionUrl("consent.html")); }

    // Clicks a button of the consent window once it takes clicks: Allow only
    // after the window has been left alone for a moment.
    void Click(const std::string& strConsent, const std::string& strButton)
    {
        const std::string button = "document.getElementById('" + strButton + "')";
        EXPECT_EQ(m_driver->Evaluate(strConsent, WhenTrue(button + ".getAttribute('aria-disabled') !== 'true'")), "true")
            << strButton << " stayed disabled: " << m_driver->LastProblem();
        EXPECT_TRUE(m_driver->Click(strConsent, "#" + strButton)) << m_driver->LastProblem();
    }

    // Revokes (or forgets) a site's answer with the toolbar popup, opened as
    // a page, and waits until the popup shows it gone: the background has
    // then forgotten the answer and ended the site's hosts.
    bool RevokeFromPopup(const std::string& strOrigin)
    {
        const std::string popup = m_driver->OpenPage(m_driver->ExtensionUrl("popup.html"));
        if (popup.empty())
            return false;
        const std::string item = "[...document.querySelectorAll('#sites li')].find(li => "
                                 "li.querySelector('.origin').textContent === " + JsonQuote(strOrigin) + ")";
        const std::string done = m_driver->Evaluate(
            popup, WhenTrue(item + " !== undefined") + ".then(() => { " + item + ".querySelector('button').click(); "
                   "return " + WhenTrue(item + " === undefined") + "; }).then(() => 'revoked')");
        m_driver->ClosePage(popup);
        return done == "revoked";
    }

    std::vector<std::string> HostStarts() const
    {
        std::vector<std::string> starts;
        std::istringstream lines(ReadFileBytes(Dir("host-starts")));
        for (std::string line; std::getline(lines, line);)
            starts.push_back(line);
        return starts;
    }

    // Waits until n hosts have started, watching the file they write to.
    bool WaitForHostStarts(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd < 0)
            return false;
        inotify_add_watch(fd, m_strDir.c_str(), IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool bStarted = false;
        while (!(bStarted = HostStarts().size() >= n)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                break;
            char events[4096];
            while (read(fd, events, sizeof events) > 0) {
            }
        }
        close(fd);
        return bStarted;
    }

    static std::string Path(const std::string& name) { return FixtureStore::Get().Dir() + "/" + name; }

    static bool AttachedVerifies(const std::string& base64, const std::string& content)
    {
        WriteFileBytes(Path("browser-p7.der"), DecodeBase64(base64));
        return RunShell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                        FixtureStore::Get().CertPem("test-ca") + " -in " + Path("browser-p7.der") + " -out " +
                        Path("browser-out.bin") + " 2>/dev/null") == 0 &&
               ReadFileBytes(Path("browser-out.bin")) == content;
    }

    static bool DetachedVerifies(const std::string& base64, const std::string& content)
    {
        WriteFileBytes(Path("browser-p7.der"), DecodeBase64(base64));
        WriteFileBytes(Path("browser-content.bin"), content);
        return RunShell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                        FixtureStore::Get().CertPem("test-ca") + " -in " + Path("browser-p7.der") + " -content " +
                        Path("browser-content.bin") + " -out /dev/null 2>/dev/null") == 0;
    }

    static bool Pkcs1Verifies(const std::string& base64, const std::string& content)
    {
        WriteFileBytes(Path("browser-sig.bin"), DecodeBase64(base64));
        WriteFileBytes(Path("browser-content.bin"), content);
        return RunShell("openssl dgst -sha256 -verify " + Path("browser-alice.pub") + " -signature " +
                        Path("browser-sig.bin") + " " + Path("browser-content.bin") + " > /dev/null 2>&1") == 0;
    }

    std::string m_strDir;
    std::unique_ptr<StaticServer> m_site;
    std::unique_ptr<StaticServer> m_otherSite;
    std::unique_ptr<BrowserDriver> m_driver;
    ChromiumDriver* m_chromium = nullptr; // the driver, when the browser is Chromium
    Chromium* m_browser = nullptr;        // its DevTools connection
};

// The scenario every browser goes through.
class BrowserEndToEnd : public EndToEnd, public ::testing::WithParamInterface<Browser> {
protected:
    Browser Kind() const override { return GetParam(); }
};

// What only DevTools can set up or observe.
class ChromiumEndToEnd : public EndToEnd {
protected:
    Browser Kind() const override { return Browser::Chromium; }

    std::string AttachToConsent() { return m_browser->AttachToNewPage(m_chromium->ExtensionUrl("consent.html")); }

    // A session on the extension's background.
    std::string AttachToBackground()
    {
        Json attached = m_browser->Call("Target.attachToTarget",
                                        "{\"targetId\":" + JsonQuote(m_chromium->WorkerTarget()) + ",\"flatten\":true}");
        return JsonText(attached.get(), "sessionId");
    }
};

TEST_P(BrowserEndToEnd, AnAllowedSiteSelectsSignsAndDescribesFromThePage)
{
    const std::string page = OpenDemo(*m_site);
    ASSERT_TRUE(HostStarts().empty()) << "a host started before any request";

    Response selected = CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow",
                                      m_site->Origin());
    ASSERT_FALSE(selected.bRejected) << selected.strError;
    EXPECT_EQ(selected.strFunction, "SelectSignCertificate");
    EXPECT_EQ(selected.nErrorCode, 0);
    EXPECT_EQ(selected.strResult, kAlice);

    Response attached = Call(page, "tessera.signMessage('abc', 'SHA-256')");
    ASSERT_EQ(attached.nErrorCode, 0) << attached.strRaw << attached.strError;
    EXPECT_TRUE(AttachedVerifies(attached.strResult, "abc"));
    Response detached = Call(page, "tessera.signMessageDetached('abc', 'SHA-256')");
    ASSERT_EQ(detached.nErrorCode, 0) << detached.strRaw << detached.strError;
    EXPECT_TRUE(DetachedVerifies(detached.strResult, "abc"));
    Response pkcs1 = Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')");
    ASSERT_EQ(pkcs1.nErrorCode, 0) << pkcs1.strRaw << pkcs1.strError;
    EXPECT_TRUE(Pkcs1Verifies(pkcs1.strResult, "abc"));

    // A deliberate failure, then its description: the page sees the host's
    // JSON member for member.
    Response failed = Call(page, "tessera.signMessage('abc', 'SHA-512')");
    EXPECT_EQ(failed.strRaw, R"({"function":"SignMessage","errorcode":-1610145760,"result":false})");
    Response described = Call(page, "tessera.getLastErrorDesc()");
    EXPECT_EQ(described.strRaw,
              R"J({"function":"GetLastErrorDesc","errorcode":0,"result":"Invalid hash algorithm.\n(0xa0072020)"})J");

    // Calls made at once reach the host one by one, in order: each
    // description follows the call before it.
    const std::string all = m_driver->Evaluate(
        page, "Promise.all([tessera.signMessagePKCS1('abc', 'SHA-256'), tessera.getLastErrorDesc(),"
              " tessera.signMessagePKCS1('abc', 'MD4'), tessera.getLastErrorDesc(),"
              " tessera.request({Function: 'signmessagepkcs1', PARAMS: [{param: 'abc'}, {param: 'SHA-256'}]})])"
              ".then(rs => rs.map(r => r.function + ' ' + r.errorcode + ' ' + String(r.result).slice(0, 23)).join('|'),"
              " e => 'Error: ' + e.message)");
    const std::string signature = pkcs1.strResult.substr(0, 23);
    EXPECT_EQ(all, "SignMessagePKCS1 0 " + signature + "|GetLastErrorDesc 0 The operation completed"
                   "|SignMessagePKCS1 -1610145760 false|GetLastErrorDesc 0 Invalid hash algorithm."
                   "|SignMessagePKCS1 0 " + signature);

    // Requests the host would leave unanswered never reach it, so nothing
    // hangs behind them: a function name with a Kelvin sign for its K, a
    // request without params.
    Response kelvin = Call(page, "tessera.request({function: 'SignMessagePKCS1'.replace('K', '\\u212A'), params: []})");
    EXPECT_TRUE(kelvin.bRejected);
    EXPECT_NE(kelvin.strError.find("unknown function"), std::string::npos) << kelvin.strError;
    Response noParams = Call(page, "tessera.request({function: 'GetLastErrorDesc'})");
    EXPECT_TRUE(noParams.bRejected);
    EXPECT_EQ(Call(page, "tessera.getLastErrorDesc()").nErrorCode, 0);

    // Another tab of the same site has a host, and a selection, of its own.
    const std::string other = OpenDemo(*m_site);
    EXPECT_EQ(Call(other, "tessera.signMessagePKCS1('abc', 'SHA-256')").nErrorCode, kNotReady);
    EXPECT_EQ(HostStarts().size(), 2u);
    EXPECT_EQ(Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')").nErrorCode, 0);

    // A certificate whose only copy is in a Firefox profile signs too.
    EXPECT_EQ(Call(other, "tessera.selectSignCertificate('Fiona Fox', '')").strResult,
              "CN=Fiona Fox, O=Tessera Fox, C=CN");
    Response fromProfile = Call(other, "tessera.signMessage('from a profile', 'SHA-256')");
    ASSERT_EQ(fromProfile.nErrorCode, 0) << fromProfile.strRaw << fromProfile.strError;
    EXPECT_TRUE(AttachedVerifies(fromProfile.strResult, "from a profile"));
}

TEST_P(BrowserEndToEnd, AHostThatExitsIsAnErrorAndTheNextRequestStartsAnother)
{
    const std::string page = OpenDemo(*m_site);
    WriteFileBytes(Dir("exit-next-host"), "");
    Response lost = CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow",
                                  m_site->Origin());
    EXPECT_TRUE(lost.bRejected);
    EXPECT_EQ(lost.strError, "Native host has exited.");

    Response selected = Call(page, "tessera.selectSignCertificate('Alice Signer', '')");
    EXPECT_EQ(selected.strResult, kAlice);
    ASSERT_EQ(HostStarts().size(), 2u);

    // Killed while idle: the next request goes to a new host, which has
    // nothing selected. The browser tells the extension of the exit in its
    // own time; a request that reaches the dead host first fails like the
    // one above, and the one after it starts the new host.
    const pid_t killed = std::stoi(HostStarts().back());
    kill(killed, SIGKILL);
    ASSERT_TRUE(WaitForExit(killed));
    Response after = Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')");
    if (after.bRejected && after.strError == "Native host has exited.")
        after = Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')");
    EXPECT_FALSE(after.bRejected) << after.strError;
    EXPECT_EQ(after.nErrorCode, kNotReady);
    EXPECT_EQ(HostStarts().size(), 3u);
}

// A host that never answers (stuck on a file that never opens, say) is
// ended once the request's bound has passed, and the request fails saying
// so; the next request starts a new host.
TEST_F(ChromiumEndToEnd, AHostThatNeverAnswersIsEndedOnceTheRequestsBoundHasPassed)
{
    // An answer from the background: it has started and is listening.
    const std::string page = OpenDemo(*m_site);
    ASSERT_TRUE(Call(page, "tessera.request({function: 'None', params: []})").bRejected);
    const std::string background = AttachToBackground();
    ASSERT_EQ(m_browser->Evaluate(background, "chrome.storage.session.set({requestBoundMs: 1500}).then(() => 'set')"),
              "set")
        << m_browser->LastProblem();
    WriteFileBytes(Dir("hold-hosts"), "");
    const Response held = CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow",
                                        m_site->Origin());
    EXPECT_TRUE(held.bRejected);
    EXPECT_EQ(held.strError, "Tessera: tessera-host did not answer within 1.5 seconds and was ended.");
    ASSERT_EQ(HostStarts().size(), 1u);
    EXPECT_TRUE(WaitForExit(std::stoi(HostStarts().back())));

    std::remove(Dir("hold-hosts").c_str());
    EXPECT_EQ(Call(page, "tessera.selectSignCertificate('Alice Signer', '')").strResult, kAlice);
    EXPECT_EQ(HostStarts().size(), 2u);
}

// One question window at a time, whatever the site: a second site's
// question waits until the first is answered, and its two requests share it.
TEST_F(ChromiumEndToEnd, OneQuestionIsShownAtATimeWhateverTheSite)
{
    const std::string first = OpenDemo(*m_site);
    const std::string second = OpenDemo(*m_otherSite);
    ASSERT_TRUE(Call(first, "tessera.request({function: 'None', params: []})").bRejected); // background listening
    const std::string background = AttachToBackground();
    ASSERT_EQ(m_browser->Evaluate(background, R"JS(
        (() => {
          // Windows on screen: from made to removed, as the removal's own
          // promise or the event tells first.
          const open = new Set();
          self.mostQuestions = 0;
          const create = chrome.windows.create, remove = chrome.windows.remove;
          chrome.windows.create = async (options) => {
            const made = await create(options);
            open.add(made.id);
            self.mostQuestions = Math.max(self.mostQuestions, open.size);
            return made;
          };
          chrome.windows.remove = (id) => remove(id).finally(() => open.delete(id));
          chrome.windows.onRemoved.addListener((id) => open.delete(id));
          return 'counting';
        })())JS"),
              "counting");
    // The second site asks twice while the first site's question is up.
    Start(first, "tessera.getLastErrorDesc()");
    std::string question = WaitForConsent();
    ASSERT_FALSE(question.empty()) << m_driver->LastProblem();
    EXPECT_EQ(m_driver->Evaluate(second, "(window.one = " + Settled("tessera.getLastErrorDesc()") +
                                             ", window.two = " + Settled("tessera.getLastErrorDesc()") + ", 'sent')"),
              "sent");
    for (const StaticServer* site : {m_site.get(), m_otherSite.get()}) {
        if (site != m_site.get())
            question = WaitForConsent();
        ASSERT_FALSE(question.empty()) << m_driver->LastProblem();
        EXPECT_EQ(m_driver->Evaluate(question, "document.getElementById('origin').textContent"), site->Origin());
        Click(question, "deny");
    }
    const std::string refused = "Error: Tessera: " + m_otherSite->Origin() + " is not allowed to use your certificates.";
    EXPECT_EQ(m_driver->Evaluate(second, "window.one"), refused);
    EXPECT_EQ(m_driver->Evaluate(second, "window.two"), refused);
    EXPECT_EQ(m_browser->Evaluate(background, "self.mostQuestions"), "1");
}

// After a cancelled PIN prompt, a page cannot answer the user's Cancel with
// prompt after prompt: only a request made on the user's own input asks again.
TEST_F(ChromiumEndToEnd, AfterACancelledPinOnlyTheUsersOwnInputAsksAgain)
{
    FixtureStore::Get().SetPinAnswers({"cancel", "pin:1234"});
    const std::string page = OpenDemo(*m_site);
    ASSERT_EQ(CallAnswering(page, "tessera.selectSignCertificate('Hardware Signer', '')", "allow", m_site->Origin())
                  .strResult,
              "CN=Hardware Signer, O=Tessera Test, C=CN");
    // Five at once: the first asks and is cancelled, the rest are refused with it.
    const std::string sign = Settled("tessera.signMessagePKCS1('abc', 'SHA-256')");
    EXPECT_EQ(m_driver->Evaluate(page, "Promise.all([1, 2, 3, 4, 5].map(() => " + sign +
                                           ")).then(rs => [...new Set(rs)].join(' | '))"),
              R"({"function":"SignMessagePKCS1","errorcode":-2146434962,"result":false})");
    EXPECT_EQ(FixtureStore::Get().PinPrompts(), 1u);

    // A click on the page is the user's own: that request asks again.
    EXPECT_EQ(m_driver->Evaluate(page, "(() => { const b = document.createElement('button'); b.id = 'again';"
                                       " b.textContent = 'Sign'; b.onclick = () => { window.again = " + sign +
                                           "; b.dataset.clicked = 'yes'; }; document.body.prepend(b); return 'ready'; })()"),
              "ready");
    // A script's click is not the user's: refused like the rest.
    ASSERT_EQ(m_driver->Evaluate(page, "document.getElementById('again').click(), 'clicked'"), "clicked");
    ASSERT_EQ(m_driver->Evaluate(page, WhenTrue("document.getElementById('again').dataset.clicked === 'yes'")), "true");
    EXPECT_EQ(ParseResponse(m_driver->Evaluate(page, "window.again")).nErrorCode, -2146434962);
    EXPECT_EQ(FixtureStore::Get().PinPrompts(), 1u);
    // The mouse's, as the browser's input takes it.
    ASSERT_EQ(m_driver->Evaluate(page, "delete document.getElementById('again').dataset.clicked, 'ready'"), "ready");
    ASSERT_TRUE(m_driver->Click(page, "#again")) << m_driver->LastProblem();
    ASSERT_EQ(m_driver->Evaluate(page, WhenTrue("document.getElementById('again').dataset.clicked === 'yes'")), "true");
    EXPECT_EQ(ParseResponse(m_driver->Evaluate(page, "window.again")).nErrorCode, 0);
    EXPECT_EQ(FixtureStore::Get().PinPrompts(), 2u);
    // Once the PIN is given, requests need no input again.
    EXPECT_EQ(Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')").nErrorCode, 0);
}

TEST_P(BrowserEndToEnd, ASiteNotAllowedGetsAnErrorAndNoHostStarts)
{
    const std::string page = OpenDemo(*m_site);
    Response denied = CallAnswering(page, "tessera.selectSignCertificate('', '')", "deny", m_site->Origin());
    EXPECT_TRUE(denied.bRejected);
    EXPECT_EQ(denied.strError, "Tessera: " + m_site->Origin() + " is not allowed to use your certificates.");
    // Remembered: no second question.
    Response again = Call(page, "tessera.getLastErrorDesc()");
    EXPECT_EQ(again.strError, denied.strError);

    // A question closed unanswered refuses too, and is not asked again.
    const std::string other = OpenDemo(*m_otherSite);
    Start(other, "tessera.getLastErrorDesc()");
    const std::string consent = WaitForConsent();
    ASSERT_FALSE(consent.empty()) << m_driver->LastProblem();
    ASSERT_TRUE(m_driver->ClosePage(consent)) << m_driver->LastProblem();
    Response dismissed = Finish(other);
    EXPECT_TRUE(dismissed.bRejected);
    EXPECT_NE(dismissed.strError.find("closed unanswered"), std::string::npos) << dismissed.strError;
    EXPECT_TRUE(Call(other, "tessera.getLastErrorDesc()").bRejected);

    EXPECT_TRUE(HostStarts().empty()) << "a host started for a site that was not allowed";
}

TEST_F(ChromiumEndToEnd, AQuestionClosedBeforeTheExtensionKnowsItsWindowStillRefuses)
{
    // An answer from the background: it has started and is listening.
    const std::string page = OpenDemo(*m_site);
    ASSERT_TRUE(Call(page, "tessera.request({function: 'None', params: []})").bRejected);

    // The window goes before the extension learns its id: the browser
    // reports the closing first, and only then says which window it made.
    const std::string background = AttachToBackground();
    ASSERT_FALSE(background.empty()) << m_browser->LastProblem();
    ASSERT_EQ(m_browser->Evaluate(background, R"JS(
        (() => {
          const create = chrome.windows.create;
          chrome.windows.create = async (options) => {
            const made = await create(options);
            await new Promise((resolve) => {
              chrome.windows.onRemoved.addListener(function gone(id) {
                if (id === made.id) {
                  chrome.windows.onRemoved.removeListener(gone);
                  resolve();
                }
              });
              chrome.windows.remove(made.id);
            });
            return made;
          };
          return 'ready';
        })())JS"),
              "ready")
        << m_browser->LastProblem();

    Response dismissed = Call(page, "tessera.selectSignCertificate('', '')");
    EXPECT_TRUE(dismissed.bRejected);
    EXPECT_NE(dismissed.strError.find("closed unanswered"), std::string::npos) << dismissed.strError;
    // The site's later requests are refused at once as well, with no new question.
    EXPECT_EQ(Call(page, "tessera.getLastErrorDesc()").strError, dismissed.strError);
    EXPECT_TRUE(HostStarts().empty());
}

// The question may appear while the user types or clicks in the page, and
// that input goes to its window: it never answers Allow. A press begun on
// Allow once the window has been left alone a moment does, and so does Alt+A.
TEST_P(BrowserEndToEnd, TypingOrClickingThroughTheQuestionNeverAllows)
{
    const std::string armed = "document.getElementById('allow').getAttribute('aria-disabled') === 'false'";
    const std::string pending = "Promise.race([window.tesseraCall.then(() => 'settled'),"
                                " new Promise(resolve => setTimeout(() => resolve('pending'), 0))])";
    // Typing into a form's fields, the first for longer than Allow waits,
    // then Tab and the next; Tab and space may reach Don't allow, which
    // answers at once.
    const std::string typed = OpenDemo(*m_site);
    Start(typed, "tessera.selectSignCertificate('Alice Signer', '')");
    std::string question = WaitForConsent();
    ASSERT_FALSE(question.empty()) << m_driver->LastProblem();
    ASSERT_EQ(m_driver->Evaluate(question, "(window.since = performance.now(), 'ok')"), "ok");
    while (m_driver->Type(question, "jane.doe@example.com") &&
           m_driver->Evaluate(question, "performance.now() - window.since > 1500") == "false") {
    }
    m_driver->Type(question, "\tJane Doe\t");
    if (m_driver->Evaluate(typed, pending) == "pending")
        Click(question, "deny");
    EXPECT_EQ(Finish(typed).strError, "Tessera: " + m_site->Origin() + " is not allowed to use your certificates.");

    // Clicking on Allow's spot again and again, for longer than Allow waits.
    const std::string clicked = OpenDemo(*m_otherSite);
    Start(clicked, "tessera.selectSignCertificate('Alice Signer', '')");
    question = WaitForConsent();
    ASSERT_FALSE(question.empty()) << m_driver->LastProblem();
    ASSERT_EQ(m_driver->Evaluate(question, "(window.since = performance.now(), 'ok')"), "ok");
    do {
        ASSERT_TRUE(m_driver->Click(question, "#allow")) << m_driver->LastProblem();
    } while (m_driver->Evaluate(question, "performance.now() - window.since > 2000") == "false");
    // A press held from before Allow armed, released on it after.
    ASSERT_TRUE(m_driver->PointerButton(question, "#allow", true)) << m_driver->LastProblem();
    ASSERT_EQ(m_driver->Evaluate(question, WhenTrue(armed)), "true");
    ASSERT_TRUE(m_driver->PointerButton(question, "#allow", false)) << m_driver->LastProblem();
    EXPECT_EQ(m_driver->Evaluate(clicked, pending), "pending");

    // Alt+A, once the window has been left alone, allows.
    ASSERT_EQ(m_driver->Evaluate(question, WhenTrue(armed)), "true");
    // The window may close before the keys are released.
    m_driver->Type(question, "a", true);
    EXPECT_EQ(Finish(clicked).strResult, kAlice);
}

TEST_F(ChromiumEndToEnd, AllowIgnoresAClickTimedForTheQuestionsAppearance)
{
    const std::string page = OpenDemo(*m_site);
    Start(page, "tessera.selectSignCertificate('Alice Signer', '')");
    const std::string consent = AttachToConsent();
    ASSERT_FALSE(consent.empty()) << "no consent window: " << m_browser->LastProblem();

    // The question's page again, with a click on Allow at the first moment a
    // page could make one: right after the question's script has run.
    ASSERT_TRUE(m_browser->Call("Page.enable", "{}", consent)) << m_browser->LastProblem();
    ASSERT_TRUE(m_browser->Call("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(R"JS(
        window.earlyClick = new Promise((resolve) => {
          const observer = new MutationObserver(() => {
            const origin = document.getElementById('origin');
            if (origin === null || origin.textContent === '') return;
            observer.disconnect();
            const allow = document.getElementById('allow');
            const state = allow.getAttribute('aria-disabled') === 'true' ? 'disabled' : 'enabled';
            allow.click();
            resolve('clicked Allow while ' + state);
          });
          observer.observe(document, {subtree: true, childList: true, characterData: true});
        });)JS") + "}", consent));
    ASSERT_TRUE(m_browser->Call("Page.reload", "{}", consent));
    ASSERT_TRUE(m_browser->WaitEvent([&](const cJSON* e) {
        return JsonText(e, "method") == "Page.loadEventFired" && JsonText(e, "sessionId") == consent;
    })) << m_browser->LastProblem();
    EXPECT_EQ(m_browser->Evaluate(consent, "window.earlyClick"), "clicked Allow while disabled");

    // The question says what allowing means, in the browser's language.
    const std::string text = "document.body.innerText";
    EXPECT_NE(m_browser->Evaluate(consent, text).find("then sign with no further question"), std::string::npos);
    const std::string agent = m_browser->Evaluate(consent, "navigator.userAgent");
    ASSERT_TRUE(m_browser->Call("Emulation.setUserAgentOverride",
                                "{\"userAgent\":" + JsonQuote(agent) + ",\"acceptLanguage\":\"zh-CN\"}", consent));
    ASSERT_TRUE(m_browser->Call("Page.reload", "{}", consent));
    ASSERT_TRUE(m_browser->WaitEvent([&](const cJSON* e) {
        return JsonText(e, "method") == "Page.loadEventFired" && JsonText(e, "sessionId") == consent;
    })) << m_browser->LastProblem();
    const std::string chinese = m_browser->Evaluate(consent, text);
    EXPECT_NE(chinese.find("此后签名时不会再询问您"), std::string::npos) << chinese;
    EXPECT_NE(chinese.find("允许 (Alt+A)"), std::string::npos) << chinese;

    // The question is still open: Don't allow answers it.
    Click(consent, "deny");
    Response denied = Finish(page);
    EXPECT_TRUE(denied.bRejected);
    EXPECT_EQ(denied.strError, "Tessera: " + m_site->Origin() + " is not allowed to use your certificates.");
    EXPECT_TRUE(HostStarts().empty());
}

TEST_P(BrowserEndToEnd, RevokingASiteEndsItsHostAndAsksAgain)
{
    const std::string page = OpenDemo(*m_site);
    EXPECT_EQ(CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow", m_site->Origin())
                  .strResult,
              kAlice);
    ASSERT_EQ(HostStarts().size(), 1u);

    ASSERT_TRUE(RevokeFromPopup(m_site->Origin())) << m_driver->LastProblem();
    EXPECT_TRUE(WaitForExit(std::stoi(HostStarts().front())));

    // Asked again; the new host knows nothing of the old selection.
    Response after = CallAnswering(page, "tessera.signMessagePKCS1('abc', 'SHA-256')", "allow", m_site->Origin());
    EXPECT_FALSE(after.bRejected) << after.strError;
    EXPECT_EQ(after.nErrorCode, kNotReady);
    EXPECT_EQ(HostStarts().size(), 2u);
}

TEST_F(ChromiumEndToEnd, OnlyTheExtensionItselfRecordsAnAnswer)
{
    // What a content script can do, and so a renderer taken over by a page:
    // write the extension's storage, and message its background as the
    // popup and the question's page do.
    const std::string origin = m_site->Origin();
    const std::string page = OpenDemo(*m_site);
    const int world = m_browser->ContentScriptWorld(page, m_chromium->ExtensionId());
    ASSERT_NE(world, 0) << m_browser->LastProblem();
    const std::string forged = m_browser->Evaluate(
        page,
        "Promise.all(["
        "  chrome.storage.local.set({" + JsonQuote("site:" + origin) + ": {allowed: true, decided: Date.now()}})"
        "    .then(() => 'written', e => e.message),"
        "  chrome.runtime.sendMessage({type: 'site-set', origin: " + JsonQuote(origin) + ", allowed: true})"
        "    .then(r => JSON.stringify(r ?? null), () => 'refused'),"
        "  chrome.runtime.sendMessage({type: 'consent-answer', origin: " + JsonQuote(origin) + ", nonce: '', allowed: true})"
        "    .then(r => JSON.stringify(r ?? null), () => 'refused'),"
        "]).then(r => r.join(' '))",
        std::chrono::seconds(30), world);
    EXPECT_EQ(forged.rfind("written ", 0), 0u) << forged << m_browser->LastProblem();
    EXPECT_EQ(forged.find("ok"), std::string::npos) << forged;

    // Still asked.
    Response denied = CallAnswering(page, "tessera.selectSignCertificate('', '')", "deny", origin);
    EXPECT_TRUE(denied.bRejected);
    EXPECT_EQ(denied.strError, "Tessera: " + origin + " is not allowed to use your certificates.");

    // Answers kept where version 0.1.0 kept them are moved out when the
    // background starts: a refusal stays one, an "allowed" is forgotten.
    const std::string other = m_otherSite->Origin();
    const std::string popup = m_browser->OpenPage(m_chromium->ExtensionUrl("popup.html"));
    ASSERT_FALSE(popup.empty()) << m_browser->LastProblem();
    ASSERT_TRUE(RevokeFromPopup(origin));
    EXPECT_EQ(m_browser->Evaluate(popup, "chrome.storage.local.set({" + JsonQuote("site:" + origin) +
                                             ": {allowed: true, decided: 1}, " + JsonQuote("site:" + other) +
                                             ": {allowed: false, decided: 1}}).then(() => 'written')"),
              "written");
    ASSERT_TRUE(m_browser->Call("ServiceWorker.enable", "{}", popup));
    ASSERT_TRUE(m_browser->Call("ServiceWorker.stopAllWorkers", "{}", popup));
    ASSERT_TRUE(m_browser->WaitEvent([&](const cJSON* e) {
        const cJSON* versions = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(e, "params"), "versions");
        return JsonText(e, "method") == "ServiceWorker.workerVersionUpdated" && JsonText(e, "sessionId") == popup &&
               JsonText(cJSON_GetArrayItem(versions, 0), "runningStatus") == "stopped";
    })) << m_browser->LastProblem();
    EXPECT_EQ(m_browser->Evaluate(popup, "chrome.runtime.sendMessage({type: 'sites-list'})"
                                         ".then(r => r.sites.map(s => s.origin + ' ' + s.allowed).join('|'))"),
              other + " false");
    // New tabs: the old one's port went with the background that stopped.
    EXPECT_EQ(CallAnswering(OpenDemo(*m_site), "tessera.getLastErrorDesc()", "allow", origin).nErrorCode, 0);
    const std::string otherPage = OpenDemo(*m_otherSite);
    EXPECT_EQ(Call(otherPage, "tessera.getLastErrorDesc()").strError,
              "Tessera: " + other + " is not allowed to use your certificates.");
}

TEST_P(BrowserEndToEnd, RequestsTheHostCouldNotReadAreRefusedAndNothingWaitsBehindThem)
{
    const std::string page = OpenDemo(*m_site);
    ASSERT_EQ(CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow", m_site->Origin())
                  .strResult,
              kAlice);

    // The host's parser gives up on the whole text for any of these, and the
    // host then answers nothing: each is refused before it gets there.
    const std::string describe = "tessera.request({function: 'GetLastErrorDesc', params: [], ";
    const struct {
        std::string strCall;
        const char* pszWhy;
    } refused[] = {
        {"tessera.signMessagePKCS1('\\ud800', 'SHA-256')", "surrogate pair"},
        {"tessera.request({function: 'SignMessage', params: [{param: 'abc'}, {param: 'SHA-256'}], ['note\\udc00']: 1})",
         "surrogate pair"},
        {describe + "ignored: {deeper: ['ok', '\\udbff']}})", "surrogate pair"},
        {"tessera.request({function: 'GetLastErrorDesc', params: [], oneShot: '\\ud800'}, {oneShot: true})",
         "surrogate pair"},
        {describe + "ignored: " + Nested(32) + "})", "nested deeper than 32 levels"},
        {describe + "ignored: " + Nested(1001) + "})", "nested deeper than 32 levels"},
        {describe + "ignored: " + Nested(1000000) + "})", "cannot be sent"},
        {describe + "ignored: 1n})", "cannot be sent as JSON"},
        {"(() => { const cycle = {}; cycle.self = cycle; return " + describe + "cycle}); })()", "cannot be sent"},
    };
    for (const auto& request : refused) {
        Response response = Call(page, request.strCall);
        EXPECT_TRUE(response.bRejected) << request.strCall << ": " << response.strRaw;
        EXPECT_EQ(response.strError.rfind("Tessera: ", 0), 0u) << response.strError;
        EXPECT_NE(response.strError.find(request.pszWhy), std::string::npos) << request.strCall << ": " << response.strError;
    }

    // What JSON can carry goes through: 32 levels, and a Date or a Map as
    // JSON writes them.
    EXPECT_EQ(Call(page, describe + "ignored: " + Nested(31) + "})").nErrorCode, 0);
    EXPECT_EQ(Call(page, describe + "when: new Date(0), table: new Map([[1, 2]])})").nErrorCode, 0);
    // Nothing was left waiting in front of the tab's next request, and its
    // host still holds the selection.
    Response signature = Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')");
    EXPECT_EQ(signature.nErrorCode, 0) << signature.strError;
    EXPECT_EQ(HostStarts().size(), 1u);
}

TEST_P(BrowserEndToEnd, OneShotHostsAreLimitedPerTabAndEndWithTheSitesGrant)
{
    const std::string origin = m_site->Origin();
    const std::string page = OpenDemo(*m_site);
    ASSERT_EQ(CallAnswering(page, "tessera.getLastErrorDesc()", "allow", origin).nErrorCode, 0);

    // From here on, every host started reads its requests and never answers.
    WriteFileBytes(Dir("hold-hosts"), "");
    const std::string once = "tessera.request({function: 'GetLastErrorDesc', params: []}, {oneShot: true})";
    const std::string fifth = m_driver->Evaluate(
        page, "(window.held = [1, 2, 3, 4].map(() => " + once + "), " + Settled(once) + ")");
    EXPECT_EQ(fifth, "Error: Tessera: this tab already has 4 one-shot requests waiting for their hosts; "
                     "send more once they are answered.");
    ASSERT_TRUE(WaitForHostStarts(5)) << HostStarts().size() << " hosts";
    // The tab's own host is not one of them.
    EXPECT_EQ(Call(page, "tessera.getLastErrorDesc()").nErrorCode, 0);

    // Taking the site's grant back ends them, and their requests with them.
    ASSERT_TRUE(RevokeFromPopup(origin)) << m_driver->LastProblem();
    EXPECT_EQ(m_driver->Evaluate(page, "Promise.allSettled(window.held).then(rs => "
                                        "[...new Set(rs.map(r => r.status + ': ' + r.reason?.message))].join('|'))"),
              "rejected: Tessera: " + origin + " is no longer allowed to use your certificates.");
    const std::vector<std::string> starts = HostStarts();
    ASSERT_EQ(starts.size(), 5u);
    for (const std::string& pid : starts)
        EXPECT_TRUE(WaitForExit(std::stoi(pid))) << "host " << pid << " is still running";
}

TEST_P(BrowserEndToEnd, PagesWithoutASecureOriginOfTheirOwnAreRefusedWithoutAQuestion)
{
    // A page sandboxed by its response header has an opaque origin, though
    // its address still names the site.
    StaticServer sandboxed(std::string(TESSERA_SOURCE_DIR) + "/examples/demo");
    sandboxed.AddHeader("/index.html", "Content-Security-Policy: sandbox allow-scripts");
    const std::string page = OpenDemo(sandboxed);
    EXPECT_EQ(m_driver->Evaluate(page, "self.origin + ' ' + location.origin"), "null " + sandboxed.Origin());
    Response opaque = Call(page, "tessera.selectSignCertificate('', '')");
    EXPECT_TRUE(opaque.bRejected);
    EXPECT_EQ(opaque.strError, "Tessera: only http and https pages with an origin of their own may use certificates.");

    // Plain http from anywhere but this computer: anyone on the way could
    // pose as the site.
    const std::string insecure = "http://" + std::string(kOtherHost) + ":" + std::to_string(m_site->Port());
    const std::string remote = m_driver->OpenPage(insecure + "/index.html");
    ASSERT_FALSE(remote.empty()) << m_driver->LastProblem();
    Response plain = Call(remote, "tessera.selectSignCertificate('', '')");
    EXPECT_TRUE(plain.bRejected);
    EXPECT_EQ(plain.strError.rfind("Tessera: " + insecure + " is not a secure site", 0), 0u) << plain.strError;

    EXPECT_TRUE(HostStarts().empty());
}

TEST_P(BrowserEndToEnd, ATabThatMovesToAnotherSiteEndsItsHost)
{
    const std::string page = OpenDemo(*m_site);
    EXPECT_EQ(CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow", m_site->Origin())
                  .strResult,
              kAlice);
    ASSERT_EQ(HostStarts().size(), 1u);

    // To the other site: the first one's host ends, though the new site asks nothing.
    ASSERT_TRUE(m_driver->Navigate(page, m_otherSite->Origin() + "/index.html")) << m_driver->LastProblem();
    EXPECT_TRUE(WaitForExit(std::stoi(HostStarts().front()))) << "the first site's host is still running";

    // And back: a new host, with nothing selected.
    ASSERT_TRUE(m_driver->Navigate(page, m_site->Origin() + "/index.html")) << m_driver->LastProblem();
    Response back = Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')");
    EXPECT_FALSE(back.bRejected) << back.strError;
    EXPECT_EQ(back.nErrorCode, kNotReady);
    EXPECT_EQ(HostStarts().size(), 2u);
}

// Named BrowserEndToEnd.<test>/<browser>, with no prefix: filters written
// before there were two browsers (BrowserEndToEnd.AnAllowedSite*) still apply.
INSTANTIATE_TEST_SUITE_P(, BrowserEndToEnd, ::testing::Values(Browser::Chromium, Browser::Firefox),
                         [](const ::testing::TestParamInfo<Browser>& info) { return NameOf(info.param); });

} // namespace

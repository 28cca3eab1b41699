// Tessera in a real headless Chromium: the extension loaded unpacked, the
// host registered in the profile by tools/register-browsers, the demo page
// served from 127.0.0.1. Every signature made from the page is checked by the
// openssl command-line tool. The registered "host" is a small wrapper that
// records each start before it runs the real one, so a test can tell how
// many hosts the browser started, and can make the next one exit unanswered.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/Chromium.h"
#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"
#include "tests/support/StaticServer.h"

using namespace tessera::test;

namespace {

constexpr char kExtensionId[] = "ifmbfnfgabklceccnoeccmjnlffpnblh";
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

class BrowserEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (ChromiumPath().empty())
            return;
        const FixtureStore& store = FixtureStore::Get();
        ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + store.CertPem("alice") + " > " + store.Dir() +
                           "/browser-alice.pub"),
                  0);
    }

    void SetUp() override
    {
        if (ChromiumPath().empty())
            GTEST_SKIP() << "Chromium is not installed (tools/setup-deps installs it)";
        char szDir[] = "/tmp/tessera-browser-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strDir = szDir;
        WriteFileBytes(Dir("host-wrapper"), "#!/bin/sh\n"
                                            "echo $$ >> '" + Dir("host-starts") + "'\n"
                                            "if [ -e '" + Dir("exit-next-host") + "' ]; then\n"
                                            "  rm -f '" + Dir("exit-next-host") + "'\n"
                                            "  head -c 4 > /dev/null\n"
                                            "  exit 0\n"
                                            "fi\n"
                                            "exec '" + std::string(HostPath()) + "' \"$@\"\n");
        ASSERT_EQ(RunShell("chmod +x " + Dir("host-wrapper")), 0);
        ASSERT_EQ(RunShell(std::string(TESSERA_SOURCE_DIR) + "/tools/register-browsers --host " + Dir("host-wrapper") +
                           " --user-data-dir " + Dir("profile") + " > /dev/null"),
                  0);
        const std::string strDemo = std::string(TESSERA_SOURCE_DIR) + "/examples/demo";
        m_site = std::make_unique<StaticServer>(strDemo);
        m_otherSite = std::make_unique<StaticServer>(strDemo);
        ASSERT_FALSE(m_site->Origin().empty());
        ASSERT_FALSE(m_otherSite->Origin().empty());
        m_browser = std::make_unique<Chromium>(ChromiumOptions{
            Dir("profile"), std::string(TESSERA_SOURCE_DIR) + "/extension", Dir("chromium.log")});
        ASSERT_TRUE(m_browser->Call("Target.setDiscoverTargets", "{\"discover\":true}"))
            << m_browser->LastProblem();
        // The extension loads while the browser starts: a page opened before
        // it has loaded gets no content scripts.
        ASSERT_TRUE(m_browser->WaitForServiceWorker(kExtensionId))
            << "the extension did not start: " << m_browser->LastProblem();
    }

    void TearDown() override
    {
        m_browser.reset();
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
        const std::string strPage = m_browser->OpenPage(site.Origin() + "/index.html");
        EXPECT_FALSE(strPage.empty()) << m_browser->LastProblem();
        EXPECT_EQ(m_browser->Evaluate(strPage, "typeof window.tessera"), "object");
        return strPage;
    }

    Response Call(const std::string& strPage, const std::string& strCall)
    {
        const std::string text = m_browser->Evaluate(strPage, Settled(strCall));
        EXPECT_FALSE(text.empty()) << strCall << ": " << m_browser->LastProblem();
        return ParseResponse(text);
    }

    // Makes a call that raises the consent question, answers it with the
    // button given ("allow" or "deny"), and returns the call's outcome.
    Response CallAnswering(const std::string& strPage, const std::string& strCall, const char* pszButton,
                           const std::string& strOrigin)
    {
        const int nCall = m_browser->StartEvaluate(strPage, Settled(strCall));
        const std::string strConsent = m_browser->AttachToNewPage(std::string("chrome-extension://") + kExtensionId +
                                                                  "/consent.html");
        EXPECT_FALSE(strConsent.empty()) << "no consent window: " << m_browser->LastProblem();
        EXPECT_EQ(m_browser->Evaluate(strConsent, "document.getElementById('origin').textContent"), strOrigin)
            << m_browser->LastProblem();
        m_browser->Evaluate(strConsent, std::string("document.getElementById('") + pszButton + "').click(), 'ok'");
        Json result = m_browser->Await(nCall);
        return ParseResponse(m_browser->EvaluationValue(result.get()));
    }

    std::vector<std::string> HostStarts() const
    {
        std::vector<std::string> starts;
        std::istringstream lines(ReadFileBytes(Dir("host-starts")));
        for (std::string line; std::getline(lines, line);)
            starts.push_back(line);
        return starts;
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
    std::unique_ptr<Chromium> m_browser;
};

TEST_F(BrowserEndToEnd, AnAllowedSiteSelectsSignsAndDescribesFromThePage)
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
    const std::string all = m_browser->Evaluate(
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
}

TEST_F(BrowserEndToEnd, AHostThatExitsIsAnErrorAndTheNextRequestStartsAnother)
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
    // nothing selected.
    kill(std::stoi(HostStarts().back()), SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Response after = Call(page, "tessera.signMessagePKCS1('abc', 'SHA-256')");
    EXPECT_FALSE(after.bRejected) << after.strError;
    EXPECT_EQ(after.nErrorCode, kNotReady);
    EXPECT_EQ(HostStarts().size(), 3u);
}

TEST_F(BrowserEndToEnd, ASiteNotAllowedGetsAnErrorAndNoHostStarts)
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
    const int nCall = m_browser->StartEvaluate(other, Settled("tessera.getLastErrorDesc()"));
    Json created = m_browser->WaitEvent([](const cJSON* e) {
        return JsonText(e, "method") == "Target.targetCreated" &&
               JsonText(e, "params.targetInfo.url").find("/consent.html") != std::string::npos;
    });
    ASSERT_TRUE(created) << m_browser->LastProblem();
    m_browser->Call("Target.closeTarget",
                    "{\"targetId\":" + JsonQuote(JsonText(created.get(), "params.targetInfo.targetId")) + "}");
    Json closed = m_browser->Await(nCall);
    Response dismissed = ParseResponse(m_browser->EvaluationValue(closed.get()));
    EXPECT_TRUE(dismissed.bRejected);
    EXPECT_NE(dismissed.strError.find("closed unanswered"), std::string::npos) << dismissed.strError;
    EXPECT_TRUE(Call(other, "tessera.getLastErrorDesc()").bRejected);

    EXPECT_TRUE(HostStarts().empty()) << "a host started for a site that was not allowed";
}

TEST_F(BrowserEndToEnd, RevokingASiteEndsItsHostAndAsksAgain)
{
    const std::string page = OpenDemo(*m_site);
    EXPECT_EQ(CallAnswering(page, "tessera.selectSignCertificate('Alice Signer', '')", "allow", m_site->Origin())
                  .strResult,
              kAlice);

    // The toolbar popup, opened as a page: revoke the only site it lists.
    const std::string popup =
        m_browser->OpenPage(std::string("chrome-extension://") + kExtensionId + "/popup.html");
    ASSERT_FALSE(popup.empty()) << m_browser->LastProblem();
    const std::string listed = m_browser->Evaluate(
        popup, "new Promise(r => setTimeout(r, 200)).then(() => document.querySelector('#sites li').textContent)");
    EXPECT_NE(listed.find(m_site->Origin()), std::string::npos) << listed;
    m_browser->Evaluate(popup, "document.querySelector('#sites li button').click(), 'ok'");

    // Asked again; the new host knows nothing of the old selection.
    Response after = CallAnswering(page, "tessera.signMessagePKCS1('abc', 'SHA-256')", "allow", m_site->Origin());
    EXPECT_FALSE(after.bRejected) << after.strError;
    EXPECT_EQ(after.nErrorCode, kNotReady);
    EXPECT_EQ(HostStarts().size(), 2u);
}

} // namespace

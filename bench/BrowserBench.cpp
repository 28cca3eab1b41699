// Round trips from a web page in headless Chromium and in headless Firefox,
// through the extension, to tessera-host and back: over the tab's persistent
// port, and one-shot (a host started for each request). The floors, measured
// in the same run, are the same requests sent straight to the host over a
// pipe, and a host spawned for each one.
#include <cjson/cJSON.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "BenchProcess.h"
#include "tests/support/BrowserDriver.h"
#include "tests/support/Chromium.h"
#include "tests/support/Firefox.h"
#include "tests/support/FixtureStore.h"
#include "tests/support/StaticServer.h"

using namespace tessera::bench;
using tessera::test::BrowserDriver;
using tessera::test::BrowserSetup;
using tessera::test::Chromium;
using tessera::test::ChromiumDriver;
using tessera::test::ChromiumPath;
using tessera::test::FirefoxDriver;
using tessera::test::FirefoxPath;
using tessera::test::FixtureStore;
using tessera::test::Json;
using tessera::test::JsonQuote;
using tessera::test::JsonText;
using tessera::test::RunShell;
using tessera::test::StaticServer;
using tessera::test::WriteFileBytes;

namespace {

constexpr int kRuns = 50;
const std::string kDescribe = R"({"function":"GetLastErrorDesc","params":[]})";
const std::string kSelect = R"({"function":"SelectSignCertificate","params":[{"param":"Alice Signer"},{"param":""}]})";
const std::string kSign = R"({"function":"SignMessagePKCS1","params":[{"param":"abc"},{"param":"SHA-256"}]})";

// Medians in milliseconds, measured inside the page with performance.now().
const char* const kPageScript = R"JS(
(async () => {
  const median = (a) => { a.sort((x, y) => x - y); return (a[a.length / 2 - 1] + a[a.length / 2]) / 2; };
  const time = async (runs, call) => {
    const times = [];
    for (let i = 0; i < runs; i++) {
      const start = performance.now();
      const response = await call();
      times.push(performance.now() - start);
      if (response.errorcode !== 0) throw new Error(JSON.stringify(response));
    }
    return median(times);
  };
  const describe = { function: 'GetLastErrorDesc', params: [] };
  await tessera.getLastErrorDesc();
  // The relay alone: a request the extension refuses without the host.
  const relay = await time(RUNS, () => tessera.request({ function: 'None', params: [] }).catch(() => ({ errorcode: 0 })));
  const persistent = await time(RUNS, () => tessera.getLastErrorDesc());
  const oneShot = await time(RUNS, () => tessera.request(describe, { oneShot: true }));
  await tessera.selectSignCertificate('Alice Signer', '');
  const sign = await time(RUNS, () => tessera.signMessagePKCS1('abc', 'SHA-256'));
  return JSON.stringify({ relay, persistent, oneShot, sign });
})()
)JS";

// The same from the background, straight to the native port.
const char* const kBackgroundScript = R"JS(
(async () => {
  const median = (a) => { a.sort((x, y) => x - y); return (a[a.length / 2 - 1] + a[a.length / 2]) / 2; };
  const describe = { function: 'GetLastErrorDesc', params: [] };
  const port = chrome.runtime.connectNative('org.tessera.host');
  const next = () => new Promise((resolve) => port.onMessage.addListener(function once(m) {
    port.onMessage.removeListener(once);
    resolve(m);
  }));
  const times = [];
  for (let i = 0; i <= RUNS; i++) {
    const start = performance.now();
    const answer = next();
    port.postMessage(describe);
    await answer;
    if (i > 0) times.push(performance.now() - start);
  }
  port.disconnect();
  const oneShot = [];
  for (let i = 0; i < RUNS; i++) {
    const start = performance.now();
    await chrome.runtime.sendNativeMessage('org.tessera.host', describe);
    oneShot.push(performance.now() - start);
  }
  return JSON.stringify({ persistent: median(times), oneShot: median(oneShot) });
})()
)JS";

// A script with its run count filled in.
std::string WithRuns(std::string script)
{
    for (size_t at; (at = script.find("RUNS")) != std::string::npos;)
        script.replace(at, 4, std::to_string(kRuns));
    return script;
}

double PageMedian(const cJSON* results, const char* pszName)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(results, pszName);
    return cJSON_IsNumber(item) ? item->valuedouble : -1;
}

// The median of kRuns round trips of one request over a host's pipes, in
// microseconds.
double PipeMedian(const Child& host, const std::string& request)
{
    std::vector<double> times;
    std::string body;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        WriteAll(host.in, Frame(request));
        ReadFrame(host.out, body);
        times.push_back(MicrosecondsSince(start));
    }
    return Median(times);
}

// Directories removed however the bench ends.
struct RemovedAtExit {
    std::vector<std::string> dirs;
    ~RemovedAtExit()
    {
        for (const std::string& dir : dirs)
            RunShell("rm -rf '" + dir + "'");
    }
};

// A host spawned for each request, in microseconds.
double SpawnMedian(const std::string& strHost)
{
    std::vector<double> times;
    std::string body;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        Child once = Spawn({strHost});
        WriteAll(once.in, Frame(kDescribe));
        ReadFrame(once.out, body);
        times.push_back(MicrosecondsSince(start));
        Finish(once);
    }
    return Median(times);
}

// The same requests straight to the host: one long-lived pipe, and a host
// spawned for each request, in microseconds.
void DirectMedians(const std::string& strHost, double& persistent, double& oneShot, double& sign)
{
    Child host = Spawn({strHost});
    std::string body;
    WriteAll(host.in, Frame(kDescribe));
    ReadFrame(host.out, body);
    persistent = PipeMedian(host, kDescribe);
    WriteAll(host.in, Frame(kSelect));
    ReadFrame(host.out, body);
    sign = PipeMedian(host, kSign);
    Finish(host);
    oneShot = SpawnMedian(strHost);
}

// The page's medians in one browser, as JSON text ("" on failure). The site
// is allowed from the toolbar popup's page, as its Allow button does.
std::string PageMedians(BrowserDriver& browser, const StaticServer& site)
{
    if (!browser.Ready()) {
        std::fprintf(stderr, "%s did not start: %s\n", browser.Name(), browser.LastProblem().c_str());
        return "";
    }
    const std::string popup = browser.OpenPage(browser.ExtensionUrl("popup.html"));
    browser.Evaluate(popup, "chrome.runtime.sendMessage({type: 'site-set', origin: " + JsonQuote(site.Origin()) +
                                ", allowed: true}).then(() => 'ok')");
    const std::string page = browser.OpenPage(site.Origin() + "/index.html");
    const std::string results = browser.Evaluate(page, WithRuns(kPageScript), std::chrono::minutes(5));
    if (results.empty())
        std::fprintf(stderr, "the page failed in %s: %s\n", browser.Name(), browser.LastProblem().c_str());
    return results;
}

// A row of figures in microseconds, one column per browser; "-" for none.
void Row(const char* pszWhat, double chromium, double firefox)
{
    const auto cell = [](double value) {
        char text[32];
        if (value < 0)
            std::snprintf(text, sizeof text, "%10s", "-");
        else
            std::snprintf(text, sizeof text, "%10.0f", value);
        return std::string(text);
    };
    std::printf("%-52s%s%s\n", pszWhat, cell(chromium).c_str(), cell(firefox).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s TESSERA_HOST SOURCE_DIR BINARY_DIR\n", argv[0]);
        return 2;
    }
    char* pszHost = realpath(argv[1], nullptr); // the browsers start it from a directory of their own
    if (pszHost == nullptr) {
        std::fprintf(stderr, "no host at %s\n", argv[1]);
        return 2;
    }
    const std::string strHost = pszHost;
    free(pszHost);
    const std::string strSource = argv[2];
    const std::string strBinary = argv[3];
    if (ChromiumPath().empty() || FirefoxPath().empty()) {
        std::fprintf(stderr, "Chromium or Firefox ESR is not installed (tools/setup-deps installs both)\n");
        return 1;
    }
    // HOME and the tokens for the host, and for the browsers' hosts: a store
    // of the bench's own unless TESSERA_TEST_STORE names one, removed at the end.
    const bool bOwnStore = std::getenv("TESSERA_TEST_STORE") == nullptr || *std::getenv("TESSERA_TEST_STORE") == '\0';
    RemovedAtExit removed;
    if (bOwnStore)
        removed.dirs.push_back(FixtureStore::Get().Dir());
    const std::string strStoreHome = FixtureStore::Get().Dir() + "/home";

    char szDir[] = "/tmp/tessera-browser-bench-XXXXXX";
    if (mkdtemp(szDir) == nullptr)
        return 1;
    const std::string strDir = szDir;
    removed.dirs.push_back(strDir);
    // Firefox looks for the host in its own HOME; the host is started
    // through a wrapper that puts the store's HOME back (its cost is
    // measured below, beside the host's own).
    const std::string strWrapper = strDir + "/host-wrapper";
    WriteFileBytes(strWrapper, "#!/bin/sh\nHOME='" + strStoreHome + "'\nexport HOME\nexec '" + strHost + "' \"$@\"\n");
    if (RunShell("chmod +x " + strWrapper + " && mkdir " + strDir + "/home " + strDir + "/firefox-profile") != 0 ||
        RunShell(strSource + "/tools/register-browsers --host " + strHost + " --user-data-dir " + strDir +
                 "/profile > /dev/null") != 0 ||
        RunShell("HOME=" + strDir + "/home " + strSource + "/tools/register-browsers --host " + strWrapper +
                 " > /dev/null") != 0)
        return 1;

    double directPersistent = 0, directOneShot = 0, directSign = 0;
    DirectMedians(strHost, directPersistent, directOneShot, directSign);
    const double wrappedOneShot = SpawnMedian(strWrapper);

    std::string strChromium, strNative, strFirefox;
    {
        StaticServer site(strSource + "/examples/demo");
        ChromiumDriver browser(
            BrowserSetup{strDir + "/profile", strStoreHome, strDir + "/chromium.log", strSource + "/extension", {}});
        strChromium = PageMedians(browser, site);

        // The native leg alone, from the extension's background.
        Chromium& devTools = browser.DevTools();
        Json attached = devTools.Call("Target.attachToTarget",
                                      "{\"targetId\":" + JsonQuote(browser.WorkerTarget()) + ",\"flatten\":true}");
        strNative = devTools.Evaluate(JsonText(attached.get(), "sessionId"), WithRuns(kBackgroundScript),
                                      std::chrono::minutes(5));
        if (strNative.empty())
            std::fprintf(stderr, "the background failed: %s\n", devTools.LastProblem().c_str());
    }
    {
        StaticServer site(strSource + "/examples/demo");
        FirefoxDriver browser(BrowserSetup{strDir + "/firefox-profile", strDir + "/home", strDir + "/firefox.log",
                                           strBinary + "/extension-firefox", {}});
        strFirefox = PageMedians(browser, site);
    }
    Json chromium(cJSON_Parse(strChromium.c_str()));
    Json native(cJSON_Parse(strNative.c_str()));
    Json firefox(cJSON_Parse(strFirefox.c_str()));
    if (!chromium || !native || !firefox)
        return 1;

    const auto us = [](const Json& results, const char* pszName) { return PageMedian(results.get(), pszName) * 1000; };
    std::printf("medians of %d round trips, in microseconds             Chromium   Firefox\n", kRuns);
    Row("GetLastErrorDesc from the page, persistent port:", us(chromium, "persistent"), us(firefox, "persistent"));
    Row("GetLastErrorDesc from the page, one-shot:", us(chromium, "oneShot"), us(firefox, "oneShot"));
    Row("SignMessagePKCS1 from the page, persistent port:", us(chromium, "sign"), us(firefox, "sign"));
    Row("page to background and back, no host:", us(chromium, "relay"), us(firefox, "relay"));
    Row("GetLastErrorDesc from the background, native port:", us(native, "persistent"), -1);
    Row("GetLastErrorDesc from the background, one-shot:", us(native, "oneShot"), -1);
    std::printf("GetLastErrorDesc straight over a pipe:              %10.0f\n", directPersistent);
    std::printf("GetLastErrorDesc from a host spawned for it:        %10.0f\n", directOneShot);
    std::printf("the same through Firefox's HOME wrapper:            %10.0f\n", wrappedOneShot);
    std::printf("SignMessagePKCS1 straight over a pipe:              %10.0f\n", directSign);
    for (const auto& [pszName, results, spawn] :
         {std::tuple{"Chromium", &chromium, directOneShot}, std::tuple{"Firefox", &firefox, wrappedOneShot}}) {
        const double persistent = us(*results, "persistent");
        const double oneShot = us(*results, "oneShot");
        std::printf("%s: one-shot / persistent %.1f; browser's share of a persistent round trip %.0f us "
                    "(page / pipe %.1f), of a one-shot %.0f us (page / spawn %.1f)\n",
                    pszName, oneShot / persistent, persistent - directPersistent, persistent / directPersistent,
                    oneShot - spawn, oneShot / spawn);
    }
    return 0;
}

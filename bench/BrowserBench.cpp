// Round trips from a web page in headless Chromium, through the extension,
// to tessera-host and back: over the tab's persistent port, and one-shot
// (a host started for each request). The floors, measured in the same run,
// are the same requests sent straight to the host over a pipe, and a host
// spawned for each one.
#include <cjson/cJSON.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "tests/support/Chromium.h"
#include "tests/support/FixtureStore.h"
#include "tests/support/StaticServer.h"

using namespace tessera::bench;
using tessera::test::Chromium;
using tessera::test::ChromiumOptions;
using tessera::test::ChromiumPath;
using tessera::test::FixtureStore;
using tessera::test::Json;
using tessera::test::JsonQuote;
using tessera::test::JsonText;
using tessera::test::RunShell;
using tessera::test::StaticServer;

namespace {

constexpr int kRuns = 50;
constexpr char kExtensionId[] = "ifmbfnfgabklceccnoeccmjnlffpnblh";
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

    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        Child once = Spawn({strHost});
        WriteAll(once.in, Frame(kDescribe));
        ReadFrame(once.out, body);
        times.push_back(MicrosecondsSince(start));
        Finish(once);
    }
    oneShot = Median(times);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s TESSERA_HOST SOURCE_DIR\n", argv[0]);
        return 2;
    }
    const std::string strHost = argv[1];
    const std::string strSource = argv[2];
    if (ChromiumPath().empty()) {
        std::fprintf(stderr, "Chromium is not installed (tools/setup-deps installs it)\n");
        return 1;
    }
    FixtureStore::Get(); // HOME and the tokens for the host, and for the browser's hosts

    char szDir[] = "/tmp/tessera-browser-bench-XXXXXX";
    if (mkdtemp(szDir) == nullptr)
        return 1;
    const std::string strDir = szDir;
    if (RunShell(strSource + "/tools/register-browsers --host " + strHost + " --user-data-dir " + strDir +
                 "/profile > /dev/null") != 0)
        return 1;

    double directPersistent = 0, directOneShot = 0, directSign = 0;
    DirectMedians(strHost, directPersistent, directOneShot, directSign);

    std::string strResults, strNative;
    {
        StaticServer site(strSource + "/examples/demo");
        Chromium browser(ChromiumOptions{strDir + "/profile", strSource + "/extension", strDir + "/chromium.log", {}});
        browser.Call("Target.setDiscoverTargets", "{\"discover\":true}");
        Json worker = browser.WaitForServiceWorker(kExtensionId);
        // Allow the site from the toolbar popup's page, as its Allow button does.
        const std::string popup = browser.OpenPage(std::string("chrome-extension://") + kExtensionId + "/popup.html");
        browser.Evaluate(popup, "chrome.runtime.sendMessage({type: 'site-set', origin: " + JsonQuote(site.Origin()) +
                                    ", allowed: true}).then(() => 'ok')");
        const std::string page = browser.OpenPage(site.Origin() + "/index.html");
        strResults = browser.Evaluate(page, WithRuns(kPageScript), std::chrono::minutes(5));
        if (strResults.empty())
            std::fprintf(stderr, "the page failed: %s\n", browser.LastProblem().c_str());

        // The native leg alone, from the extension's background.
        Json attached = browser.Call("Target.attachToTarget",
                                     "{\"targetId\":" + JsonQuote(JsonText(worker.get(), "params.targetInfo.targetId")) +
                                         ",\"flatten\":true}");
        strNative = browser.Evaluate(JsonText(attached.get(), "sessionId"), WithRuns(kBackgroundScript),
                                     std::chrono::minutes(5));
        if (strNative.empty())
            std::fprintf(stderr, "the background failed: %s\n", browser.LastProblem().c_str());
    }
    RunShell("rm -rf '" + strDir + "'");
    Json results(cJSON_Parse(strResults.c_str()));
    Json native(cJSON_Parse(strNative.c_str()));
    if (!results || !native)
        return 1;

    const double pagePersistent = PageMedian(results.get(), "persistent") * 1000;
    const double pageOneShot = PageMedian(results.get(), "oneShot") * 1000;
    const double pageSign = PageMedian(results.get(), "sign") * 1000;
    std::printf("medians of %d round trips, in microseconds\n", kRuns);
    std::printf("GetLastErrorDesc from the page, persistent port: %.0f\n", pagePersistent);
    std::printf("GetLastErrorDesc from the page, one-shot:        %.0f\n", pageOneShot);
    std::printf("SignMessagePKCS1 from the page, persistent port: %.0f\n", pageSign);
    std::printf("page to background and back, no host:          %.0f\n", PageMedian(results.get(), "relay") * 1000);
    std::printf("GetLastErrorDesc from the background, native port: %.0f\n", PageMedian(native.get(), "persistent") * 1000);
    std::printf("GetLastErrorDesc from the background, one-shot:    %.0f\n", PageMedian(native.get(), "oneShot") * 1000);
    std::printf("GetLastErrorDesc straight over a pipe:           %.0f\n", directPersistent);
    std::printf("GetLastErrorDesc from a host spawned for it:     %.0f\n", directOneShot);
    std::printf("SignMessagePKCS1 straight over a pipe:           %.0f\n", directSign);
    std::printf("one-shot / persistent, from the page: %.1f\n", pageOneShot / pagePersistent);
    std::printf("browser's share of a persistent round trip: %.0f us (page / pipe %.1f)\n",
                pagePersistent - directPersistent, pagePersistent / directPersistent);
    std::printf("browser's share of a one-shot round trip: %.0f us (page / spawn %.1f)\n",
                pageOneShot - directOneShot, pageOneShot / directOneShot);
    return 0;
}

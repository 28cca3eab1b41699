#include "tests/support/BrowserDriver.h"

#include <cjson/cJSON.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace tessera::test {

namespace {

// The expression that settles once the document at a URL containing the
// text has loaded. Asked of another document (the blank one every tab and
// window starts with), it stays pending until a navigation replaces that
// document, which ends the evaluation with an error: ask again then.
std::string DocumentReady(const std::string& strUrlPart)
{
    return "new Promise(resolve => {"
           "  const ready = () => document.readyState === 'complete' && location.href.includes(" +
           JsonQuote(strUrlPart) + ");"
           "  if (ready()) resolve(true); else addEventListener('load', () => resolve(ready()));"
           "})";
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty())
            text += separator;
        text += part;
    }
    return text;
}

// A JSON array of JSON texts.
std::string JsonArray(const std::vector<std::string>& items)
{
    std::string text(1, '[');
    text += Join(items, ",");
    text += ']';
    return text;
}

ChromiumOptions ChromiumOptionsFor(const BrowserSetup& setup)
{
    ChromiumOptions options{setup.strProfileDir, setup.strExtensionDir, setup.strLog, {}};
    std::vector<std::string> rules;
    for (const std::string& host : setup.localHosts)
        rules.push_back("MAP " + host + " 127.0.0.1");
    if (!rules.empty())
        options.extraArgs.push_back("--host-resolver-rules=" + Join(rules, ", "));
    return options;
}

FirefoxOptions FirefoxOptionsFor(const BrowserSetup& setup)
{
    FirefoxOptions options{setup.strProfileDir, setup.strHome, setup.strLog, {}};
    options.prefs.emplace_back("extensions.webextensions.uuids",
                               JsonQuote(std::string("{\"") + kFirefoxExtensionId + "\":\"" + kFirefoxExtensionUuid +
                                         "\"}"));
    // performance.now() at full precision, for timings taken in pages.
    options.prefs.emplace_back("privacy.reduceTimerPrecision", "false");
    if (!setup.localHosts.empty())
        options.prefs.emplace_back("network.dns.localDomains", JsonQuote(Join(setup.localHosts, ",")));
    return options;
}

// Chrome-context script: Marionette's handle for a browser (a tab), from
// the module Marionette itself keeps them in.
const char kHandleOf[] = R"JS(
const handleOf = (browser) => {
  for (const [path, name] of [
    ['chrome://remote/content/shared/NavigableManager.sys.mjs', 'NavigableManager'],
    ['chrome://remote/content/shared/TabManager.sys.mjs', 'TabManager'],
  ]) {
    try {
      const manager = ChromeUtils.importESModule(path)[name];
      if (typeof manager?.getIdForBrowser === 'function') {
        return manager.getIdForBrowser(browser);
      }
    } catch {}
  }
  return null;
};
)JS";

// Chrome-context script: opens a tab in a normal browser window (not the
// extension's popup windows) on a URL that web content may not load, such
// as the extension's own pages, and returns its handle.
const char kOpenTrusted[] = R"JS(
const [url] = arguments;
let win = null;
for (const candidate of Services.wm.getEnumerator('navigator:browser')) {
  if (candidate.toolbar.visible) {
    win = candidate;
    break;
  }
}
win ??= Services.wm.getMostRecentWindow('navigator:browser');
const tab = win.gBrowser.addTab(url, { triggeringPrincipal: Services.scriptSecurityManager.getSystemPrincipal() });
win.gBrowser.selectedTab = tab;
return handleOf(tab.linkedBrowser);
)JS";

// Chrome-context script: resolves with the handle of a tab, in any window,
// whose URL contains the text and whose handle is not one of those given.
// Rechecked whenever a tab's location or load state changes, and when a new
// browser window has finished starting.
const char kWaitForTab[] = R"JS(
const [part, seen] = arguments;
return new Promise((resolve) => {
  const watched = [];
  let done = false;
  const find = () => {
    for (const win of Services.wm.getEnumerator('navigator:browser')) {
      for (const browser of win.gBrowser?.browsers ?? []) {
        if (browser.currentURI?.spec.includes(part)) {
          const handle = handleOf(browser);
          if (handle !== null && !seen.includes(handle)) {
            return handle;
          }
        }
      }
    }
    return null;
  };
  const progress = {};
  const observer = {};
  const check = () => {
    const handle = done ? null : find();
    if (handle === null) {
      return;
    }
    done = true;
    for (const win of watched) {
      win.gBrowser.removeTabsProgressListener(progress);
    }
    Services.obs.removeObserver(observer, 'browser-delayed-startup-finished');
    resolve(handle);
  };
  const watch = (win) => {
    if (win.gBrowser && !watched.includes(win)) {
      win.gBrowser.addTabsProgressListener(progress);
      watched.push(win);
    }
  };
  progress.onLocationChange = check;
  progress.onStateChange = check;
  observer.observe = (win) => {
    watch(win);
    check();
  };
  Services.obs.addObserver(observer, 'browser-delayed-startup-finished');
  for (const win of Services.wm.getEnumerator('navigator:browser')) {
    watch(win);
  }
  check();
});
)JS";

// How a US keyboard types one ASCII character: the DOM key and code, and
// the Windows virtual-key code DevTools wants.
struct KeyStroke {
    std::string strKey;
    std::string strCode;
    int nVirtualKey = 0;
};

KeyStroke KeyStrokeFor(char c)
{
    if (c == '\t')
        return {"Tab", "Tab", 9};
    if (c == ' ')
        return {" ", "Space", 32};
    if (std::isalpha(static_cast<unsigned char>(c))) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return {std::string(1, c), std::string("Key") + upper, upper};
    }
    if (std::isdigit(static_cast<unsigned char>(c)))
        return {std::string(1, c), std::string("Digit") + c, c};
    if (c == '@')
        return {"@", "Digit2", '2'};
    if (c == '.')
        return {".", "Period", 190};
    return {std::string(1, c), "", 0};
}

} // namespace

// Chromium

ChromiumDriver::ChromiumDriver(const BrowserSetup& setup)
    : m_strExtensionId(ChromiumExtensionId(setup.strExtensionDir + "/manifest.json")),
      m_browser(ChromiumOptionsFor(setup))
{
    if (m_strExtensionId.empty() || !m_browser.Call("Target.setDiscoverTargets", "{\"discover\":true}"))
        return;
    // The extension loads while the browser starts: a page opened before it
    // has loaded gets no content scripts.
    Json worker = m_browser.WaitForServiceWorker(m_strExtensionId);
    m_strWorker = JsonText(worker.get(), "params.targetInfo.targetId");
}

std::string ChromiumDriver::ExtensionUrl(const std::string& strPath) const
{
    return "chrome-extension://" + m_strExtensionId + "/" + strPath;
}

std::string ChromiumDriver::OpenPage(const std::string& strUrl)
{
    return m_browser.OpenPage(strUrl);
}

std::string ChromiumDriver::WaitForNewPage(const std::string& strUrlPart, std::chrono::milliseconds timeout)
{
    return m_browser.AttachToNewPage(strUrlPart, timeout);
}

bool ChromiumDriver::Navigate(const std::string& strPage, const std::string& strUrl)
{
    return m_browser.Navigate(strPage, strUrl);
}

std::string ChromiumDriver::Evaluate(const std::string& strPage, const std::string& strExpression,
                                     std::chrono::milliseconds timeout)
{
    return m_browser.Evaluate(strPage, strExpression, timeout);
}

bool ChromiumDriver::Click(const std::string& strPage, const std::string& strSelector)
{
    return PointerButton(strPage, strSelector, true) && PointerButton(strPage, strSelector, false);
}

bool ChromiumDriver::PointerButton(const std::string& strPage, const std::string& strSelector, bool bDown)
{
    return m_browser.PointerButton(strPage, strSelector, bDown);
}

bool ChromiumDriver::Type(const std::string& strPage, const std::string& strText, bool bAlt)
{
    const std::string modifiers = bAlt ? ",\"modifiers\":1" : "";
    const std::string alt = "\"key\":\"Alt\",\"code\":\"AltLeft\",\"windowsVirtualKeyCode\":18" + modifiers;
    if (bAlt && !m_browser.Call("Input.dispatchKeyEvent", "{\"type\":\"rawKeyDown\"," + alt + "}", strPage))
        return false;
    for (const char c : strText) {
        const KeyStroke stroke = KeyStrokeFor(c);
        const std::string fields = "\"key\":" + JsonQuote(stroke.strKey) + ",\"code\":" + JsonQuote(stroke.strCode) +
                                   ",\"windowsVirtualKeyCode\":" + std::to_string(stroke.nVirtualKey) + modifiers;
        // A key that types a character sends its text with the press; Tab,
        // and any key with Alt held, types none.
        const bool bTypes = !bAlt && c != '\t';
        const std::string down = bTypes ? "{\"type\":\"keyDown\",\"text\":" + JsonQuote(std::string(1, c)) + "," + fields + "}"
                                        : "{\"type\":\"rawKeyDown\"," + fields + "}";
        if (!m_browser.Call("Input.dispatchKeyEvent", down, strPage) ||
            !m_browser.Call("Input.dispatchKeyEvent", "{\"type\":\"keyUp\"," + fields + "}", strPage))
            return false;
    }
    return !bAlt || m_browser.Call("Input.dispatchKeyEvent", "{\"type\":\"keyUp\"," + alt + "}", strPage) != nullptr;
}

bool ChromiumDriver::ClosePage(const std::string& strPage)
{
    const std::string strTarget = TargetOf(strPage);
    return !strTarget.empty() &&
           m_browser.Call("Target.closeTarget", "{\"targetId\":" + JsonQuote(strTarget) + "}") != nullptr;
}

std::string ChromiumDriver::TargetOf(const std::string& strSession)
{
    Json info = m_browser.Call("Target.getTargetInfo", "{}", strSession);
    return JsonText(info.get(), "targetInfo.targetId");
}

// Firefox

FirefoxDriver::FirefoxDriver(const BrowserSetup& setup) : m_browser(FirefoxOptionsFor(setup))
{
    if (!m_browser.Connected())
        return;
    // Installed for this session only, which needs no signature. Content
    // scripts are registered by the time the install is answered.
    Json installed = m_browser.Call("Addon:Install",
                                    "{\"path\":" + JsonQuote(setup.strExtensionDir) + ",\"temporary\":true}");
    if (JsonText(installed.get(), "value") != kFirefoxExtensionId)
        return;
    Json handles = m_browser.Call("WebDriver:GetWindowHandles");
    const cJSON* first = cJSON_GetArrayItem(handles.get(), 0);
    if (!cJSON_IsString(first))
        return;
    m_strCurrent = first->valuestring;
    m_bReady = true;
}

std::string FirefoxDriver::ExtensionUrl(const std::string& strPath) const
{
    return std::string("moz-extension://") + kFirefoxExtensionUuid + "/" + strPath;
}

bool FirefoxDriver::Use(const std::string& strPage)
{
    m_strProblem.clear();
    if (strPage == m_strCurrent)
        return true;
    if (!m_browser.Call("WebDriver:SwitchToWindow", "{\"handle\":" + JsonQuote(strPage) + ",\"focus\":true}")) {
        m_strProblem = m_browser.LastProblem();
        return false;
    }
    m_strCurrent = strPage;
    return true;
}

std::string FirefoxDriver::OpenPage(const std::string& strUrl)
{
    m_strProblem.clear();
    if (strUrl.rfind("moz-extension:", 0) == 0) {
        // Marionette will not navigate to the extension's pages; the browser
        // itself opens them.
        const std::string strArgs = JsonArray({JsonQuote(strUrl)});
        const std::string strPage =
            m_browser.Execute(std::string(kHandleOf) + kOpenTrusted, strArgs, std::chrono::seconds(30), true);
        if (strPage.empty()) {
            m_strProblem = m_browser.LastProblem();
            return "";
        }
        return WaitForDocument(strPage, strUrl) ? strPage : "";
    }
    Json created = m_browser.Call("WebDriver:NewWindow", R"({"type":"tab","focus":true})");
    const std::string strPage = JsonText(created.get(), "handle");
    if (strPage.empty()) {
        m_strProblem = m_browser.LastProblem();
        return "";
    }
    return Navigate(strPage, strUrl) ? strPage : "";
}

std::string FirefoxDriver::WaitForNewPage(const std::string& strUrlPart, std::chrono::milliseconds timeout)
{
    m_strProblem.clear();
    std::vector<std::string> args;
    for (const std::string& page : m_returned)
        args.push_back(JsonQuote(page));
    const std::string strArgs = JsonArray({JsonQuote(strUrlPart), JsonArray(args)});
    const std::string strPage =
        m_browser.Execute(std::string(kHandleOf) + kWaitForTab, strArgs, timeout, true);
    if (strPage.empty()) {
        m_strProblem = "no new page at " + strUrlPart + ": " + m_browser.LastProblem();
        return "";
    }
    m_returned.push_back(strPage);
    return WaitForDocument(strPage, strUrlPart) ? strPage : "";
}

bool FirefoxDriver::WaitForDocument(const std::string& strPage, const std::string& strUrlPart)
{
    if (!Use(strPage))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (m_browser.Execute("return " + DocumentReady(strUrlPart) + ";") == "true")
            return true;
        if (!m_browser.Connected())
            break;
        // Between two documents: a moment before asking the next one.
        usleep(20 * 1000);
    }
    m_strProblem = "the page at " + strUrlPart + " did not load: " + m_browser.LastProblem();
    return false;
}

bool FirefoxDriver::Navigate(const std::string& strPage, const std::string& strUrl)
{
    if (!Use(strPage))
        return false;
    if (!m_browser.Call("WebDriver:Navigate", "{\"url\":" + JsonQuote(strUrl) + "}")) {
        m_strProblem = m_browser.LastProblem();
        return false;
    }
    return true;
}

std::string FirefoxDriver::Evaluate(const std::string& strPage, const std::string& strExpression,
                                    std::chrono::milliseconds timeout)
{
    if (!Use(strPage))
        return "";
    // On a line of its own: the expression may end in a comment.
    const std::string value = m_browser.Execute("return (\n" + strExpression + "\n);", "[]", timeout);
    if (value.empty())
        m_strProblem = m_browser.LastProblem();
    return value;
}

bool FirefoxDriver::Click(const std::string& strPage, const std::string& strSelector)
{
    if (!Use(strPage))
        return false;
    Json found = m_browser.Call("WebDriver:FindElement",
                                "{\"using\":\"css selector\",\"value\":" + JsonQuote(strSelector) + "}");
    const cJSON* reference = cJSON_GetObjectItemCaseSensitive(found.get(), "value");
    const cJSON* element = reference != nullptr ? reference->child : nullptr;
    if (!cJSON_IsString(element)) {
        m_strProblem = "no element " + strSelector + ": " + m_browser.LastProblem();
        return false;
    }
    if (!m_browser.Call("WebDriver:ElementClick", "{\"id\":" + JsonQuote(element->valuestring) + "}")) {
        m_strProblem = m_browser.LastProblem();
        return false;
    }
    return true;
}

bool FirefoxDriver::PerformActions(const std::string& strSourceJson)
{
    if (!m_browser.Call("WebDriver:PerformActions", "{\"actions\":[" + strSourceJson + "]}")) {
        m_strProblem = m_browser.LastProblem();
        return false;
    }
    return true;
}

bool FirefoxDriver::PointerButton(const std::string& strPage, const std::string& strSelector, bool bDown)
{
    if (!Use(strPage))
        return false;
    const std::string at = m_browser.Execute("return " + ElementMiddle(strSelector) + ";");
    if (at.empty()) {
        m_strProblem = "no element " + strSelector + ": " + m_browser.LastProblem();
        return false;
    }
    // The x and y members as WebDriver wants them: whole CSS pixels.
    Json point(cJSON_Parse(("{" + at + "}").c_str()));
    const cJSON* x = cJSON_GetObjectItemCaseSensitive(point.get(), "x");
    const cJSON* y = cJSON_GetObjectItemCaseSensitive(point.get(), "y");
    if (!cJSON_IsNumber(x) || !cJSON_IsNumber(y))
        return false;
    return PerformActions("{\"type\":\"pointer\",\"id\":\"mouse\",\"parameters\":{\"pointerType\":\"mouse\"},"
                          "\"actions\":[{\"type\":\"pointerMove\",\"origin\":\"viewport\",\"x\":" +
                          std::to_string(static_cast<int>(x->valuedouble)) + ",\"y\":" +
                          std::to_string(static_cast<int>(y->valuedouble)) + "},{\"type\":\"" +
                          (bDown ? "pointerDown" : "pointerUp") + "\",\"button\":0}]}");
}

bool FirefoxDriver::Type(const std::string& strPage, const std::string& strText, bool bAlt)
{
    if (!Use(strPage))
        return false;
    // WebDriver's own key values: Tab and Alt are private-use characters.
    const std::string altKey = JsonQuote("\uE00A");
    std::vector<std::string> actions;
    if (bAlt)
        actions.push_back("{\"type\":\"keyDown\",\"value\":" + altKey + "}");
    for (const char c : strText) {
        const std::string value = JsonQuote(c == '\t' ? "\uE004" : std::string(1, c));
        actions.push_back("{\"type\":\"keyDown\",\"value\":" + value + "}");
        actions.push_back("{\"type\":\"keyUp\",\"value\":" + value + "}");
    }
    if (bAlt)
        actions.push_back("{\"type\":\"keyUp\",\"value\":" + altKey + "}");
    return PerformActions("{\"type\":\"key\",\"id\":\"keyboard\",\"actions\":" + JsonArray(actions) + "}");
}

bool FirefoxDriver::ClosePage(const std::string& strPage)
{
    if (!Use(strPage))
        return false;
    m_strCurrent.clear();
    if (!m_browser.Call("WebDriver:CloseWindow")) {
        m_strProblem = m_browser.LastProblem();
        return false;
    }
    return true;
}

} // namespace tessera::test

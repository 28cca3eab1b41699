// What an end-to-end test does with a browser, whichever browser it is:
// open pages, evaluate expressions in them, answer a window the extension
// opened, close windows. Chromium is driven over DevTools, Firefox over
// Marionette; both start with Tessera's extension installed and the
// extension ready to take requests.
//
// Marionette runs one command at a time, so an evaluation always waits for
// its result. A page call that opens a window needing an answer is started
// by storing its promise in a window variable, and awaited once the window
// has been answered.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Chromium.h"
#include "tests/support/Firefox.h"

namespace tessera::test {

class BrowserDriver {
public:
    virtual ~BrowserDriver() = default;

    virtual const char* Name() const = 0;
    // Whether the browser started and the extension is ready.
    virtual bool Ready() const = 0;
    // The URL of a file of the extension ("popup.html").
    virtual std::string ExtensionUrl(const std::string& strPath) const = 0;

    // Opens a tab on the URL (a web page or one of the extension's) and
    // waits for its document to load: a handle for the page, or "".
    virtual std::string OpenPage(const std::string& strUrl) = 0;
    // Waits for a window or tab the browser opened by itself, such as the
    // extension's, whose URL contains the text and that no earlier call has
    // returned, and for its document: a handle for it, or "".
    virtual std::string WaitForNewPage(const std::string& strUrlPart,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(30)) = 0;
    // Loads another URL into a page and waits until it has loaded.
    virtual bool Navigate(const std::string& strPage, const std::string& strUrl) = 0;
    // Evaluates one expression in a page, awaiting a promise: a string as it
    // is, anything else as JSON text; "" on failure.
    virtual std::string Evaluate(const std::string& strPage, const std::string& strExpression,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) = 0;
    // Clicks the element a CSS selector names, as the user's own pointer
    // would: a trusted press and release over its middle.
    virtual bool Click(const std::string& strPage, const std::string& strSelector) = 0;
    // Presses (or releases) the primary pointer button over the middle of
    // the element a selector names, as the user's own input.
    virtual bool PointerButton(const std::string& strPage, const std::string& strSelector, bool bDown) = 0;
    // Types ASCII text as the user's own keystrokes, '\t' being Tab, with
    // Alt held down throughout if bAlt.
    virtual bool Type(const std::string& strPage, const std::string& strText, bool bAlt = false) = 0;
    // Closes a page's tab, or its window when it is the only tab there.
    virtual bool ClosePage(const std::string& strPage) = 0;

    virtual const std::string& LastProblem() const = 0;
};

struct BrowserSetup {
    std::string strProfileDir;   // fresh, empty directory for the profile
    std::string strHome;         // the browser's HOME
    std::string strLog;          // the browser's output
    std::string strExtensionDir; // the extension as this browser loads it
    // Host names that resolve to 127.0.0.1 in this browser.
    std::vector<std::string> localHosts;
};

class ChromiumDriver : public BrowserDriver {
public:
    explicit ChromiumDriver(const BrowserSetup& setup);

    const char* Name() const override { return "Chromium"; }
    bool Ready() const override { return !m_strWorker.empty(); }
    std::string ExtensionUrl(const std::string& strPath) const override;
    std::string OpenPage(const std::string& strUrl) override;
    std::string WaitForNewPage(const std::string& strUrlPart, std::chrono::milliseconds timeout) override;
    bool Navigate(const std::string& strPage, const std::string& strUrl) override;
    std::string Evaluate(const std::string& strPage, const std::string& strExpression,
                         std::chrono::milliseconds timeout) override;
    bool Click(const std::string& strPage, const std::string& strSelector) override;
    bool PointerButton(const std::string& strPage, const std::string& strSelector, bool bDown) override;
    bool Type(const std::string& strPage, const std::string& strText, bool bAlt) override;
    bool ClosePage(const std::string& strPage) override;
    const std::string& LastProblem() const override { return m_browser.LastProblem(); }

    // The DevTools connection, for what only Chromium can be asked. Pages
    // are DevTools sessions.
    Chromium& DevTools() { return m_browser; }
    const std::string& ExtensionId() const { return m_strExtensionId; }
    // The extension's service worker, as a DevTools target.
    const std::string& WorkerTarget() const { return m_strWorker; }
    std::string TargetOf(const std::string& strSession);

private:
    std::string m_strExtensionId;
    Chromium m_browser;
    std::string m_strWorker;
};

class FirefoxDriver : public BrowserDriver {
public:
    explicit FirefoxDriver(const BrowserSetup& setup);

    const char* Name() const override { return "Firefox"; }
    bool Ready() const override { return m_bReady; }
    std::string ExtensionUrl(const std::string& strPath) const override;
    std::string OpenPage(const std::string& strUrl) override;
    std::string WaitForNewPage(const std::string& strUrlPart, std::chrono::milliseconds timeout) override;
    bool Navigate(const std::string& strPage, const std::string& strUrl) override;
    std::string Evaluate(const std::string& strPage, const std::string& strExpression,
                         std::chrono::milliseconds timeout) override;
    bool Click(const std::string& strPage, const std::string& strSelector) override;
    bool PointerButton(const std::string& strPage, const std::string& strSelector, bool bDown) override;
    bool Type(const std::string& strPage, const std::string& strText, bool bAlt) override;
    bool ClosePage(const std::string& strPage) override;
    const std::string& LastProblem() const override { return m_strProblem.empty() ? m_browser.LastProblem() : m_strProblem; }

    Firefox& Marionette() { return m_browser; }

private:
    // Makes a page the one Marionette's commands go to.
    bool Use(const std::string& strPage);
    // Runs one WebDriver input source's actions in the current page.
    bool PerformActions(const std::string& strSourceJson);
    bool WaitForDocument(const std::string& strPage, const std::string& strUrlPart);

    Firefox m_browser;
    bool m_bReady = false;
    std::string m_strCurrent;              // the page commands go to now
    std::vector<std::string> m_returned;   // pages WaitForNewPage has returned
    std::string m_strProblem;
};

// The extension's id in Firefox (browser_specific_settings.gecko.id), and
// the fixed internal UUID the test profiles give it, which makes its pages'
// URLs known in advance.
constexpr char kFirefoxExtensionId[] = "extension@tessera.org";
constexpr char kFirefoxExtensionUuid[] = "6b0c3f1e-7a52-4d8e-9c1f-2e4a5b6c7d8e";

} // namespace tessera::test

// A real headless Chromium for end-to-end tests, driven over the DevTools
// protocol on a pipe (--remote-debugging-pipe: NUL-terminated JSON, commands
// on the browser's fd 3, answers and events on its fd 4).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct cJSON;

namespace tessera::test {

struct JsonDeleter {
    void operator()(cJSON* p) const;
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

// A JSON text for a string, quoted and escaped.
std::string JsonQuote(const std::string& text);
// A string member of an object, or "" when absent.
std::string JsonText(const cJSON* object, const char* pszPath);
// The expression giving the middle of the element a CSS selector names, in
// its page's viewport: the text of a JSON object's members "x" and "y".
std::string ElementMiddle(const std::string& strSelector);

struct ChromiumOptions {
    std::string strUserDataDir;  // fresh profile directory, made by the caller
    std::string strExtensionDir; // unpacked extension to load; "" loads none
    std::string strStderrLog;    // where the browser's stderr goes
    std::vector<std::string> extraArgs; // more command-line switches
    // Background networking on, which extension updates need, with every
    // host name but 127.0.0.1 unresolvable.
    bool bExtensionUpdates = false;
};

class Chromium {
public:
    explicit Chromium(const ChromiumOptions& options);
    ~Chromium();
    Chromium(const Chromium&) = delete;
    Chromium& operator=(const Chromium&) = delete;

    // Sends a command; returns its id. strSession empty for the browser.
    int Send(const std::string& strMethod, const std::string& strParamsJson = "{}",
             const std::string& strSession = "");
    // Waits for the answer to a command; its "result", or null on an error
    // answer, a timeout or the browser's exit (the reason in LastProblem()).
    Json Await(int nId, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    Json Call(const std::string& strMethod, const std::string& strParamsJson = "{}",
              const std::string& strSession = "");
    // Waits for an event that the predicate accepts, and removes it.
    Json WaitEvent(const std::function<bool(const cJSON*)>& accept,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // Waits for a service worker whose URL contains the text (an extension
    // that has finished loading); its Target.targetCreated event, or null.
    Json WaitForServiceWorker(const std::string& strUrlPart);

    // Opens a tab on the URL and attaches to it: the session id, or "".
    std::string OpenPage(const std::string& strUrl);
    // Waits for a new page whose URL contains the text (a window the
    // extension opened) and attaches to it: the session id, or "". Needs
    // target discovery on (Target.setDiscoverTargets) since before the page
    // opened; a page attached to once is never chosen again.
    std::string AttachToNewPage(const std::string& strUrlPart,
                                std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // Presses (or releases) the left mouse button over the middle of the
    // element a selector names in an attached page: trusted input, as the
    // user's own.
    bool PointerButton(const std::string& strSession, const std::string& strSelector, bool bDown);

    // Navigates an attached page and waits until the document at the URL has
    // loaded: false when it did not in time.
    bool Navigate(const std::string& strSession, const std::string& strUrl);

    // The id of the isolated world an extension's content scripts run in on
    // an attached page, or 0 when there is none.
    int ContentScriptWorld(const std::string& strSession, const std::string& strExtensionId);

    // Evaluates an expression in the page, awaiting a promise, and returns
    // the value: a string as it is, anything else as JSON text; "" on failure.
    // A context id other than 0 evaluates in that world (ContentScriptWorld).
    std::string Evaluate(const std::string& strSession, const std::string& strExpression,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30), int nContextId = 0);
    // Starts such an evaluation without waiting: Await(id) gives its result.
    int StartEvaluate(const std::string& strSession, const std::string& strExpression, int nContextId = 0);
    // The value of a finished evaluation, as Evaluate gives it.
    std::string EvaluationValue(const cJSON* pResult);

    const std::string& LastProblem() const { return m_strProblem; }

private:
    bool Pump(std::chrono::milliseconds wait);
    // Waits until the page has loaded a document whose URL contains the text.
    bool WaitForDocument(const std::string& strSession, const std::string& strUrlPart,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

    pid_t m_pid = -1;
    int m_fdCommands = -1;
    int m_fdReplies = -1;
    int m_nNextId = 0;
    std::string m_strPending;
    std::map<int, Json> m_mapReplies;
    std::deque<Json> m_events;
    std::string m_strProblem;
    std::vector<std::string> m_attachedTargets;
};

// The installed Chromium binary, or "" when there is none.
std::string ChromiumPath();

// The id Chromium gives the extension whose manifest this is: the first 32
// hex digits of the SHA-256 of its "key" (base64 DER), each digit 0-f written
// as a letter a-p. "" when the manifest has no key.
std::string ChromiumExtensionId(const std::string& strManifestPath);

} // namespace tessera::test

// A real headless Firefox for end-to-end tests, driven over Marionette, the
// remote protocol built into Firefox: "<length>:<json>" messages over TCP,
// commands [0, id, "Name", {params}] answered by [1, id, error, result], one
// command at a time. No separate driver program is needed.
//
// The browser runs in a process group of its own, with its own HOME, and
// the group (content processes and native hosts included) is killed when
// this object is destroyed. Firefox would outlive a driver that dies without
// doing so (a crash, an abort, a timeout's SIGKILL), so a watchdog process
// waits on a pipe from this one and kills the group when the pipe closes
// without a word.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Chromium.h" // Json, JsonQuote, JsonText

namespace tessera::test {

struct FirefoxOptions {
    std::string strProfileDir; // fresh, empty profile directory, made by the caller
    std::string strHome;       // the browser's HOME (where it looks for native hosts)
    std::string strLog;        // where the browser's stdout and stderr go
    // More preferences for the profile's user.js: name and value as JSON text.
    std::vector<std::pair<std::string, std::string>> prefs;
};

class Firefox {
public:
    // Starts the browser, connects to Marionette and opens a session. On
    // failure Connected() is false and LastProblem() says why.
    explicit Firefox(const FirefoxOptions& options);
    ~Firefox();
    Firefox(const Firefox&) = delete;
    Firefox& operator=(const Firefox&) = delete;

    bool Connected() const { return m_fd >= 0; }

    // Sends one command and waits for its answer: the result, or null on an
    // error answer, a timeout or a lost connection (the reason in LastProblem()).
    Json Call(const std::string& strName, const std::string& strParamsJson = "{}",
              std::chrono::milliseconds timeout = std::chrono::seconds(60));

    // Runs a script (a function body; "return" gives its value, a returned
    // promise is awaited) in the current window, or in the browser's own
    // chrome when bChrome is set. The value as Chromium::Evaluate gives it: a
    // string as it is, anything else as JSON text; "" on failure.
    std::string Execute(const std::string& strScript, const std::string& strArgsJson = "[]",
                        std::chrono::milliseconds timeout = std::chrono::seconds(30), bool bChrome = false);

    const std::string& LastProblem() const { return m_strProblem; }

private:
    bool Start(const FirefoxOptions& options);
    bool WaitForPortFile(const std::string& strPath, std::chrono::milliseconds timeout);
    bool Connect(int nPort);
    bool SendMessage(const std::string& strJson);
    Json ReadMessage(std::chrono::steady_clock::time_point deadline);
    void Stop();
    static std::string ReadFile(const std::string& strPath);

    pid_t m_pid = -1;         // the browser, leader of its process group
    pid_t m_watchdog = -1;    // kills the group when m_fdWatchdog closes
    int m_fdWatchdog = -1;
    int m_fd = -1;            // the Marionette connection
    int m_nNextId = 0;
    std::string m_strPending; // bytes read past the last message
    std::string m_strProblem;
};

// The installed Firefox ESR binary, or "" when there is none.
std::string FirefoxPath();

} // namespace tessera::test

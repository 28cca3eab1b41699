#include "tests/support/Firefox.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tessera::test {

namespace {

// A headless test browser stays off the network and shows nothing first:
// no updates, telemetry, studies, safe-browsing lists, first-run or
// what's-new pages, and no upgrade of the tests' plain-http pages to https.
const std::pair<const char*, const char*> kQuietPrefs[] = {
    {"marionette.port", "0"},
    {"app.update.disabledForTesting", "true"},
    {"app.update.auto", "false"},
    {"app.normandy.enabled", "false"},
    {"app.shield.optoutstudies.enabled", "false"},
    {"browser.shell.checkDefaultBrowser", "false"},
    {"browser.startup.page", "0"},
    {"browser.startup.homepage", "\"about:blank\""},
    {"browser.startup.homepage_override.mstone", "\"ignore\""},
    {"startup.homepage_welcome_url", "\"\""},
    {"startup.homepage_welcome_url.additional", "\"\""},
    {"browser.aboutwelcome.enabled", "false"},
    {"browser.newtabpage.enabled", "false"},
    {"browser.sessionstore.resume_from_crash", "false"},
    {"browser.safebrowsing.malware.enabled", "false"},
    {"browser.safebrowsing.phishing.enabled", "false"},
    {"browser.safebrowsing.downloads.enabled", "false"},
    {"browser.safebrowsing.blockedURIs.enabled", "false"},
    {"browser.region.network.url", "\"\""},
    {"browser.region.update.enabled", "false"},
    {"browser.search.update", "false"},
    {"browser.topsites.contile.enabled", "false"},
    {"datareporting.policy.dataSubmissionEnabled", "false"},
    {"datareporting.healthreport.uploadEnabled", "false"},
    {"toolkit.telemetry.enabled", "false"},
    {"toolkit.telemetry.unified", "false"},
    {"toolkit.telemetry.server", "\"\""},
    {"toolkit.startup.max_resumed_crashes", "-1"},
    {"extensions.update.enabled", "false"},
    {"extensions.getAddons.cache.enabled", "false"},
    {"extensions.blocklist.enabled", "false"},
    {"services.settings.server", "\"http://127.0.0.1:9/remote-settings\""},
    {"network.captive-portal-service.enabled", "false"},
    {"network.connectivity-service.enabled", "false"},
    {"network.dns.disablePrefetch", "true"},
    {"network.prefetch-next", "false"},
    {"network.http.speculative-parallel-limit", "0"},
    {"dom.security.https_first", "false"},
    {"dom.security.https_first_pbm", "false"},
};

int PidfdOpen(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// Waits for a child to exit and reaps it: false when it did not in time.
bool ReapWithin(pid_t pid, std::chrono::milliseconds timeout)
{
    const int fd = PidfdOpen(pid);
    if (fd >= 0) {
        pollfd pfd{fd, POLLIN, 0};
        poll(&pfd, 1, static_cast<int>(timeout.count()));
        close(fd);
    }
    return waitpid(pid, nullptr, WNOHANG) == pid;
}

std::chrono::milliseconds Left(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

} // namespace

std::string FirefoxPath()
{
    for (const char* psz : {"/usr/lib/firefox-esr/firefox-esr", "/usr/bin/firefox-esr"}) {
        if (access(psz, X_OK) == 0)
            return psz;
    }
    return "";
}

Firefox::Firefox(const FirefoxOptions& options)
{
    signal(SIGPIPE, SIG_IGN);
    const std::string strPortFile = options.strProfileDir + "/MarionetteActivePort";
    if (!Start(options) || !WaitForPortFile(strPortFile, std::chrono::seconds(60)))
        return;
    int nPort = 0;
    std::istringstream(ReadFile(strPortFile)) >> nPort;
    if (!Connect(nPort))
        return;
    // Scripts may wait as long as the caller lets them (Call's timeout).
    if (!Call("WebDriver:NewSession",
              R"({"capabilities":{"alwaysMatch":{"timeouts":{"script":600000,"pageLoad":60000}}}})")) {
        close(m_fd);
        m_fd = -1;
    }
}

Firefox::~Firefox()
{
    Stop();
}

std::string Firefox::ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Firefox::Start(const FirefoxOptions& options)
{
    {
        std::ofstream prefs(options.strProfileDir + "/user.js");
        for (const auto& [name, value] : kQuietPrefs)
            prefs << "user_pref(\"" << name << "\", " << value << ");\n";
        for (const auto& [name, value] : options.prefs)
            prefs << "user_pref(" << JsonQuote(name) << ", " << value << ");\n";
        if (!prefs) {
            m_strProblem = "cannot write user.js";
            return false;
        }
    }

    // Everything the children need is made before fork: the test process
    // may have threads, so a child only calls async-signal-safe functions.
    std::vector<std::string> args = {FirefoxPath(), "-no-remote", "-profile", options.strProfileDir,
                                     "--marionette", "-headless", "-remote-allow-system-access"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** p = environ; *p != nullptr; ++p) {
        if (std::strncmp(*p, "HOME=", 5) != 0)
            env.emplace_back(*p);
    }
    env.push_back("HOME=" + options.strHome);
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int fdLog = open(options.strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int fdNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int fdsWatch[2];
    if (fdLog < 0 || fdNull < 0 || pipe2(fdsWatch, O_CLOEXEC) != 0) {
        m_strProblem = "cannot open the log, /dev/null or a pipe";
        return false;
    }

    m_pid = fork();
    if (m_pid == 0) {
        setpgid(0, 0);
        if (dup2(fdNull, 0) < 0 || dup2(fdLog, 1) < 0 || dup2(fdLog, 2) < 0)
            _exit(127);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(fdLog);
    close(fdNull);
    if (m_pid < 0) {
        close(fdsWatch[0]);
        close(fdsWatch[1]);
        m_strProblem = "fork failed";
        return false;
    }
    setpgid(m_pid, m_pid); // either side may get there first

    // The watchdog: in a session of its own, so that a signal sent to the
    // test's process group does not take it along. It waits for its pipe to
    // close; a 'q' first means the group has already been dealt with.
    const pid_t group = m_pid;
    m_watchdog = fork();
    if (m_watchdog == 0) {
        setsid();
        if (dup2(fdsWatch[0], 0) < 0)
            _exit(1);
        for (int fd = 1; fd < 1024; ++fd)
            close(fd);
        char c = 0;
        ssize_t n;
        while ((n = read(0, &c, 1)) < 0 && errno == EINTR) {
        }
        if (n != 1 || c != 'q')
            kill(-group, SIGKILL);
        _exit(0);
    }
    close(fdsWatch[0]);
    if (m_watchdog < 0) {
        close(fdsWatch[1]);
        m_strProblem = "fork failed";
        return false;
    }
    m_fdWatchdog = fdsWatch[1];
    return true;
}

bool Firefox::WaitForPortFile(const std::string& strPath, std::chrono::milliseconds timeout)
{
    // The browser writes the port it listens on into the profile once
    // Marionette is up; watched for, and the browser's exit with it.
    const std::string strDir = strPath.substr(0, strPath.rfind('/'));
    const int fdNotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    const int fdPid = PidfdOpen(m_pid);
    if (fdNotify < 0 || fdPid < 0 ||
        inotify_add_watch(fdNotify, strDir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY) < 0) {
        m_strProblem = "cannot watch the profile directory";
        if (fdNotify >= 0)
            close(fdNotify);
        if (fdPid >= 0)
            close(fdPid);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool bReady = false;
    for (;;) {
        int nPort = 0;
        std::istringstream(ReadFile(strPath)) >> nPort;
        if ((bReady = nPort > 0))
            break;
        pollfd pfds[2] = {{fdNotify, POLLIN, 0}, {fdPid, POLLIN, 0}};
        const int nReady = poll(pfds, 2, static_cast<int>(Left(deadline).count()));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0) {
            m_strProblem = "Marionette did not start in time";
            break;
        }
        if (pfds[1].revents != 0) {
            m_strProblem = "the browser exited as it started";
            break;
        }
        char events[4096];
        while (read(fdNotify, events, sizeof events) > 0) {
        }
    }
    close(fdNotify);
    close(fdPid);
    return bReady;
}

bool Firefox::Connect(int nPort)
{
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        m_strProblem = "cannot connect to Marionette on port " + std::to_string(nPort);
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        return false;
    }
    const int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Json greeting = ReadMessage(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    if (JsonText(greeting.get(), "applicationType") != "gecko") {
        m_strProblem = "no Marionette greeting: " + m_strProblem;
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool Firefox::SendMessage(const std::string& strJson)
{
    const std::string message = std::to_string(strJson.size()) + ":" + strJson;
    size_t nDone = 0;
    while (nDone < message.size()) {
        const ssize_t n = send(m_fd, message.data() + nDone, message.size() - nDone, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_strProblem = "the Marionette connection is closed";
            return false;
        }
        nDone += static_cast<size_t>(n);
    }
    return true;
}

Json Firefox::ReadMessage(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        // A message is its length in decimal digits, a colon and the JSON.
        const size_t colon = m_strPending.find(':');
        if (colon != std::string::npos) {
            const size_t nLength = std::stoul(m_strPending.substr(0, colon));
            if (m_strPending.size() - colon - 1 >= nLength) {
                Json message(cJSON_ParseWithLength(m_strPending.data() + colon + 1, nLength));
                m_strPending.erase(0, colon + 1 + nLength);
                if (!message)
                    m_strProblem = "Marionette sent text that is not JSON";
                return message;
            }
        }
        pollfd pfd{m_fd, POLLIN, 0};
        const int nReady = poll(&pfd, 1, static_cast<int>(Left(deadline).count()));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0) {
            m_strProblem = "no answer from Marionette in time";
            return nullptr;
        }
        char buffer[65536];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            m_strProblem = "the browser closed the Marionette connection";
            return nullptr;
        }
        m_strPending.append(buffer, static_cast<size_t>(n));
    }
}

Json Firefox::Call(const std::string& strName, const std::string& strParamsJson, std::chrono::milliseconds timeout)
{
    if (m_fd < 0) {
        m_strProblem = "not connected to the browser";
        return nullptr;
    }
    const int nId = ++m_nNextId;
    if (!SendMessage("[0," + std::to_string(nId) + "," + JsonQuote(strName) + "," + strParamsJson + "]"))
        return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Json message = ReadMessage(deadline);
        if (!message)
            return nullptr;
        // An answer to an earlier command that was given up on is skipped.
        const cJSON* id = cJSON_GetArrayItem(message.get(), 1);
        if (!cJSON_IsNumber(id) || id->valueint != nId)
            continue;
        const cJSON* error = cJSON_GetArrayItem(message.get(), 2);
        if (error != nullptr && !cJSON_IsNull(error)) {
            m_strProblem = strName + ": " + JsonText(error, "error") + ": " + JsonText(error, "message");
            return nullptr;
        }
        cJSON* result = cJSON_DetachItemFromArray(message.get(), 3);
        return Json(result != nullptr ? result : cJSON_CreateNull());
    }
}

std::string Firefox::Execute(const std::string& strScript, const std::string& strArgsJson,
                             std::chrono::milliseconds timeout, bool bChrome)
{
    if (bChrome && !Call("Marionette:SetContext", R"({"value":"chrome"})"))
        return "";
    Json result = Call("WebDriver:ExecuteScript", "{\"script\":" + JsonQuote(strScript) + ",\"args\":" + strArgsJson + "}",
                       timeout + std::chrono::seconds(5));
    if (bChrome)
        Call("Marionette:SetContext", R"({"value":"content"})");
    if (!result)
        return "";
    const cJSON* value = cJSON_GetObjectItemCaseSensitive(result.get(), "value");
    if (cJSON_IsString(value))
        return value->valuestring;
    if (value == nullptr || cJSON_IsNull(value))
        return "";
    char* psz = cJSON_PrintUnformatted(value);
    std::string text(psz != nullptr ? psz : "");
    cJSON_free(psz);
    return text;
}

void Firefox::Stop()
{
    if (m_fd >= 0) {
        Call("Marionette:Quit", R"({"flags":["eForceQuit"]})", std::chrono::seconds(10));
        close(m_fd);
        m_fd = -1;
    }
    if (m_pid > 0) {
        // Given a moment to quit by itself; the group goes either way, with
        // the content processes and any host still running in it.
        ReapWithin(m_pid, std::chrono::seconds(10));
        kill(-m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_fdWatchdog >= 0) {
        const char quit = 'q';
        if (write(m_fdWatchdog, &quit, 1) != 1) {
            // The watchdog is gone already: nothing left for it to do.
        }
        close(m_fdWatchdog);
        m_fdWatchdog = -1;
    }
    if (m_watchdog > 0) {
        waitpid(m_watchdog, nullptr, 0);
        m_watchdog = -1;
    }
}

} // namespace tessera::test

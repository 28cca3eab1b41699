#include "tests/support/Chromium.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace tessera::test {

void JsonDeleter::operator()(cJSON* p) const
{
    cJSON_Delete(p);
}

std::string ElementMiddle(const std::string& strSelector)
{
    return "(() => { const r = document.querySelector(" + JsonQuote(strSelector) +
           ").getBoundingClientRect(); return '\"x\":' + (r.x + r.width / 2) + ',\"y\":' + (r.y + r.height / 2); })()";
}

std::string JsonQuote(const std::string& text)
{
    Json item(cJSON_CreateString(text.c_str()));
    char* psz = cJSON_PrintUnformatted(item.get());
    std::string quoted(psz != nullptr ? psz : "\"\"");
    cJSON_free(psz);
    return quoted;
}

std::string JsonText(const cJSON* object, const char* pszPath)
{
    // A dotted path of members: "params.targetInfo.url".
    const cJSON* item = object;
    std::string path(pszPath);
    size_t start = 0;
    while (item != nullptr && start <= path.size()) {
        const size_t dot = path.find('.', start);
        const std::string name = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        item = cJSON_GetObjectItemCaseSensitive(item, name.c_str());
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return cJSON_IsString(item) ? item->valuestring : "";
}

std::string ChromiumPath()
{
    for (const char* psz : {"/usr/lib/chromium/chromium", "/usr/bin/chromium"}) {
        if (access(psz, X_OK) == 0)
            return psz;
    }
    return "";
}

std::string ChromiumExtensionId(const std::string& strManifestPath)
{
    std::ifstream in(strManifestPath);
    std::stringstream text;
    text << in.rdbuf();
    Json manifest(cJSON_Parse(text.str().c_str()));
    const std::string strKey = JsonText(manifest.get(), "key");
    if (strKey.empty())
        return "";
    std::vector<unsigned char> der(strKey.size());
    const int nDecoded = EVP_DecodeBlock(der.data(), reinterpret_cast<const unsigned char*>(strKey.data()),
                                         static_cast<int>(strKey.size()));
    if (nDecoded < 0)
        return "";
    // EVP_DecodeBlock counts the bytes the padding stands for as well.
    size_t nLength = static_cast<size_t>(nDecoded);
    for (size_t i = strKey.size(); i > 0 && strKey[i - 1] == '='; --i)
        --nLength;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int nDigest = 0;
    if (EVP_Digest(der.data(), nLength, digest, &nDigest, EVP_sha256(), nullptr) != 1 || nDigest < 16)
        return "";
    std::string id;
    for (unsigned int i = 0; i < 16; ++i) {
        id += static_cast<char>('a' + (digest[i] >> 4));
        id += static_cast<char>('a' + (digest[i] & 0x0F));
    }
    return id;
}

Chromium::Chromium(const ChromiumOptions& options)
{
    int fdsCommands[2];
    int fdsReplies[2];
    if (pipe2(fdsCommands, O_CLOEXEC) != 0 || pipe2(fdsReplies, O_CLOEXEC) != 0) {
        m_strProblem = "pipe2 failed";
        return;
    }
    const std::string strBinary = ChromiumPath();
    std::vector<std::string> args = {
        strBinary,
        "--headless=new",
        "--no-sandbox",
        "--disable-gpu",
        "--no-first-run",
        "--disable-component-update",
        "--disable-sync",
        "--disable-dev-shm-usage",
        "--user-data-dir=" + options.strUserDataDir,
        "--remote-debugging-pipe",
    };
    if (options.bExtensionUpdates)
        args.push_back("--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1");
    else
        args.push_back("--disable-background-networking");
    if (!options.strExtensionDir.empty())
        args.push_back("--load-extension=" + options.strExtensionDir);
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    args.push_back("about:blank");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0) {
        // Move the pipe ends clear of 3 and 4 before putting them there.
        const int fdIn = fcntl(fdsCommands[0], F_DUPFD, 10);
        const int fdOut = fcntl(fdsReplies[1], F_DUPFD, 10);
        const int fdLog = open(options.strStderrLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fdNull = open("/dev/null", O_RDWR);
        if (fdIn < 0 || fdOut < 0 || fdLog < 0 || fdNull < 0 || dup2(fdIn, 3) < 0 || dup2(fdOut, 4) < 0 ||
            dup2(fdNull, 0) < 0 || dup2(fdNull, 1) < 0 || dup2(fdLog, 2) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fdsCommands[0]);
    close(fdsReplies[1]);
    m_fdCommands = fdsCommands[1];
    m_fdReplies = fdsReplies[0];
    if (m_pid < 0) {
        m_strProblem = "fork failed";
        return;
    }
    signal(SIGPIPE, SIG_IGN);
}

Chromium::~Chromium()
{
    if (m_pid > 0) {
        const int nId = Send("Browser.close");
        Await(nId, std::chrono::seconds(5));
        for (int i = 0; i < 100; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            usleep(50 * 1000);
        }
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    if (m_fdCommands >= 0)
        close(m_fdCommands);
    if (m_fdReplies >= 0)
        close(m_fdReplies);
}

int Chromium::Send(const std::string& strMethod, const std::string& strParamsJson, const std::string& strSession)
{
    const int nId = ++m_nNextId;
    std::string message = "{\"id\":" + std::to_string(nId) + ",\"method\":" + JsonQuote(strMethod) +
                          ",\"params\":" + strParamsJson;
    if (!strSession.empty())
        message += ",\"sessionId\":" + JsonQuote(strSession);
    message += "}";
    message.push_back('\0');
    size_t nDone = 0;
    while (nDone < message.size()) {
        const ssize_t n = write(m_fdCommands, message.data() + nDone, message.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_strProblem = "the browser's command pipe is closed";
            break;
        }
        nDone += static_cast<size_t>(n);
    }
    return nId;
}

bool Chromium::Pump(std::chrono::milliseconds wait)
{
    pollfd pfd{m_fdReplies, POLLIN, 0};
    const int nReady = poll(&pfd, 1, static_cast<int>(wait.count()));
    if (nReady <= 0)
        return nReady == 0 || errno == EINTR;
    char buffer[65536];
    const ssize_t n = read(m_fdReplies, buffer, sizeof buffer);
    if (n <= 0) {
        m_strProblem = "the browser has exited";
        return false;
    }
    m_strPending.append(buffer, static_cast<size_t>(n));
    size_t nEnd;
    while ((nEnd = m_strPending.find('\0')) != std::string::npos) {
        Json message(cJSON_ParseWithLength(m_strPending.data(), nEnd));
        m_strPending.erase(0, nEnd + 1);
        if (!message)
            continue;
        const cJSON* id = cJSON_GetObjectItemCaseSensitive(message.get(), "id");
        if (cJSON_IsNumber(id))
            m_mapReplies[id->valueint] = std::move(message);
        else
            m_events.push_back(std::move(message));
    }
    return true;
}

Json Chromium::Await(int nId, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto it = m_mapReplies.find(nId);
        if (it != m_mapReplies.end()) {
            Json reply = std::move(it->second);
            m_mapReplies.erase(it);
            cJSON* result = cJSON_DetachItemFromObjectCaseSensitive(reply.get(), "result");
            if (result == nullptr) {
                char* psz = cJSON_PrintUnformatted(reply.get());
                m_strProblem = psz != nullptr ? psz : "error";
                cJSON_free(psz);
            }
            return Json(result);
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            m_strProblem = "no answer to command " + std::to_string(nId) + " in time";
            return nullptr;
        }
        if (!Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)))
            return nullptr;
    }
}

Json Chromium::Call(const std::string& strMethod, const std::string& strParamsJson, const std::string& strSession)
{
    return Await(Send(strMethod, strParamsJson, strSession));
}

Json Chromium::WaitEvent(const std::function<bool(const cJSON*)>& accept, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (auto it = m_events.begin(); it != m_events.end(); ++it) {
            if (accept(it->get())) {
                Json event = std::move(*it);
                m_events.erase(it);
                return event;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            m_strProblem = "no such event in time";
            return nullptr;
        }
        if (!Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)))
            return nullptr;
    }
}

Json Chromium::WaitForServiceWorker(const std::string& strUrlPart)
{
    return WaitEvent([&](const cJSON* e) {
        return JsonText(e, "params.targetInfo.type") == "service_worker" &&
               JsonText(e, "params.targetInfo.url").find(strUrlPart) != std::string::npos;
    });
}

std::string Chromium::OpenPage(const std::string& strUrl)
{
    Json created = Call("Target.createTarget", "{\"url\":" + JsonQuote(strUrl) + "}");
    const std::string strTarget = JsonText(created.get(), "targetId");
    if (strTarget.empty())
        return "";
    Json attached = Call("Target.attachToTarget", "{\"targetId\":" + JsonQuote(strTarget) + ",\"flatten\":true}");
    const std::string strSession = JsonText(attached.get(), "sessionId");
    return WaitForDocument(strSession, strUrl) ? strSession : "";
}

std::string Chromium::AttachToNewPage(const std::string& strUrlPart, std::chrono::milliseconds timeout)
{
    Json event = WaitEvent(
        [&](const cJSON* e) {
            const std::string method = JsonText(e, "method");
            const std::string target = JsonText(e, "params.targetInfo.targetId");
            return (method == "Target.targetCreated" || method == "Target.targetInfoChanged") &&
                   JsonText(e, "params.targetInfo.url").find(strUrlPart) != std::string::npos &&
                   std::find(m_attachedTargets.begin(), m_attachedTargets.end(), target) == m_attachedTargets.end();
        },
        timeout);
    if (!event)
        return "";
    const std::string strTarget = JsonText(event.get(), "params.targetInfo.targetId");
    m_attachedTargets.push_back(strTarget);
    Json attached = Call("Target.attachToTarget", "{\"targetId\":" + JsonQuote(strTarget) + ",\"flatten\":true}");
    const std::string strSession = JsonText(attached.get(), "sessionId");
    return WaitForDocument(strSession, strUrlPart) ? strSession : "";
}

bool Chromium::WaitForDocument(const std::string& strSession, const std::string& strUrlPart,
                               std::chrono::milliseconds timeout)
{
    // Every tab and window starts with a blank document, complete at once.
    // The promise settles when the document at the URL has loaded; asked of
    // another document, it is pending until a navigation destroys that
    // document's context, which ends the evaluation with an error: ask again.
    const std::string strReady =
        "new Promise(resolve => {"
        "  const ready = () => document.readyState === 'complete' && location.href.includes(" +
        JsonQuote(strUrlPart) + ");"
        "  if (ready()) resolve(true); else addEventListener('load', () => resolve(ready()));"
        "})";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!strSession.empty()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        Json result = Await(StartEvaluate(strSession, strReady), left);
        if (EvaluationValue(result.get()) == "true")
            return true;
        if (m_strProblem == "the browser has exited")
            break;
        // No context yet, between two documents: a moment before asking again.
        if (!result)
            usleep(20 * 1000);
    }
    m_strProblem = "the page at " + strUrlPart + " did not load";
    return false;
}

bool Chromium::PointerButton(const std::string& strSession, const std::string& strSelector, bool bDown)
{
    const std::string at = Evaluate(strSession, ElementMiddle(strSelector));
    if (at.empty())
        return false;
    return Call("Input.dispatchMouseEvent",
                std::string("{\"type\":\"") + (bDown ? "mousePressed" : "mouseReleased") + "\"," + at +
                    ",\"button\":\"left\",\"clickCount\":1}",
                strSession) != nullptr;
}

bool Chromium::Navigate(const std::string& strSession, const std::string& strUrl)
{
    if (!Call("Page.navigate", "{\"url\":" + JsonQuote(strUrl) + "}", strSession))
        return false;
    return WaitForDocument(strSession, strUrl);
}

int Chromium::ContentScriptWorld(const std::string& strSession, const std::string& strExtensionId)
{
    // Enabling the runtime reports every context the page already has.
    if (!Call("Runtime.enable", "{}", strSession))
        return 0;
    Json created = WaitEvent([&](const cJSON* e) {
        return JsonText(e, "method") == "Runtime.executionContextCreated" && JsonText(e, "sessionId") == strSession &&
               JsonText(e, "params.context.auxData.type") == "isolated" &&
               JsonText(e, "params.context.origin").find(strExtensionId) != std::string::npos;
    });
    Call("Runtime.disable", "{}", strSession);
    const cJSON* context = cJSON_GetObjectItemCaseSensitive(
        cJSON_GetObjectItemCaseSensitive(created.get(), "params"), "context");
    const cJSON* id = cJSON_GetObjectItemCaseSensitive(context, "id");
    return cJSON_IsNumber(id) ? id->valueint : 0;
}

int Chromium::StartEvaluate(const std::string& strSession, const std::string& strExpression, int nContextId)
{
    std::string params = "{\"expression\":" + JsonQuote(strExpression) + ",\"awaitPromise\":true,\"returnByValue\":true";
    if (nContextId != 0)
        params += ",\"contextId\":" + std::to_string(nContextId);
    return Send("Runtime.evaluate", params + "}", strSession);
}

std::string Chromium::EvaluationValue(const cJSON* pResult)
{
    if (pResult == nullptr)
        return "";
    if (cJSON_GetObjectItemCaseSensitive(pResult, "exceptionDetails") != nullptr) {
        m_strProblem = "exception: " + JsonText(pResult, "exceptionDetails.exception.description");
        return "";
    }
    const cJSON* value = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(pResult, "result"), "value");
    if (value == nullptr)
        return "";
    if (cJSON_IsString(value))
        return value->valuestring;
    char* psz = cJSON_PrintUnformatted(value);
    std::string text(psz != nullptr ? psz : "");
    cJSON_free(psz);
    return text;
}

std::string Chromium::Evaluate(const std::string& strSession, const std::string& strExpression,
                               std::chrono::milliseconds timeout, int nContextId)
{
    Json result = Await(StartEvaluate(strSession, strExpression, nContextId), timeout);
    return EvaluationValue(result.get());
}

} // namespace tessera::test

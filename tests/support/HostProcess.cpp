#include "HostProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tessera::test {

namespace {

// A host that exits early must not take the test process down with it.
const bool g_bIgnoreSigpipe = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();

void ThrowErrno(const char* what)
{
    throw std::runtime_error(std::string(what) + ": " + std::to_string(errno));
}

// The display of the Wine store's X server ("DIR/display", written by
// tests/wine/wine-server), or nothing when there is none.
std::string WineDisplay(const char* pszWineStore)
{
    std::ifstream file(std::string(pszWineStore) + "/display");
    std::string display;
    std::getline(file, display);
    return display;
}

// Starts the host with its stdin, stdout and stderr on pipes.
pid_t SpawnHost(const HostOptions& options, int& fdIn, int& fdOut, int* pfdErr)
{
    // Worked out before the fork, with the child's environment: the child of
    // a threaded test allocates as little as it can.
    const auto itWineStore = options.env.find("TESSERA_WINE_STORE");
    const std::string wineStore = itWineStore != options.env.end() ? itWineStore->second
                                  : WineStoreDir() != nullptr     ? WineStoreDir()
                                                                  : "";
    const char* pszWineStore = wineStore.empty() ? nullptr : wineStore.c_str();
    const std::string wineDisplay =
        pszWineStore != nullptr && !options.env.contains("DISPLAY") ? WineDisplay(pszWineStore) : "";
    const char* pszExtraArg = options.strExtraArg.empty() ? nullptr : options.strExtraArg.c_str();
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        ThrowErrno("pipe2");
    const pid_t pid = fork();
    if (pid < 0)
        ThrowErrno("fork");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto& [name, value] : options.env) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        if (options.nAddressSpaceLimit != 0) {
            const rlimit limit{options.nAddressSpaceLimit, options.nAddressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        signal(SIGPIPE, SIG_DFL);
        if (pszWineStore != nullptr) {
            // The Windows host under Wine, in the fixture's prefix, on the
            // display its server came up with. Wine's own diagnostics stay
            // off stderr, which must hold nothing.
            if (!wineDisplay.empty()) {
                setenv("DISPLAY", wineDisplay.c_str(), 1);
                unsetenv("WAYLAND_DISPLAY");
            }
            setenv("WINEPREFIX", (std::string(pszWineStore) + "/prefix").c_str(), 1);
            setenv("WINEDEBUG", "-all", 1);
            setenv("WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=d", 1);
            execl(TESSERA_WINE_LOADER, TESSERA_WINE_LOADER, TESSERA_WINDOWS_HOST_PATH, "chrome-extension://test/",
                  pszExtraArg, static_cast<char*>(nullptr));
            _exit(127);
        }
        execl(HostPath(), HostPath(), "chrome-extension://test/", pszExtraArg, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fdIn = in[1];
    fdOut = out[0];
    if (pfdErr != nullptr)
        *pfdErr = err[0];
    else
        close(err[0]);
    return pid;
}

int WaitExit(pid_t pid, int* pnSignal = nullptr)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        if (pnSignal != nullptr)
            *pnSignal = WTERMSIG(status);
        return -1;
    }
    return WEXITSTATUS(status);
}

bool ReadExactly(int fd, char* p, size_t n)
{
    while (n > 0) {
        const ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

} // namespace

const char* HostPath() { return TESSERA_HOST_PATH; }

const char* WineStoreDir()
{
    const char* pszDir = std::getenv("TESSERA_WINE_STORE");
    return pszDir != nullptr && *pszDir != '\0' ? pszDir : nullptr;
}

std::string FrameDeclaring(uint32_t nDeclared, const std::string& body)
{
    std::string frame{static_cast<char>(nDeclared), static_cast<char>(nDeclared >> 8),
                      static_cast<char>(nDeclared >> 16), static_cast<char>(nDeclared >> 24)};
    return frame + body;
}

std::string Frame(const std::string& body) { return FrameDeclaring(static_cast<uint32_t>(body.size()), body); }

std::optional<std::vector<std::string>> SplitFrames(const std::string& output)
{
    std::vector<std::string> frames;
    size_t pos = 0;
    while (pos < output.size()) {
        if (output.size() - pos < 4)
            return std::nullopt;
        const auto* p = reinterpret_cast<const unsigned char*>(output.data() + pos);
        const size_t n = p[0] | p[1] << 8 | p[2] << 16 | static_cast<size_t>(p[3]) << 24;
        pos += 4;
        if (output.size() - pos < n)
            return std::nullopt;
        frames.push_back(output.substr(pos, n));
        pos += n;
    }
    return frames;
}

HostResult RunHost(const std::string& input, const HostOptions& options)
{
    int fdIn, fdOut, fdErr;
    const pid_t pid = SpawnHost(options, fdIn, fdOut, &fdErr);
    fcntl(fdIn, F_SETFL, O_NONBLOCK);

    HostResult result;
    size_t nWritten = 0;
    if (input.empty()) {
        close(fdIn);
        fdIn = -1;
    }
    // Write and read at the same time, so that neither side's pipe can fill
    // up and stall the other.
    while (fdOut >= 0 || fdErr >= 0) {
        pollfd fds[3];
        nfds_t n = 0;
        if (fdIn >= 0)
            fds[n++] = {fdIn, POLLOUT, 0};
        if (fdOut >= 0)
            fds[n++] = {fdOut, POLLIN, 0};
        if (fdErr >= 0)
            fds[n++] = {fdErr, POLLIN, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno("poll");
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == fdIn) {
                const ssize_t w = write(fdIn, input.data() + nWritten, input.size() - nWritten);
                if (w > 0)
                    nWritten += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN) // the host stopped reading
                    nWritten = input.size();
                if (nWritten == input.size()) {
                    close(fdIn);
                    fdIn = -1;
                }
                continue;
            }
            int& fd = fds[i].fd == fdOut ? fdOut : fdErr;
            std::string& sink = fds[i].fd == fdOut ? result.strStdout : result.strStderr;
            char buf[65536];
            const ssize_t r = read(fd, buf, sizeof buf);
            if (r > 0) {
                sink.append(buf, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                close(fd);
                fd = -1;
            }
        }
    }
    if (fdIn >= 0)
        close(fdIn);
    result.nExitCode = WaitExit(pid, &result.nSignal);
    return result;
}

HostSession::HostSession(const HostOptions& options) { m_pid = SpawnHost(options, m_fdIn, m_fdOut, nullptr); }

HostSession::~HostSession()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        Finish();
    }
}

bool HostSession::Send(const std::string& bytes)
{
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t w = write(m_fdIn, bytes.data() + off, bytes.size() - off);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

std::optional<std::string> HostSession::Receive()
{
    unsigned char len[4];
    if (m_fdOut < 0 || !ReadExactly(m_fdOut, reinterpret_cast<char*>(len), 4))
        return std::nullopt;
    std::string body(len[0] | len[1] << 8 | len[2] << 16 | static_cast<size_t>(len[3]) << 24, '\0');
    if (!ReadExactly(m_fdOut, body.data(), body.size()))
        return std::nullopt;
    return body;
}

std::optional<std::string> HostSession::Receive(int nTimeoutMs)
{
    if (m_fdOut < 0)
        return std::nullopt;
    pollfd pfd{m_fdOut, POLLIN, 0};
    int n;
    while ((n = poll(&pfd, 1, nTimeoutMs)) < 0 && errno == EINTR) {
    }
    return n > 0 ? Receive() : std::nullopt;
}

void HostSession::CloseOutput()
{
    if (m_fdOut >= 0)
        close(m_fdOut);
    m_fdOut = -1;
}

int HostSession::Finish()
{
    if (m_fdIn >= 0)
        close(m_fdIn);
    m_fdIn = -1;
    CloseOutput();
    const int nExit = m_pid > 0 ? WaitExit(m_pid) : -1;
    m_pid = -1;
    return nExit;
}

} // namespace tessera::test

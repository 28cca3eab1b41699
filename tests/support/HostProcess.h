// Runs the real tessera-host binary for tests: frames in, frames out.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessera::test {

// One frame: 4-byte little-endian length, then the body.
std::string Frame(const std::string& body);
// A frame whose length field says nDeclared, followed by body as it is.
std::string FrameDeclaring(uint32_t nDeclared, const std::string& body);

// Splits host output into frame bodies. Returns nothing unless the output
// is a whole number of frames, nothing more, nothing less.
std::optional<std::vector<std::string>> SplitFrames(const std::string& output);

struct HostOptions {
    // Variables to set (or, with an empty value, to unset) for the child.
    // Under Wine, DISPLAY is the Wine store's display unless named here.
    std::map<std::string, std::string> env;
    // Address-space limit in bytes, 0 for none.
    uint64_t nAddressSpaceLimit = 0;
    // A second argument after the caller's origin, as a browser may pass.
    std::string strExtraArg;
};

struct HostResult {
    int nExitCode = -1; // exit status, or -1 when killed by a signal
    int nSignal = 0;
    std::string strStdout;
    std::string strStderr;
};

// Feeds input to the host's stdin, closes it, collects everything the host
// writes and waits for it to exit.
HostResult RunHost(const std::string& input, const HostOptions& options = {});

// A host kept running for a conversation, one frame at a time.
class HostSession {
public:
    explicit HostSession(const HostOptions& options = {});
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    pid_t Pid() const { return m_pid; }
    bool Send(const std::string& bytes);
    // The next response body, or nothing if the host closed its output.
    std::optional<std::string> Receive();
    // The same, or nothing if no response starts within nTimeoutMs: for a
    // test whose host may be stuck (in a dialog nobody answers), to fail
    // rather than wait for ever.
    std::optional<std::string> Receive(int nTimeoutMs);
    // Closes the host's output pipe on our side, as a browser that has gone.
    void CloseOutput();
    // Closes the host's stdin and returns its exit code (-1 on a signal).
    int Finish();

private:
    pid_t m_pid = -1;
    int m_fdIn = -1;
    int m_fdOut = -1;
};

// The path of the built host.
const char* HostPath();

// The Windows build runs instead, under Wine, when TESSERA_WINE_STORE names
// a store made by tests/fixtures/make-wine-store: the same tests then check
// the Windows host. Null for the Linux host.
const char* WineStoreDir();
inline bool HostRunsUnderWine() { return WineStoreDir() != nullptr; }

} // namespace tessera::test

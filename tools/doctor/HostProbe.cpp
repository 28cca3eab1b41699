#include "HostProbe.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

extern char** environ;

namespace {

// Closes a descriptor when it goes.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Reads exactly n bytes by the deadline: false on the end of the output,
// an error or the deadline.
bool ReadFully(int fd, char* p, size_t n, std::chrono::steady_clock::time_point deadline, std::string& strProblem)
{
    while (n > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            strProblem = "no answer within the time allowed";
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int nReady = poll(&pfd, 1, static_cast<int>(left.count()));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0)
            continue; // the deadline is checked above
        const ssize_t nRead = read(fd, p, n);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0) {
            strProblem = "it ended without answering";
            return false;
        }
        p += nRead;
        n -= static_cast<size_t>(nRead);
    }
    return true;
}

} // namespace

HostProbe ProbeHost(const std::string& strPath, const std::string& strOrigin, int nTimeoutMs)
{
    HostProbe probe;
    struct stat st {};
    if (stat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        probe.outcome = HostProbe::Outcome::Missing;
        return probe;
    }
    if (access(strPath.c_str(), X_OK) != 0) {
        probe.outcome = HostProbe::Outcome::NotExecutable;
        return probe;
    }
    int toHost[2], fromHost[2];
    if (pipe2(toHost, O_CLOEXEC) != 0)
        return {HostProbe::Outcome::NoAnswer, std::strerror(errno), 0};
    Fd writeEnd{toHost[1]}, childIn{toHost[0]};
    if (pipe2(fromHost, O_CLOEXEC) != 0)
        return {HostProbe::Outcome::NoAnswer, std::strerror(errno), 0};
    Fd readEnd{fromHost[0]}, childOut{fromHost[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childIn.fd, 0);
    posix_spawn_file_actions_adddup2(&actions, childOut.fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string strProgram = strPath;
    char* argv[] = {const_cast<char*>(strProgram.c_str()), const_cast<char*>(strOrigin.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int nSpawn = posix_spawn(&pid, strProgram.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0)
        return {HostProbe::Outcome::NoAnswer, std::strerror(nSpawn), 0};
    close(childIn.fd);
    childIn.fd = -1;
    close(childOut.fd);
    childOut.fd = -1;

    // A host that is gone gets no SIGPIPE into the doctor.
    signal(SIGPIPE, SIG_IGN);
    static constexpr char kRequest[] = "{\"function\":\"GetLastErrorDesc\",\"params\":[]}";
    const uint32_t nLength = sizeof kRequest - 1;
    std::string frame(reinterpret_cast<const char*>(&nLength), 4);
    frame += kRequest;
    const bool bSent = write(writeEnd.fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());

    const auto deadline = start + std::chrono::milliseconds(nTimeoutMs);
    char header[4];
    uint32_t nBody = 0;
    std::string strBody;
    if (!bSent) {
        probe.outcome = HostProbe::Outcome::NoAnswer;
        probe.strProblem = "it ended without reading the question";
    } else if (!ReadFully(readEnd.fd, header, 4, deadline, probe.strProblem)) {
        probe.outcome = HostProbe::Outcome::NoAnswer;
    } else if (std::memcpy(&nBody, header, 4), nBody == 0 || nBody > 1024 * 1024) {
        probe.outcome = HostProbe::Outcome::BadAnswer;
    } else {
        strBody.resize(nBody);
        if (!ReadFully(readEnd.fd, strBody.data(), nBody, deadline, probe.strProblem)) {
            probe.outcome = HostProbe::Outcome::NoAnswer;
        } else {
            std::unique_ptr<cJSON, void (*)(cJSON*)> pAnswer(cJSON_ParseWithLength(strBody.data(), strBody.size()),
                                                              cJSON_Delete);
            const cJSON* pFunction = cJSON_GetObjectItemCaseSensitive(pAnswer.get(), "function");
            probe.outcome = cJSON_IsString(pFunction) && std::strcmp(pFunction->valuestring, "GetLastErrorDesc") == 0
                                ? HostProbe::Outcome::Answered
                                : HostProbe::Outcome::BadAnswer;
        }
    }
    probe.nMilliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    // Its stdin closed, a host ends by itself; one that does not is ended.
    close(writeEnd.fd);
    writeEnd.fd = -1;
    if (probe.outcome != HostProbe::Outcome::Answered)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return probe;
}

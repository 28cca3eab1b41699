// Start-up benchmark: how long a browser waits for the first answer of a
// freshly started tessera-host, against the floor set by process creation
// (a minimal C host that answers one frame), plus the request rate over one
// long-lived pipe. The last line is the ratio host / floor.
//
// Usage: tessera-bench-startup <tessera-host> <floor-host> [spawns]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRequest = R"({"function":"GetLastErrorDesc","params":[]})";

std::string Frame(const std::string& body)
{
    const auto n = static_cast<uint32_t>(body.size());
    std::string frame{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                      static_cast<char>(n >> 24)};
    return frame + body;
}

bool ReadExactly(int fd, char* p, size_t n)
{
    while (n > 0) {
        const ssize_t r = read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t off = 0;
    while (off < data.size()) {
        const ssize_t w = write(fd, data.data() + off, data.size() - off);
        if (w <= 0)
            return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

bool ReadFrame(int fd, std::string& body)
{
    unsigned char len[4];
    if (!ReadExactly(fd, reinterpret_cast<char*>(len), 4))
        return false;
    body.resize(len[0] | len[1] << 8 | len[2] << 16 | static_cast<uint32_t>(len[3]) << 24);
    return ReadExactly(fd, body.data(), body.size());
}

struct Child {
    pid_t pid = -1;
    int in = -1;  // the child's stdin
    int out = -1; // the child's stdout
};

Child Spawn(const char* path)
{
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    Child child;
    char* argv[] = {const_cast<char*>(path), nullptr};
    if (posix_spawn(&child.pid, path, &actions, nullptr, argv, environ) != 0) {
        std::perror(path);
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    child.in = toChild[1];
    child.out = fromChild[0];
    return child;
}

int Finish(Child& child)
{
    close(child.in);
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return status;
}

// Spawn to first response, in microseconds.
double TimeOneSession(const char* path, const std::string& frame)
{
    const auto start = Clock::now();
    Child child = Spawn(path);
    std::string body;
    if (!WriteAll(child.in, frame) || !ReadFrame(child.out, body)) {
        std::fprintf(stderr, "%s gave no response\n", path);
        std::exit(2);
    }
    const auto end = Clock::now();
    Finish(child);
    return std::chrono::duration<double, std::micro>(end - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <tessera-host> <floor-host> [spawns]\n", argv[0]);
        return 2;
    }
    const char* pszHost = argv[1];
    const char* pszFloor = argv[2];
    const int nSpawns = argc > 3 ? std::max(1, std::atoi(argv[3])) : 300;
    const std::string frame = Frame(kRequest);

    // Warm the page cache, then alternate the two so that drift in the
    // machine's load hits both alike.
    for (int i = 0; i < 10; ++i) {
        TimeOneSession(pszHost, frame);
        TimeOneSession(pszFloor, frame);
    }
    std::vector<double> host, floor;
    for (int i = 0; i < nSpawns; ++i) {
        host.push_back(TimeOneSession(pszHost, frame));
        floor.push_back(TimeOneSession(pszFloor, frame));
    }

    // Steady state: one host, one request at a time, as a browser port does.
    Child child = Spawn(pszHost);
    const int nRequests = 20000;
    std::string body;
    const auto start = Clock::now();
    for (int i = 0; i < nRequests; ++i) {
        if (!WriteAll(child.in, frame) || !ReadFrame(child.out, body)) {
            std::fprintf(stderr, "host stopped answering\n");
            return 2;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Finish(child);

    const double hostMedian = Median(host), floorMedian = Median(floor);
    std::printf("spawns each: %d\n", nSpawns);
    std::printf("tessera-host spawn to response, median: %.0f us\n", hostMedian);
    std::printf("floor host spawn to response, median: %.0f us\n", floorMedian);
    std::printf("requests per second over one pipe: %.0f\n", nRequests / seconds);
    std::printf("start-up ratio host/floor: %.2f (goal <= 2.0)\n", hostMedian / floorMedian);
    return 0;
}

#include "BenchProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace tessera::bench {

namespace {

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

} // namespace

std::string Frame(const std::string& body)
{
    const auto n = static_cast<uint32_t>(body.size());
    std::string frame{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                      static_cast<char>(n >> 24)};
    return frame + body;
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

Child Spawn(const std::vector<std::string>& argv)
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
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::perror(args[0]);
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    child.in = toChild[1];
    child.out = fromChild[0];
    return child;
}

int Finish(Child& child, rusage* pUsage)
{
    close(child.in);
    close(child.out);
    int status = 0;
    rusage usage{};
    wait4(child.pid, &status, 0, &usage);
    if (pUsage != nullptr)
        *pUsage = usage;
    return status;
}

int RunToEnd(const std::vector<std::string>& argv, std::string& out)
{
    Child child = Spawn(argv);
    close(child.in);
    child.in = -1;
    out.clear();
    char buffer[256];
    ssize_t n;
    while ((n = read(child.out, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    return Finish(child);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double MicrosecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

} // namespace tessera::bench

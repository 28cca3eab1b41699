// Child processes and native-messaging frames for the benchmarks.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tessera::bench {

using Clock = std::chrono::steady_clock;

std::string Frame(const std::string& body);
bool WriteAll(int fd, const std::string& data);
bool ReadFrame(int fd, std::string& body);

struct Child {
    pid_t pid = -1;
    int in = -1;  // the child's stdin
    int out = -1; // the child's stdout
};

// Starts path with argv (argv[0] included) on two pipes; exits on failure.
Child Spawn(const std::vector<std::string>& argv);
// Closes both pipes and waits; returns the wait status and, if asked, the
// child's resource usage (peak RSS among it).
int Finish(Child& child, rusage* pUsage = nullptr);

// Runs argv with no input to its end; returns the wait status and, through
// out, all it wrote.
int RunToEnd(const std::vector<std::string>& argv, std::string& out);

double Median(std::vector<double> v);
double MicrosecondsSince(Clock::time_point start);

} // namespace tessera::bench

// Start-up benchmark: how long a browser waits for the first answer of a
// freshly started tessera-host, against the floor set by process creation
// (a minimal C host that answers one frame), plus the request rate over one
// long-lived pipe. The last line is the ratio host / floor.
//
// Usage: tessera-bench-startup <tessera-host> <floor-host> [spawns]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchProcess.h"

using namespace tessera::bench;

namespace {

const std::string kRequest = R"({"function":"GetLastErrorDesc","params":[]})";

// Spawn to first response, in microseconds.
double TimeOneSession(const char* path, const std::string& frame)
{
    const auto start = Clock::now();
    Child child = Spawn({path});
    std::string body;
    if (!WriteAll(child.in, frame) || !ReadFrame(child.out, body)) {
        std::fprintf(stderr, "%s gave no response\n", path);
        std::exit(2);
    }
    const double elapsed = MicrosecondsSince(start);
    Finish(child);
    return elapsed;
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
    Child child = Spawn({pszHost});
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

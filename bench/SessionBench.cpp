// Signing-session benchmarks, each against a reference measured in the same
// run on the test store:
//  - a whole session as a browser runs it (spawn, select one match, sign 1 KiB
//    with SHA-256 as attached PKCS#7, end of input) against a minimal NSS
//    program that opens the same database, finds the same key and makes one
//    signature; and against the same program also loading the system's
//    PKCS#11 modules and listing every slot, as choosing among token
//    certificates requires;
//  - SignMessage requests per second over one pipe against raw signatures
//    per second with the same key;
//  - peak RSS of the host signing a 64 MiB message detached, as a multiple of
//    the message size.
//
// Usage: tessera-bench-session <tessera-host> <floor-signer> [sessions]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "tests/support/FixtureStore.h"

using namespace tessera::bench;

namespace {

std::string Request(const std::string& function, const std::string& param0, const std::string& param1)
{
    return R"({"function":")" + function + R"(","params":[{"param":")" + param0 + R"("},{"param":")" + param1 +
           R"("}]})";
}

const std::string kSelect = Frame(Request("SelectSignCertificate", "Alice Signer", ""));
const std::string kSign = Frame(Request("SignMessage", std::string(1024, 'a'), "SHA-256"));

void Expect(bool bOk, const char* pszWhat)
{
    if (!bOk) {
        std::fprintf(stderr, "benchmark step failed: %s\n", pszWhat);
        std::exit(2);
    }
}

void Call(Child& host, const std::string& frame, const char* pszWhat)
{
    std::string body;
    Expect(WriteAll(host.in, frame) && ReadFrame(host.out, body), pszWhat);
    Expect(body.find(R"("errorcode":0,)") != std::string::npos, pszWhat);
}

double TimeHostSession(const std::string& strHost)
{
    const auto start = Clock::now();
    Child host = Spawn({strHost});
    Call(host, kSelect, "select");
    Call(host, kSign, "sign");
    const int status = Finish(host);
    Expect(WIFEXITED(status) && WEXITSTATUS(status) == 0, "host exit");
    return MicrosecondsSince(start);
}

// Runs the floor signer; returns its whole run time, and its own signing
// loop time through pLoop.
double TimeFloor(const std::string& strFloor, int nCount, double* pLoop = nullptr, bool bTokens = false)
{
    const auto start = Clock::now();
    std::string out;
    const int status = RunToEnd({strFloor, "alice", std::to_string(nCount), bTokens ? "tokens" : "db"}, out);
    const double elapsed = MicrosecondsSince(start);
    Expect(WIFEXITED(status) && WEXITSTATUS(status) == 0, "floor signer");
    if (pLoop != nullptr)
        *pLoop = std::atof(out.c_str());
    return elapsed;
}

// Peak RSS in KiB of a host that selects and then signs one message.
long PeakRss(const std::string& strHost, const std::string& signFrame)
{
    Child host = Spawn({strHost});
    Call(host, kSelect, "select");
    if (!signFrame.empty())
        Call(host, signFrame, "sign large");
    rusage usage{};
    Finish(host, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <tessera-host> <floor-signer> [sessions]\n", argv[0]);
        return 2;
    }
    const std::string strHost = argv[1], strFloor = argv[2];
    const int nSessions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 50;
    tessera::test::FixtureStore::Get(); // HOME and SOFTHSM2_CONF now point at the test store

    // Whole sessions, alternated with the floor so that drift hits both alike.
    for (int i = 0; i < 3; ++i) {
        TimeHostSession(strHost);
        TimeFloor(strFloor, 1);
    }
    std::vector<double> sessions, floors, tokenFloors;
    for (int i = 0; i < nSessions; ++i) {
        sessions.push_back(TimeHostSession(strHost));
        floors.push_back(TimeFloor(strFloor, 1));
        tokenFloors.push_back(TimeFloor(strFloor, 1, nullptr, true));
    }
    const double session = Median(sessions), floor = Median(floors), tokenFloor = Median(tokenFloors);

    // Steady state over one pipe.
    const int nSignatures = 300;
    Child host = Spawn({strHost});
    Call(host, kSelect, "select");
    Call(host, kSign, "warm-up");
    const auto start = Clock::now();
    for (int i = 0; i < nSignatures; ++i)
        Call(host, kSign, "sign");
    const double hostRate = nSignatures / (MicrosecondsSince(start) / 1e6);
    Finish(host);
    double loop = 0;
    TimeFloor(strFloor, nSignatures, &loop);
    const double rawRate = nSignatures / (loop / 1e6);

    // Memory: a 64 MiB message signed detached, against the same host doing
    // no more than selecting.
    const size_t nMessage = 64u << 20;
    const long baseKiB = PeakRss(strHost, "");
    const long largeKiB =
        PeakRss(strHost, Frame(Request("SignMessageDetached", std::string(nMessage, 'm'), "SHA-256")));
    const double messageKiB = static_cast<double>(nMessage) / 1024;

    std::printf("sessions each: %d\n", nSessions);
    std::printf("session (spawn, select, sign 1 KiB attached, end), median: %.0f us\n", session);
    std::printf("floor (open NSS database, find key, one signature), median: %.0f us\n", floor);
    std::printf("floor with the PKCS#11 modules loaded and every slot listed, median: %.0f us\n", tokenFloor);
    std::printf("SignMessage over one pipe: %.0f per second\n", hostRate);
    std::printf("raw signatures with the same key: %.0f per second\n", rawRate);
    std::printf("peak RSS selecting only: %ld KiB\n", baseKiB);
    std::printf("peak RSS signing 64 MiB detached: %ld KiB = %.2f x the message\n", largeKiB,
                largeKiB / messageKiB);
    std::printf("steady-state ratio SignMessage/raw: %.2f\n", hostRate / rawRate);
    std::printf("session ratio session/floor with tokens: %.2f\n", session / tokenFloor);
    std::printf("session ratio session/floor: %.2f (goal <= 1.3)\n", session / floor);
    return 0;
}

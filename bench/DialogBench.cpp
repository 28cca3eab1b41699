// Selection-dialog benchmark: the time from the launcher's call to the
// dialog's first paint, with 2 and with 20 certificates, against a bare Qt
// program that creates its application object and paints one empty dialog
// holding a list widget (timed from its spawn, so that it pays for loading
// Qt as the launcher does). Runs under an Xvfb server of its own. Also shows
// that a host that shows no dialog loads neither the dialog module nor Qt.
// The last line is the ratio dialog (20 certificates) / floor.
//
// Usage: tessera-bench-dialog <floor-dialog> <tessera-host> [runs]
//        tessera-bench-dialog --child N   (one timed run with N certificates)
#include <QCoreApplication>
#include <QEvent>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchProcess.h"
#include "kernel/CertificateFilters.h"
#include "tests/support/VirtualDisplay.h"
#include "ui/DialogLauncher.h"

using namespace tessera::bench;

namespace {

long long Now() { return static_cast<long long>(Clock::now().time_since_epoch().count()); }

// Installed on the application object the dialog module creates: reports
// the first paint and ends the process.
class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint) {
            std::printf("paint %lld\n", Now());
            std::fflush(stdout);
            _exit(0);
        }
        return QObject::eventFilter(pObject, pEvent);
    }
};

void InstallFirstPaint() { QCoreApplication::instance()->installEventFilter(new FirstPaint); }

int RunChild(size_t nCertificates)
{
    CertList all;
    if (ExtractCertificatesFromLocalStore(u"MY", all) != KVRA_OK || all.size() < nCertificates) {
        std::fprintf(stderr, "the store holds fewer than %zu certificates\n", nCertificates);
        return 2;
    }
    HCERTSTORE hStore = CertOpenMemoryStore();
    for (size_t i = 0; i < nCertificates; ++i)
        hStore->AddCertificate(all[i]);
    qAddPreRoutine(InstallFirstPaint);
    SelectCertificateUIParams params{};
    std::printf("call %lld\n", Now());
    std::fflush(stdout);
    CustomCryptUIDlgSelectCertificateFromStore(hStore.get(), &params);
    std::fprintf(stderr, "the dialog closed without painting\n");
    return 2;
}

// Runs a child to its end; returns its output. Waits a little first: a Qt
// client started right after another one has quit finds the X server busy
// for a while, and would take up to twice as long to paint.
// Through pnSpawned, the moment of the spawn.
std::string Output(const std::vector<std::string>& argv, long long* pnSpawned = nullptr)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (pnSpawned != nullptr)
        *pnSpawned = Now();
    std::string out;
    const int status = RunToEnd(argv, out);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0].c_str());
        std::exit(2);
    }
    return out;
}

long long Field(const std::string& out, const char* pszName)
{
    const size_t at = out.find(std::string(pszName) + " ");
    if (at == std::string::npos) {
        std::fprintf(stderr, "no %s time in: %s\n", pszName, out.c_str());
        std::exit(2);
    }
    return std::atoll(out.c_str() + at + std::strlen(pszName) + 1);
}

double DialogMicroseconds(const std::string& self, int nCertificates)
{
    const std::string out = Output({self, "--child", std::to_string(nCertificates)});
    return (Field(out, "paint") - Field(out, "call")) / 1e3;
}

double FloorMicroseconds(const std::string& floor)
{
    long long start = 0;
    const std::string out = Output({floor}, &start);
    return (Field(out, "paint") - start) / 1e3;
}

// Whether a host that answered one GetLastErrorDesc has Qt or the dialog
// module mapped.
bool HostLoadsUi(const std::string& host)
{
    Child child = Spawn({host});
    std::string body;
    if (!WriteAll(child.in, Frame(R"({"function":"GetLastErrorDesc","params":[]})")) || !ReadFrame(child.out, body)) {
        std::fprintf(stderr, "the host gave no answer\n");
        std::exit(2);
    }
    std::ifstream maps("/proc/" + std::to_string(child.pid) + "/maps");
    std::stringstream text;
    text << maps.rdbuf();
    Finish(child);
    return text.str().find("libQt6") != std::string::npos || text.str().find("libtessera-ui") != std::string::npos;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--child")
        return RunChild(static_cast<size_t>(std::atoi(argv[2])));
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <floor-dialog> <tessera-host> [runs]\n", argv[0]);
        return 2;
    }
    const std::string self = "/proc/self/exe", floor = argv[1], host = argv[2];
    const int nRuns = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;

    // A store of 20 certificates with keys, and a display of our own.
    const std::string strStore = std::string(TESSERA_BINARY_DIR) + "/bench-dialog-store";
    if (std::system(("'" TESSERA_SOURCE_DIR "/bench/make-bench-store' '" + strStore + "' 20").c_str()) != 0)
        return 2;
    setenv("HOME", (strStore + "/home").c_str(), 1);
    const tessera::test::VirtualDisplay display;
    if (!display.Ready()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    setenv("DISPLAY", display.Name().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");

    char szSelf[4096];
    const ssize_t n = readlink(self.c_str(), szSelf, sizeof szSelf - 1);
    const std::string strSelf(szSelf, n > 0 ? static_cast<size_t>(n) : 0);
    for (int i = 0; i < 2; ++i) {
        DialogMicroseconds(strSelf, 2);
        FloorMicroseconds(floor);
    }
    std::vector<double> two, twenty, floors;
    for (int i = 0; i < nRuns; ++i) {
        two.push_back(DialogMicroseconds(strSelf, 2));
        twenty.push_back(DialogMicroseconds(strSelf, 20));
        floors.push_back(FloorMicroseconds(floor));
    }
    const bool bHostLoadsUi = HostLoadsUi(host);

    const double floorMedian = Median(floors), twentyMedian = Median(twenty);
    std::printf("runs each: %d\n", nRuns);
    std::printf("launcher call to first paint, 2 certificates, median: %.0f us\n", Median(two));
    std::printf("launcher call to first paint, 20 certificates, median: %.0f us\n", twentyMedian);
    std::printf("bare Qt dialog, spawn to first paint, median: %.0f us\n", floorMedian);
    std::printf("a host answering without a dialog loads Qt or the dialog module: %s\n", bHostLoadsUi ? "yes" : "no");
    std::printf("dialog ratio, 2 certificates / floor: %.2f\n", Median(two) / floorMedian);
    std::printf("dialog ratio, 20 certificates / floor: %.2f (goal <= 1.5)\n", twentyMedian / floorMedian);
    return 0;
}

#include "VirtualDisplay.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tessera::test {

namespace {

bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

// The paths are built by appending: GCC 12 at -O3 sees a false overlap
// (-Wrestrict) in "literal" + std::string.
std::string DisplayPath(const char* pszPrefix, int n, const char* pszSuffix = "")
{
    std::string strPath(pszPrefix);
    strPath += std::to_string(n);
    strPath += pszSuffix;
    return strPath;
}

} // namespace

VirtualDisplay::VirtualDisplay()
{
    int n = 90 + getpid() % 100;
    while (Exists(DisplayPath("/tmp/.X11-unix/X", n)) || Exists(DisplayPath("/tmp/.X", n, "-lock")))
        ++n;
    m_strName = DisplayPath(":", n);
    m_pid = fork();
    if (m_pid == 0) {
        execlp("Xvfb", "Xvfb", m_strName.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string strSocket = DisplayPath("/tmp/.X11-unix/X", n);
    for (int i = 0; m_pid > 0 && i < 100 && !Exists(strSocket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    m_bReady = m_pid > 0 && Exists(strSocket);
}

VirtualDisplay::~VirtualDisplay()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

} // namespace tessera::test

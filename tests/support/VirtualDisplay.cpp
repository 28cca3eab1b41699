#include "VirtualDisplay.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tessera::test {

namespace {

bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

} // namespace

VirtualDisplay::VirtualDisplay()
{
    int n = 90 + getpid() % 100;
    while (Exists("/tmp/.X11-unix/X" + std::to_string(n)) || Exists("/tmp/.X" + std::to_string(n) + "-lock"))
        ++n;
    m_strName = ":" + std::to_string(n);
    m_pid = fork();
    if (m_pid == 0) {
        execlp("Xvfb", "Xvfb", m_strName.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string strSocket = "/tmp/.X11-unix/X" + std::to_string(n);
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

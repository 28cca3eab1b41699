// An Xvfb server of our own on a free display number, for as long as the
// object lives.
#pragma once

#include <sys/types.h>

#include <string>

namespace tessera::test {

class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Whether the server accepts connections.
    bool Ready() const { return m_bReady; }
    // The value for DISPLAY, e.g. ":93".
    const std::string& Name() const { return m_strName; }

private:
    pid_t m_pid = -1;
    bool m_bReady = false;
    std::string m_strName;
};

} // namespace tessera::test

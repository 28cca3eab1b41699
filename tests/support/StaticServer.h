// A static web server on 127.0.0.1 for browser tests: serves the files of one
// directory over HTTP/1.0 from a thread of its own, on a port of its choice.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tessera::test {

class StaticServer {
public:
    explicit StaticServer(std::string strRoot);
    ~StaticServer();
    StaticServer(const StaticServer&) = delete;
    StaticServer& operator=(const StaticServer&) = delete;

    // "http://127.0.0.1:<port>", or "" when the server could not start.
    std::string Origin() const;
    // The port it listens on, 0 when the server could not start.
    int Port() const { return m_nPort; }

    // Sends a header line ("Name: value") with every answer for the path.
    void AddHeader(const std::string& strPath, const std::string& strHeader);

private:
    void Serve();
    void Answer(int fdClient);

    std::string m_strRoot;
    int m_fdListen = -1;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::multimap<std::string, std::string> m_headers; // path -> header line
    std::thread m_thread;
};

} // namespace tessera::test

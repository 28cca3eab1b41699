#include "tests/support/StaticServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace tessera::test {

namespace {

const char* ContentType(const std::string& path)
{
    auto endsWith = [&](const char* psz) {
        const std::string suffix(psz);
        return path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".html"))
        return "text/html; charset=utf-8";
    if (endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (endsWith(".css"))
        return "text/css; charset=utf-8";
    return "application/octet-stream";
}

void WriteAll(int fd, const std::string& bytes)
{
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + nDone, bytes.size() - nDone, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        nDone += static_cast<size_t>(n);
    }
}

} // namespace

StaticServer::StaticServer(std::string strRoot) : m_strRoot(std::move(strRoot))
{
    m_fdListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    if (m_fdListen < 0 || bind(m_fdListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_fdListen, 16) != 0 ||
        getsockname(m_fdListen, reinterpret_cast<sockaddr*>(&address), &nLength) != 0)
        return;
    m_nPort = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

StaticServer::~StaticServer()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fdListen >= 0)
        close(m_fdListen);
}

std::string StaticServer::Origin() const
{
    return m_nPort == 0 ? "" : "http://127.0.0.1:" + std::to_string(m_nPort);
}

void StaticServer::AddHeader(const std::string& strPath, const std::string& strHeader)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_headers.emplace(strPath, strHeader);
}

void StaticServer::Serve()
{
    while (!m_bStop) {
        pollfd pfd{m_fdListen, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        const int fdClient = accept4(m_fdListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fdClient >= 0) {
            Answer(fdClient);
            close(fdClient);
        }
    }
}

void StaticServer::Answer(int fdClient)
{
    // The request line is all that matters: "GET /path HTTP/1.1".
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd pfd{fdClient, POLLIN, 0};
        if (poll(&pfd, 1, 2000) <= 0)
            return;
        const ssize_t n = recv(fdClient, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    std::istringstream line(request.substr(0, request.find("\r\n")));
    std::string method, target;
    line >> method >> target;
    std::string path = target.substr(0, target.find_first_of("?#"));
    if (path == "/")
        path = "/index.html";
    std::ifstream file;
    if (method == "GET" && path.find("..") == std::string::npos)
        file.open(m_strRoot + path, std::ios::binary);
    if (!file) {
        WriteAll(fdClient, "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::ostringstream body;
    body << file.rdbuf();
    const std::string content = body.str();
    std::string extra;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto range = m_headers.equal_range(path);
        for (auto it = range.first; it != range.second; ++it)
            extra += it->second + "\r\n";
    }
    WriteAll(fdClient, "HTTP/1.0 200 OK\r\nContent-Type: " + std::string(ContentType(path)) +
                           "\r\nContent-Length: " + std::to_string(content.size()) +
                           "\r\nCache-Control: no-store\r\nConnection: close\r\n" + extra + "\r\n" + content);
}

} // namespace tessera::test

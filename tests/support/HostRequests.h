// Request bodies for the host's five functions, and their responses read
// back, for tests that talk to the real host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostProcess.h"

namespace tessera::test {

// {"function":F,"params":[{"param":P1},...]}, with the texts JSON-quoted.
std::string Request(const std::string& function, const std::vector<std::string>& params);

struct Response {
    std::string function;
    int64_t errorcode = 0;
    std::string result; // the text, when there is one
    bool bResultFalse = false;
};

// Parses a response body; a body that does not parse fails the test.
Response ParseResponse(const std::string& body);

// One host for a whole conversation: each call sends a request and reads
// its response.
class HostConversation {
public:
    explicit HostConversation(const HostOptions& options) : m_session(options) {}
    Response Call(const std::string& function, const std::vector<std::string>& params = {});
    // Sends a body as it is.
    Response CallRaw(const std::string& body);
    std::string Describe() { return Call("GetLastErrorDesc").result; }
    int Finish() { return m_session.Finish(); }

private:
    HostSession m_session;
};

} // namespace tessera::test

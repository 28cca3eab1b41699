// Runs a host program the way a browser starts it and asks it one
// question: the frame {"function":"GetLastErrorDesc"}.
#pragma once

#include <string>

struct HostProbe {
    enum class Outcome { Answered, Missing, NotExecutable, NoAnswer, BadAnswer } outcome = Outcome::Missing;
    std::string strProblem; // for NoAnswer: what happened instead
    long nMilliseconds = 0; // from the start to the whole answer
};

// strOrigin is the first argument, as the browser passes it. The host gets
// nTimeoutMs to answer.
HostProbe ProbeHost(const std::string& strPath, const std::string& strOrigin, int nTimeoutMs = 10000);

// The test certificate store, built once per test program by
// tests/fixtures/make-store into a fresh directory, with the environment
// (HOME, SOFTHSM2_CONF, PATH, pinentry answers and log) pointed at it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::test {

class FixtureStore {
public:
    // Builds the store on first use. Fails the calling test if it cannot.
    static const FixtureStore& Get();

    const std::string& Dir() const { return m_strDir; }
    std::string CertPem(const std::string& strNickname) const { return m_strDir + "/certs/" + strNickname + ".pem"; }
    std::string KeyPem(const std::string& strNickname) const { return m_strDir + "/keys/" + strNickname + ".key.pem"; }

    // The scripted pinentry: the answers for its next prompts ("pin:1234",
    // "cancel"), and what it was asked since the last call to SetPinAnswers.
    void SetPinAnswers(const std::vector<std::string>& vtrAnswers) const;
    std::string PinentryLog() const;
    // How many times pinentry was asked for a PIN since then.
    size_t PinPrompts() const;

private:
    std::string m_strDir;
    std::string m_strAnswers;
    std::string m_strLog;
};

// Runs a shell command; returns its exit code.
int RunShell(const std::string& strCommand);

// Reads and writes whole files.
std::string ReadFileBytes(const std::string& strPath);
void WriteFileBytes(const std::string& strPath, const std::string& strBytes);

// An independent Base64 decoder (CR LF ignored), for results under test.
std::string DecodeBase64(const std::string& strText);

} // namespace tessera::test

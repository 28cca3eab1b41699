#include "FixtureStore.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tessera::test {

int RunShell(const std::string& strCommand)
{
    const int status = std::system(strCommand.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileBytes(const std::string& strPath, const std::string& strBytes)
{
    std::ofstream(strPath, std::ios::binary | std::ios::trunc) << strBytes;
}

std::string DecodeBase64(const std::string& strText)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : strText) {
        const size_t v = kAlphabet.find(c);
        if (v == std::string::npos)
            continue;
        acc = acc << 6 | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xFF);
        }
    }
    return out;
}

const FixtureStore& FixtureStore::Get()
{
    static const FixtureStore s_store = [] {
        FixtureStore store;
        // CTest builds one store for all test programs; a test program run
        // on its own builds its own.
        if (const char* pszShared = std::getenv("TESSERA_TEST_STORE"); pszShared != nullptr && *pszShared != '\0') {
            store.m_strDir = pszShared;
        } else {
            char szTemplate[] = "/tmp/tessera-store-XXXXXX";
            const char* pszDir = mkdtemp(szTemplate);
            if (pszDir == nullptr)
                throw std::runtime_error("mkdtemp failed");
            store.m_strDir = pszDir;
            const std::string strScript = std::string(TESSERA_SOURCE_DIR) + "/tests/fixtures/make-store";
            if (RunShell(strScript + " " + store.m_strDir) != 0)
                throw std::runtime_error("make-store failed");
        }
        setenv("HOME", (store.m_strDir + "/home").c_str(), 1);
        setenv("SOFTHSM2_CONF", (store.m_strDir + "/softhsm2.conf").c_str(), 1);
        setenv("PATH", (store.m_strDir + "/bin:" + std::getenv("PATH")).c_str(), 1);
        // Each test process talks to pinentry through files of its own.
        const std::string strPid = std::to_string(getpid());
        store.m_strAnswers = store.m_strDir + "/pinentry." + strPid + ".answers";
        store.m_strLog = store.m_strDir + "/pinentry." + strPid + ".log";
        setenv("TESSERA_PINENTRY_ANSWERS", store.m_strAnswers.c_str(), 1);
        setenv("TESSERA_PINENTRY_LOG", store.m_strLog.c_str(), 1);
        // Descriptions and prompts in English, whatever the machine says.
        setenv("LANG", "C", 1);
        unsetenv("LANGUAGE");
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        return store;
    }();
    return s_store;
}

void FixtureStore::SetPinAnswers(const std::vector<std::string>& vtrAnswers) const
{
    std::string strAnswers;
    for (const auto& strAnswer : vtrAnswers)
        strAnswers += strAnswer + "\n";
    WriteFileBytes(m_strAnswers, strAnswers);
    WriteFileBytes(m_strLog, "");
}

std::string FixtureStore::PinentryLog() const { return ReadFileBytes(m_strLog); }

size_t FixtureStore::PinPrompts() const
{
    const std::string strLog = PinentryLog();
    size_t n = 0;
    for (size_t at = strLog.find("GETPIN"); at != std::string::npos; at = strLog.find("GETPIN", at + 1))
        ++n;
    return n;
}

} // namespace tessera::test

// A smart card through the whole stack a user's machine has: a virtual CAC
// card in pcscd's vpcd reader (tests/fixtures/card-reader), Debian's OpenSC
// as p11-kit registers it, NSS and the real host. Nothing is added to the
// user's pkcs11.txt.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostRequests.h"
#include "tests/support/VirtualDisplay.h"

extern char** environ;

using namespace tessera::test;

namespace {

constexpr int64_t kCardRemoved = -2146434967; // 0x80100069
const char* const kCardholder = "CN=Alice Cardholder, O=Tessera Test, C=CN";
const char* const kPin = "pin:13572468";

// The card-reader process: orders on its stdin, confirmations on its stdout.
class CardReader {
public:
    CardReader(const std::string& dir, const std::string& db)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, (dir + "/reader.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::string script = TESSERA_CARD_READER;
        std::vector<std::string> args = {script, dir + "/reader", TESSERA_VIRTUAL_CARD, db, "card-signer"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, script.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_fdIn = in[1];
        m_fdOut = out[0];
    }
    ~CardReader()
    {
        close(m_fdIn); // the card program ends at the end of its input, pcscd with it
        close(m_fdOut);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    // Sends an order and returns the answer line, or "" when none comes.
    std::string Order(const std::string& word)
    {
        const std::string line = word + "\n";
        if (write(m_fdIn, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return "";
        std::string answer;
        char c;
        pollfd pfd{m_fdOut, POLLIN, 0};
        while (poll(&pfd, 1, 30000) == 1 && read(m_fdOut, &c, 1) == 1 && c != '\n')
            answer += c;
        return answer;
    }
    // Takes the card out or puts it in, then lets a second pass: NSS and
    // OpenSC each trust what they saw of a slot for a second, and the host
    // last looked before the change, which a person takes longer than that
    // to make.
    void Swap(const std::string& word)
    {
        ASSERT_EQ(Order(word), word);
        std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    }

private:
    pid_t m_pid = -1;
    int m_fdIn = -1, m_fdOut = -1;
};

class HostCard : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const FixtureStore& store = FixtureStore::Get();
        if (*TESSERA_VIRTUAL_CARD == '\0') {
            s_strSkip = "libcacard-dev, libpcsclite-dev or libnss3-dev was missing when the build was configured";
            return;
        }
        if (access("/usr/share/p11-kit/modules/opensc-pkcs11.module", R_OK) != 0) {
            s_strSkip = "opensc-pkcs11 is not installed";
            return;
        }
        // The card's own NSS database (its password is the card's PIN),
        // holding a key and a certificate issued by the store's test CA.
        const std::string dir = Path("card");
        ASSERT_EQ(RunShell("set -e; d='" + dir + "'; rm -rf \"$d\"; mkdir -p \"$d/db\"; printf '13572468\\n' > \"$d/pw\"; "
                           "head -c 1024 /dev/urandom > \"$d/noise\"; certutil -N -d \"sql:$d/db\" -f \"$d/pw\"; "
                           "certutil -R -d \"sql:$d/db\" -f \"$d/pw\" -s '" + std::string(kCardholder) +
                           "' -k rsa -g 2048 -Z SHA256 -z \"$d/noise\" -a -o \"$d/req\" >/dev/null 2>&1; "
                           "certutil -C -d 'sql:" + store.Dir() + "/ca-db' -c 'Tessera Test CA' -i \"$d/req\" -a "
                           "-o \"$d/cert.pem\" -m 7340033 -Z SHA256 -w -1 -v 120 --keyUsage digitalSignature,critical "
                           "</dev/null >/dev/null 2>&1; certutil -A -d \"sql:$d/db\" -f \"$d/pw\" -n card-signer -t u,u,u "
                           "-a -i \"$d/cert.pem\"; openssl x509 -pubkey -noout -in \"$d/cert.pem\" > \"$d/cert.pub\""),
                  0);
        s_pReader = std::make_unique<CardReader>(dir, dir + "/db");
        if (s_pReader->Order("in") != "in") {
            const std::string err = ReadFileBytes(dir + "/reader.err");
            s_pReader.reset();
            if (err.find("is missing") != std::string::npos || err.find("not available") != std::string::npos)
                s_strSkip = err;
            else
                FAIL() << "the card reader did not come up: " << err << ReadFileBytes(dir + "/reader/card.log");
            return;
        }
        if (RunShell("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") == 0)
            s_pDisplay = std::make_unique<VirtualDisplay>();
    }
    static void TearDownTestSuite()
    {
        s_pReader.reset();
        s_pDisplay.reset();
    }
    void SetUp() override
    {
        if (!s_strSkip.empty())
            GTEST_SKIP() << s_strSkip;
        ASSERT_TRUE(s_pReader);
        FixtureStore::Get().SetPinAnswers({});
    }

    static std::string Path(const std::string& name) { return FixtureStore::Get().Dir() + "/" + name; }

    static HostOptions Options(const std::string& display = "")
    {
        HostOptions options;
        options.env = {{"LANG", "C"}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"DISPLAY", display},
                       {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", display.empty() ? "" : "xcb"},
                       {"PCSCLITE_CSOCK_NAME", Path("card/reader/run/pcscd/pcscd.comm")}};
        return options;
    }

    static size_t PinPrompts() { return FixtureStore::Get().PinPrompts(); }

    // openssl's verdict on a signature of text made with the card's key.
    static bool Verifies(const std::string& form, const char* pszDigest, const std::string& text,
                         const std::string& base64)
    {
        WriteFileBytes(Path("card/data.bin"), text);
        WriteFileBytes(Path("card/sig.bin"), DecodeBase64(base64));
        const std::string d = Path("card");
        if (form == "SignMessagePKCS1")
            return RunShell(std::string("openssl dgst -") + pszDigest + " -verify " + d + "/cert.pub -signature " + d +
                            "/sig.bin " + d + "/data.bin >/dev/null 2>&1") == 0;
        // Only the card's certificate may count as the signer.
        std::string command = "openssl cms -verify -inform DER -noverify -nointern -binary -in " + d +
                              "/sig.bin -certfile " + d + "/cert.pem -out " + d + "/content.bin";
        if (form == "SignMessageDetached")
            command += " -content " + d + "/data.bin";
        return RunShell(command + " >/dev/null 2>&1") == 0 && ReadFileBytes(d + "/content.bin") == text;
    }

    static inline std::string s_strSkip;
    static inline std::unique_ptr<CardReader> s_pReader;
    static inline std::unique_ptr<VirtualDisplay> s_pDisplay;
};

} // namespace

// The card is a hardware key, so the dialog lists it before the database's
// certificate that matches as well; nothing asks for a PIN to list it.
TEST_F(HostCard, TheCardsCertificateIsOfferedFirstAndListedWithoutAPin)
{
    {
        HostConversation host(Options());
        EXPECT_EQ(host.Call("SelectSignCertificate", {"Alice Cardholder", ""}).result, kCardholder);
        EXPECT_EQ(host.Finish(), 0);
    }
    if (!s_pDisplay || !s_pDisplay->Ready())
        GTEST_SKIP() << "Xvfb or xdotool is not installed: the dialog's order was not checked";
    HostConversation host(Options(s_pDisplay->Name()));
    std::thread user([] {
        const std::string display = "DISPLAY=" + s_pDisplay->Name() + " ";
        EXPECT_EQ(RunShell(display + "timeout 20 xdotool search --sync --onlyvisible --name 'Windows Security' "
                                     "windowfocus --sync >/dev/null 2>&1 && " +
                           display + "xdotool key Return"),
                  0);
    });
    const Response chosen = host.Call("SelectSignCertificate", {"Alice", ""}); // Alice Signer too
    user.join();
    EXPECT_EQ(chosen.result, kCardholder);
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(PinPrompts(), 0u);
}

TEST_F(HostCard, OnePinPromptNamingTheCardSignsInEveryForm)
{
    FixtureStore::Get().SetPinAnswers({kPin});
    HostConversation host(Options());
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Cardholder", ""}).result, kCardholder);
    for (const char* pszForm : {"SignMessage", "SignMessageDetached", "SignMessagePKCS1"}) {
        for (const auto& [pszHash, pszDigest] : {std::pair{"SHA-256", "sha256"}, std::pair{"sha-1", "sha1"}}) {
            const std::string text = std::string("card ") + pszForm + " " + pszHash;
            const Response signature = host.Call(pszForm, {text, pszHash});
            ASSERT_EQ(signature.errorcode, 0) << pszForm << " " << pszHash << ": " << host.Describe();
            EXPECT_TRUE(Verifies(pszForm, pszDigest, text, signature.result)) << pszForm << " " << pszHash;
        }
    }
    EXPECT_EQ(PinPrompts(), 1u);
    EXPECT_NE(FixtureStore::Get().PinentryLog().find("token \"Alice Cardholder\""), std::string::npos)
        << FixtureStore::Get().PinentryLog();
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostCard, PulledOutItFailsAndPutBackItAsksForThePinAgain)
{
    FixtureStore::Get().SetPinAnswers({kPin, kPin});
    HostConversation host(Options());
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Cardholder", ""}).result, kCardholder);
    ASSERT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(PinPrompts(), 1u);

    s_pReader->Swap("out");
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kCardRemoved);
    EXPECT_EQ(PinPrompts(), 1u);

    s_pReader->Swap("in");
    const Response again = host.Call("SignMessage", {"def", "SHA-256"});
    ASSERT_EQ(again.errorcode, 0) << host.Describe();
    EXPECT_TRUE(Verifies("SignMessage", "sha256", "def", again.result));
    EXPECT_EQ(PinPrompts(), 2u);
    EXPECT_EQ(host.Finish(), 0);
}

// The card itself, not only the host's session, must forget the PIN when
// the host ends: a card left verified signs for any program that reaches
// the reader, with no PIN asked.
TEST_F(HostCard, TheCardIsLoggedOutOnceTheHostHasEnded)
{
    FixtureStore::Get().SetPinAnswers({kPin});
    HostConversation host(Options());
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Cardholder", ""}).result, kCardholder);
    ASSERT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(s_pReader->Order("state"), "logged-in");
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(s_pReader->Order("state"), "logged-out");
}

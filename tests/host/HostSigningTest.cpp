// Selection and signing through frames, on the fixture store, with every
// signature checked by the openssl command-line tool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"
#include "tests/support/HostRequests.h"

using namespace tessera::test;

namespace {

HostOptions Options(const std::string& strLang = "C")
{
    HostOptions options;
    // No display: several matches then report that no dialog can be shown.
    options.env = {{"LANG", strLang}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"DISPLAY", ""},
                   {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    return options;
}

// One host for a whole conversation, with no display unless told otherwise.
class Host : public HostConversation {
public:
    explicit Host(const HostOptions& options = Options()) : HostConversation(options) {}
};

constexpr int64_t kNoCertificate = -1610149887;  // 0xA0071001
constexpr int64_t kNotReady = -1610145791;       // 0xA0072001
constexpr int64_t kBadAlgorithm = -1610145760;   // 0xA0072020
constexpr int64_t kInvalidArg = -2147024809;     // 0x80070057
constexpr int64_t kNotAnObject = -2146893779;    // 0x8009002D
constexpr int64_t kNotAString = -1610141180;     // 0xA0073204
constexpr int64_t kPinCancelled = -2146434962;   // 0x8010006E
constexpr int64_t kNoDialog = -2147023496;       // 0x80070578

constexpr int64_t kNoKey = -2146885621;         // 0x8009200B
constexpr int64_t kCardRemoved = -2146434967;   // 0x80100069

const char* const kAlice = "CN=Alice Signer, O=Tessera Test, C=CN";
const char* const kHardwareSigner = "CN=Hardware Signer, O=Tessera Test, C=CN";

class HostSigning : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const FixtureStore& store = FixtureStore::Get();
        for (const char* pszName : {"alice", "hw-signer", "fox", "gus"}) {
            ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + store.CertPem(pszName) + " > " + Path(pszName) +
                               ".pub"),
                      0);
        }
    }
    void SetUp() override { FixtureStore::Get().SetPinAnswers({}); }

    static std::string Path(const std::string& name) { return FixtureStore::Get().Dir() + "/" + name; }

    // openssl's verdict on a PKCS#7 result: the content it recovers, or
    // nothing when it refuses.
    static std::optional<std::string> CmsVerify(const std::string& base64, const std::string& detachedContent = "",
                                                bool bDetached = false)
    {
        WriteFileBytes(Path("host-p7.der"), DecodeBase64(base64));
        WriteFileBytes(Path("host-content.bin"), detachedContent);
        std::string command = "openssl cms -verify -inform DER -noverify -binary -in " + Path("host-p7.der") +
                              " -out " + Path("host-verified.bin");
        if (bDetached)
            command += " -content " + Path("host-content.bin");
        if (RunShell(command + " 2>/dev/null") != 0)
            return std::nullopt;
        return ReadFileBytes(Path("host-verified.bin"));
    }

    // A copy of the fixture's SoftHSM token, changed by pkcs11-tool actions
    // (each logged in with the user PIN); returns the SOFTHSM2_CONF that
    // shows the copy alone.
    static std::string TokenCopy(const std::string& name, const std::vector<std::string>& actions)
    {
        const std::string dir = Path(name);
        const std::string conf = dir + "/softhsm2.conf";
        std::string script = "set -e; rm -rf '" + dir + "'; mkdir -p '" + dir + "'; cp -r '" +
                             FixtureStore::Get().Dir() + "/tokens' '" + dir + "/'; printf 'directories.tokendir = " +
                             dir + "/tokens\\nobjectstore.backend = file\\nlog.level = ERROR\\nslots.removable = " +
                             "true\\n' > '" + conf + "'; cd '" + dir + "'";
        for (const std::string& action : actions)
            script += "; SOFTHSM2_CONF='" + conf +
                      "' pkcs11-tool --module /usr/lib/softhsm/libsofthsm2.so --token-label 'Tessera Token' --login "
                      "--pin 1234 " +
                      action + " > /dev/null 2>&1";
        EXPECT_EQ(RunShell(script), 0) << script;
        return conf;
    }

    static size_t PinPrompts() { return FixtureStore::Get().PinPrompts(); }

    static bool Pkcs1Verifies(const std::string& strKey, const char* pszDigest, const std::string& data,
                              const std::string& base64)
    {
        WriteFileBytes(Path("host-data.bin"), data);
        WriteFileBytes(Path("host-sig.bin"), DecodeBase64(base64));
        return RunShell(std::string("openssl dgst -") + pszDigest + " -verify " + Path(strKey) + ".pub -signature " +
                        Path("host-sig.bin") + " " + Path("host-data.bin") + " > /dev/null 2>&1") == 0;
    }
};

} // namespace

TEST_F(HostSigning, SelectionFindsOneMatchAndRefusesTheRest)
{
    Host host;
    Response r = host.Call("selectsigncertificate", {"Alice Signer", ""});
    EXPECT_EQ(r.function, "SelectSignCertificate");
    EXPECT_EQ(r.errorcode, 0);
    EXPECT_EQ(r.result, kAlice);
    // Lower case matches capitals; "#" separates alternatives; the issuer
    // filter works the same way.
    EXPECT_EQ(host.Call("SelectSignCertificate", {"alice signer", ""}).result, kAlice);
    EXPECT_EQ(host.Call("SelectSignCertificate", {"nobody#bob nonrep", ""}).result,
              "CN=Bob Nonrepudiation, O=Tessera Test, C=CN");
    EXPECT_EQ(host.Call("SelectSignCertificate", {"", "plain ca"}).result, "CN=Grace Plain Issuer, O=Tessera Test, C=CN");
    // Expired certificates are offered like valid ones.
    EXPECT_EQ(host.Call("SelectSignCertificate", {"Erin Expired", ""}).result, "CN=Erin Expired, O=Tessera Test, C=CN");

    // Never offered: no match at all, key encipherment only, no key-usage
    // extension, no private key.
    for (const char* pszFilter : {"nobody", "Carol Encipher", "Dave Plain", "Nokey Only"}) {
        r = host.Call("SelectSignCertificate", {pszFilter, ""});
        EXPECT_EQ(r.errorcode, kNoCertificate) << pszFilter;
        EXPECT_TRUE(r.bResultFalse);
    }
    EXPECT_EQ(host.Describe(), "There is no available certificate in store.\n(0xa0071001)");
    // A failed selection leaves nothing selected.
    EXPECT_EQ(host.Call("SignMessage", {"abc", "SHA-256"}).errorcode, kNotReady);

    // Two empty filters accept everything: the dialog is needed, and with no
    // display to show it on, that is reported.
    r = host.Call("SelectSignCertificate", {"", ""});
    EXPECT_EQ(r.errorcode, kNoDialog);
    EXPECT_EQ(host.Describe(), "Invalid window handle.\r\n\n(0x80070578)");
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostSigning, ADatabaseOfMostlyOtherPeoplesCertificatesOffersTheUsersAndIsListedAnewWhenWritten)
{
    // A copy of the user's database that also keeps 24 colleagues'
    // certificates, whose keys it does not hold.
    const std::string home = Path("written-home");
    const std::string db = "sql:" + home + "/.pki/nssdb";
    ASSERT_EQ(RunShell("set -e; rm -rf '" + home + "' && cp -r '" + FixtureStore::Get().Dir() + "/home' '" + home +
                       "'; cd '" + home + "'; head -c 1024 /dev/urandom > noise; openssl genpkey -algorithm EC "
                       "-pkeyopt ec_paramgen_curve:P-256 -out other.pem 2>/dev/null; for i in $(seq 24); do "
                       "openssl req -new -x509 -key other.pem -subj \"/CN=Colleague $i\" -set_serial $((7000 + i)) "
                       "-days 30 -addext keyUsage=critical,digitalSignature -out c.pem 2>/dev/null; certutil -A -d '" +
                       db + "' -n colleague-$i -t ,, -a -i c.pem; done"),
              0);
    HostOptions options = Options();
    options.env["HOME"] = home;
    Host host(options);
    EXPECT_EQ(host.Call("SelectSignCertificate", {"Colleague", ""}).errorcode, kNoCertificate);
    EXPECT_EQ(host.Call("SelectSignCertificate", {"Nokey Only", ""}).errorcode, kNoCertificate);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Signer", ""}).result, kAlice);
    EXPECT_EQ(CmsVerify(host.Call("SignMessage", {"abc", "SHA-256"}).result), "abc");

    // Changed behind the running host's back: a certificate deleted and one
    // made with its key, as certutil does it.
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Bob Nonrepudiation", ""}).errorcode, 0);
    EXPECT_EQ(host.Call("SelectSignCertificate", {"Nina New", ""}).errorcode, kNoCertificate);
    ASSERT_EQ(RunShell("certutil -D -d '" + db + "' -n bob && certutil -S -x -d '" + db +
                       "' -n nina -s 'CN=Nina New' -t u,u,u -k rsa -g 2048 -z '" + home + "/noise" +
                       "' --keyUsage digitalSignature -v 12 > /dev/null 2>&1"),
              0);
    EXPECT_EQ(host.Call("SelectSignCertificate", {"Bob Nonrepudiation", ""}).errorcode, kNoCertificate);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Nina New", ""}).result, "CN=Nina New");
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostSigning, EveryFormAndAlgorithmVerifies)
{
    Host host;
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Signer", ""}).errorcode, 0);
    struct Case {
        const char* pszName;
        const char* pszOpenssl;
    };
    for (const Case& c : {Case{"MD-5", "md5"}, Case{"sha-1", "sha1"}, Case{"Sha-256", "sha256"}}) {
        const std::string message = std::string("Tessera ") + c.pszName;
        const Response attached = host.Call("SignMessage", {message, c.pszName});
        const Response detached = host.Call("SignMessageDetached", {message, c.pszName});
        const Response pkcs1 = host.Call("SignMessagePKCS1", {message, c.pszName});
        ASSERT_EQ(attached.errorcode, 0) << c.pszName;
        ASSERT_EQ(detached.errorcode, 0);
        ASSERT_EQ(pkcs1.errorcode, 0);
        EXPECT_EQ(CmsVerify(attached.result), message) << c.pszName;
        EXPECT_EQ(CmsVerify(detached.result, message, true), message) << c.pszName;
        EXPECT_FALSE(CmsVerify(detached.result, message + "x", true).has_value());
        EXPECT_TRUE(Pkcs1Verifies("alice", c.pszOpenssl, message, pkcs1.result)) << c.pszName;
        // PKCS#7 comes in lines of 76 with CR LF; PKCS#1 in one line.
        EXPECT_EQ(attached.result.find("\r\n"), 76u);
        EXPECT_EQ(pkcs1.result.find('\n'), std::string::npos);
        EXPECT_EQ(pkcs1.result.size(), 344u); // 256 bytes, padded
        // Attached and detached differ only in the content.
        EXPECT_EQ(DecodeBase64(attached.result).size() - DecodeBase64(detached.result).size(), message.size() + 4);
    }
    EXPECT_EQ(host.Describe(), "The operation completed successfully.\r\n\n(0x00000000)");
}

TEST_F(HostSigning, EcKeysSignPkcs7AndRefuseMd5AndPkcs1BeforeAnyPin)
{
    constexpr int64_t kBadAlgId = -2146893816; // 0x80090008
    // P-256 in the user's database; P-384 on the token, behind its PIN.
    for (const char* pszName : {"Elena Elliptic", "Hardware Elliptic"}) {
        FixtureStore::Get().SetPinAnswers({"pin:1234"});
        Host host;
        ASSERT_EQ(host.Call("SelectSignCertificate", {pszName, ""}).result,
                  std::string("CN=") + pszName + ", O=Tessera Test, C=CN");
        // No ECDSA with MD5, no PKCS#1 value from an EC key: refused before
        // the key is used, so before the token's PIN is asked for.
        for (const auto& [pszFunction, pszHash] : {std::pair{"SignMessage", "MD-5"}, {"SignMessageDetached", "md-5"},
                                                   {"SignMessagePKCS1", "SHA-256"}, {"SignMessagePKCS1", "MD-5"}}) {
            const Response refused = host.Call(pszFunction, {"abc", pszHash});
            EXPECT_EQ(refused.errorcode, kBadAlgId) << pszName << " " << pszFunction << " " << pszHash;
            EXPECT_TRUE(refused.bResultFalse);
        }
        EXPECT_EQ(host.Describe(), "Invalid algorithm specified.\r\n\n(0x80090008)");
        EXPECT_EQ(PinPrompts(), 0u) << pszName;

        for (const auto& [pszHash, pszSignatureAlgorithm, pszDigest] :
             {std::tuple{"SHA-1", "ecdsa-with-SHA1", "sha1"}, {"SHA-256", "ecdsa-with-SHA256", "sha256"}}) {
            const std::string message = std::string("Tessera EC ") + pszHash;
            const Response attached = host.Call("SignMessage", {message, pszHash});
            const Response detached = host.Call("SignMessageDetached", {message, pszHash});
            ASSERT_EQ(attached.errorcode, 0) << pszName << " " << pszHash;
            ASSERT_EQ(detached.errorcode, 0);
            EXPECT_EQ(CmsVerify(detached.result, message, true), message) << pszName << " " << pszHash;
            EXPECT_FALSE(CmsVerify(detached.result, message + "x", true).has_value());
            EXPECT_EQ(CmsVerify(attached.result), message) << pszName << " " << pszHash;
            EXPECT_EQ(RunShell("openssl smime -verify -inform DER -noverify -binary -in " + Path("host-p7.der") +
                               " > /dev/null 2>&1"),
                      0);
            // The signer's algorithm has no parameters (the signature follows
            // its OID); the digest algorithm keeps its NULL.
            const std::string parse = "openssl asn1parse -inform DER -in " + Path("host-p7.der") + " | grep -m1 -A1 ':";
            EXPECT_EQ(RunShell(parse + pszSignatureAlgorithm + "$' | tail -1 | grep -q 'OCTET STRING'"), 0);
            EXPECT_EQ(RunShell(parse + pszDigest + "$' | tail -1 | grep -q NULL"), 0) << pszDigest;
        }
        EXPECT_EQ(PinPrompts(), std::string(pszName) == "Hardware Elliptic" ? 1u : 0u);
        EXPECT_EQ(host.Finish(), 0);
    }
}

TEST_F(HostSigning, MessagesAreSignedAsTheirUtf8Bytes)
{
    Host host;
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Signer", ""}).errorcode, 0);
    const std::string utf8 = "签名 Zürich \xF0\x9F\x94\x91";
    const Response pkcs1 = host.Call("SignMessagePKCS1", {utf8, "SHA-256"});
    ASSERT_EQ(pkcs1.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("alice", "sha256", utf8, pkcs1.result));
    EXPECT_EQ(CmsVerify(host.Call("SignMessage", {utf8, "SHA-256"}).result), utf8);

    // 100 KiB fits in a response.
    const std::string large(100 * 1024, 'm');
    const Response big = host.Call("SignMessage", {large, "SHA-256"});
    ASSERT_EQ(big.errorcode, 0);
    EXPECT_EQ(CmsVerify(big.result), large);
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostSigning, AResponseOverOneMebibyteEndsTheHostWithoutAFrame)
{
    const std::string huge(800 * 1024, 'h'); // its attached Base64 passes 0x100000 bytes
    const HostResult result = RunHost(Frame(Request("SelectSignCertificate", {"Alice Signer", ""})) +
                                          Frame(Request("SignMessage", {huge, "SHA-256"})) +
                                          Frame(Request("GetLastErrorDesc", {})),
                                      Options());
    const auto frames = SplitFrames(result.strStdout);
    ASSERT_TRUE(frames.has_value());
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_EQ(ParseResponse(frames->front()).result, kAlice);
    EXPECT_EQ(result.nExitCode, 1); // 0xA0073201 keeps its low 8 bits
    EXPECT_EQ(result.strStderr, "");
}

TEST_F(HostSigning, TheTokenKeyAsksForItsPin)
{
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    Host host;
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result,
              "CN=Hardware Signer, O=Tessera Test, C=CN");
    const Response signature = host.Call("SignMessagePKCS1", {"abc", "SHA-256"});
    ASSERT_EQ(signature.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("hw-signer", "sha256", "abc", signature.result));
    EXPECT_EQ(host.Finish(), 0);

    // A cancel at the prompt is the page's error, and described as such.
    FixtureStore::Get().SetPinAnswers({"cancel"});
    Host cancelled;
    ASSERT_EQ(cancelled.Call("SelectSignCertificate", {"Hardware Signer", ""}).errorcode, 0);
    EXPECT_EQ(cancelled.Call("SignMessage", {"abc", "SHA-256"}).errorcode, kPinCancelled);
    EXPECT_EQ(cancelled.Describe(), "The action was cancelled by the user.\r\n\n(0x8010006e)");
    EXPECT_EQ(cancelled.Finish(), 0);
}

TEST_F(HostSigning, CertificatesInFirefoxProfilesSignAndTheProfilesAreNeverWritten)
{
    // The fixture's profiles: default-esr, locked as if Firefox were using
    // it, holds Fiona Fox and a second copy of Alice's certificate; guarded,
    // behind the primary password "fox-secret", holds Gus Guarded.
    const std::string home = FixtureStore::Get().Dir() + "/home";
    const std::string profiles = "'" + home + "/.config/mozilla/firefox' '" + home + "/firefox-profiles'";
    const std::string snapshot = "find " + profiles + " -type f -exec sha256sum {} + | sort";
    ASSERT_EQ(RunShell(snapshot + " > " + Path("profiles-before.txt")), 0);

    FixtureStore::Get().SetPinAnswers({"pin:wrong", "pin:fox-secret"});
    {
        Host host;
        // Alice is offered once, from Chromium's database, though Firefox
        // has her too.
        EXPECT_EQ(host.Call("SelectSignCertificate", {"Alice Signer", ""}).result, kAlice);
        ASSERT_EQ(host.Call("SelectSignCertificate", {"Fiona Fox", ""}).result, "CN=Fiona Fox, O=Tessera Fox, C=CN");
        const Response attached = host.Call("SignMessage", {"abc", "SHA-256"});
        ASSERT_EQ(attached.errorcode, 0);
        EXPECT_EQ(CmsVerify(attached.result), "abc");
        const Response pkcs1 = host.Call("SignMessagePKCS1", {"abc", "SHA-256"});
        EXPECT_TRUE(Pkcs1Verifies("fox", "sha256", "abc", pkcs1.result));
        EXPECT_EQ(PinPrompts(), 0u) << "a profile without a primary password asked for one";

        // The primary password is asked for by the profile's name, once a
        // key of its profile is used; a wrong one is asked again.
        ASSERT_EQ(host.Call("SelectSignCertificate", {"Gus", ""}).result, "CN=Gus Guarded, O=Tessera Fox, C=CN");
        const Response guarded = host.Call("SignMessageDetached", {"abc", "SHA-1"});
        ASSERT_EQ(guarded.errorcode, 0);
        EXPECT_EQ(CmsVerify(guarded.result, "abc", true), "abc");
        EXPECT_TRUE(Pkcs1Verifies("gus", "sha256", "abc", host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).result));
        const std::string log = FixtureStore::Get().PinentryLog();
        EXPECT_EQ(PinPrompts(), 2u) << log;
        EXPECT_NE(log.find("SETDESC Enter the primary password of the Firefox profile \"guarded\" to sign with the "
                           "certificate \"Gus Guarded\"."),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("SETERROR Wrong password. Please try again."), std::string::npos) << log;
        EXPECT_EQ(host.Finish(), 0);
    }

    // Cancel gives the same error as cancelling a token's PIN.
    FixtureStore::Get().SetPinAnswers({"cancel"});
    {
        Host host(Options("zh_CN.UTF-8"));
        ASSERT_EQ(host.Call("SelectSignCertificate", {"Gus", ""}).errorcode, 0);
        EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kPinCancelled);
        EXPECT_NE(FixtureStore::Get().PinentryLog().find("配置文件“guarded”的主密码"), std::string::npos)
            << FixtureStore::Get().PinentryLog();
        EXPECT_EQ(host.Finish(), 0);
    }

    // Read, never written: the same files with the same bytes, though both
    // were opened and a key of each was used.
    ASSERT_EQ(RunShell(snapshot + " > " + Path("profiles-after.txt")), 0);
    EXPECT_EQ(ReadFileBytes(Path("profiles-after.txt")), ReadFileBytes(Path("profiles-before.txt")));
}

// pinentry ends at an Assuan line of 1002 bytes: a profile named at length
// still gets its prompt, with the name cut.
TEST_F(HostSigning, ALongProfileNameIsCutAndThePromptStillShows)
{
    const std::string home = Path("long-name-home");
    ASSERT_EQ(RunShell("rm -rf '" + home + "' && cp -r '" + FixtureStore::Get().Dir() + "/home' '" + home +
                       "' && sed -i 's/^Name=guarded$/Name=" + std::string(1000, 'g') + "/' '" + home +
                       "/.mozilla/firefox/profiles.ini'"),
              0);
    HostOptions options = Options();
    options.env["HOME"] = home;
    FixtureStore::Get().SetPinAnswers({"pin:fox-secret"});
    Host host(options);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Gus", ""}).errorcode, 0);
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, 0);
    EXPECT_NE(FixtureStore::Get().PinentryLog().find("profile \"" + std::string(200, 'g') + "…\" to sign"),
              std::string::npos)
        << FixtureStore::Get().PinentryLog();
    EXPECT_EQ(host.Finish(), 0);
}

// A headless Firefox running on a profile, started in a process group of its
// own and killed with it whatever the test's outcome.
class RunningFirefox {
public:
    RunningFirefox(const std::string& strProfile, const std::string& strHome)
    {
        const std::string strHomeVar = "HOME=" + strHome;
        std::vector<std::string> args = {"firefox-esr", "-headless", "-no-remote", "-profile", strProfile, "about:blank"};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (char** p = environ; *p != nullptr; ++p) {
            if (std::string(*p).rfind("HOME=", 0) != 0)
                envp.push_back(*p);
        }
        envp.push_back(const_cast<char*>(strHomeVar.c_str()));
        envp.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~RunningFirefox()
    {
        if (m_pid <= 0)
            return;
        kill(-m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

TEST_F(HostSigning, AProfileThatARunningFirefoxHoldsIsReadAllTheSame)
{
    if (RunShell("command -v firefox-esr > /dev/null") != 0)
        GTEST_SKIP() << "Firefox ESR is not installed (tools/setup-deps installs it)";
    // A copy of the fixture's default profile, for Firefox to run on and
    // change as it likes, listed in a home of its own for the host.
    const std::string dir = Path("running-firefox");
    const std::string profile = dir + "/profile";
    ASSERT_EQ(RunShell("rm -rf '" + dir + "' && mkdir -p '" + dir + "/home/.mozilla/firefox' '" + dir +
                       "/firefox-home' && cp -r '" + FixtureStore::Get().Dir() +
                       "/home/.config/mozilla/firefox/k3x9tq2b.default-esr' '" + profile + "' && rm '" + profile +
                       "/lock'"),
              0);
    WriteFileBytes(dir + "/home/.mozilla/firefox/profiles.ini",
                   "[Profile0]\nName=running\nIsRelative=0\nPath=" + profile + "\n");

    // Started, and holding its certificate database open: the key database
    // is opened with it, so its opening is the event to wait for.
    const int fd = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_GE(inotify_add_watch(fd, (profile + "/key4.db").c_str(), IN_OPEN), 0);
    RunningFirefox firefox(profile, dir + "/firefox-home");
    ASSERT_GT(firefox.Pid(), 0);
    pollfd pfd{fd, POLLIN, 0};
    const bool bOpened = poll(&pfd, 1, 60000) == 1;
    close(fd);
    ASSERT_TRUE(bOpened) << "Firefox did not open its key database";

    HostOptions options = Options();
    options.env["HOME"] = dir + "/home";
    Host host(options);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Fiona Fox", ""}).result, "CN=Fiona Fox, O=Tessera Fox, C=CN");
    const Response pkcs1 = host.Call("SignMessagePKCS1", {"abc", "SHA-256"});
    ASSERT_EQ(pkcs1.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("fox", "sha256", "abc", pkcs1.result));
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(kill(firefox.Pid(), 0), 0) << "Firefox ended before the host had read its profile";
}

TEST_F(HostSigning, ATokenThatHidesItsKeysUntilLoginStillOffersItsCertificates)
{
    // Many cards show no key object at all before login, not even a public
    // one. This copy of the token has its public key deleted, and holds the
    // test CA's certificate beside the user's.
    const std::string hidden = TokenCopy("token-hidden-key", {"--delete-object --type pubkey --id 0a01"});
    ASSERT_EQ(RunShell("openssl x509 -in " + FixtureStore::Get().CertPem("test-ca") + " -outform DER -out " +
                       Path("token-hidden-key") + "/ca.der && SOFTHSM2_CONF='" + hidden +
                       "' pkcs11-tool --module /usr/lib/softhsm/libsofthsm2.so --token-label 'Tessera Token' --login "
                       "--pin 1234 --write-object " + Path("token-hidden-key") +
                       "/ca.der --type cert --id 0b01 --label ca > /dev/null 2>&1"),
              0);
    HostOptions options = Options();
    options.env["SOFTHSM2_CONF"] = hidden;
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    {
        Host host(options);
        // Offered without asking for the PIN; a certificate authority's
        // certificate on the same token is not.
        EXPECT_EQ(host.Call("SelectSignCertificate", {"Tessera Test CA", ""}).errorcode, kNoCertificate);
        ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
        EXPECT_EQ(PinPrompts(), 0u);
        // The login finds the key by the certificate's identifier.
        const Response signature = host.Call("SignMessagePKCS1", {"abc", "SHA-256"});
        ASSERT_EQ(signature.errorcode, 0);
        EXPECT_TRUE(Pkcs1Verifies("hw-signer", "sha256", "abc", signature.result));
        // Once logged in, the key is in sight: offered and used again.
        ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
        EXPECT_EQ(CmsVerify(host.Call("SignMessage", {"def", "SHA-256"}).result), "def");
        EXPECT_EQ(PinPrompts(), 1u);
        EXPECT_EQ(host.Finish(), 0);
    }

    // NSS's own database keeps other people's certificates too: protected by
    // a password, it still offers only those it pairs with a key.
    const std::string passwordHome = Path("password-home");
    ASSERT_EQ(RunShell("rm -rf '" + passwordHome + "' && cp -r '" + FixtureStore::Get().Dir() + "/home' '" +
                       passwordHome + "' && echo > '" + Path("old.pw") + "' && echo secret > '" + Path("new.pw") +
                       "' && certutil -W -d 'sql:" + passwordHome + "/.pki/nssdb' -f '" + Path("old.pw") + "' -@ '" +
                       Path("new.pw") + "' > /dev/null 2>&1"),
              0);
    HostOptions protectedDb = Options();
    protectedDb.env["HOME"] = passwordHome;
    Host database(protectedDb);
    EXPECT_EQ(database.Call("SelectSignCertificate", {"Nokey Only", ""}).errorcode, kNoCertificate);
    EXPECT_EQ(database.Call("SelectSignCertificate", {"Alice Signer", ""}).result, kAlice);
    EXPECT_EQ(database.Finish(), 0);

    // A token that turns out, after the login, to hold no key for the
    // certificate.
    options.env["SOFTHSM2_CONF"] =
        TokenCopy("token-no-key", {"--delete-object --type pubkey --id 0a01", "--delete-object --type privkey --id 0a01"});
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    Host keyless(options);
    ASSERT_EQ(keyless.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
    EXPECT_EQ(keyless.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kNoKey);
    EXPECT_EQ(PinPrompts(), 1u);
    EXPECT_EQ(keyless.Finish(), 0);
}

TEST_F(HostSigning, AKeyThatWantsItsPinForEverySignatureAsksOncePerSignature)
{
    // The token's key replaced by the same key marked CKA_ALWAYS_AUTHENTICATE.
    const std::string dir = Path("token-always-auth");
    ASSERT_EQ(RunShell("mkdir -p '" + dir + "' && openssl pkey -in " + FixtureStore::Get().KeyPem("hw-signer") +
                       " -outform DER -out '" + Path("hw-signer.key.der") + "'"),
              0);
    HostOptions options = Options();
    options.env["SOFTHSM2_CONF"] =
        TokenCopy("token-always-auth", {"--delete-object --type privkey --id 0a01",
                                        "--write-object '" + Path("hw-signer.key.der") +
                                            "' --type privkey --id 0a01 --label hw-signer --usage-sign --always-auth"});
    FixtureStore::Get().SetPinAnswers({"pin:1234", "pin:1234", "pin:1234"});
    Host host(options);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
    const Response first = host.Call("SignMessagePKCS1", {"one", "SHA-256"});
    ASSERT_EQ(first.errorcode, 0);
    EXPECT_EQ(PinPrompts(), 1u); // the token's login and the key's, with one PIN
    const Response second = host.Call("SignMessage", {"two", "SHA-256"});
    ASSERT_EQ(second.errorcode, 0);
    EXPECT_EQ(PinPrompts(), 2u);
    EXPECT_TRUE(Pkcs1Verifies("hw-signer", "sha256", "one", first.result));
    EXPECT_EQ(CmsVerify(second.result), "two");
    EXPECT_EQ(host.Finish(), 0);

    // An ordinary token key: one login serves every later signature.
    FixtureStore::Get().SetPinAnswers({"pin:1234", "pin:1234"});
    Host ordinary;
    ASSERT_EQ(ordinary.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
    EXPECT_EQ(ordinary.Call("SignMessagePKCS1", {"one", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(ordinary.Call("SignMessageDetached", {"two", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(PinPrompts(), 1u);
    EXPECT_EQ(ordinary.Finish(), 0);
}

TEST_F(HostSigning, ACardTakenOutAndPutBackAsksForItsPinAgainAndIsLoggedOutAtTheEnd)
{
    // The user's database with the removable-card module registered. The
    // card holds a copy of the token; p11-kit's SoftHSM is shown an empty
    // token directory, so the card is seen once, through its reader.
    const std::string home = Path("card-home");
    const std::string empty = Path("card-empty");
    const std::string control = Path("card-control");
    const std::string log = Path("card.log");
    ASSERT_EQ(RunShell("rm -rf '" + home + "' '" + empty + "' '" + log + "' && mkdir -p '" + empty +
                       "/tokens' && printf 'directories.tokendir = " + empty +
                       "/tokens\\nobjectstore.backend = file\\n' > '" + empty + "/softhsm2.conf' && cp -r '" +
                       FixtureStore::Get().Dir() + "/home' '" + home + "' && modutil -dbdir 'sql:" + home +
                       "/.pki/nssdb' -add 'Removable Card' -libfile '" + TESSERA_CARD_MODULE +
                       "' -force > /dev/null 2>&1"),
              0);
    WriteFileBytes(control, "in 1\n");
    HostOptions options = Options();
    options.env["HOME"] = home;
    options.env["SOFTHSM2_CONF"] = empty + "/softhsm2.conf";
    options.env["TESSERA_CARD_LIBRARY"] = TESSERA_CARD_LIBRARY;
    options.env["TESSERA_CARD_SOFTHSM2_CONF"] = TokenCopy("card-token", {});
    options.env["TESSERA_CARD_CONTROL"] = control;
    options.env["TESSERA_CARD_LOG"] = log;

    // NSS looks at a removable slot at most once a second and in between
    // trusts what it saw last; swapping a card takes a person longer. So
    // after each change of card the test lets a second pass since NSS last
    // looked at the reader, as the card's log tells.
    auto letNssLookAgain = [&] {
        const std::string text = ReadFileBytes(log);
        const size_t at = text.rfind("seen ");
        ASSERT_NE(at, std::string::npos);
        const auto lastLook = std::chrono::milliseconds(std::stoull(text.substr(at + 5)));
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(lastLook + std::chrono::milliseconds(1050)));
    };

    FixtureStore::Get().SetPinAnswers({"pin:1234", "pin:1234"});
    Host host(options);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
    ASSERT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(PinPrompts(), 1u);

    // Out of the reader: said so, with no prompt.
    WriteFileBytes(control, "out\n");
    letNssLookAgain();
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kCardRemoved);
    EXPECT_EQ(host.Describe(),
              "The smart card has been removed, so that further communication is not possible.\r\n\n(0x80100069)");
    EXPECT_EQ(PinPrompts(), 1u);

    // Back in: logged out by the removal, so the PIN is asked again, and the
    // signature is made on the new session.
    WriteFileBytes(control, "in 2\n");
    letNssLookAgain();
    const Response again = host.Call("SignMessagePKCS1", {"def", "SHA-256"});
    ASSERT_EQ(again.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("hw-signer", "sha256", "def", again.result));
    EXPECT_EQ(PinPrompts(), 2u);
    EXPECT_EQ(host.Finish(), 0);

    // The host logged the card out before letting go of it.
    const std::string card = ReadFileBytes(log);
    const size_t lastLogin = card.rfind("login 1");
    const size_t logout = card.rfind("logout");
    ASSERT_NE(lastLogin, std::string::npos);
    ASSERT_NE(logout, std::string::npos) << card;
    EXPECT_GT(logout, lastLogin);
    EXPECT_LT(logout, card.rfind("finalize"));
}

TEST_F(HostSigning, EveryErrorCodeOfTheHandlersAndItsDescription)
{
    struct Case {
        std::string request;
        int64_t errorcode;
        const char* pszEnglish; // the description afterwards; null: unchanged
        const char* pszChinese;
    };
    const std::vector<Case> cases = {
        {Request("SignMessage", {"abc", "SHA-256"}), kNotReady, "Certificate is not ready.\n(0xa0072001)",
         "证书没有准备好\n(0xa0072001)"},
        {Request("SignMessage", {"", "SHA-256"}), kInvalidArg, "The parameter is incorrect.\r\n\n(0x80070057)",
         "参数错误。\r\n\n(0x80070057)"},
        {Request("SelectSignCertificate", {"nobody", ""}), kNoCertificate,
         "There is no available certificate in store.\n(0xa0071001)", "证书库中没有可用的证书\n(0xa0071001)"},
        {Request("SelectSignCertificate", {"Alice Signer", ""}), 0,
         "The operation completed successfully.\r\n\n(0x00000000)", "操作成功完成。\r\n\n(0x00000000)"},
        {Request("SignMessagePKCS1", {"abc", "SHA256"}), kBadAlgorithm, "Invalid hash algorithm.\n(0xa0072020)",
         "无效的哈希算法\n(0xa0072020)"},
        {Request("SignMessageDetached", {"abc", "SHA-384"}), kBadAlgorithm, "Invalid hash algorithm.\n(0xa0072020)",
         "无效的哈希算法\n(0xa0072020)"},
        // Rejected by the handler itself: the agent's last status stays.
        {Request("SignMessage", {"abc"}), -1, nullptr, nullptr},
        {Request("SignMessage", {"abc", "SHA-1", "x"}), -1, nullptr, nullptr},
        {R"({"function":"SignMessage","params":[{"param":"abc"},"SHA-256"]})", kNotAnObject, nullptr, nullptr},
        {R"({"function":"SignMessagePKCS1","params":[{"param":1},{"param":"SHA-1"}]})", kNotAString, nullptr, nullptr},
        {R"({"function":"SelectSignCertificate","params":[{"param":"x"},{}]})", kNotAString, nullptr, nullptr},
        {R"({"function":"SignMessage","params":{"a":{"param":"abc"}}})", -1, nullptr, nullptr},
    };
    for (const char* pszLang : {"C", "zh_CN.UTF-8"}) {
        const bool bChinese = pszLang[0] == 'z';
        Host host(Options(pszLang));
        std::string lastDescription = host.Describe();
        for (const Case& c : cases) {
            const Response r = host.CallRaw(c.request);
            EXPECT_EQ(r.errorcode, c.errorcode) << c.request;
            EXPECT_EQ(r.bResultFalse, c.errorcode != 0) << c.request;
            const std::string description = host.Describe();
            const char* pszExpected = bChinese ? c.pszChinese : c.pszEnglish;
            EXPECT_EQ(description, pszExpected != nullptr ? std::string(pszExpected) : lastDescription)
                << pszLang << ": " << c.request;
            lastDescription = description;
        }
        EXPECT_EQ(host.Finish(), 0);
    }
}

TEST_F(HostSigning, TextHoldingNulIsRefusedAsAWholeNeverTakenInPart)
{
    Host host;
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Alice Signer", ""}).errorcode, 0);
    // Each signing form refuses a message or an algorithm holding U+0000
    // instead of signing the part before it, and says why.
    for (const char* pszFunction : {"SignMessage", "SignMessageDetached", "SignMessagePKCS1"}) {
        const std::string function(pszFunction);
        for (const std::string& params :
             {std::string(R"([{"param":"abc\u0000EVIL"},{"param":"SHA-256"}])"),
              std::string(R"([{"param":"\u0000"},{"param":"SHA-256"}])"),
              std::string(R"([{"param":"abc"},{"param":"SHA-256\u0000x"}])")}) {
            const Response r = host.CallRaw(R"({"function":")" + function + R"(","params":)" + params + "}");
            EXPECT_EQ(r.errorcode, kInvalidArg) << function << params;
            EXPECT_TRUE(r.bResultFalse);
            EXPECT_EQ(host.Describe(), "The parameter is incorrect.\r\n\n(0x80070057)");
        }
    }
    // The selection is kept by a refused signature: an escaped backslash
    // before "u0000" is plain text, and is signed as such.
    const Response text = host.CallRaw(R"({"function":"SignMessagePKCS1","params":[{"param":"a\\u0000b"},{"param":"SHA-256"}]})");
    ASSERT_EQ(text.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("alice", "sha256", "a\\u0000b", text.result));

    // A member whose name holds U+0000 is not the member it starts like.
    const Response renamed = host.CallRaw(
        R"({"function":"SignMessagePKCS1","params":[{"param\u0000":"abc","param":"xyz"},{"param":"SHA-256"}]})");
    ASSERT_EQ(renamed.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("alice", "sha256", "xyz", renamed.result));

    // A filter holding U+0000 never matches on the part before it, and a
    // refused selection leaves nothing selected.
    const Response filtered = host.CallRaw(
        R"({"function":"SelectSignCertificate","params":[{"param":"Alice\u0000zzz"},{"param":""}]})");
    EXPECT_EQ(filtered.errorcode, kInvalidArg);
    EXPECT_EQ(host.Describe(), "The parameter is incorrect.\r\n\n(0x80070057)");
    EXPECT_EQ(host.CallRaw(R"({"function":"SelectSignCertificate","params":[{"param":""},{"param":"Test CA\u0000"}]})")
                  .errorcode,
              kInvalidArg);
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kNotReady);
    EXPECT_EQ(host.Finish(), 0);

    // A function name holding U+0000 names no function: no answer.
    const HostResult unnamed = RunHost(
        Frame(R"({"function":"GetLastErrorDesc\u0000","params":[]})") + Frame(Request("GetLastErrorDesc", {})),
        Options());
    const auto frames = SplitFrames(unnamed.strStdout);
    ASSERT_TRUE(frames.has_value());
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_EQ(unnamed.nExitCode, 0);
}

TEST_F(HostSigning, AnAnswerTooLargeToSendEndsTheHostBeforeTheKeyIsUsed)
{
    // The token's key would ask for its PIN: it never does, and nothing is
    // signed, for an attached signature whose answer passes 1 MiB.
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    const std::string huge(800 * 1024, 'h');
    const HostResult result = RunHost(Frame(Request("SelectSignCertificate", {"Hardware Signer", ""})) +
                                          Frame(Request("SignMessage", {huge, "SHA-256"})) +
                                          Frame(Request("GetLastErrorDesc", {})),
                                      Options());
    const auto frames = SplitFrames(result.strStdout);
    ASSERT_TRUE(frames.has_value());
    EXPECT_EQ(frames->size(), 1u);
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_EQ(FixtureStore::Get().PinentryLog(), "");

    // Exactly at the limit: the longest message whose attached answer is
    // still 1,048,576 bytes is signed and sent; one byte more ends the host.
    // The answer grows with the message by whole Base64 groups, so the
    // limit follows from the size of one answer well below it.
    Host probe;
    ASSERT_EQ(probe.Call("SelectSignCertificate", {"Alice Signer", ""}).errorcode, 0);
    const size_t nProbe = 100000;
    const Response probed = probe.Call("SignMessage", {std::string(nProbe, 'p'), "SHA-256"});
    ASSERT_EQ(probed.errorcode, 0);
    const size_t cbOverhead = DecodeBase64(probed.result).size() - nProbe; // the same for any length near the limit
    const size_t cchEnvelope = std::string(R"({"function":"SignMessage","errorcode":0,"result":""})").size();
    auto answerLength = [&](size_t n) {
        const size_t cbDer = cbOverhead + n;
        const size_t cLineBreaks = cbDer / 3 / 19;
        return cchEnvelope + 4 * ((cbDer + 2) / 3) + 4 * cLineBreaks; // CR LF prints as \r\n
    };
    size_t nLongest = 700000;
    while (answerLength(nLongest + 1) <= 0x100000)
        ++nLongest;
    EXPECT_EQ(probe.Finish(), 0);

    const std::string prefix = Frame(Request("SelectSignCertificate", {"Alice Signer", ""}));
    const HostResult fits = RunHost(prefix + Frame(Request("SignMessage", {std::string(nLongest, 'f'), "SHA-256"})),
                                    Options());
    const auto fitFrames = SplitFrames(fits.strStdout);
    ASSERT_TRUE(fitFrames.has_value());
    ASSERT_EQ(fitFrames->size(), 2u);
    EXPECT_EQ(fitFrames->back().size(), answerLength(nLongest));
    EXPECT_EQ(CmsVerify(ParseResponse(fitFrames->back()).result), std::string(nLongest, 'f'));
    EXPECT_EQ(fits.nExitCode, 0);

    const HostResult over = RunHost(
        prefix + Frame(Request("SignMessage", {std::string(nLongest + 1, 'f'), "SHA-256"})), Options());
    EXPECT_EQ(SplitFrames(over.strStdout).value_or(std::vector<std::string>{}).size(), 1u);
    EXPECT_EQ(over.nExitCode, 1);
}

TEST_F(HostSigning, AFilterHoldsAtMost1024DistinctAlternatives)
{
    // Up to 1024 distinct alternatives are matched; one more is refused. Case
    // and repetition do not make alternatives distinct.
    std::string filter = "Alice Signer";
    for (int i = 1; i < 1024; ++i)
        filter += "#nobody " + std::to_string(i);
    Host host;
    EXPECT_EQ(host.Call("SelectSignCertificate", {filter + "#ALICE SIGNER#alice signer", ""}).result, kAlice);
    const Response refused = host.Call("SelectSignCertificate", {filter + "#nobody 1024", ""});
    EXPECT_EQ(refused.errorcode, kInvalidArg);
    EXPECT_EQ(host.Describe(), "The parameter is incorrect.\r\n\n(0x80070057)");
    EXPECT_EQ(host.Call("SelectSignCertificate", {"", filter + "#nobody 1024"}).errorcode, kInvalidArg);
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostSigning, AFilterOfMillionsOfAlternativesTakesMemoryForItsTextAlone)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit an address-space limit";
#else
    // 60 MiB of "#" is 60 million empty alternatives, each of which every
    // name contains: it matches everything (several certificates, so the
    // dialog is needed and no display is there) in memory that grows with
    // the text, not with the alternatives.
    HostOptions limited = Options();
    limited.nAddressSpaceLimit = 1536ull << 20;
    const HostResult all = RunHost(Frame(Request("SelectSignCertificate", {std::string(60u << 20, '#'), ""})), limited);
    const auto frames = SplitFrames(all.strStdout);
    ASSERT_TRUE(frames.has_value());
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_EQ(ParseResponse(frames->front()).errorcode, kNoDialog);
#endif
}

TEST_F(HostSigning, WhatADriverPrintsNeverReachesTheFrames)
{
    // A copy of the user's database with a driver registered that prints on
    // its standard output and error when it loads.
    const std::string home = Path("chatty-home");
    ASSERT_EQ(RunShell("rm -rf '" + home + "' && cp -r '" + FixtureStore::Get().Dir() + "/home' '" + home +
                       "' && modutil -dbdir 'sql:" + home + "/.pki/nssdb' -add 'Chatty Driver' -libfile '" +
                       TESSERA_CHATTY_MODULE + "' -force > /dev/null 2>&1"),
              0);
    HostOptions options = Options();
    options.env["HOME"] = home;
    const HostResult result = RunHost(Frame(Request("SelectSignCertificate", {"Alice Signer", ""})) +
                                          Frame(Request("SignMessagePKCS1", {"abc", "SHA-256"})),
                                      options);
    const auto frames = SplitFrames(result.strStdout);
    ASSERT_TRUE(frames.has_value()) << "stdout holds bytes that are not a frame: " << result.strStdout.substr(0, 200);
    ASSERT_EQ(frames->size(), 2u);
    EXPECT_EQ(ParseResponse(frames->front()).result, kAlice);
    EXPECT_TRUE(Pkcs1Verifies("alice", "sha256", "abc", ParseResponse(frames->back()).result));
    EXPECT_EQ(result.strStderr, "");
    EXPECT_EQ(result.nExitCode, 0);
}

namespace {

constexpr int64_t kWrongPin = -2146434965;  // 0x8010006B
constexpr int64_t kPinBlocked = -2146434964; // 0x8010006C

// A token in a reader with a PIN pad: the user's database with the PIN-pad
// module registered over a copy of the token, and p11-kit's SoftHSM shown an
// empty token directory, so the token is seen once, through its reader.
class HostPinPad : public HostSigning {
protected:
    static HostOptions PadOptions(const std::vector<std::string>& tokenActions)
    {
        const std::string home = Path("pad-home");
        const std::string empty = Path("pad-empty");
        EXPECT_EQ(RunShell("rm -rf '" + home + "' '" + empty + "' && mkdir -p '" + empty +
                           "/tokens' && printf 'directories.tokendir = " + empty +
                           "/tokens\\nobjectstore.backend = file\\n' > '" + empty + "/softhsm2.conf' && cp -r '" +
                           FixtureStore::Get().Dir() + "/home' '" + home + "' && modutil -dbdir 'sql:" + home +
                           "/.pki/nssdb' -add 'PIN Pad Reader' -libfile '" + TESSERA_PAD_MODULE +
                           "' -force > /dev/null 2>&1"),
                  0);
        HostOptions options = Options();
        options.env["HOME"] = home;
        options.env["SOFTHSM2_CONF"] = empty + "/softhsm2.conf";
        options.env["TESSERA_PAD_LIBRARY"] = TESSERA_PAD_LIBRARY;
        options.env["TESSERA_PAD_SOFTHSM2_CONF"] = TokenCopy("pad-token", tokenActions);
        options.env["TESSERA_PAD_ANSWERS"] = Path("pad.answers");
        options.env["TESSERA_PAD_LOG"] = Path("pad.log");
        // The pad takes each answer only once the notice for it is up.
        options.env["TESSERA_PAD_NOTICE"] = std::getenv("TESSERA_PINENTRY_LOG");
        return options;
    }

    // What the person at the pad does at the next logins; clears both logs.
    static void SetPadAnswers(const std::vector<std::string>& answers)
    {
        std::string text;
        for (const std::string& answer : answers)
            text += answer + "\n";
        WriteFileBytes(Path("pad.answers"), text);
        WriteFileBytes(Path("pad.log"), "");
        FixtureStore::Get().SetPinAnswers({});
    }

    // The token's logins, one "<user type> <answer>" each; a login that
    // came with a PIN shows as "<user type> PIN".
    static std::vector<std::string> PadLogins()
    {
        std::istringstream log(ReadFileBytes(Path("pad.log")));
        std::vector<std::string> logins;
        for (std::string line; std::getline(log, line);)
            logins.push_back(line);
        return logins;
    }

    // The notices pinentry showed, by their descriptions. Every pinentry
    // started has been ended, and none was asked for a PIN.
    static std::vector<std::string> Notices()
    {
        const std::string log = FixtureStore::Get().PinentryLog();
        std::vector<std::string> notices;
        size_t starts = 0, ends = 0;
        std::string description;
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);) {
            starts += line == "--- start";
            ends += line == "--- end";
            if (line.starts_with("SETDESC "))
                description = line.substr(8);
            if (line == "MESSAGE")
                notices.push_back(description);
        }
        EXPECT_EQ(starts, ends) << log;
        EXPECT_EQ(PinPrompts(), 0u) << log;
        return notices;
    }
};

} // namespace

TEST_F(HostPinPad, TheReaderTakesThePinOnItsPadWhileANoticeSaysSo)
{
    const HostOptions options = PadOptions({});
    const std::string english =
        "Enter the PIN of the token \"Tessera Token\" on the reader's PIN pad to sign with the certificate "
        "\"Hardware Signer\".";
    const std::string retry = "Wrong PIN. Please try again.%0A" + english;
    struct Case {
        std::vector<std::string> answers;
        int64_t errorcode;
        std::vector<std::string> notices;
    };
    const Case cases[] = {
        {{"ok"}, 0, {english}},
        {{"cancel"}, kPinCancelled, {english}},
        {{"timeout"}, kPinCancelled, {english}},
        {{"wrong", "ok"}, 0, {english, retry}},
        {{"wrong", "wrong", "wrong"}, kWrongPin, {english, retry, retry}},
        {{"blocked"}, kPinBlocked, {english}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers.back() + " after " + std::to_string(c.answers.size() - 1));
        SetPadAnswers(c.answers);
        Host host(options);
        ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
        const Response signature = host.Call("SignMessagePKCS1", {"abc", "SHA-256"});
        EXPECT_EQ(signature.errorcode, c.errorcode);
        if (c.errorcode == 0) {
            EXPECT_TRUE(Pkcs1Verifies("hw-signer", "sha256", "abc", signature.result));
        }
        // Each login went to the pad without a PIN, with a notice up that
        // was gone by the time the host answered.
        std::vector<std::string> logins;
        for (const std::string& answer : c.answers)
            logins.push_back("1 " + answer);
        EXPECT_EQ(PadLogins(), logins);
        EXPECT_EQ(Notices(), c.notices);
        if (c.errorcode == kPinBlocked) {
            // Once blocked, the pad is not asked again.
            EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kPinBlocked);
            EXPECT_EQ(PadLogins(), logins);
        }
        EXPECT_EQ(host.Finish(), 0);
    }

    // The notice in Chinese.
    SetPadAnswers({"wrong", "ok"});
    HostOptions chinese = options;
    chinese.env["LANG"] = "zh_CN.UTF-8";
    Host host(chinese);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, 0);
    const std::string zh = "请在读卡器的密码键盘上输入令牌“Tessera Token”的 PIN，以使用证书“Hardware Signer”签名。";
    EXPECT_EQ(Notices(), (std::vector<std::string>{zh, "PIN 错误，请重新输入。%0A" + zh}));
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostPinPad, AKeyThatWantsItsPinForEverySignatureAsksOnThePadEachTime)
{
    ASSERT_EQ(RunShell("openssl pkey -in " + FixtureStore::Get().KeyPem("hw-signer") + " -outform DER -out '" +
                       Path("hw-signer.key.der") + "'"),
              0);
    const HostOptions options =
        PadOptions({"--delete-object --type privkey --id 0a01",
                    "--write-object '" + Path("hw-signer.key.der") +
                        "' --type privkey --id 0a01 --label hw-signer --usage-sign --always-auth"});
    SetPadAnswers({"ok", "ok", "ok", "cancel"});
    Host host(options);
    ASSERT_EQ(host.Call("SelectSignCertificate", {"Hardware Signer", ""}).result, kHardwareSigner);
    // The first signature logs in to the token, then the key's own login
    // (user type 2, context-specific) asks on the pad again.
    const Response first = host.Call("SignMessagePKCS1", {"one", "SHA-256"});
    ASSERT_EQ(first.errorcode, 0);
    EXPECT_EQ(PadLogins(), (std::vector<std::string>{"1 ok", "2 ok"}));
    const Response second = host.Call("SignMessage", {"two", "SHA-256"});
    ASSERT_EQ(second.errorcode, 0);
    EXPECT_EQ(PadLogins(), (std::vector<std::string>{"1 ok", "2 ok", "2 ok"}));
    EXPECT_TRUE(Pkcs1Verifies("hw-signer", "sha256", "one", first.result));
    EXPECT_EQ(CmsVerify(second.result), "two");
    // A cancel on the pad for the key's login is the user's cancel.
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"three", "SHA-256"}).errorcode, kPinCancelled);
    EXPECT_EQ(PadLogins().size(), 4u);
    EXPECT_EQ(Notices().size(), 4u);
    EXPECT_EQ(host.Finish(), 0);
}

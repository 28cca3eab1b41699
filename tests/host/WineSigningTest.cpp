// Selection and signing through the Windows host, tessera-host.exe, under
// Wine. Its store holds the Linux test store's certificates and keys, so
// every signature is checked by the openssl command-line tool against the
// certificates of the Linux store, and each PKCS#7 is compared with the one
// the Linux host makes with the same key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"
#include "tests/support/HostRequests.h"

using namespace tessera::test;

namespace {

enum class Build { Windows, Linux };

// The Windows host runs under Wine in the Wine store's prefix; the Linux
// host on the Linux store that FixtureStore points the environment at.
HostOptions Options(Build build)
{
    HostOptions options;
    options.env = {{"LANG", "C"},       {"LANGUAGE", ""},        {"LC_ALL", ""},          {"LC_MESSAGES", ""},
                   {"DISPLAY", ""},     {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""},
                   {"TESSERA_WINE_STORE", build == Build::Windows ? TESSERA_WINE_STORE_DIR : ""}};
    return options;
}

// One host for a whole conversation.
class Host : public HostConversation {
public:
    explicit Host(Build build) : HostConversation(Options(build)) {}
    Response Select(const std::string& subject, const std::string& issuer = "")
    {
        return Call("SelectSignCertificate", {subject, issuer});
    }
};

constexpr int64_t kNoCertificate = -1610149887; // 0xA0071001
constexpr int64_t kNotReady = -1610145791;      // 0xA0072001
constexpr int64_t kNoDialog = -2147023496;      // 0x80070578

const char* const kAlice = "CN=Alice Signer, O=Tessera Test, C=CN";
const char* const kZhang = "CN=张三, O=测试机构, C=CN";
// A message that is not ASCII, with a character outside the BMP (a
// surrogate pair in UTF-16).
const char* const kNonAscii = "签名 Zürich \xF0\x9F\x94\x91";

class WineSigning : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The Linux store that the Wine store was made from, whoever runs
        // the program: with another, the two builds would sign with
        // different keys.
        setenv("TESSERA_TEST_STORE", TESSERA_TEST_STORE_DIR, 1);
        FixtureStore::Get();
        char szTemplate[] = "/tmp/tessera-wine-signing-XXXXXX";
        const char* pszDir = mkdtemp(szTemplate);
        ASSERT_NE(pszDir, nullptr);
        s_strDir = pszDir;
        for (const char* pszName : {"alice", "zhang", "grace"})
            ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + FixtureStore::Get().CertPem(pszName) + " > " +
                               Path(pszName) + ".pub"),
                      0);
    }
    static void TearDownTestSuite()
    {
        if (!s_strDir.empty())
            RunShell("rm -rf '" + s_strDir + "'");
    }

    static std::string Path(const std::string& name) { return s_strDir + "/" + name; }

    // openssl's verdict on a PKCS#7 result, taking the signer's certificate
    // from the Linux store rather than from the result: the content it
    // recovers, or nothing when it refuses.
    static std::optional<std::string> CmsVerify(const std::string& nickname, const std::string& base64,
                                                const std::optional<std::string>& detachedContent = std::nullopt)
    {
        WriteFileBytes(Path("p7.der"), DecodeBase64(base64));
        std::string command = "openssl cms -verify -inform DER -binary -noverify -nointern -certfile " +
                              FixtureStore::Get().CertPem(nickname) + " -in " + Path("p7.der") + " -out " +
                              Path("verified.bin");
        if (detachedContent) {
            WriteFileBytes(Path("content.bin"), *detachedContent);
            command += " -content " + Path("content.bin");
        }
        if (RunShell(command + " 2>/dev/null") != 0)
            return std::nullopt;
        return ReadFileBytes(Path("verified.bin"));
    }

    static bool Pkcs1Verifies(const std::string& nickname, const char* pszDigest, const std::string& data,
                              const std::string& base64)
    {
        WriteFileBytes(Path("data.bin"), data);
        WriteFileBytes(Path("sig.bin"), DecodeBase64(base64));
        return RunShell(std::string("openssl dgst -") + pszDigest + " -verify " + Path(nickname) + ".pub -signature " +
                        Path("sig.bin") + " " + Path("data.bin") + " > /dev/null 2>&1") == 0;
    }

    // Where two DER encodings part: the first differing byte, and the first
    // element of openssl asn1parse that differs in more than its offset and
    // length (a longer element moves and lengthens everything around it).
    static std::string Difference(const std::string& fromWindows, const std::string& fromLinux)
    {
        size_t at = 0;
        while (at < fromWindows.size() && at < fromLinux.size() && fromWindows[at] == fromLinux[at])
            ++at;
        std::ostringstream out;
        out << "Windows " << fromWindows.size() << " bytes, Linux " << fromLinux.size()
            << " bytes, first difference at byte " << at << "\n";
        std::vector<std::vector<std::string>> parsed;
        for (const auto& [name, der] : {std::pair{"windows", &fromWindows}, std::pair{"linux", &fromLinux}}) {
            const std::string path = Path(name);
            WriteFileBytes(path + ".der", *der);
            RunShell("openssl asn1parse -inform DER -i -in " + path + ".der > " + path + ".txt 2>&1");
            std::istringstream lines(ReadFileBytes(path + ".txt"));
            parsed.emplace_back();
            for (std::string line; std::getline(lines, line);)
                parsed.back().push_back(line);
        }
        // "  182:d=7  hl=2 l=  13 prim: UTCTIME :..." without "182:" and "hl=2 l=  13".
        const std::regex position(R"(^ *[0-9]+:(d=[0-9]+) +hl= *[0-9]+ +l= *[0-9]+ )");
        for (size_t i = 0; i < std::max(parsed[0].size(), parsed[1].size()); ++i) {
            const std::string w = i < parsed[0].size() ? parsed[0][i] : "(end)";
            const std::string l = i < parsed[1].size() ? parsed[1][i] : "(end)";
            if (std::regex_replace(w, position, "$1 ") != std::regex_replace(l, position, "$1 ")) {
                out << "asn1parse line " << i + 1 << ":\n  Windows: " << w << "\n  Linux:   " << l;
                break;
            }
        }
        return out.str();
    }

    static inline std::string s_strDir;
};

} // namespace

TEST_F(WineSigning, SelectionOffersCertificatesWithASigningKeyAndNeedsTheDialogForSeveral)
{
    Host host(Build::Windows);
    Response r = host.Select("Alice Signer");
    EXPECT_EQ(r.function, "SelectSignCertificate");
    EXPECT_EQ(r.errorcode, 0);
    EXPECT_EQ(r.result, kAlice);
    // Case does not matter, on the issuer either; expired certificates are
    // offered like valid ones.
    EXPECT_EQ(host.Select("ALICE signer").result, kAlice);
    EXPECT_EQ(host.Select("", "tessera plain ca").result, "CN=Grace Plain Issuer, O=Tessera Test, C=CN");
    EXPECT_EQ(host.Select("Erin Expired").result, "CN=Erin Expired, O=Tessera Test, C=CN");

    // Never offered: no match at all, key encipherment only, no key-usage
    // extension, no private key. A failed selection leaves nothing selected.
    for (const char* pszFilter : {"nobody", "Carol Encipher", "Dave Plain", "Nokey Only"}) {
        r = host.Select(pszFilter);
        EXPECT_EQ(r.errorcode, kNoCertificate) << pszFilter;
        EXPECT_TRUE(r.bResultFalse) << pszFilter;
    }
    EXPECT_EQ(host.Describe(), "There is no available certificate in store.\n(0xa0071001)");
    EXPECT_EQ(host.Call("SignMessage", {"abc", "SHA-256"}).errorcode, kNotReady);
    // Alternatives that are not candidates do not count as matches.
    EXPECT_EQ(host.Select("Alice Signer#Carol Encipher#Nokey Only").result, kAlice);

    // Several matches need the selection dialog, which cannot be made
    // without a display: the Windows host answers as the Linux host does,
    // and the earlier selection is gone.
    r = host.Select("Alice Signer#Bob Nonrepudiation");
    EXPECT_EQ(r.errorcode, kNoDialog);
    EXPECT_TRUE(r.bResultFalse);
    EXPECT_EQ(host.Describe(), "Invalid window handle.\r\n\n(0x80070578)");
    EXPECT_EQ(host.Call("SignMessagePKCS1", {"abc", "SHA-256"}).errorcode, kNotReady);
    EXPECT_EQ(host.Select("", "").errorcode, kNoDialog);
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(WineSigning, EveryFormAndDigestVerifiesWithTheCertificateOfTheLinuxStore)
{
    Host host(Build::Windows);
    ASSERT_EQ(host.Select("Alice Signer").errorcode, 0);
    struct Case {
        const char* pszName;
        const char* pszOpenssl;
    };
    for (const Case& c : {Case{"MD-5", "md5"}, Case{"SHA-1", "sha1"}, Case{"SHA-256", "sha256"}}) {
        const std::string message = std::string(c.pszName) + " " + kNonAscii;
        const Response attached = host.Call("SignMessage", {message, c.pszName});
        const Response detached = host.Call("SignMessageDetached", {message, c.pszName});
        const Response pkcs1 = host.Call("SignMessagePKCS1", {message, c.pszName});
        ASSERT_EQ(attached.errorcode, 0) << c.pszName;
        ASSERT_EQ(detached.errorcode, 0) << c.pszName;
        ASSERT_EQ(pkcs1.errorcode, 0) << c.pszName;
        EXPECT_EQ(CmsVerify("alice", attached.result), message) << c.pszName;
        EXPECT_EQ(CmsVerify("alice", detached.result, message), message) << c.pszName;
        EXPECT_FALSE(CmsVerify("alice", detached.result, message + "x").has_value()) << c.pszName;
        EXPECT_TRUE(Pkcs1Verifies("alice", c.pszOpenssl, message, pkcs1.result)) << c.pszName;
    }
    // The signer is named by alice's issuer and serial number: another
    // certificate of the same issuer does not verify it.
    const Response attached = host.Call("SignMessage", {"abc", "SHA-256"});
    EXPECT_EQ(CmsVerify("alice", attached.result), "abc");
    EXPECT_FALSE(CmsVerify("bob", attached.result).has_value());
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(WineSigning, ThePkcs7IsTheLinuxHostsByteForByte)
{
    // RSA PKCS#1 v1.5 signatures are deterministic, so the same key and
    // message give the same result on both builds, Base64 lines included.
    struct Call {
        const char* pszFunction;
        std::string message;
        const char* pszDigest;
    };
    std::string large; // 75,000 bytes: three-byte lengths throughout
    for (int i = 0; i < 25000; ++i)
        large += "签";
    const std::vector<std::pair<const char*, std::vector<Call>>> signers = {
        {"Alice Signer",
         {{"SignMessage", kNonAscii, "SHA-256"},
          {"SignMessageDetached", "abc", "MD-5"},
          {"SignMessage", large, "SHA-1"},
          {"SignMessagePKCS1", kNonAscii, "SHA-256"}}},
        // A serial number whose content starts with 00 (0x8A0B0C).
        {"Frank Multi", {{"SignMessage", "abc", "SHA-1"}}},
        // Another issuer, whose name has a single attribute.
        {"Grace Plain Issuer", {{"SignMessageDetached", "abc", "SHA-256"}}},
        {"张三", {{"SignMessage", kNonAscii, "MD-5"}}},
    };
    for (const auto& [pszFilter, calls] : signers) {
        Host windowsHost(Build::Windows);
        Host linuxHost(Build::Linux);
        ASSERT_EQ(windowsHost.Select(pszFilter).errorcode, 0) << pszFilter;
        ASSERT_EQ(linuxHost.Select(pszFilter).errorcode, 0) << pszFilter;
        for (const Call& call : calls) {
            const Response w = windowsHost.Call(call.pszFunction, {call.message, call.pszDigest});
            const Response l = linuxHost.Call(call.pszFunction, {call.message, call.pszDigest});
            ASSERT_EQ(w.errorcode, 0) << pszFilter << " " << call.pszFunction;
            ASSERT_EQ(l.errorcode, 0) << pszFilter << " " << call.pszFunction;
            if (std::string(call.pszFunction) == "SignMessagePKCS1") {
                EXPECT_EQ(w.result, l.result) << pszFilter;
                continue;
            }
            const std::string windowsDer = DecodeBase64(w.result);
            const std::string linuxDer = DecodeBase64(l.result);
            if (windowsDer != linuxDer)
                ADD_FAILURE() << pszFilter << " " << call.pszFunction << " " << call.pszDigest << ": "
                              << Difference(windowsDer, linuxDer);
            else
                EXPECT_TRUE(w.result == l.result) << pszFilter << " " << call.pszFunction << ": Base64 lines differ";
        }
        EXPECT_EQ(windowsHost.Finish(), 0);
        EXPECT_EQ(linuxHost.Finish(), 0);
    }
}

TEST_F(WineSigning, TheChineseSubjectIsAnsweredAndItsKeySigns)
{
    Host linuxHost(Build::Linux);
    EXPECT_EQ(linuxHost.Select("张三").result, kZhang);
    EXPECT_EQ(linuxHost.Finish(), 0);

    Host host(Build::Windows);
    // Windows answers as the Linux host does: the host asks CertNameToStrW
    // for no quoting. Wine 8 ignores that flag, and decides whether a UTF-16
    // value needs quotes by testing bytes of it for white space where it
    // means its first and last characters: 张 is U+5F20, whose low byte is
    // 0x20, so "张三" is quoted and 测试机构 is not. Windows' answer is always
    // right; Wine's is taken too only because this host runs under Wine.
    const auto isZhang = [](const std::string& result) {
        return result == kZhang || result == "CN=\"张三\", O=测试机构, C=CN";
    };
    const Response r = host.Select("张三");
    ASSERT_EQ(r.errorcode, 0);
    EXPECT_TRUE(isZhang(r.result)) << r.result;
    // The organisation matches as well.
    const std::string organisation = host.Select("测试机构").result;
    EXPECT_TRUE(isZhang(organisation)) << organisation;

    const Response pkcs1 = host.Call("SignMessagePKCS1", {kNonAscii, "SHA-256"});
    ASSERT_EQ(pkcs1.errorcode, 0);
    EXPECT_TRUE(Pkcs1Verifies("zhang", "sha256", kNonAscii, pkcs1.result));
    EXPECT_EQ(CmsVerify("zhang", host.Call("SignMessage", {kNonAscii, "SHA-256"}).result), kNonAscii);
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(WineSigning, AKeyOfAnOlderSoftwareProviderSignsSha2)
{
    // grace's key is in the enhanced provider of type PROV_RSA_FULL, which
    // refuses SHA-2 hashes with NTE_BAD_ALGID; the host signs through the
    // RSA and AES provider, which opens the same container.
    Host host(Build::Windows);
    ASSERT_EQ(host.Select("Grace Plain Issuer").errorcode, 0);
    for (const auto& [pszName, pszOpenssl] : {std::pair{"SHA-256", "sha256"}, std::pair{"SHA-1", "sha1"}}) {
        const Response pkcs1 = host.Call("SignMessagePKCS1", {kNonAscii, pszName});
        ASSERT_EQ(pkcs1.errorcode, 0) << pszName;
        EXPECT_TRUE(Pkcs1Verifies("grace", pszOpenssl, kNonAscii, pkcs1.result)) << pszName;
        EXPECT_EQ(CmsVerify("grace", host.Call("SignMessage", {kNonAscii, pszName}).result), kNonAscii) << pszName;
    }
    EXPECT_EQ(host.Finish(), 0);
}

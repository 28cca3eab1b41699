// Hashing, raw signatures and PKCS#7 SignedData with real keys, each result
// checked by the openssl command-line tool.
#include <gtest/gtest.h>
#include <pk11pub.h>
#include <secmod.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "kernel/CertificateFilters.h"
#include "kernel/CertificateProperties.h"
#include "kernel/HashAndSign.h"
#include "kernel/Pkcs7Encoder.h"
#include "kernel/platform/TextConversion.h"
#include "tests/support/FixtureStore.h"

using namespace tessera::test;

namespace {

struct Algorithm {
    uint32_t dwAlgId;
    const char* pszOpenssl;
};
constexpr Algorithm kAlgorithms[] = {
    {CALG_MD5, "md5"}, {CALG_SHA1, "sha1"}, {CALG_SHA_256, "sha256"}, {CALG_SHA_384, "sha384"}, {CALG_SHA_512, "sha512"},
};

class KernelSigning : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const FixtureStore& store = FixtureStore::Get();
        CertList all;
        ASSERT_EQ(ExtractCertificatesFromLocalStore(u"MY", all), KVRA_OK);
        CertFilter filter;
        filter.pwszSubjectDN = u"CN=Alice Signer";
        ASSERT_EQ(FilterCertificates(&filter, s_alice, all), KVRA_OK);
        filter.pwszSubjectDN = u"CN=Hardware Signer";
        ASSERT_EQ(FilterCertificates(&filter, s_token, all), KVRA_OK);
        filter.pwszSubjectDN = u"CN=Elena Elliptic";
        ASSERT_EQ(FilterCertificates(&filter, s_elena, all), KVRA_OK);
        filter.pwszSubjectDN = u"CN=Hardware Elliptic";
        ASSERT_EQ(FilterCertificates(&filter, s_ecToken, all), KVRA_OK);
        ASSERT_EQ(s_alice.size(), 1u);
        ASSERT_EQ(s_token.size(), 1u);
        ASSERT_EQ(s_elena.size(), 1u);
        ASSERT_EQ(s_ecToken.size(), 1u);
        for (const char* pszName : {"alice", "hw-signer", "elena", "hw-elliptic"}) {
            ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + store.CertPem(pszName) + " > " + Path(pszName) +
                               ".pub"),
                      0);
        }
    }
    static void TearDownTestSuite()
    {
        s_alice.clear();
        s_token.clear();
        s_elena.clear();
        s_ecToken.clear();
    }
    void SetUp() override
    {
        // Each test starts logged out, as a new host process would.
        PK11_LogoutAll();
        FixtureStore::Get().SetPinAnswers({});
    }

    static std::string Path(const std::string& strName) { return FixtureStore::Get().Dir() + "/" + strName; }

    // True when openssl verifies the PKCS#1 signature of data with the key
    // of that certificate.
    static bool OpensslVerifies(const std::string& strKey, const char* pszDigest, const std::string& data,
                                const std::vector<uint8_t>& vtrSignature)
    {
        WriteFileBytes(Path("data.bin"), data);
        WriteFileBytes(Path("sig.bin"), std::string(vtrSignature.begin(), vtrSignature.end()));
        return RunShell(std::string("openssl dgst -") + pszDigest + " -verify " + Path(strKey) + ".pub -signature " +
                        Path("sig.bin") + " " + Path("data.bin") + " > /dev/null 2>&1") == 0;
    }

    // Decodes a SignData result, has openssl verify it (with the content
    // given separately when detached) and returns the DER.
    static std::string VerifiedSignedData(const std::u16string& wstrBase64, const std::string& message, bool bAttached)
    {
        const std::string der = DecodeBase64(ConvertUtf16ToUtf8(wstrBase64));
        WriteFileBytes(Path("p7.der"), der);
        WriteFileBytes(Path("content.bin"), message);
        std::string command = "openssl cms -verify -inform DER -noverify -binary -in " + Path("p7.der") + " -out " +
                              Path("verified.bin");
        if (!bAttached)
            command += " -content " + Path("content.bin");
        EXPECT_EQ(RunShell(command + " 2>/dev/null"), 0) << "openssl cms -verify refused it";
        EXPECT_EQ(ReadFileBytes(Path("verified.bin")), message);
        return der;
    }

    static std::vector<uint8_t> Sign(const CertContextRef& pCert, const std::string& data, uint32_t dwAlgId,
                                     HRESULT hrExpected = KVRA_OK)
    {
        std::vector<uint8_t> vtrSignature;
        EXPECT_EQ(CalculateHashandSign(pCert, reinterpret_cast<const uint8_t*>(data.data()),
                                       static_cast<uint32_t>(data.size()), dwAlgId, vtrSignature),
                  hrExpected);
        return vtrSignature;
    }

    static size_t Count(const std::string& text, const std::string& what)
    {
        size_t n = 0;
        for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
            ++n;
        return n;
    }

    static inline CertList s_alice, s_token, s_elena, s_ecToken;
};

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

} // namespace

TEST_F(KernelSigning, RawSignaturesVerifyForEveryHashAndLength)
{
    for (const auto& algorithm : kAlgorithms) {
        for (size_t n : {0, 3, 16384, 16385, 100000}) {
            const std::string data(n, static_cast<char>('a' + n % 26));
            const auto vtrSignature = Sign(s_alice[0], data, algorithm.dwAlgId);
            ASSERT_EQ(vtrSignature.size(), 256u);
            EXPECT_TRUE(OpensslVerifies("alice", algorithm.pszOpenssl, data, vtrSignature))
                << algorithm.pszOpenssl << " over " << n << " bytes";
        }
    }
    Sign(s_alice[0], "abc", 0x8005, NTE_BAD_ALGID);

    std::string strDigest, strSignature = "untouched";
    EXPECT_TRUE(GetAlgorithmIdentifiers(CALG_SHA1, strDigest, strSignature));
    EXPECT_EQ(strDigest, "1.3.14.3.2.26");
    EXPECT_EQ(strSignature, "1.2.840.113549.1.1.1");
    EXPECT_FALSE(GetAlgorithmIdentifiers(0x8005, strDigest, strSignature));
    EXPECT_EQ(strDigest, "1.3.14.3.2.26");
}

TEST_F(KernelSigning, TokenKeySignsAfterTheRightPinAndNamesTokenAndCertificate)
{
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    const auto vtrSignature = Sign(s_token[0], "abc", CALG_SHA_256);
    EXPECT_TRUE(OpensslVerifies("hw-signer", "sha256", "abc", vtrSignature));
    const std::string log = FixtureStore::Get().PinentryLog();
    EXPECT_EQ(Count(log, "GETPIN"), 1u);
    EXPECT_NE(log.find("SETDESC "), std::string::npos);
    EXPECT_NE(log.find("Tessera Token"), std::string::npos) << log;
    EXPECT_NE(log.find("Hardware Signer"), std::string::npos) << log;
    EXPECT_EQ(log.find("SETERROR"), std::string::npos);
}

TEST_F(KernelSigning, WrongPinIsAskedAgainWithAnError)
{
    FixtureStore::Get().SetPinAnswers({"pin:0000", "pin:1234"});
    const auto vtrSignature = Sign(s_token[0], "abc", CALG_SHA1);
    EXPECT_TRUE(OpensslVerifies("hw-signer", "sha1", "abc", vtrSignature));
    const std::string log = FixtureStore::Get().PinentryLog();
    EXPECT_EQ(Count(log, "GETPIN"), 2u);
    EXPECT_EQ(Count(log, "SETERROR Wrong PIN"), 1u) << log;
}

TEST_F(KernelSigning, CancelEndsTheOperationAtOnce)
{
    FixtureStore::Get().SetPinAnswers({"cancel", "pin:1234"});
    Sign(s_token[0], "abc", CALG_SHA_256, MakeStatus(0x8010006E));
    EXPECT_EQ(Count(FixtureStore::Get().PinentryLog(), "GETPIN"), 1u);

    FixtureStore::Get().SetPinAnswers({"pin:9999", "cancel", "pin:1234"});
    Sign(s_token[0], "abc", CALG_SHA_256, MakeStatus(0x8010006E));
    EXPECT_EQ(Count(FixtureStore::Get().PinentryLog(), "GETPIN"), 2u); // nothing after the cancel

    // Three wrong PINs in one operation are as far as it goes.
    FixtureStore::Get().SetPinAnswers({"pin:1", "pin:2", "pin:3", "pin:1234"});
    Sign(s_token[0], "abc", CALG_SHA_256, MakeStatus(0x8010006B));
    EXPECT_EQ(Count(FixtureStore::Get().PinentryLog(), "GETPIN"), 3u);
}

TEST_F(KernelSigning, SignedDataVerifiesAttachedAndDetachedForEveryHash)
{
    const std::u16string message = u"Tessera signs 中文 text";
    const std::string utf8 = ConvertUtf16ToUtf8(message);
    for (const auto& algorithm : kAlgorithms) {
        std::u16string attached, detached;
        ASSERT_EQ(SignData(attached, message.c_str(), s_alice[0], algorithm.dwAlgId, true), KVRA_OK);
        ASSERT_EQ(SignData(detached, message.c_str(), s_alice[0], algorithm.dwAlgId, false), KVRA_OK);
        const std::string derAttached = VerifiedSignedData(attached, utf8, true);
        const std::string derDetached = VerifiedSignedData(detached, utf8, false);
        // Lines of 76 characters, each but the last closed by CR LF.
        const std::string text = ConvertUtf16ToUtf8(attached);
        EXPECT_EQ(text.find("\r\n"), 76u) << algorithm.pszOpenssl;
        EXPECT_EQ(text.find('\n', 0) - 1, text.find('\r'));
        // The two differ only in the inner contentInfo, so in their length.
        EXPECT_EQ(derAttached.size() - derDetached.size(), utf8.size() + 4) << algorithm.pszOpenssl;
    }

    // The token's key signs PKCS#7 too.
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    std::u16string tokenSigned;
    ASSERT_EQ(SignData(tokenSigned, u"abc", s_token[0], CALG_SHA_256, true), KVRA_OK);
    VerifiedSignedData(tokenSigned, "abc", true);
}

TEST_F(KernelSigning, SignedDataHasTheExactStructure)
{
    std::u16string attached, detached;
    ASSERT_EQ(SignData(attached, u"abc", s_alice[0], CALG_SHA_256, true), KVRA_OK);
    ASSERT_EQ(SignData(detached, u"abc", s_alice[0], CALG_SHA_256, false), KVRA_OK);
    const std::string a = Hex(VerifiedSignedData(attached, "abc", true));
    const std::string d = Hex(VerifiedSignedData(detached, "abc", false));

    // ContentInfo { signedData, [0] { SignedData } } with two-octet lengths.
    EXPECT_EQ(a.substr(0, 4), "3082");
    EXPECT_EQ(a.substr(8, 26), "06092a864886f70d010702a082");
    // version 1, then digestAlgorithms for SHA-256.
    EXPECT_NE(a.find("020101310f300d06096086480165030402010500"), std::string::npos);
    // Attached: the message inside [0]; detached: the data OID alone.
    EXPECT_NE(a.find("301206092a864886f70d010701a0050403616263"), std::string::npos);
    EXPECT_NE(d.find("300b06092a864886f70d010701a082"), std::string::npos); // followed by the certificates
    EXPECT_EQ(d.find("a0050403616263"), std::string::npos);
    // sha256WithRSAEncryption in the SignerInfo, and no signed attributes.
    EXPECT_NE(a.find("06092a864886f70d01010b"), std::string::npos);
    EXPECT_EQ(a.find("06092a864886f70d010903"), std::string::npos); // content-type attribute
    EXPECT_EQ(a.find("06092a864886f70d010904"), std::string::npos); // message-digest attribute

    // With SHA-1 the signature algorithm is plain rsaEncryption.
    std::u16string sha1;
    ASSERT_EQ(SignData(sha1, u"abc", s_alice[0], CALG_SHA1, true), KVRA_OK);
    const std::string s = Hex(VerifiedSignedData(sha1, "abc", true));
    EXPECT_NE(s.find("06092a864886f70d0101010500"), std::string::npos);
    EXPECT_EQ(s.find("06092a864886f70d010105"), std::string::npos);

    // An empty message signs the hash of nothing; attached it is 04 00.
    std::u16string empty;
    ASSERT_EQ(SignData(empty, u"", s_alice[0], CALG_SHA_256, true), KVRA_OK);
    EXPECT_NE(Hex(VerifiedSignedData(empty, "", true)).find("06092a864886f70d010701a0020400"), std::string::npos);

    // Exactly one certificate: the signer's own, not its issuer's.
    WriteFileBytes(Path("p7.der"), DecodeBase64(ConvertUtf16ToUtf8(attached)));
    ASSERT_EQ(RunShell("openssl pkcs7 -inform DER -in " + Path("p7.der") + " -print_certs | grep -c '^subject' > " +
                       Path("count.txt")),
              0);
    EXPECT_EQ(ReadFileBytes(Path("count.txt")), "1\n");

    std::u16string unchanged = u"keep";
    EXPECT_EQ(SignData(unchanged, u"abc", s_alice[0], 0x8005, true), NTE_BAD_ALGID);
    EXPECT_EQ(SignData(unchanged, nullptr, s_alice[0], CALG_SHA_256, true), E_POINTER);
    EXPECT_EQ(unchanged, u"keep");
}

TEST_F(KernelSigning, SignedDataIsMeasuredExactlyWithoutTheKey)
{
    // Around every change in the width of a DER length or a Base64 line.
    for (const size_t n : {0, 1, 2, 3, 56, 57, 58, 100, 127, 128, 129, 255, 256, 257, 1000, 65535, 65536, 65537}) {
        const std::u16string message(n, u'm');
        for (const uint32_t dwAlgId : {CALG_MD5, CALG_SHA_256, CALG_SHA_512}) {
            for (const bool bAttached : {true, false}) {
                std::u16string signedData;
                ASSERT_EQ(SignData(signedData, message.c_str(), s_alice[0], dwAlgId, bAttached), KVRA_OK);
                Base64Size size{};
                ASSERT_EQ(MeasureSignData(n, s_alice[0], dwAlgId, bAttached, size), KVRA_OK);
                EXPECT_EQ(size.cchText, signedData.size()) << n << (bAttached ? " attached" : " detached");
                const auto cLineBreaks = static_cast<uint64_t>(std::count(signedData.begin(), signedData.end(), u'\n'));
                EXPECT_EQ(size.cLineBreaks, cLineBreaks) << n;
            }
        }
    }

    // Measuring never uses the key: the token asks for no PIN.
    Base64Size size{};
    ASSERT_EQ(MeasureSignData(1u << 30, s_token[0], CALG_SHA_256, false, size), KVRA_OK);
    EXPECT_EQ(FixtureStore::Get().PinentryLog(), "");
    // What SignData could not encode, or could not sign with, is not measured.
    EXPECT_EQ(MeasureSignData(1u << 30, s_token[0], CALG_SHA_256, true, size), E_FAIL);
    EXPECT_EQ(MeasureSignData(3, s_alice[0], 0x8005, true, size), NTE_BAD_ALGID);
}

TEST_F(KernelSigning, EcKeysSignDerEcdsaMeasuredAtItsLongestAndRefuseMd5WithoutAPrompt)
{
    EXPECT_EQ(DescribePublicKey(GetPublicKeyInfo(*s_alice[0])), "RSA 2048");
    EXPECT_EQ(DescribePublicKey(GetPublicKeyInfo(*s_elena[0])), "EC P-256");
    EXPECT_EQ(DescribePublicKey(GetPublicKeyInfo(*s_ecToken[0])), "EC P-384");

    // ECDSA has no MD5 form: refused before the token's key is used.
    FixtureStore::Get().SetPinAnswers({"pin:1234"});
    Sign(s_ecToken[0], "abc", CALG_MD5, NTE_BAD_ALGID);
    Base64Size size{};
    EXPECT_EQ(MeasureSignData(3, s_ecToken[0], CALG_MD5, false, size), NTE_BAD_ALGID);
    EXPECT_EQ(Count(FixtureStore::Get().PinentryLog(), "GETPIN"), 0u);

    // Every other hash gives the DER ECDSA-Sig-Value openssl checks, never
    // longer than the longest one, as OpenSSL counts it; PKCS#7 is measured
    // with that longest length, so never short.
    for (const auto& [pCert, pszName, cbLongest] : {std::tuple{s_elena[0], "elena", 72u},
                                                    {s_ecToken[0], "hw-elliptic", 104u}}) {
        EXPECT_EQ(GetMaxSignatureLength(*pCert), cbLongest);
        for (const auto& algorithm : kAlgorithms) {
            if (algorithm.dwAlgId == CALG_MD5)
                continue;
            const std::string data = std::string("EC ") + algorithm.pszOpenssl;
            const auto vtrSignature = Sign(pCert, data, algorithm.dwAlgId);
            EXPECT_TRUE(OpensslVerifies(pszName, algorithm.pszOpenssl, data, vtrSignature)) << pszName << data;
            EXPECT_LE(vtrSignature.size(), cbLongest);
            std::u16string signedData;
            ASSERT_EQ(SignData(signedData, u"abc", pCert, algorithm.dwAlgId, true), KVRA_OK);
            VerifiedSignedData(signedData, "abc", true);
            ASSERT_EQ(MeasureSignData(3, pCert, algorithm.dwAlgId, true, size), KVRA_OK);
            EXPECT_GE(size.cchText, signedData.size());
            EXPECT_LE(size.cchText, signedData.size() + 8);
        }
    }
    EXPECT_EQ(Count(FixtureStore::Get().PinentryLog(), "GETPIN"), 1u);
}

TEST_F(KernelSigning, ContentTakenFromAFileIsEmbeddedAsItsBytes)
{
    // Any signature bytes do: the structure is compared, not verified.
    const std::vector<uint8_t> vtrSignature(256, 0x5A);
    const char kContent[] = "file content\n\0with a NUL";
    const std::string content(kContent, sizeof kContent - 1);
    WriteFileBytes(Path("content-file.bin"), content);
    const std::u16string wstrFile = ConvertUtf8ToUtf16(Path("content-file.bin"));
    auto encapsulate = [&](const uint8_t* pbContent, uint32_t cbContent, const char16_t* pwszFile, bool bFromFile,
                           std::u16string& text) {
        return EncapsulatePKCS7(pbContent, cbContent, pwszFile, bFromFile, true, s_alice[0], "2.16.840.1.101.3.4.2.1",
                                "1.2.840.113549.1.1.11", vtrSignature.data(), 256, 0, text, nullptr);
    };
    std::u16string fromMemory, fromFile;
    ASSERT_EQ(encapsulate(reinterpret_cast<const uint8_t*>(content.data()), static_cast<uint32_t>(content.size()),
                          nullptr, false, fromMemory),
              KVRA_OK);
    ASSERT_EQ(encapsulate(nullptr, 0, wstrFile.c_str(), true, fromFile), KVRA_OK);
    EXPECT_EQ(fromFile, fromMemory);

    // A missing file is the platform's "file not found"; a directory cannot
    // be read.
    const std::u16string wstrMissing = ConvertUtf8ToUtf16(Path("no-such-file"));
    const std::u16string wstrDirectory = ConvertUtf8ToUtf16(FixtureStore::Get().Dir());
    std::u16string unused;
    EXPECT_EQ(encapsulate(nullptr, 0, wstrMissing.c_str(), true, unused), MakeStatus(0x80070002));
    EXPECT_EQ(encapsulate(nullptr, 0, wstrDirectory.c_str(), true, unused), E_FAIL);
}

TEST_F(KernelSigning, ABlockedPinIsReportedWithoutAPrompt)
{
    // The fixture module shows SoftHSM's token as "Locked Token", whose user
    // PIN is blocked.
    std::string strSpec = "library=" TESSERA_LOCKED_PIN_MODULE " name=\"locked-pin\"";
    SECMODModule* pModule = SECMOD_LoadUserModule(strSpec.data(), nullptr, PR_FALSE);
    ASSERT_NE(pModule, nullptr);
    ASSERT_TRUE(pModule->loaded);
    {
        CertList all;
        ASSERT_EQ(ExtractCertificatesFromLocalStore(u"MY", all), KVRA_OK);
        CertContextRef pLocked;
        for (const auto& pCert : all) {
            std::u16string wstrContainer;
            if (GetCertContainerName(pCert, &wstrContainer, nullptr) == KVRA_OK &&
                wstrContainer == u"Locked Token:hw-signer")
                pLocked = pCert;
        }
        ASSERT_TRUE(pLocked);
        FixtureStore::Get().SetPinAnswers({"pin:1234"});
        Sign(pLocked, "abc", CALG_SHA_256, MakeStatus(0x8010006C));
        EXPECT_EQ(Count(FixtureStore::Get().PinentryLog(), "GETPIN"), 0u);
    }
    SECMOD_UnloadUserModule(pModule);
    SECMOD_DestroyModule(pModule);
}

// The Debian package made by cpack from this build tree: what it holds, the
// browser manifests in it, the packed extension and the files that make the
// browsers install it, an install into a fresh root where the installed host
// answers, and lintian's verdict.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"

using namespace tessera::test;

namespace {

const std::string kScratch = TESSERA_BINARY_DIR "/package-test";
const std::string kModuleDir = std::string("/usr/") + TESSERA_LIBDIR + "/tessera/";
const std::string kHost = "/usr/bin/tessera-host";

struct Manifest {
    std::string strPath;
    std::string strTemplate;
};
const std::vector<Manifest> kManifests = {
    {"/etc/chromium/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/etc/opt/chrome/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/etc/opt/edge/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/etc/brave/native-messaging-hosts/org.tessera.host.json", "chromium.json.in"},
    {"/usr/lib/mozilla/native-messaging-hosts/org.tessera.host.json", "firefox.json.in"},
};

const std::string kCrx = "/usr/share/tessera/extension/tessera.crx";
// Where Chromium, Google Chrome, Microsoft Edge, Brave and Vivaldi look for
// <id>.json (every channel of a browser reads the same folder).
const std::vector<std::string> kExternalDirs = {"/usr/share/chromium/extensions/",
    "/usr/share/google-chrome/extensions/", "/usr/share/microsoft-edge/extensions/", "/usr/share/brave/extensions/",
    "/usr/share/vivaldi/extensions/"};

std::vector<std::string> ExpectedFiles()
{
    std::vector<std::string> files = {kHost,
        kModuleDir + "libtessera-crypto.so", kModuleDir + "libtessera-ui.so", kModuleDir + "libtessera-lttng.so",
        "/usr/share/tessera/extension/chromium/manifest.json", "/usr/share/tessera/extension/firefox/manifest.json",
        "/usr/share/tessera/demo/index.html", "/usr/share/doc/tessera/copyright", "/usr/share/doc/tessera/changelog.gz"};
    for (const auto& manifest : kManifests)
        files.push_back(manifest.strPath);
    if (TESSERA_PACKS_CRX) {
        files.push_back(kCrx);
        for (const auto& strDir : kExternalDirs)
            files.push_back(strDir + TESSERA_EXTENSION_ID ".json");
    }
    return files;
}

// Runs a shell command and returns its standard output; nExit gets its status.
std::string Capture(const std::string& strCommand, int* pnExit = nullptr)
{
    const std::string strOut = kScratch + "/capture.out";
    const int nExit = RunShell("(" + strCommand + ") > '" + strOut + "'");
    if (pnExit != nullptr)
        *pnExit = nExit;
    return ReadFileBytes(strOut);
}

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
Json ParseJson(const std::string& strText) { return Json(cJSON_Parse(strText.c_str()), cJSON_Delete); }

std::string StringField(const Json& json, const char* pszName)
{
    const cJSON* pItem = cJSON_GetObjectItemCaseSensitive(json.get(), pszName);
    return cJSON_IsString(pItem) ? pItem->valuestring : "<missing>";
}

// A CRX3 file: "Cr24", version 3, the length of a CrxFileHeader message and
// the message, then the zip archive. The header holds the signatures, each
// with its public key, and the signed data, which names the extension's id.
struct Crx {
    struct Proof {
        std::string strPublicKey; // DER SubjectPublicKeyInfo
        std::string strSignature;
    };
    std::vector<Proof> rsaProofs;
    std::string strSignedData; // SignedData message, as signed
    std::string strCrxId;      // its 16-byte id
    std::string strArchive;
};

// The length-delimited fields of a protocol buffer message with the number
// given, or nothing when the message is malformed.
std::optional<std::vector<std::string>> Fields(const std::string& strMessage, uint64_t nWanted)
{
    std::vector<std::string> fields;
    size_t i = 0;
    const auto varint = [&](uint64_t& value) {
        value = 0;
        for (int shift = 0; i < strMessage.size() && shift < 64; shift += 7) {
            const auto byte = static_cast<uint8_t>(strMessage[i++]);
            value |= uint64_t(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                return true;
        }
        return false;
    };
    while (i < strMessage.size()) {
        uint64_t tag = 0;
        uint64_t value = 0;
        if (!varint(tag))
            return std::nullopt;
        switch (tag & 7) {
        case 0:
            if (!varint(value))
                return std::nullopt;
            break;
        case 2:
            if (!varint(value) || value > strMessage.size() - i)
                return std::nullopt;
            if (tag >> 3 == nWanted)
                fields.push_back(strMessage.substr(i, value));
            i += value;
            break;
        default:
            return std::nullopt; // CRX headers hold no other wire types
        }
    }
    return fields;
}

std::optional<Crx> ParseCrx(const std::string& strFile)
{
    const auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(strFile[at])) | uint32_t(uint8_t(strFile[at + 1])) << 8 |
               uint32_t(uint8_t(strFile[at + 2])) << 16 | uint32_t(uint8_t(strFile[at + 3])) << 24;
    };
    if (strFile.size() < 12 || strFile.compare(0, 4, "Cr24") != 0 || le32(4) != 3 || le32(8) > strFile.size() - 12)
        return std::nullopt;
    const std::string strHeader = strFile.substr(12, le32(8));
    Crx crx;
    crx.strArchive = strFile.substr(12 + strHeader.size());
    const auto proofs = Fields(strHeader, 2);
    const auto signedData = Fields(strHeader, 10000);
    if (!proofs || !signedData || signedData->size() != 1)
        return std::nullopt;
    for (const auto& strProof : *proofs) {
        const auto keys = Fields(strProof, 1);
        const auto signatures = Fields(strProof, 2);
        if (!keys || !signatures || keys->size() != 1 || signatures->size() != 1)
            return std::nullopt;
        crx.rsaProofs.push_back({keys->front(), signatures->front()});
    }
    crx.strSignedData = signedData->front();
    const auto ids = Fields(crx.strSignedData, 1);
    if (!ids || ids->size() != 1)
        return std::nullopt;
    crx.strCrxId = ids->front();
    return crx;
}

// An extension's id from its public key: the first 128 bits of the key's
// SHA-256, in hexadecimal written with the letters a-p.
std::string ExtensionId(const std::string& strPublicKeyDer)
{
    WriteFileBytes(kScratch + "/key.der", strPublicKeyDer);
    std::string strId = Capture("sha256sum < '" + kScratch + "/key.der' | cut -c1-32 | tr 0-9a-f a-p");
    strId.erase(strId.find_last_not_of('\n') + 1);
    return strId;
}

// The same from the 16 bytes of a CRX's signed data.
std::string ExtensionIdOfBytes(const std::string& strBytes)
{
    std::string strId;
    for (const char c : strBytes) {
        strId += static_cast<char>('a' + (static_cast<uint8_t>(c) >> 4));
        strId += static_cast<char>('a' + (static_cast<uint8_t>(c) & 0xF));
    }
    return strId;
}

std::string PackagedFile(const std::string& strDeb, const std::string& strPath)
{
    return Capture("dpkg-deb --fsys-tarfile '" + strDeb + "' | tar -xO ." + strPath);
}

class PackageTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (TESSERA_SANITIZED)
            return;
        RunShell("rm -rf '" + kScratch + "' && mkdir -p '" + kScratch + "'");
        std::string strArch = Capture("dpkg --print-architecture");
        strArch.erase(strArch.find_last_not_of('\n') + 1);
        const int nExit = RunShell("cpack --config '" TESSERA_BINARY_DIR "/CPackConfig.cmake' -B '" + kScratch +
                                   "' > '" + kScratch + "/cpack.log' 2>&1");
        if (nExit == 0)
            s_strDeb = kScratch + "/tessera_" TESSERA_VERSION "_" + strArch + ".deb";
    }

    void SetUp() override
    {
        if (TESSERA_SANITIZED)
            GTEST_SKIP() << "sanitizer build: not a release package";
        ASSERT_FALSE(s_strDeb.empty()) << "cpack failed:\n" << ReadFileBytes(kScratch + "/cpack.log");
        ASSERT_EQ(RunShell("test -f '" + s_strDeb + "'"), 0) << "no " << s_strDeb;
    }

    static inline std::string s_strDeb;
};

TEST_F(PackageTest, HoldsHostModulesManifestsExtensionAndDemoWithTheirDependencies)
{
    const std::string strList = Capture("dpkg-deb -c '" + s_strDeb + "' | awk '{print $6}'");
    for (const auto& strFile : ExpectedFiles())
        EXPECT_NE(strList.find("." + strFile + "\n"), std::string::npos) << strFile << " not in the package";
    EXPECT_EQ(strList.find("/usr/local/"), std::string::npos) << "the package installs under /usr only";

    // The /etc manifests are conffiles, so an administrator's edits survive
    // an upgrade and a purge removes them.
    EXPECT_EQ(Capture("dpkg-deb --info '" + s_strDeb + "' conffiles"),
              kManifests[0].strPath + "\n" + kManifests[1].strPath + "\n" + kManifests[2].strPath + "\n" +
                  kManifests[3].strPath + "\n");

    const std::string strControl = Capture("dpkg-deb -f '" + s_strDeb + "' Package Version Depends");
    EXPECT_NE(strControl.find("Package: tessera\n"), std::string::npos) << strControl;
    EXPECT_NE(strControl.find("Version: " TESSERA_VERSION "\n"), std::string::npos) << strControl;
    // What the host loads by name, and what dpkg-shlibdeps finds in the
    // modules (NSS in the crypto module, Qt in the dialog module).
    for (const char* pszDepend : {"p11-kit-modules", "qt6-qpa-plugins", "libnss3", "libqt6widgets6", "libcjson1"})
        EXPECT_NE(strControl.find(pszDepend), std::string::npos) << pszDepend << " missing from " << strControl;
}

TEST_F(PackageTest, ManifestsAreTheTemplatesNamingTheInstalledHost)
{
    for (const auto& manifest : kManifests) {
        SCOPED_TRACE(manifest.strPath);
        const Json json = ParseJson(PackagedFile(s_strDeb, manifest.strPath));
        ASSERT_TRUE(json) << "not JSON";
        EXPECT_EQ(StringField(json, "name"), "org.tessera.host");
        EXPECT_EQ(StringField(json, "type"), "stdio");
        EXPECT_EQ(StringField(json, "path"), kHost);
        // Everything else, the allowed extension above all, as the template has it.
        Json expected = ParseJson(ReadFileBytes(TESSERA_SOURCE_DIR "/host/manifests/" + manifest.strTemplate));
        ASSERT_TRUE(expected);
        cJSON_ReplaceItemInObjectCaseSensitive(expected.get(), "path", cJSON_CreateString(kHost.c_str()));
        EXPECT_TRUE(cJSON_Compare(json.get(), expected.get(), true)) << cJSON_Print(json.get());
    }
}

TEST_F(PackageTest, CarriesTheExtensionPackedWithTheIdTheManifestsNameForTheBrowsersToInstall)
{
    if (!TESSERA_PACKS_CRX)
        GTEST_SKIP() << "this tree packs no CRX (TESSERA_EXTENSION_CRX is off, or Chromium was missing when it was configured)";
    // The id the unpacked extension has, from its manifest's key.
    const Json manifest = ParseJson(ReadFileBytes(TESSERA_SOURCE_DIR "/extension/manifest.json"));
    ASSERT_TRUE(manifest);
    const std::string strKey = DecodeBase64(StringField(manifest, "key"));
    const std::string strId = ExtensionId(strKey);
    EXPECT_EQ(strId, TESSERA_EXTENSION_ID);

    const std::string strFile = PackagedFile(s_strDeb, kCrx);
    const auto crx = ParseCrx(strFile);
    ASSERT_TRUE(crx.has_value()) << "not a CRX3 file: " << strFile.size() << " bytes";
    EXPECT_EQ(ExtensionIdOfBytes(crx->strCrxId), strId);
    // Signed by the manifest's key: the browsers take the id from the key
    // whose hash the signed data names, and check its signature over the
    // signed data and the archive.
    const Crx::Proof* pProof = nullptr;
    for (const auto& proof : crx->rsaProofs) {
        if (proof.strPublicKey == strKey)
            pProof = &proof;
    }
    ASSERT_NE(pProof, nullptr) << crx->rsaProofs.size() << " signatures, none by the manifest's key";
    const uint32_t nSigned = static_cast<uint32_t>(crx->strSignedData.size());
    std::string strSigned("CRX3 SignedData\0", 16);
    for (int shift = 0; shift < 32; shift += 8)
        strSigned += static_cast<char>(nSigned >> shift & 0xFF);
    WriteFileBytes(kScratch + "/crx.signed", strSigned + crx->strSignedData + crx->strArchive);
    WriteFileBytes(kScratch + "/crx.sig", pProof->strSignature);
    WriteFileBytes(kScratch + "/key.der", pProof->strPublicKey);
    EXPECT_EQ(RunShell("openssl dgst -sha256 -keyform DER -verify '" + kScratch + "/key.der' -signature '" + kScratch +
                       "/crx.sig' '" + kScratch + "/crx.signed' > /dev/null"),
              0) << "the signature does not verify";

    // The archive holds the very files installed as the unpacked extension.
    WriteFileBytes(kScratch + "/crx.zip", crx->strArchive);
    EXPECT_EQ(Capture("python3 -c 'import sys, zipfile; print(*sorted(zipfile.ZipFile(sys.argv[1]).namelist()), "
                      "sep=\"\\n\")' '" + kScratch + "/crx.zip'"),
              Capture("dpkg-deb -c '" + s_strDeb + "' | awk '{print $6}' | "
                      "sed -n 's|^./usr/share/tessera/extension/chromium/\\(..*\\)|\\1|p' | LC_ALL=C sort"));
    EXPECT_EQ(Capture("python3 -c 'import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1])"
                      ".read(\"manifest.json\").decode())' '" + kScratch + "/crx.zip'"),
              PackagedFile(s_strDeb, "/usr/share/tessera/extension/chromium/manifest.json"));

    // The host lets that extension, and only it, start it.
    const Json host = ParseJson(PackagedFile(s_strDeb, kManifests[0].strPath));
    ASSERT_TRUE(host);
    const cJSON* pOrigins = cJSON_GetObjectItemCaseSensitive(host.get(), "allowed_origins");
    ASSERT_EQ(cJSON_GetArraySize(pOrigins), 1);
    EXPECT_STREQ(cJSON_GetArrayItem(pOrigins, 0)->valuestring, ("chrome-extension://" + strId + "/").c_str());

    // Each browser's file names the CRX and the package's version, which
    // must be the extension's: a browser refuses a CRX of another version.
    EXPECT_EQ(StringField(manifest, "version"), TESSERA_VERSION);
    for (const auto& strDir : kExternalDirs) {
        SCOPED_TRACE(strDir);
        const Json external = ParseJson(PackagedFile(s_strDeb, strDir + strId + ".json"));
        ASSERT_TRUE(external) << "no JSON file named after the id";
        EXPECT_EQ(StringField(external, "external_crx"), kCrx);
        EXPECT_EQ(StringField(external, "external_version"), TESSERA_VERSION);
        EXPECT_EQ(cJSON_GetArraySize(external.get()), 2);
    }
}

TEST_F(PackageTest, InstallsIntoAFreshRootWhereTheHostAnswersAndPurgesClean)
{
    const std::string strRoot = kScratch + "/root";
    // Maintainer scripts run outside the root. A tree configured for
    // /usr/local puts the modules in /usr/lib/tessera, for which CPack adds
    // an ldconfig call: a stand-in keeps it off this machine's cache.
    const std::string strDpkg = "PATH='" + kScratch + "/bin':\"$PATH\" dpkg --root='" + strRoot + "' --log=/dev/null";
    ASSERT_EQ(RunShell("mkdir -p '" + strRoot + "'/var/lib/dpkg/info '" + strRoot + "'/var/lib/dpkg/updates '" +
                       strRoot + "'/home '" + kScratch + "'/bin && touch '" + strRoot + "'/var/lib/dpkg/status '" +
                       strRoot + "'/var/lib/dpkg/available && printf '#!/bin/sh\\n' > '" + kScratch +
                       "'/bin/ldconfig && chmod +x '" + kScratch + "'/bin/ldconfig"),
              0);
    // The root has none of the libraries the package depends on; the host
    // runs on this machine's.
    int nExit = -1;
    const std::string strInstall = Capture(strDpkg + " --force-not-root --force-depends --force-script-chrootless -i '" +
                                           s_strDeb + "' 2>&1", &nExit);
    ASSERT_EQ(nExit, 0) << strInstall;

    const std::string strListed = Capture(strDpkg + " -L tessera");
    for (const auto& strFile : ExpectedFiles()) {
        EXPECT_NE(strListed.find(strFile + "\n"), std::string::npos) << strFile << " not listed";
        EXPECT_EQ(RunShell("test -f '" + strRoot + strFile + "'"), 0) << strFile << " not installed";
    }

    // The host finds its modules beside itself in the root: a selection
    // that finds nothing comes from the crypto module (a missing module
    // would answer ERROR_MOD_NOT_FOUND instead).
    WriteFileBytes(kScratch + "/frames.in",
                   Frame(R"({"function":"GetLastErrorDesc","params":[]})") +
                       Frame(R"({"function":"SelectSignCertificate","params":[{"param":"No Such Holder 7f3a"},{"param":""}]})") +
                       Frame(R"({"function":"GetLastErrorDesc","params":[]})"));
    const std::string strOutput = Capture("env -i PATH=/usr/bin:/bin LANG=C HOME='" + strRoot + "/home' '" + strRoot +
                                              kHost + "' < '" + kScratch + "/frames.in' 2> '" + kScratch + "/host.err'",
                                          &nExit);
    EXPECT_EQ(nExit, 0);
    EXPECT_EQ(ReadFileBytes(kScratch + "/host.err"), "");
    const auto responses = SplitFrames(strOutput);
    ASSERT_TRUE(responses.has_value()) << strOutput;
    EXPECT_EQ(*responses, (std::vector<std::string>{
        R"J({"function":"GetLastErrorDesc","errorcode":0,"result":"The operation completed successfully.\r\n\n(0x00000000)"})J",
        R"({"function":"SelectSignCertificate","errorcode":-1610149887,"result":false})",
        R"J({"function":"GetLastErrorDesc","errorcode":0,"result":"There is no available certificate in store.\n(0xa0071001)"})J"}));

    ASSERT_EQ(RunShell(strDpkg + " --force-not-root --force-script-chrootless --purge tessera > /dev/null"), 0);
    EXPECT_EQ(Capture("find '" + strRoot + "' -path '" + strRoot + "/var/lib/dpkg' -prune -o -type f -print"), "");
}

TEST_F(PackageTest, LintianFindsNoErrors)
{
    if (RunShell("command -v lintian > /dev/null") != 0)
        GTEST_SKIP() << "lintian is not installed";
    const std::string strReport = Capture("lintian '" + s_strDeb + "' 2>&1");
    std::istringstream lines(strReport);
    for (std::string strLine; std::getline(lines, strLine);)
        EXPECT_FALSE(strLine.starts_with("E:")) << strLine;
}

} // namespace

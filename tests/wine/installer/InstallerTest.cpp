// tessera-setup.exe under Wine, in a prefix and with a Wine server of its
// own: a silent install puts every file in place and registers the host with
// the four browsers, and the host each registration names answers a frame;
// an upgrade while that host runs stops before it changes anything; a second
// install repairs the first and leaves one copy of everything; the
// uninstaller removes every file and key it made, and nothing else.
//
// The cases run in order on one prefix, each starting where the one before
// left off. Every Wine process writes to a file, never to a pipe that the
// test reads to its end: the services that the first process of a server
// session starts inherit its output and hold it open until the server exits.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"

namespace fs = std::filesystem;
using namespace tessera::test;

namespace {

const std::string kWorkDir = TESSERA_INSTALLER_WORK_DIR;
const std::string kWindowsBuild = TESSERA_WINDOWS_BINARY_DIR;
const std::string kSetup = kWindowsBuild + "/tessera-setup.exe";
const std::string kSourceDir = TESSERA_SOURCE_DIR;
const std::string kRequest = R"({"function":"GetLastErrorDesc","params":[{"param":"0"}]})";

const std::string kUninstallKey = R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessera)";

struct Registration {
    std::string strKey;
    std::string strManifest;    // its file name in the install folder
    std::string strTemplate;    // under host/manifests
    std::string strAllowedKey;  // the browser family's list of callers
};
const std::vector<Registration> kRegistrations = {
    {R"(HKCU\Software\Google\Chrome\NativeMessagingHosts\org.tessera.host)", "org.tessera.host.json",
     "chromium.json.in", "allowed_origins"},
    {R"(HKCU\Software\Chromium\NativeMessagingHosts\org.tessera.host)", "org.tessera.host.json", "chromium.json.in",
     "allowed_origins"},
    {R"(HKCU\Software\Microsoft\Edge\NativeMessagingHosts\org.tessera.host)", "org.tessera.host.json",
     "chromium.json.in", "allowed_origins"},
    {R"(HKCU\Software\Mozilla\NativeMessagingHosts\org.tessera.host)", "org.tessera.host.firefox.json",
     "firefox.json.in", "allowed_extensions"},
};

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
Json ParseJson(const std::string& strText) { return Json(cJSON_Parse(strText.c_str()), cJSON_Delete); }

void ThrowErrno(const std::string& strWhat)
{
    throw std::runtime_error(strWhat + ": errno " + std::to_string(errno));
}

int WaitExit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            ThrowErrno("waitpid");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string TrimLineEnd(std::string str)
{
    while (!str.empty() && (str.back() == '\n' || str.back() == '\r' || str.back() == ' '))
        str.pop_back();
    return str;
}

// Everything under dir, as relative paths with "/" after folders.
std::set<std::string> Tree(const fs::path& dir)
{
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string str = fs::relative(entry.path(), dir).generic_string();
        entries.insert(entry.is_directory() ? str + "/" : str);
    }
    return entries;
}

// Installed file (relative to the install folder) -> the file it must be a
// copy of.
std::map<std::string, std::string> ExpectedCopies()
{
    std::map<std::string, std::string> copies = {
        {"tessera-host.exe", kWindowsBuild + "/tessera-host.exe"},
        {"tessera-crypto.dll", kWindowsBuild + "/tessera-crypto.dll"},
        {"extension/chromium/manifest.json", kSourceDir + "/extension/manifest.json"},
        {"extension/firefox/manifest.json", kSourceDir + "/extension/firefox/manifest.json"},
    };
    // The dialog module, once the Windows build makes one.
    if (fs::exists(kWindowsBuild + "/tessera-ui.dll"))
        copies["tessera-ui.dll"] = kWindowsBuild + "/tessera-ui.dll";
    for (const auto& entry : fs::directory_iterator(kSourceDir + "/extension")) {
        const std::string strExt = entry.path().extension().string();
        if (entry.is_regular_file() && (strExt == ".js" || strExt == ".html" || strExt == ".css")) {
            const std::string strName = entry.path().filename().string();
            copies["extension/chromium/" + strName] = entry.path().string();
            copies["extension/firefox/" + strName] = entry.path().string();
        }
    }
    for (const char* pszName : {"index.html", "demo.js", "demo.css"})
        copies[std::string("demo/") + pszName] = kSourceDir + "/examples/demo/" + pszName;
    return copies;
}

std::set<std::string> ExpectedTree()
{
    std::set<std::string> tree = {"org.tessera.host.json", "org.tessera.host.firefox.json", "uninstall.exe",
                                  "extension/", "extension/chromium/", "extension/firefox/", "demo/"};
    for (const auto& [strInstalled, strSource] : ExpectedCopies())
        tree.insert(strInstalled);
    return tree;
}

// A Wine prefix made from scratch, with a server of its own that is not kept
// up: `wineserver -w` then waits for every process of the prefix, including
// any that a program left running (the uninstaller's copy in %TEMP%). The
// server is killed when the object goes, however the test ends.
class WinePrefix {
public:
    explicit WinePrefix(std::string strDir) : m_strDir(std::move(strDir))
    {
        // A server left running by a run that was cut short would write its
        // registry back into the new prefix.
        if (fs::exists(m_strDir + "/prefix"))
            EndServer();
        fs::remove_all(m_strDir);
        fs::create_directories(m_strDir + "/logs");
        if (Wine({"wineboot", "-i"}) != 0) {
            EndServer();
            throw std::runtime_error("wineboot -i failed: " + m_strLastErr);
        }
    }

    ~WinePrefix() { EndServer(); }

    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Runs a program under Wine with stdin from a file holding strInput and
    // stdout and stderr to files, and returns its exit status once it has
    // exited. Out() and Err() hold what it wrote.
    int Wine(const std::vector<std::string>& vArgs, const std::string& strInput = "")
    {
        const std::string strLog = NextLog();
        WriteFileBytes(strLog + ".in", strInput);
        const int fdIn = OpenLog(strLog + ".in", false);
        const pid_t pid = SpawnWine(vArgs, fdIn, OpenLog(strLog + ".out", true), strLog + ".err");
        const int nExit = WaitExit(pid);
        m_strLastOut = ReadFileBytes(strLog + ".out");
        m_strLastErr = ReadFileBytes(strLog + ".err");
        return nExit;
    }
    const std::string& Out() const { return m_strLastOut; }
    const std::string& Err() const { return m_strLastErr; }

    // Starts a program under Wine with its stdin and stdout on pipes and
    // stderr to a file; fdIn and fdOut are this side's ends.
    pid_t Start(const std::vector<std::string>& vArgs, int& fdIn, int& fdOut)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            ThrowErrno("pipe2");
        fdIn = in[1];
        fdOut = out[0];
        return SpawnWine(vArgs, in[0], out[1], NextLog() + ".err");
    }

    // wineserver -w (wait for every process of the prefix to end and the
    // server with them) or -k (kill them).
    int Server(const char* pszFlag)
    {
        const int fdNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        const pid_t pid = Spawn({TESSERA_WINESERVER, pszFlag}, fdNull, fdNull, fdNull);
        close(fdNull);
        return WaitExit(pid);
    }

    // The Linux path of a Windows path in the prefix.
    std::string UnixPath(const std::string& strWindowsPath)
    {
        if (Wine({"winepath", "-u", strWindowsPath}) != 0)
            throw std::runtime_error("winepath -u " + strWindowsPath + " failed: " + m_strLastErr);
        return TrimLineEnd(m_strLastOut);
    }

    // What `reg query KEY [/ve]` prints, or nothing if the key is missing.
    std::optional<std::string> Query(const std::string& strKey, bool bDefaultValue = false)
    {
        std::vector<std::string> vArgs = {"reg", "query", strKey};
        if (bDefaultValue)
            vArgs.push_back("/ve");
        if (Wine(vArgs) != 0)
            return std::nullopt;
        return m_strLastOut;
    }

private:
    std::string NextLog() { return m_strDir + "/logs/" + std::to_string(++m_nRuns); }

    static int OpenLog(const std::string& strPath, bool bWrite)
    {
        const int fd = open(strPath.c_str(), (bWrite ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY) | O_CLOEXEC, 0644);
        if (fd < 0)
            ThrowErrno("open " + strPath);
        return fd;
    }

    // Runs the loader with vArgs, handing it fdIn and fdOut (closed on this
    // side) and stderr to the file strErr.
    pid_t SpawnWine(const std::vector<std::string>& vArgs, int fdIn, int fdOut, const std::string& strErr)
    {
        std::vector<std::string> vArgv = {TESSERA_WINE_LOADER};
        vArgv.insert(vArgv.end(), vArgs.begin(), vArgs.end());
        const int fdErr = OpenLog(strErr, true);
        const pid_t pid = Spawn(vArgv, fdIn, fdOut, fdErr);
        close(fdIn);
        close(fdOut);
        close(fdErr);
        return pid;
    }

    pid_t Spawn(const std::vector<std::string>& vArgv, int fdIn, int fdOut, int fdErr)
    {
        std::vector<char*> vPointers;
        for (const auto& str : vArgv)
            vPointers.push_back(const_cast<char*>(str.c_str()));
        vPointers.push_back(nullptr);
        const std::string strPrefix = m_strDir + "/prefix";
        const pid_t pid = fork();
        if (pid < 0)
            ThrowErrno("fork");
        if (pid == 0) {
            dup2(fdIn, 0);
            dup2(fdOut, 1);
            dup2(fdErr, 2);
            // No Mono or Gecko installer, no menu entries in the user's
            // home, no debug chatter, and no window: the installer's pages
            // would wait for a click.
            setenv("WINEPREFIX", strPrefix.c_str(), 1);
            setenv("WINEDEBUG", "-all", 1);
            setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
            setenv("WINESERVER", TESSERA_WINESERVER, 1);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            signal(SIGPIPE, SIG_DFL);
            execv(vPointers[0], vPointers.data());
            _exit(127);
        }
        return pid;
    }

    // Kills every process of the prefix and waits for the server to go.
    void EndServer()
    {
        Server("-k");
        Server("-w");
        RemoveSocketDir();
    }

    // Debian's Wine keeps each prefix's server socket in a folder of its own
    // under $TMPDIR, named in the prefix's file "wineserver", which nothing
    // removes with the prefix.
    void RemoveSocketDir()
    {
        std::string strName = TrimLineEnd(ReadFileBytes(m_strDir + "/prefix/wineserver"));
        if (!std::regex_match(strName, std::regex("wine-[A-Za-z0-9]{6}")))
            return;
        const char* pszTmp = std::getenv("TMPDIR");
        std::error_code ec;
        fs::remove_all(fs::path(pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp") / strName, ec);
    }

    std::string m_strDir;
    int m_nRuns = 0;
    std::string m_strLastOut;
    std::string m_strLastErr;
};

// The data of a value in `reg query` output ("    NAME    TYPE    DATA"),
// or nothing. The default value is named "(Default)".
std::optional<std::string> RegValue(const std::string& strOutput, const std::string& strName,
                                    std::string* pstrType = nullptr)
{
    static const std::regex value(R"( {4}(\S.*?) {4}(REG_\w+) {4}(.*))");
    size_t pos = 0;
    while (pos < strOutput.size()) {
        size_t end = strOutput.find('\n', pos);
        if (end == std::string::npos)
            end = strOutput.size();
        std::string strLine = strOutput.substr(pos, end - pos);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        pos = end + 1;
        std::smatch match;
        if (std::regex_match(strLine, match, value) && match[1] == strName) {
            if (pstrType != nullptr)
                *pstrType = match[2];
            return match[3];
        }
    }
    return std::nullopt;
}

std::string Parent(const std::string& strWindowsPath) { return strWindowsPath.substr(0, strWindowsPath.rfind('\\')); }

class InstallerTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_prefix = std::make_unique<WinePrefix>(kWorkDir); }
    static void TearDownTestSuite() { s_prefix.reset(); }
    void SetUp() override { ASSERT_TRUE(s_prefix) << "no Wine prefix"; }

    WinePrefix& Prefix() { return *s_prefix; }

    // Installs silently and waits for every process it started.
    int Install(const std::vector<std::string>& vExtraArgs = {})
    {
        std::vector<std::string> vArgs = {kSetup, "/S"};
        vArgs.insert(vArgs.end(), vExtraArgs.begin(), vExtraArgs.end());
        const int nExit = Prefix().Wine(vArgs);
        Prefix().Server("-w");
        return nExit;
    }

    // The install folder as the uninstall entry has it, and its Linux path.
    void FindInstallFolder(std::string& strWindows, std::string& strUnix)
    {
        const auto entry = Prefix().Query(kUninstallKey);
        ASSERT_TRUE(entry) << kUninstallKey << " is missing";
        const auto location = RegValue(*entry, "InstallLocation");
        ASSERT_TRUE(location) << *entry;
        strWindows = *location;
        strUnix = Prefix().UnixPath(strWindows);
    }

    // Every installed file is there once, as a copy of its source, with
    // nothing beside it but the user's own files; each browser's key names
    // its manifest in the folder; the uninstall entry describes the install.
    void ExpectInstalledIn(const std::string& strWindowsDir, const std::string& strUnixDir,
                           const std::set<std::string>& usersFiles = {})
    {
        ASSERT_TRUE(fs::is_directory(strUnixDir)) << strUnixDir;
        std::set<std::string> tree = ExpectedTree();
        tree.insert(usersFiles.begin(), usersFiles.end());
        EXPECT_EQ(Tree(strUnixDir), tree);
        for (const auto& [strInstalled, strSource] : ExpectedCopies())
            EXPECT_TRUE(ReadFileBytes(strUnixDir + "/" + strInstalled) == ReadFileBytes(strSource))
                << strInstalled << " is not a copy of " << strSource;
        for (const auto& reg : kRegistrations) {
            const auto output = Prefix().Query(reg.strKey, true);
            ASSERT_TRUE(output) << reg.strKey << " is missing";
            std::string strType;
            EXPECT_EQ(RegValue(*output, "(Default)", &strType), strWindowsDir + "\\" + reg.strManifest) << *output;
            EXPECT_EQ(strType, "REG_SZ");
        }

        const auto entry = Prefix().Query(kUninstallKey);
        ASSERT_TRUE(entry) << kUninstallKey << " is missing";
        const std::string strUninstaller = strWindowsDir + "\\uninstall.exe";
        const std::map<std::string, std::string> expected = {
            {"DisplayName", "Tessera"},
            {"DisplayVersion", TESSERA_VERSION},
            {"Publisher", "Tessera"},
            {"InstallLocation", strWindowsDir},
            {"UninstallString", "\"" + strUninstaller + "\""},
            {"QuietUninstallString", "\"" + strUninstaller + "\" /S"},
            {"NoModify", "0x1"},
            {"NoRepair", "0x1"},
        };
        for (const auto& [strName, strData] : expected)
            EXPECT_EQ(RegValue(*entry, strName), strData) << strName << " in\n" << *entry;
        std::string strType;
        const auto size = RegValue(*entry, "EstimatedSize", &strType);
        ASSERT_TRUE(size) << *entry;
        EXPECT_EQ(strType, "REG_DWORD");
        // In KB: at least the host itself.
        EXPECT_GE(std::stoul(*size, nullptr, 16) * 1024, fs::file_size(kWindowsBuild + "/tessera-host.exe"));
    }

    // What the prefix's HKCU\Software holds at the top, and Microsoft's
    // keys, where Edge's would be.
    std::string SoftwareKeys()
    {
        return Prefix().Query(R"(HKCU\Software)").value_or("<missing>") +
               Prefix().Query(R"(HKCU\Software\Microsoft)").value_or("<missing>");
    }

    // Runs a host with vArgs (the program first) on one request and returns
    // its answer, which must be one frame of JSON.
    Json Ask(const std::vector<std::string>& vArgs, const std::string& strRequest)
    {
        EXPECT_EQ(Prefix().Wine(vArgs, Frame(strRequest)), 0) << Prefix().Err();
        const auto frames = SplitFrames(Prefix().Out());
        EXPECT_TRUE(frames && frames->size() == 1) << "not one frame: " << Prefix().Out();
        Json response = ParseJson(frames && frames->size() == 1 ? frames->front() : "");
        EXPECT_TRUE(response) << Prefix().Out();
        return response;
    }

    static std::unique_ptr<WinePrefix> s_prefix;
    static std::string s_strSoftwareKeys;
};

std::unique_ptr<WinePrefix> InstallerTest::s_prefix;
std::string InstallerTest::s_strSoftwareKeys;

TEST_F(InstallerTest, SilentInstallPutsEverythingInPlaceAndRegistersTheHost)
{
    // Wine gives any program the rights it asks for; Windows would ask for
    // an administrator unless the installer asks for none.
    EXPECT_NE(ReadFileBytes(kSetup).find(R"(<requestedExecutionLevel level="asInvoker")"), std::string::npos);

    s_strSoftwareKeys = SoftwareKeys();
    for (const auto& reg : kRegistrations)
        ASSERT_FALSE(Prefix().Query(reg.strKey)) << reg.strKey << " is there before the install";

    ASSERT_EQ(Install(), 0) << Prefix().Err();

    ASSERT_EQ(Prefix().Wine({"cmd", "/c", "echo %LOCALAPPDATA%"}), 0);
    const std::string strLocalAppData = TrimLineEnd(Prefix().Out());
    std::string strWindowsDir, strUnixDir;
    ASSERT_NO_FATAL_FAILURE(FindInstallFolder(strWindowsDir, strUnixDir));
    EXPECT_EQ(strWindowsDir, strLocalAppData + "\\Programs\\Tessera");
    ExpectInstalledIn(strWindowsDir, strUnixDir);
}

TEST_F(InstallerTest, EachRegisteredManifestStartsAHostThatAnswers)
{
    for (const auto& reg : kRegistrations) {
        SCOPED_TRACE(reg.strKey);
        const auto output = Prefix().Query(reg.strKey, true);
        ASSERT_TRUE(output) << reg.strKey << " is missing";
        const std::string strWindowsManifest = RegValue(*output, "(Default)").value_or("");
        const fs::path unixManifest = Prefix().UnixPath(strWindowsManifest);

        const Json manifest = ParseJson(ReadFileBytes(unixManifest));
        ASSERT_TRUE(manifest) << unixManifest << " is not JSON";
        const Json tmpl = ParseJson(ReadFileBytes(kSourceDir + "/host/manifests/" + reg.strTemplate));
        ASSERT_TRUE(tmpl);
        // The template's every field but "path", which is relative.
        for (const char* pszField : {"name", "description", "type", reg.strAllowedKey.c_str()}) {
            EXPECT_TRUE(cJSON_Compare(cJSON_GetObjectItemCaseSensitive(manifest.get(), pszField),
                                      cJSON_GetObjectItemCaseSensitive(tmpl.get(), pszField), true))
                << pszField;
        }
        EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(manifest.get(), "name")),
                     "org.tessera.host");
        EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(manifest.get(), "type")), "stdio");
        EXPECT_TRUE(cJSON_IsArray(cJSON_GetObjectItemCaseSensitive(manifest.get(), reg.strAllowedKey.c_str())));
        EXPECT_EQ(cJSON_GetArraySize(manifest.get()), 5);
        const char* pszPath = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(manifest.get(), "path"));
        ASSERT_NE(pszPath, nullptr);
        ASSERT_TRUE(fs::path(pszPath).is_relative()) << pszPath;

        // As the browsers do on Windows: "path" against the manifest's
        // folder, with the caller's identity as arguments.
        ASSERT_TRUE(fs::is_regular_file(unixManifest.parent_path() / pszPath)) << pszPath;
        const std::string strHost = Parent(strWindowsManifest) + "\\" + pszPath;
        const std::vector<std::string> vArgs = reg.strAllowedKey == "allowed_origins"
            ? std::vector<std::string>{strHost, "chrome-extension://bcepafngedbblbkhgokgdlojgepllehe/"}
            : std::vector<std::string>{strHost, strWindowsManifest, "extension@tessera.org"};
        const Json response = Ask(vArgs, kRequest);
        ASSERT_TRUE(response);
        EXPECT_TRUE(cJSON_HasObjectItem(response.get(), "result")) << Prefix().Out();
        EXPECT_TRUE(cJSON_HasObjectItem(response.get(), "errorcode")) << Prefix().Out();
    }
}

TEST_F(InstallerTest, AnUpgradeWhileTheHostRunsStopsBeforeItChangesAnything)
{
    std::string strWindowsDir, strUnixDir;
    ASSERT_NO_FATAL_FAILURE(FindInstallFolder(strWindowsDir, strUnixDir));

    // A host that a browser started, up and answering.
    int fdIn = -1, fdOut = -1;
    const pid_t host = Prefix().Start({strWindowsDir + "\\tessera-host.exe"}, fdIn, fdOut);
    // However the case ends, the host gets the end of its input and exits.
    struct HostGuard {
        pid_t pid;
        int& fdIn;
        int& fdOut;
        ~HostGuard()
        {
            if (fdIn >= 0)
                close(fdIn);
            close(fdOut);
            int status;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    } guard{host, fdIn, fdOut};
    const std::string strFrame = Frame(kRequest);
    ASSERT_EQ(write(fdIn, strFrame.data(), strFrame.size()), static_cast<ssize_t>(strFrame.size()));
    // Its answer's length field: the host is running and its image mapped.
    char len[4];
    size_t nRead = 0;
    while (nRead < sizeof len) {
        const ssize_t r = read(fdOut, len + nRead, sizeof len - nRead);
        if (r < 0 && errno == EINTR)
            continue;
        ASSERT_GT(r, 0) << "the host did not answer";
        nRead += static_cast<size_t>(r);
    }

    // A file missing that the upgrade would put back, had it gone ahead.
    const std::string strMissing = strUnixDir + "/demo/demo.css";
    ASSERT_TRUE(fs::remove(strMissing));
    // The installer alone: the server would wait for the host as well.
    EXPECT_EQ(Prefix().Wine({kSetup, "/S"}), 2) << "the installer did not abort";
    EXPECT_FALSE(fs::exists(strMissing)) << "the installer went ahead";
    EXPECT_TRUE(Prefix().Query(kUninstallKey));

    // The host ends with its input, as when the browser closes the port.
    close(fdIn);
    fdIn = -1;
}

TEST_F(InstallerTest, ASecondInstallRepairsTheFirstAndLeavesOneCopyOfEverything)
{
    std::string strWindowsDir, strUnixDir;
    ASSERT_NO_FATAL_FAILURE(FindInstallFolder(strWindowsDir, strUnixDir));
    // Damage for the repair to mend: a manifest overwritten, a file gone
    // (or still gone since the upgrade above), a browser's key deleted.
    WriteFileBytes(strUnixDir + "/org.tessera.host.json", "{}");
    std::error_code ec;
    fs::remove(strUnixDir + "/demo/demo.css", ec);
    ASSERT_EQ(Prefix().Wine({"reg", "delete", kRegistrations[2].strKey, "/f"}), 0) << Prefix().Err();

    ASSERT_EQ(Install(), 0) << Prefix().Err();
    ExpectInstalledIn(strWindowsDir, strUnixDir);
    // The repair went where the first install did.
    std::string strWindowsAgain, strUnixAgain;
    ASSERT_NO_FATAL_FAILURE(FindInstallFolder(strWindowsAgain, strUnixAgain));
    EXPECT_EQ(strWindowsAgain, strWindowsDir);
}

TEST_F(InstallerTest, SilentUninstallRemovesEveryFileAndKey)
{
    std::string strWindowsDir, strUnixDir;
    ASSERT_NO_FATAL_FAILURE(FindInstallFolder(strWindowsDir, strUnixDir));
    const auto entry = Prefix().Query(kUninstallKey);
    ASSERT_TRUE(entry);
    // What "Add or remove programs" would run for a quiet uninstall.
    std::smatch command;
    const std::string strQuiet = RegValue(*entry, "QuietUninstallString").value_or("");
    ASSERT_TRUE(std::regex_match(strQuiet, command, std::regex(R"re("([^"]+)" (/S))re"))) << strQuiet;
    // The uninstaller returns at once; its copy in %TEMP% does the work,
    // and the server waits for it.
    EXPECT_EQ(Prefix().Wine({command[1], command[2]}), 0) << Prefix().Err();
    Prefix().Server("-w");

    EXPECT_FALSE(fs::exists(strUnixDir)) << "left behind: " << testing::PrintToString(Tree(strUnixDir));
    for (const auto& reg : kRegistrations)
        EXPECT_FALSE(Prefix().Query(reg.strKey)) << reg.strKey << " is still there";
    EXPECT_FALSE(Prefix().Query(kUninstallKey)) << kUninstallKey << " is still there";
    // The browsers' keys the install created are gone with them, and
    // nothing else is.
    EXPECT_EQ(SoftwareKeys(), s_strSoftwareKeys);
}

TEST_F(InstallerTest, AFolderGivenWithDIsUsedAndOnlyTheInstalledFilesLeaveIt)
{
    // A folder of the user's own, with a space in its name and a file of
    // theirs in it. /D= takes the rest of the command line, spaces and all.
    const std::string strWindowsDir = R"(C:\users\Public\Tessera Custom)";
    const std::string strUnixDir = Prefix().UnixPath(strWindowsDir);
    fs::create_directories(strUnixDir);
    WriteFileBytes(strUnixDir + "/notes.txt", "mine");

    ASSERT_EQ(Install({R"(/D=C:\users\Public\Tessera)", "Custom"}), 0) << Prefix().Err();
    ExpectInstalledIn(strWindowsDir, strUnixDir, {"notes.txt"});

    EXPECT_EQ(Prefix().Wine({strWindowsDir + "\\uninstall.exe", "/S"}), 0) << Prefix().Err();
    Prefix().Server("-w");
    EXPECT_EQ(Tree(strUnixDir), std::set<std::string>{"notes.txt"});
    EXPECT_FALSE(Prefix().Query(kUninstallKey));
    EXPECT_EQ(SoftwareKeys(), s_strSoftwareKeys);
}

TEST_F(InstallerTest, AnInstallElsewhereMovesTheLastAndUninstallingLeavesOtherInstallsKeys)
{
    const std::string strOldDir = R"(C:\users\Public\TesseraOld)", strNewDir = R"(C:\users\Public\TesseraNew)";
    ASSERT_EQ(Install({"/D=" + strOldDir}), 0) << Prefix().Err();
    ASSERT_EQ(Install({"/D=" + strNewDir}), 0) << Prefix().Err();
    const std::string strOldUnix = Prefix().UnixPath(strOldDir), strNewUnix = Prefix().UnixPath(strNewDir);
    EXPECT_FALSE(fs::exists(strOldUnix)) << "left behind: " << testing::PrintToString(Tree(strOldUnix));
    ExpectInstalledIn(strNewDir, strNewUnix);

    // The host there works with files that no loader can map planted beside
    // it, named as the DLLs its modules import that are not KnownDLLs: a
    // selection loads tessera-crypto.dll, which imports crypt32, and finds
    // the store empty (0xA0071001). It makes the user's store under HKCU,
    // so this case comes last.
    for (const char* pszName : {"crypt32.dll", "cryptui.dll", "msimg32.dll"})
        WriteFileBytes(strNewUnix + "/" + pszName, "not a DLL");
    const Json response = Ask({strNewDir + "\\tessera-host.exe"},
                              R"({"function":"SelectSignCertificate","params":[{"param":"x"},{"param":""}]})");
    EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(response.get(), "errorcode")), -1610149887.0)
        << Prefix().Out();

    // Firefox's key as another install of the host wrote it stays.
    const std::string strOther = R"(C:\users\Public\Other\org.tessera.host.firefox.json)";
    ASSERT_EQ(Prefix().Wine({"reg", "add", kRegistrations[3].strKey, "/ve", "/d", strOther, "/f"}), 0);
    EXPECT_EQ(Prefix().Wine({strNewDir + "\\uninstall.exe", "/S"}), 0) << Prefix().Err();
    Prefix().Server("-w");
    for (const auto& reg : kRegistrations)
        EXPECT_EQ(RegValue(Prefix().Query(reg.strKey, true).value_or(""), "(Default)"),
                  &reg == &kRegistrations[3] ? std::optional(strOther) : std::nullopt) << reg.strKey;
    EXPECT_FALSE(Prefix().Query(kUninstallKey));
}

} // namespace

// Tracing with a real LTTng session daemon: which classes reach a session,
// what the lines look like, and that a host started without a daemon loads
// no LTTng code at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "trace/TraceHelper.h"
#include "trace/lttng/LttngTransport.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/ModuleLoader.h"
#include "tests/support/HostProcess.h"

using namespace tessera::test;
namespace fs = std::filesystem;

namespace {

const std::string kDescRequest = R"({"function":"GetLastErrorDesc","params":[]})";

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string MapsOf(pid_t pid) { return ReadFile("/proc/" + std::to_string(pid) + "/maps"); }

int CommandExitCode(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool RunCommand(const std::string& command) { return CommandExitCode(command) == 0; }

// The daemon's run directory: system-wide for root, per user otherwise.
fs::path DaemonRunDir()
{
    if (geteuid() == 0)
        return "/var/run/lttng";
    const char* pszHome = std::getenv("LTTNG_HOME") ? std::getenv("LTTNG_HOME") : std::getenv("HOME");
    return fs::path(pszHome ? pszHome : "/") / ".lttng";
}

// Starts lttng-sessiond unless one runs, and stops the one it started.
class SessionDaemon {
public:
    static bool Start()
    {
        if (IsLttngSessionDaemonRunning())
            return true;
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (RunCommand("lttng-sessiond --daemonize --no-kernel --quiet") && IsLttngSessionDaemonRunning()) {
                s_bStarted = true;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    static void Stop()
    {
        if (!s_bStarted)
            return;
        s_bStarted = false;
        const pid_t pid = std::atoi(ReadFile(DaemonRunDir() / "lttng-sessiond.pid").c_str());
        if (pid > 0 && kill(pid, SIGTERM) == 0) {
            for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // The daemon leaves its sockets and wait pages behind.
        std::error_code ec;
        fs::remove_all(DaemonRunDir(), ec);
        for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
            if (entry.path().filename().string().starts_with("lttng-ust-wait-"))
                fs::remove(entry.path(), ec);
        }
    }

private:
    static inline bool s_bStarted = false;
};

// Records a host run with the given classes through tools/tessera-trace
// and returns the decoded messages, one per line. The tool passes on the
// host's exit code.
std::vector<std::string> TraceHostRun(const std::string& strFlags, const std::string& input, int nExitCode = 0)
{
    const fs::path dir = fs::temp_directory_path() / ("tessera-trace-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::ofstream(dir / "in.bin", std::ios::binary) << input;
    }
    const std::string command = std::string(TESSERA_TRACE_TOOL) + " --flags " + strFlags + " --log " +
                                (dir / "log.txt").string() + " -- env LANG=C " + HostPath() + " < " +
                                (dir / "in.bin").string() + " > " + (dir / "out.bin").string();
    EXPECT_EQ(CommandExitCode(command), nExitCode) << command;
    std::vector<std::string> lines;
    std::istringstream log(ReadFile(dir / "log.txt"));
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    fs::remove_all(dir);
    return lines;
}

// The class of a decoded message is its second field.
std::string ClassOf(const std::string& line)
{
    std::istringstream in(line);
    std::string stamp, cls;
    in >> stamp >> cls;
    return cls;
}

// Source line numbers in step lines, "(123)", read as "(N)".
std::string WithoutLineNumbers(const std::string& line)
{
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        out += line[i];
        if (line[i] != '(')
            continue;
        size_t j = i + 1;
        while (j < line.size() && std::isdigit(static_cast<unsigned char>(line[j])))
            ++j;
        if (j > i + 1 && j < line.size() && line[j] == ')') {
            out += 'N';
            i = j - 1;
        }
    }
    return out;
}

// How many messages hold the text; a text ending in '\n' must end the line.
size_t CountContaining(const std::vector<std::string>& lines, std::string text)
{
    const bool bAtEnd = !text.empty() && text.back() == '\n';
    if (bAtEnd)
        text.pop_back();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        const std::string line = WithoutLineNumbers(l);
        return bAtEnd ? line.ends_with(text) : line.find(text) != std::string::npos;
    }));
}

// Requests that fail on every level: a parse failure, an unknown function,
// a handler rejecting its parameters, then a length that cannot be
// allocated, which ends the host.
std::string FailingInput()
{
    return Frame(kDescRequest) + Frame("not json") + Frame(R"({"function":"Nope","params":[]})") +
           Frame(R"({"function":"GetLastErrorDesc","params":[{"param":"x"}]})") +
           FrameDeclaring(0x80000000u, "");
}

class TraceSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SessionDaemon::Start()) << "cannot start lttng-sessiond"; }
    static void TearDownTestSuite() { SessionDaemon::Stop(); }
};

} // namespace

TEST(TraceWithoutDaemon, TheHostLoadsNoLttngLibrary)
{
    if (IsLttngSessionDaemonRunning())
        GTEST_SKIP() << "an LTTng session daemon is running on this machine";
    HostSession host;
    ASSERT_TRUE(host.Send(Frame(kDescRequest)));
    ASSERT_TRUE(host.Receive().has_value());
    const std::string maps = MapsOf(host.Pid());
    EXPECT_EQ(maps.find("lttng"), std::string::npos) << maps;
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(TraceSession, WithADaemonTheHostLoadsItsProvider)
{
    HostSession host;
    ASSERT_TRUE(host.Send(Frame(kDescRequest)));
    ASSERT_TRUE(host.Receive().has_value());
    const std::string maps = MapsOf(host.Pid());
    EXPECT_NE(maps.find("libtessera-lttng.so"), std::string::npos);
    EXPECT_NE(maps.find("liblttng-ust"), std::string::npos);
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(TraceSession, EntryExitOnlyGivesScopesAndNoLines)
{
    const auto lines = TraceHostRun("0x8", FailingInput(), 255);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines)
        EXPECT_EQ(ClassOf(line), "entry_exit") << line;
    EXPECT_EQ(CountContaining(lines, "#10 Scope.Entry \"MsgHandleProc\"\n"), 1u);
    EXPECT_EQ(CountContaining(lines, "#11 Scope.Exit \"MsgHandleProc\"\n"), 1u);
    EXPECT_EQ(CountContaining(lines, "Scope.Entry \"ReadFromNativeMessaging\"\n"), 5u);
    EXPECT_EQ(CountContaining(lines, "Lines."), 0u);
    EXPECT_EQ(CountContaining(lines, "WideLine"), 0u);
}

TEST_F(TraceSession, FailureClassWithoutWideFailureGivesOnlyTheEightBitFailures)
{
    const std::string input = FailingInput();
    const auto lines = TraceHostRun("0x1", input, 255);
    for (const auto& line : lines)
        EXPECT_EQ(ClassOf(line), "failure") << line;
    // The failed read of a body, in the exact line form.
    EXPECT_EQ(CountContaining(lines, "{EC18C996-9C32-8921-9FC6-CF7BE2A05FA8} #11 Lines.StepFailed "
                                     "line=\"[IOStream(N):](ReadFromNativeMessaging -- New memory)\\t\\t"
                                     "--Failed:(0xffffffff) [Reason:!pszInputMsg]\"\n"),
              1u);
    EXPECT_EQ(CountContaining(lines, "line=\"[JSONUtility(N):](ParseRequestMsgToJSON -- cJSON_Parse(pszRequestMsg))"
                                     "\\t\\t--Failed:(0xffffffff) [Reason:NULL == pJsonRoot]\"\n"),
              1u);
    EXPECT_EQ(CountContaining(lines, "line=\"[TesseraHost(N):](MsgHandleProc -- ReadFromNativeMessaging)"), 1u);
    EXPECT_EQ(CountContaining(lines, "{3BBED7EC-6802-2D02-9301-8C91E8A7DAB5} #11 Invoke.UnknownFunction\n"), 1u);
    EXPECT_EQ(CountContaining(lines, "WideLine"), 0u);

    // With the wide class as well, the handler's rejection shows up.
    const auto both = TraceHostRun("0x3", input, 255);
    EXPECT_EQ(CountContaining(both, "wide_failure {F328A2BB-97C7-921A-DF10-C8A70F0A60CB} #13 Scope.WideLine "
                                    "line=\"[nmMessageSigning(N):] nmGetLastErrorDesc - Check parameter(Args count) "
                                    "[Reason:0 != nArgsCount]\" -2147024809 (0x80070057)\n"),
              1u);
}

TEST_F(TraceSession, InformationClassGivesSuccessLinesAndDataMessages)
{
    const auto lines = TraceHostRun("0x4", Frame(kDescRequest));
    for (const auto& line : lines)
        EXPECT_EQ(ClassOf(line), "info") << line;
    EXPECT_EQ(CountContaining(lines, "#10 TesseraHost.Start\n"), 1u);
    EXPECT_EQ(CountContaining(lines, "#10 Lines.StepOk line=\"[IOStream(N)]:(WriteToNativeMessaging -- "
                                     "Check WriteMsgSize)\\t\\t--OK\"\n"),
              1u);
    EXPECT_EQ(CountContaining(lines, "#14 Scope.WideLine line=\"nmGetLastErrorDesc - UTF16ToUTF8\" 0 "), 1u);
    EXPECT_EQ(CountContaining(lines, "#32 nmMessageSigning.Description \"The operation completed successfully."
                                     "\\r\\n\\n(0x00000000)\"\n"),
              1u);
    EXPECT_EQ(CountContaining(lines, "#10 IOStream.Mode 32768 "), 1u);
    EXPECT_EQ(CountContaining(lines, "#14 TesseraHost.EndOfInput\n"), 1u);
}

TEST_F(TraceSession, ScopesLeaveTheLastErrorAsTheTracedCodeSetIt)
{
    const std::string session = "tessera-scope-" + std::to_string(getpid());
    const fs::path dir = fs::temp_directory_path() / session;
    ASSERT_TRUE(RunCommand("lttng --quiet create " + session + " --output=" + dir.string()));
    ASSERT_TRUE(RunCommand("lttng --quiet enable-event --userspace --session=" + session + " tessera:entry_exit"));
    ASSERT_TRUE(RunCommand("lttng --quiet start " + session));

    // Wait for the daemon to register the provider, however busy the machine.
    setenv("LTTNG_UST_REGISTER_TIMEOUT", "5000", 1);
    InitTracing(LoadTesseraModule);
    ASSERT_TRUE(TraceIsEnabled(TRACE_FLAG_ENTRY_EXIT));
    EXPECT_FALSE(TraceIsEnabled(TRACE_FLAG_INFO));
    SetLastError(1234);
    errno = EBADF;
    {
        TraceHelper scope("ScopeUnderTest");
        EXPECT_EQ(GetLastError(), 1234u);
        EXPECT_EQ(errno, EBADF);
        SetLastError(87);
        errno = ENOENT;
    }
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(errno, ENOENT);
    CleanupTracing();
    EXPECT_FALSE(TraceIsEnabled(TRACE_FLAG_ENTRY_EXIT));

    RunCommand("lttng --quiet destroy " + session);
    fs::remove_all(dir);
}

TEST(TraceArguments, NullAndEmptyStringsAreSentAsMarkers)
{
    const TraceArg nullString = TraceArgString(nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(nullString.pData), nullString.cbData), std::string("NULL", 5));
    const TraceArg nullWide = TraceArgWide(nullptr);
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(nullWide.pData), nullWide.cbData / 2),
              std::u16string(u"NULL", 5));
    const TraceArg emptyWide = TraceArgWide(u"");
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(emptyWide.pData), emptyWide.cbData / 2),
              std::u16string(u"<NULL>", 7));
    EXPECT_EQ(TraceArgString("ab").cbData, 3u);
    EXPECT_EQ(TraceArgWide(u"ab").cbData, 6u);
}

// The Windows selection dialog as a user meets it: tessera-host.exe under
// Wine, talked to over frames, its dialog on the display of the Wine
// server's Xvfb (tests/wine/wine-server), keys pressed with xdotool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"
#include "tests/support/HostRequests.h"

using namespace tessera::test;

namespace {

constexpr int64_t kCancelled = -1610149886; // 0xA0071002
constexpr int64_t kNotReady = -1610145791;  // 0xA0072001

// How long a host may take to answer before the test gives up on it: one
// stuck in a dialog would otherwise wait for ever, and be killed only with
// the test, its dialog left on the display for the next.
constexpr int kAnswerTimeoutMs = 60000;

// The Wine server's display, as wine-server wrote it; empty without one.
std::string WineDisplay()
{
    std::string display = ReadFileBytes(std::string(TESSERA_WINE_STORE_DIR) + "/display");
    display.erase(std::remove(display.begin(), display.end(), '\n'), display.end());
    return display;
}

// The environment of xdotool and xprop: the Wine server's display, and a
// UTF-8 locale for the window names.
std::string XEnvironment(const std::string& display) { return "export DISPLAY='" + display + "' LC_ALL=C.UTF-8; "; }

// Runs a shell command; its exit code and output.
std::pair<int, std::string> Shell(const std::string& command)
{
    FILE* pPipe = popen(command.c_str(), "r");
    if (pPipe == nullptr)
        return {-1, ""};
    std::string output;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pPipe)) > 0;)
        output.append(buf, n);
    const int status = pclose(pPipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

HostOptions Options(const char* pszLcAll = "")
{
    HostOptions options;
    // No DISPLAY here: the Windows host gets the Wine server's.
    options.env = {{"LANG", "C"},
                   {"LANGUAGE", ""},
                   {"LC_ALL", pszLcAll},
                   {"LC_MESSAGES", ""},
                   {"TESSERA_WINE_STORE", TESSERA_WINE_STORE_DIR}};
    return options;
}

// One host for a whole conversation.
class Host {
public:
    explicit Host(const HostOptions& options = Options()) : m_session(options) {}

    Response Select(const std::string& subject, const std::string& issuer = "")
    {
        return Call("SelectSignCertificate", {subject, issuer});
    }
    Response Call(const std::string& function, const std::vector<std::string>& params)
    {
        EXPECT_TRUE(m_session.Send(Frame(Request(function, params))));
        return Answer(function);
    }

    // A selection that shows the dialog: waits for it to show, reads its
    // caption, gives it the focus and presses keys through XTEST, as a
    // keyboard would. The host's answer, and the caption (empty when no
    // dialog showed).
    // A command before the keys has its output kept in ProbeOutput().
    std::pair<Response, std::string> SelectInDialog(const std::string& display, const std::string& keys,
                                                    const std::string& before = "true")
    {
        EXPECT_TRUE(m_session.Send(Frame(Request("SelectSignCertificate", {"", ""}))));
        // Wine maps the dialog and, when the pointer rests on a row, the
        // list's tooltip as an X window of its own, without a name. The
        // caption is read from _NET_WM_NAME, in UTF-8: WM_NAME is in the
        // host's locale, whose Chinese the test machine may not have. With
        // no window manager, Wine leaves the X focus where it is, and keys
        // would go to whatever is under the pointer: xdotool moves the
        // focus itself. (windowactivate needs a window manager.)
        const std::string pid = std::to_string(m_session.Pid());
        const auto [nExit, output] = Shell(
            XEnvironment(display) + "(w=$(timeout 60 xdotool search --sync --all --onlyvisible --pid " + pid +
            " --name . | head -n 1) && [ -n \"$w\" ] && xprop -id \"$w\" -notype _NET_WM_NAME && "
            "(" + before + ") && xdotool windowfocus --sync \"$w\" && xdotool key " + keys + ") 2>&1");
        m_strProbeOutput = output;
        std::string caption;
        const size_t nOpen = output.find('"');
        const size_t nClose = output.rfind('"');
        if (nOpen != std::string::npos && nClose > nOpen)
            caption = output.substr(nOpen + 1, nClose - nOpen - 1);
        EXPECT_EQ(nExit, 0) << "no dialog to press " << keys << " in: " << output;
        return {Answer("SelectSignCertificate"), caption};
    }

    int Finish() { return m_session.Finish(); }
    const std::string& ProbeOutput() const { return m_strProbeOutput; }

private:
    Response Answer(const std::string& function)
    {
        const auto body = m_session.Receive(kAnswerTimeoutMs);
        EXPECT_TRUE(body.has_value()) << function << " got no answer";
        return body ? ParseResponse(*body) : Response{};
    }

    HostSession m_session;
    std::string m_strProbeOutput;
};

// A value the dialog probe printed ("item=120" for "item"), or -1.
long long ProbeValue(const std::string& output, const std::string& name)
{
    const size_t nAt = output.find(" " + name + "=");
    return nAt == std::string::npos ? -1 : std::atoll(output.c_str() + nAt + name.size() + 2);
}

// Wine as the fixture prefix's programs run it.
const std::string kWine = ". '" TESSERA_WINE_STORE_DIR "/env' && wine ";
const std::string kProbe = kWine + "'" TESSERA_DIALOG_PROBE "'";

class WineDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_strDisplay = WineDisplay();
        s_bTools = Shell("command -v xdotool && command -v xprop").first == 0;
        if (!s_strDisplay.empty() && s_bTools)
            s_rows = RowsInOrder();
    }

    void SetUp() override
    {
        if (!s_bTools)
            GTEST_SKIP() << "xdotool or xprop is not installed";
        ASSERT_FALSE(s_strDisplay.empty()) << "no display in " << TESSERA_WINE_STORE_DIR
                                           << "; start the server with tests/wine/wine-server start";
        ASSERT_GE(s_rows.size(), 2u) << "the store offers fewer than two certificates";
    }

    // No test leaves a window behind: each host has exited by now, and its
    // windows went with its connection to the X server.
    void TearDown() override
    {
        if (s_strDisplay.empty() || !s_bTools)
            return;
        const auto [nExit, windows] =
            Shell(XEnvironment(s_strDisplay) + "xdotool search --onlyvisible --class '^tessera-host' 2>&1");
        EXPECT_NE(nExit, 0) << "windows still showing: " << windows;
    }

    // The subjects of the certificates that empty filters offer, in the
    // dialog's order, worked out from the Linux store the Wine store was
    // made from: each certificate's common name, as a filter on its own,
    // selects that certificate if the host offers it. Every key is a
    // software key under Wine, so the rows go A to Z by name, letter case
    // aside, and a row's name is the text after "CN=" in the subject up to
    // the next comma, as this host answers it. Windows quotes no name; Wine
    // quotes some (CN="Smith, John", CN="张三"), and there those rows come
    // first. Either way the order is the one the host's own names give.
    static std::vector<std::string> RowsInOrder()
    {
        const auto [nExit, names] =
            Shell("for f in " TESSERA_TEST_STORE_DIR "/certs/*.pem; do openssl x509 -in \"$f\" -noout -subject "
                  "-nameopt multiline,utf8,-esc_msb | sed -n 's/^ *commonName *= //p'; done");
        EXPECT_EQ(nExit, 0) << names;

        // Without a display: a filter that matched several certificates
        // would fail here rather than wait in a dialog.
        HostOptions options = Options();
        options.env["DISPLAY"] = "";
        Host host(options);
        std::vector<std::pair<std::string, std::string>> rows; // name, subject
        std::istringstream lines(names);
        for (std::string name; std::getline(lines, name);) {
            const Response r = host.Select(name);
            if (r.errorcode != 0)
                continue;
            const size_t nStart = r.result.find("CN=") + 3;
            rows.emplace_back(r.result.substr(nStart, r.result.find(',', nStart) - nStart), r.result);
        }
        EXPECT_EQ(host.Finish(), 0);
        const auto fold = [](std::string s) {
            for (char& c : s)
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            return s;
        };
        std::stable_sort(rows.begin(), rows.end(),
                         [&](const auto& a, const auto& b) { return fold(a.first) < fold(b.first); });
        std::vector<std::string> subjects;
        for (const auto& row : rows)
            subjects.push_back(row.second);
        return subjects;
    }

    static inline std::string s_strDisplay;
    static inline bool s_bTools = false;
    static inline std::vector<std::string> s_rows;
};

} // namespace

// OK is the default button and has the focus: Return takes the first row,
// and the choice is the selection that signs. From OK, Tab goes to Cancel
// and on to the list, where Down moves to the next row and Return is still
// OK's.
TEST_F(WineDialog, ReturnChoosesTheFirstRowOrTheOneMovedTo)
{
    {
        Host host;
        const auto [r, caption] = host.SelectInDialog(s_strDisplay, "Return");
        EXPECT_EQ(caption, "Windows Security");
        EXPECT_EQ(r.errorcode, 0);
        EXPECT_EQ(r.result, s_rows[0]);
        EXPECT_EQ(host.Call("SignMessage", {"abc", "SHA-256"}).errorcode, 0);
        EXPECT_EQ(host.Finish(), 0);
    }
    {
        Host host;
        const Response r = host.SelectInDialog(s_strDisplay, "Tab Tab Down Return").first;
        EXPECT_EQ(r.errorcode, 0);
        EXPECT_EQ(r.result, s_rows[1]);
        EXPECT_EQ(host.Finish(), 0);
    }
}

// Every way out but OK cancels, and leaves nothing selected, not even what
// was selected before: Return on Cancel, Esc, and Alt+F4 (the system menu's
// Close, which the close box sends; Xvfb has no window manager to draw one).
TEST_F(WineDialog, EveryOtherWayOutCancelsAndClearsTheEarlierSelection)
{
    for (const char* pszKeys : {"Tab Return", "Escape", "alt+F4"}) {
        Host host;
        ASSERT_EQ(host.Select("Alice Signer").errorcode, 0) << pszKeys;
        const Response r = host.SelectInDialog(s_strDisplay, pszKeys).first;
        EXPECT_EQ(r.errorcode, kCancelled) << pszKeys;
        EXPECT_TRUE(r.bResultFalse) << pszKeys;
        EXPECT_EQ(host.Call("SignMessage", {"abc", "SHA-256"}).errorcode, kNotReady) << pszKeys;
        EXPECT_EQ(host.Finish(), 0) << pszKeys;
    }
}

// Each selection shows the dialog afresh, at the first row, with OK
// focused, whatever the one before was left at.
TEST_F(WineDialog, OneHostShowsTheDialogAgainForEachSelection)
{
    Host host;
    EXPECT_EQ(host.SelectInDialog(s_strDisplay, "Tab Tab Down Return").first.result, s_rows[1]);
    EXPECT_EQ(host.SelectInDialog(s_strDisplay, "Tab Tab Down Down Escape").first.errorcode, kCancelled);
    const Response r = host.SelectInDialog(s_strDisplay, "Return").first;
    EXPECT_EQ(r.errorcode, 0);
    EXPECT_EQ(r.result, s_rows[0]);
    EXPECT_EQ(host.Call("SignMessage", {"abc", "SHA-256"}).errorcode, 0);
    EXPECT_EQ(host.Finish(), 0);
}

// Windows takes the user's UI language, which Wine derives from the locale.
TEST_F(WineDialog, TheChineseUserInterfaceHasItsOwnCaption)
{
    Host host(Options("zh_CN.UTF-8"));
    const auto [r, caption] = host.SelectInDialog(s_strDisplay, "Return");
    EXPECT_EQ(caption, "Windows 安全");
    EXPECT_EQ(r.errorcode, 0);
    EXPECT_EQ(r.result, s_rows[0]);
    EXPECT_EQ(host.Finish(), 0);
}

// With a display to show it on, a filter that leaves one certificate still
// selects it without asking: the answer comes with no key pressed.
TEST_F(WineDialog, OneMatchIsSelectedWithoutTheDialog)
{
    Host host;
    const Response r = host.Select("Alice Signer");
    EXPECT_EQ(r.errorcode, 0);
    EXPECT_EQ(r.result, "CN=Alice Signer, O=Tessera Test, C=CN");
    EXPECT_EQ(host.Finish(), 0);
}

// Chrome and Edge name their window with --parent-window; a value that names
// no window, or is no handle at all, leaves the dialog as it is without one.
TEST_F(WineDialog, AParentWindowThatIsNoWindowIsIgnored)
{
    for (const char* pszArg : {"--parent-window=4660", "--parent-window=0x1234", "--parent-window=",
                               "--parent-window=99999999999999999999", "--parent-window=-5"}) {
        HostOptions options = Options();
        options.strExtraArg = pszArg;
        Host host(options);
        const Response r = host.SelectInDialog(s_strDisplay, "Return", kProbe).first;
        EXPECT_EQ(r.errorcode, 0) << pszArg;
        EXPECT_EQ(r.result, s_rows[0]) << pszArg;
        EXPECT_EQ(ProbeValue(host.ProbeOutput(), "owner"), 0) << pszArg << ": " << host.ProbeOutput();
        EXPECT_EQ(host.Finish(), 0) << pszArg;
    }
}

// A window that --parent-window names owns the dialog, which so stays above
// it; the choice is made as without one.
TEST_F(WineDialog, TheParentWindowOwnsTheDialog)
{
    FILE* pOwner = popen((XEnvironment(s_strDisplay) + kProbe + " window").c_str(), "r");
    ASSERT_NE(pOwner, nullptr);
    char szHandle[32] = {};
    const bool bShown = std::fgets(szHandle, sizeof szHandle, pOwner) != nullptr;
    const std::string handle = std::to_string(std::atoll(szHandle));
    if (bShown) {
        HostOptions options = Options();
        options.strExtraArg = "--parent-window=" + handle;
        Host host(options);
        const Response r = host.SelectInDialog(s_strDisplay, "Tab Tab Down Return", kProbe).first;
        EXPECT_EQ(r.errorcode, 0);
        EXPECT_EQ(r.result, s_rows[1]);
        EXPECT_EQ(std::to_string(ProbeValue(host.ProbeOutput(), "owner")), handle) << host.ProbeOutput();
        EXPECT_EQ(host.Finish(), 0);
        EXPECT_EQ(Shell(XEnvironment(s_strDisplay) + kProbe + " close " + handle).first, 0);
    }
    EXPECT_EQ(pclose(pOwner), 0);
    ASSERT_TRUE(bShown) << "the owner window did not show";
}

// The dialog is drawn at the display's DPI. At 96 every size is as given (80
// pixels a row); at 144, which Wine takes from the prefix's LogPixels as each
// program starts, each size is half as large again, and no more rows show
// than the screen has room for at that size.
TEST_F(WineDialog, TheDialogIsLaidOutAtTheDisplaysDpi)
{
    const std::string& wine = kWine;
    const std::string key = "'HKCU\\Control Panel\\Desktop' /v LogPixels";
    struct Restore {
        std::string command;
        ~Restore() { Shell(command); }
    } restore{wine + "reg delete " + key + " /f > /dev/null 2>&1"};

    for (const auto& [nDpi, nRow] : {std::pair{144, 120}, std::pair{96, 80}}) {
        ASSERT_EQ(Shell(wine + "reg add " + key + " /t REG_DWORD /d " + std::to_string(nDpi) + " /f 2>&1").first, 0);
        Host host;
        const Response r = host.SelectInDialog(s_strDisplay, "Return", kProbe).first;
        EXPECT_EQ(r.errorcode, 0) << nDpi;
        const std::string& output = host.ProbeOutput();
        EXPECT_EQ(ProbeValue(output, "system"), nDpi) << output;
        const long long nItem = ProbeValue(output, "item"), nList = ProbeValue(output, "list");
        EXPECT_EQ(nItem, nRow) << "at " << nDpi << " DPI";
        // At least one whole row, and only whole rows and the list's frame.
        EXPECT_GE(nList, nRow) << nDpi;
        EXPECT_LT(nList % nRow, 12) << nList << " at " << nDpi << " DPI";
        EXPECT_EQ(host.Finish(), 0);
    }
}

// The selection dialog as a user meets it: the real host, a real X server
// (Xvfb) and keys pressed with xdotool.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/FixtureStore.h"
#include "tests/support/HostProcess.h"
#include "tests/support/VirtualDisplay.h"

using namespace tessera::test;

namespace {

std::string Request(const std::string& function, const std::string& param0, const std::string& param1)
{
    return R"({"function":")" + function + R"(","params":[{"param":")" + param0 + R"("},{"param":")" + param1 +
           R"("}]})";
}

std::pair<int64_t, std::string> Answer(HostSession& host, const std::string& request)
{
    EXPECT_TRUE(host.Send(Frame(request)));
    const auto body = host.Receive();
    if (!body)
        return {0, "<no answer>"};
    cJSON* pRoot = cJSON_Parse(body->c_str());
    const auto code = static_cast<int64_t>(cJSON_GetObjectItem(pRoot, "errorcode")->valuedouble);
    const cJSON* pResult = cJSON_GetObjectItem(pRoot, "result");
    std::string result = cJSON_IsString(pResult) ? pResult->valuestring : "";
    cJSON_Delete(pRoot);
    return {code, result};
}

class HostDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FixtureStore::Get();
        if (RunShell("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0)
            return;
        s_pDisplay = std::make_unique<VirtualDisplay>();
        s_bAvailable = s_pDisplay->Ready();
        if (s_bAvailable)
            s_strDisplay = s_pDisplay->Name();
    }
    static void TearDownTestSuite() { s_pDisplay.reset(); }
    void SetUp() override
    {
        if (!s_bAvailable)
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        FixtureStore::Get().SetPinAnswers({});
    }

    static HostOptions Options()
    {
        HostOptions options;
        options.env = {{"LANG", "C"}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""},
                       {"DISPLAY", s_strDisplay}, {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", ""}};
        return options;
    }

    // Waits for the dialog to show, gives it the focus and presses the key
    // through XTEST, as a keyboard would. (A key sent to the window itself
    // fails on the key-up: the dialog is gone by then.)
    static void PressInDialog(const char* pszKey)
    {
        const std::string display = "DISPLAY=" + s_strDisplay + " ";
        const std::string command = display +
                                    "timeout 20 xdotool search --sync --onlyvisible --name 'Windows Security' "
                                    "windowfocus --sync >/dev/null 2>&1 && " +
                                    display + "xdotool key " + pszKey + " 2>&1";
        EXPECT_EQ(RunShell(command), 0) << command;
    }

    static inline bool s_bAvailable = false;
    static inline std::string s_strDisplay;
    static inline std::unique_ptr<VirtualDisplay> s_pDisplay;
};

} // namespace

TEST_F(HostDialog, ReturnChoosesTheFirstRowWhichIsTheHardwareKey)
{
    HostSession host(Options());
    std::thread user([] { PressInDialog("Return"); });
    const auto [code, subject] = Answer(host, Request("SelectSignCertificate", "", ""));
    user.join();
    EXPECT_EQ(code, 0);
    // The token's two keys come first, in order of name.
    EXPECT_EQ(subject, "CN=Hardware Elliptic, O=Tessera Test, C=CN");
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(HostDialog, EscapeCancelsAndClearsTheEarlierSelection)
{
    HostSession host(Options());
    ASSERT_EQ(Answer(host, Request("SelectSignCertificate", "Alice Signer", "")).first, 0);
    std::thread user([] { PressInDialog("Escape"); });
    const auto cancelled = Answer(host, Request("SelectSignCertificate", "", ""));
    user.join();
    EXPECT_EQ(cancelled.first, -1610149886); // 0xA0071002
    EXPECT_EQ(Answer(host, Request("SignMessage", "abc", "SHA-256")).first, -1610145791); // 0xA0072001
    EXPECT_EQ(host.Finish(), 0);
}

// Return works the push button that has the focus, as Space does; with the
// focus anywhere else it is OK's. Each run has a host of its own, so that no
// window of the run before is still about.
TEST_F(HostDialog, ReturnPressesTheFocusedButtonElseChoosesTheCurrentRow)
{
    {
        HostSession host(Options());
        std::thread user([] { PressInDialog("Tab Return"); }); // OK, then Cancel
        const auto cancelled = Answer(host, Request("SelectSignCertificate", "", ""));
        user.join();
        EXPECT_EQ(cancelled.first, -1610149886); // 0xA0071002, as Esc
        EXPECT_EQ(host.Finish(), 0);
    }
    {
        HostSession host(Options());
        std::thread user([] { PressInDialog("Tab Tab Down Return"); }); // into the list, one row down
        const auto [code, subject] = Answer(host, Request("SelectSignCertificate", "", ""));
        user.join();
        EXPECT_EQ(code, 0);
        EXPECT_EQ(subject, "CN=Hardware Signer, O=Tessera Test, C=CN"); // the token's second key
        EXPECT_EQ(host.Finish(), 0);
    }
}

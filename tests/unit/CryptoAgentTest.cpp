// Status descriptions and the status vocabulary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "agent/CryptoAgent.h"
#include "kernel/platform/ResourceModule.h"
#include "resources/StringTable.h"

namespace {

class TestAgent : public CCryptoAgent {
public:
    void SetLastStatus(HRESULT hr) { m_nLastError = hr; }
    HRESULT Finish(HRESULT hr) { return FinishOperation(hr); }
    HRESULT LastStatus() const { return m_nLastError; }
};

// Sets the locale variables for one test and puts them back afterwards.
class LocaleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* pszName : kNames) {
            const char* pszValue = std::getenv(pszName);
            m_saved.emplace_back(pszName, pszValue ? std::optional<std::string>(pszValue) : std::nullopt);
            unsetenv(pszName);
        }
        g_hInstance = GetModuleHandleW(nullptr);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    std::u16string Describe(HRESULT hr)
    {
        agent.SetLastStatus(hr);
        std::u16string desc = u"stale";
        EXPECT_EQ(agent.GetLastErrorDesc(desc), KVRA_OK);
        EXPECT_EQ(agent.LastStatus(), hr);
        return desc;
    }

    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    TestAgent agent;
};

} // namespace

using AgentDescription = LocaleTest;

TEST_F(AgentDescription, DescribesSuccessWithTheSystemText)
{
    EXPECT_EQ(Describe(KVRA_OK), u"The operation completed successfully.\r\n\n(0x00000000)");
    setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(Describe(KVRA_OK), u"操作成功完成。\r\n\n(0x00000000)");
}

TEST_F(AgentDescription, DescribesTesserasOwnCodesByTheirLowHalf)
{
    EXPECT_EQ(Describe(KVRA_E_CERT_NOT_READY), u"Certificate is not ready.\n(0xa0072001)");
    EXPECT_EQ(Describe(KVRA_E_INVALID_SIGN_TYPE), u"Invalid sign type.\n(0xa0072022)");
    EXPECT_EQ(Describe(KVRA_E_USER_CANCELED), u"User canceled operation.\n(0xa0071002)");
    // Only bit 29 and the low 16 bits decide which entry is used.
    EXPECT_EQ(Describe(MakeStatus(0x20001002)), u"User canceled operation.\n(0x20001002)");
    EXPECT_EQ(Describe(MakeStatus(0xE1231002)), u"User canceled operation.\n(0xe1231002)");
    // Codes without an entry get the suffix alone.
    EXPECT_EQ(Describe(KVRA_E_SEND_MSG_TOO_LONG), u"\n(0xa0073201)");
    EXPECT_EQ(Describe(KVRA_E_PARAM_NOT_STRING), u"\n(0xa0073204)");

    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(Describe(KVRA_E_CERT_NOT_READY), u"证书没有准备好\n(0xa0072001)");
    EXPECT_EQ(Describe(KVRA_E_NO_AVAILABLE_CERT), u"证书库中没有可用的证书\n(0xa0071001)");
}

TEST_F(AgentDescription, DescribesSystemCodesWithTheirSystemTexts)
{
    EXPECT_EQ(Describe(E_INVALIDARG), u"The parameter is incorrect.\r\n\n(0x80070057)");
    EXPECT_EQ(Describe(NTE_INTERNAL_ERROR), u"An internal error occurred.\r\n\n(0x8009002d)");
    EXPECT_EQ(Describe(MakeStatus(0x8010006E)), u"The action was cancelled by the user.\r\n\n(0x8010006e)");
    // A system code without a text: suffix alone.
    EXPECT_EQ(Describe(MakeStatus(0x80070005)), u"\n(0x80070005)");
    EXPECT_EQ(Describe(-1), u"\n(0xffffffff)");
    setenv("LANGUAGE", "zh_CN", 1);
    EXPECT_EQ(Describe(E_OUTOFMEMORY), u"内存资源不足，无法完成此操作。\r\n\n(0x8007000e)");
}

TEST(AgentStatus, EpilogueKeepsFailuresAndTurnsEverythingElseIntoZero)
{
    TestAgent agent;
    EXPECT_EQ(agent.LastStatus(), KVRA_OK);
    EXPECT_EQ(agent.Finish(KVRA_E_CERT_NOT_READY), KVRA_E_CERT_NOT_READY);
    EXPECT_EQ(agent.LastStatus(), KVRA_E_CERT_NOT_READY);
    EXPECT_EQ(agent.Finish(1), KVRA_OK);
    EXPECT_EQ(agent.LastStatus(), KVRA_OK);
    EXPECT_EQ(agent.Finish(-1), -1);
}

TEST(AgentStatus, LastErrorConversionRules)
{
    EXPECT_EQ(AgentStatusFromError(0), 0);
    EXPECT_EQ(AgentStatusFromError(0x8010006E), MakeStatus(0x8010006E));
    EXPECT_EQ(AgentStatusFromError(0x20001002), KVRA_E_USER_CANCELED);
    EXPECT_EQ(AgentStatusFromError(2), MakeStatus(0x80070002));
    EXPECT_EQ(AgentStatusFromError(0x12345), MakeStatus(0x80072345));
    EXPECT_EQ(KernelStatusFromError(0x20001002), MakeStatus(0x80071002));
    EXPECT_EQ(KernelStatusFromError(87), E_INVALIDARG);
    EXPECT_EQ(KernelStatusFromError(0x80090020), NTE_FAIL);
}

TEST(StringTables, BothLanguagesHoldTheSameEntriesInOrder)
{
    // 37 descriptions of status codes, and the dialog's four strings.
    const auto nDescriptions = std::count_if(g_EnglishStringTable.begin(), g_EnglishStringTable.end(),
                                             [](const StringResource& r) { return r.nId >= 0x1000; });
    EXPECT_EQ(nDescriptions, 37);
    ASSERT_EQ(g_EnglishStringTable.size(), 41u);
    ASSERT_EQ(g_ChineseStringTable.size(), 41u);
    for (size_t i = 0; i < g_EnglishStringTable.size(); ++i) {
        EXPECT_EQ(g_EnglishStringTable[i].nId, g_ChineseStringTable[i].nId);
        if (i > 0) {
            EXPECT_LT(g_EnglishStringTable[i - 1].nId, g_EnglishStringTable[i].nId) << "table must stay sorted";
        }
    }
    // Looking up every entry finds it (the loader relies on the order).
    char16_t buf[512];
    for (const auto& entry : g_EnglishStringTable)
        EXPECT_GT(LoadStringW(GetModuleHandleW(nullptr), entry.nId, buf, 512), 0) << entry.nId;
    EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 0x3201, buf, 512), 0);
    // A small buffer cuts the text and still terminates it.
    EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 0x2001, buf, 5), 4);
    EXPECT_EQ(std::u16string(buf), u"Cert");
}

// The real tessera-host, driven through frames on its standard streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/HostProcess.h"

using namespace tessera::test;

namespace {

const std::string kDescRequest = R"({"function":"GetLastErrorDesc","params":[]})";

// The description of success is the system's text for 0. Wine's
// FormatMessageW has texts of its own, so under Wine these are Wine's.
std::string SuccessDescription(const char* pszWindows, const char* pszWine)
{
    return std::string(R"J({"function":"GetLastErrorDesc","errorcode":0,"result":")J") +
           (HostRunsUnderWine() ? pszWine : pszWindows) + R"J(\r\n\n(0x00000000)"})J";
}
const std::string kEnglishOk = SuccessDescription("The operation completed successfully.", "Success.");
const std::string kChineseOk = SuccessDescription("操作成功完成。", "成功。");
const std::string kRejected = R"({"function":"GetLastErrorDesc","errorcode":-1,"result":false})";

HostOptions WithLocale(const std::string& strLang, const std::string& strLanguage = "")
{
    HostOptions options;
    options.env = {{"LANG", strLang}, {"LANGUAGE", strLanguage}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}};
    return options;
}

struct Conversation {
    int nExitCode;
    std::vector<std::string> responses;
};

// Runs the host on raw input. Whatever the input, the host must write whole
// frames only, nothing to stderr, and must not die of a signal.
Conversation Converse(const std::string& input, const HostOptions& options = WithLocale("C"))
{
    HostResult result = RunHost(input, options);
    EXPECT_EQ(result.nSignal, 0) << "host killed by a signal";
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's own note about an allocation it refused is not the
    // host's output.
    if (result.strStderr.find("WARNING: AddressSanitizer failed to allocate") != std::string::npos &&
        std::count(result.strStderr.begin(), result.strStderr.end(), '\n') == 1)
        result.strStderr.clear();
#endif
    EXPECT_EQ(result.strStderr, "");
    const auto frames = SplitFrames(result.strStdout);
    EXPECT_TRUE(frames.has_value()) << "stdout holds bytes that are not a frame";
    return {result.nExitCode, frames.value_or(std::vector<std::string>{})};
}

std::string Frames(std::initializer_list<std::string> bodies)
{
    std::string out;
    for (const auto& body : bodies)
        out += Frame(body);
    return out;
}

using Responses = std::vector<std::string>;

} // namespace

TEST(HostDescription, DescribesSuccessAtStartInTheUsersLanguage)
{
    EXPECT_EQ(Converse(Frame(kDescRequest)).responses, Responses{kEnglishOk});
    if (HostRunsUnderWine()) {
        // Windows takes the user's UI language, which Wine derives from the
        // locale LC_ALL names; the POSIX order of variables below is the
        // Linux host's own rule.
        HostOptions chinese = WithLocale("C");
        chinese.env["LC_ALL"] = "zh_CN.UTF-8";
        EXPECT_EQ(Converse(Frame(kDescRequest), chinese).responses, Responses{kChineseOk});
        return;
    }
    EXPECT_EQ(Converse(Frame(kDescRequest), WithLocale("en_US.UTF-8")).responses, Responses{kEnglishOk});
    EXPECT_EQ(Converse(Frame(kDescRequest), WithLocale("zh_CN.UTF-8")).responses, Responses{kChineseOk});
    // LANGUAGE comes before LANG, and LC_ALL before LANG.
    EXPECT_EQ(Converse(Frame(kDescRequest), WithLocale("en_US.UTF-8", "zh_CN:en")).responses, Responses{kChineseOk});
    EXPECT_EQ(Converse(Frame(kDescRequest), WithLocale("zh_CN.UTF-8", "en_GB")).responses, Responses{kEnglishOk});
    HostOptions lcAll = WithLocale("en_US.UTF-8");
    lcAll.env["LC_ALL"] = "zh_TW.UTF-8";
    EXPECT_EQ(Converse(Frame(kDescRequest), lcAll).responses, Responses{kChineseOk});
}

TEST(HostDescription, MatchesTheNameInAnyCaseAndAnswersWithItsOwnSpelling)
{
    const auto conv = Converse(Frames({R"({"function":"getlasterrordesc","params":[]})",
                                       R"({"function":"GETLASTERRORDESC","params":[]})",
                                       R"({"function":"GetLastErrorDESC","params":[]})"}));
    EXPECT_EQ(conv.responses, Responses(3, kEnglishOk));
    EXPECT_EQ(conv.nExitCode, 0);
}

TEST(HostDescription, ParamsWithoutElementsAreAcceptedAndAnyElementIsRejected)
{
    // "params" is counted, not type-checked: anything without children is
    // an empty list.
    for (const char* pszParams : {"[]", "\"text\"", "42", "{}", "null", "true", "false", "\"\""}) {
        const std::string body = std::string(R"({"function":"GetLastErrorDesc","params":)") + pszParams + "}";
        EXPECT_EQ(Converse(Frame(body)).responses, Responses{kEnglishOk}) << pszParams;
    }
    for (const char* pszParams : {R"([{"param":"x"}])", "[1]", "[[]]", R"({"a":1})", "[null,null]"}) {
        const std::string body = std::string(R"({"function":"GetLastErrorDesc","params":)") + pszParams + "}";
        EXPECT_EQ(Converse(Frame(body)).responses, Responses{kRejected}) << pszParams;
    }
}

TEST(HostRequests, UnparseableAndUnknownRequestsGetNoAnswerAndTheHostReadsOn)
{
    const std::string deepNesting = R"({"function":"GetLastErrorDesc","params":)" + std::string(5000, '[');
    const std::string input = Frames({
        "abc",
        "{",
        "[1,2]",
        " ",
        R"({"function":42,"params":[]})",
        R"({"params":[]})",
        R"({"function":"GetLastErrorDesc"})",
        R"({"function":"","params":[]})",
        R"({"function":"GetLastErrorDesc ","params":[]})",
        R"({"function":"Sign","params":[]})",
        R"({"function":"GetLastErrorDescX","params":[]})",
        "{\"function\":\"GetLastErrorDesc\xff\",\"params\":[]}",
        std::string("{\"function\":\"GetLast\0ErrorDesc\",\"params\":[]}", 45),
        deepNesting,
        R"({"function":"SignMessage2","params":[{"param":"abc"},{"param":"SHA-256"}]})",
        kDescRequest,
    });
    const auto conv = Converse(input);
    EXPECT_EQ(conv.responses, Responses{kEnglishOk});
    EXPECT_EQ(conv.nExitCode, 0);
}

TEST(HostRequests, ParsingIsLenientWhereRequestsAreWellFormedEnough)
{
    const std::string huge(8 << 20, 'x');
    const std::string input = Frames({
        // Member names in capitals.
        R"({"FUNCTION":"GetLastErrorDesc","Params":[]})",
        // The first of duplicate members counts.
        R"({"function":"GetLastErrorDesc","function":"nothing","params":[],"params":[1]})",
        // Text after the first value is ignored, leading controls skipped.
        kDescRequest + "xyz}]",
        "\x01\x02\t\r\n " + kDescRequest,
        // The body ends at a NUL.
        kDescRequest + std::string("\0garbage", 8),
        // CR LF reach the parser unchanged.
        "{\"function\":\"GetLastErrorDesc\",\r\n\"params\":[]}\r\n",
        // Invalid UTF-8 and huge strings in members that nobody reads.
        "{\"function\":\"GetLastErrorDesc\",\"params\":[],\"x\":\"\xc3\x28\xed\xa0\x80\xff\"}",
        R"({"function":"GetLastErrorDesc","params":[],"big":")" + huge + "\"}",
        // Other members and nested values are ignored.
        R"({"id":{"a":[1,2,{"b":null}]},"function":"GetLastErrorDesc","params":[]})",
    });
    const auto conv = Converse(input);
    EXPECT_EQ(conv.responses, Responses(9, kEnglishOk));
    // A huge name is simply unknown.
    EXPECT_EQ(Converse(Frame(R"({"function":")" + huge + R"(","params":[]})")).responses, Responses{});
    // Duplicate "params": the first one decides.
    EXPECT_EQ(Converse(Frame(R"({"function":"GetLastErrorDesc","params":[1],"params":[]})")).responses,
              Responses{kRejected});
}

TEST(HostFraming, EndOfInputAndZeroLengthsEndTheHostWithStatusZero)
{
    EXPECT_EQ(Converse("").nExitCode, 0);
    EXPECT_EQ(Converse("").responses, Responses{});

    // Two frames, two answers in order, then the end of input.
    auto conv = Converse(Frames({kDescRequest, R"({"function":"GetLastErrorDesc","params":[1]})"}));
    EXPECT_EQ(conv.responses, (Responses{kEnglishOk, kRejected}));
    EXPECT_EQ(conv.nExitCode, 0);

    // A declared length of 0 or -1 ends the host even with frames behind it.
    for (uint32_t nLength : {0u, 0xFFFFFFFFu}) {
        conv = Converse(Frame(kDescRequest) + FrameDeclaring(nLength, "") + Frame(kDescRequest));
        EXPECT_EQ(conv.responses, Responses{kEnglishOk}) << nLength;
        EXPECT_EQ(conv.nExitCode, 0);
    }

    // Input that ends inside the length bytes reads as length 0.
    conv = Converse(Frame(kDescRequest) + std::string("\x2b\x00", 2));
    EXPECT_EQ(conv.responses, Responses{kEnglishOk});
    EXPECT_EQ(conv.nExitCode, 0);
}

TEST(HostFraming, ABodyCutShortIsPaddedWithZeros)
{
    // Declared 100 bytes, 43 arrive: the rest are zeros, so the text is still
    // the whole request.
    auto conv = Converse(FrameDeclaring(100, kDescRequest));
    EXPECT_EQ(conv.responses, Responses{kEnglishOk});
    EXPECT_EQ(conv.nExitCode, 0);
    // A body that stops inside the JSON is unanswered.
    conv = Converse(FrameDeclaring(100, kDescRequest.substr(0, 20)));
    EXPECT_EQ(conv.responses, Responses{});
    EXPECT_EQ(conv.nExitCode, 0);
}

TEST(HostFraming, ALengthThatCannotBeAllocatedEndsTheHostWithMinusOne)
{
    // Negative lengths (other than -1) never get a buffer.
    for (uint32_t nLength : {0x80000000u, 0xFFFFFFFEu, 0x9ABCDEF0u}) {
        const auto conv = Converse(Frame(kDescRequest) + FrameDeclaring(nLength, kDescRequest) + Frame(kDescRequest));
        EXPECT_EQ(conv.responses, Responses{kEnglishOk}) << std::hex << nLength;
        EXPECT_EQ(conv.nExitCode, 255) << std::hex << nLength;
    }

    // Just under 2 GiB, with less memory than that to be had. (Wine cannot
    // start in an address space that small.)
    if (HostRunsUnderWine())
        return;
    HostOptions options = WithLocale("C");
#if defined(__SANITIZE_ADDRESS__)
    options.env["ASAN_OPTIONS"] = "allocator_may_return_null=1:max_allocation_size_mb=512";
#else
    options.nAddressSpaceLimit = 512ull << 20;
#endif
    const auto conv = Converse(Frame(kDescRequest) + FrameDeclaring(0x7FFFFFFF, kDescRequest), options);
    EXPECT_EQ(conv.responses, Responses{kEnglishOk});
    EXPECT_EQ(conv.nExitCode, 255);
}

TEST(HostFraming, AResponseWithLineBreaksIsWrittenWithoutTranslation)
{
    const HostResult result = RunHost(Frame(kDescRequest), WithLocale("C"));
    // The description's CR LF and LF travel escaped; the frame has exactly
    // the printed bytes, with no CR added anywhere.
    EXPECT_EQ(result.strStdout, Frame(kEnglishOk));
}

TEST(HostFraming, AReaderThatHasGoneDoesNotKillTheHost)
{
    HostSession session(WithLocale("C"));
    ASSERT_TRUE(session.Send(Frame(kDescRequest)));
    ASSERT_EQ(session.Receive(), kEnglishOk);
    session.CloseOutput();
    // These responses go nowhere; the host carries on until its input ends.
    ASSERT_TRUE(session.Send(Frame(kDescRequest) + Frame(kDescRequest)));
    EXPECT_EQ(session.Finish(), 0);
}

TEST(HostFraming, OneHostAnswersAlongConversationInOrder)
{
    HostSession session(WithLocale("C"));
    for (int i = 0; i < 300; ++i) {
        const bool bGood = i % 3 != 0;
        ASSERT_TRUE(session.Send(Frame(bGood ? kDescRequest : R"({"function":"GetLastErrorDesc","params":[0]})")));
        ASSERT_EQ(session.Receive(), bGood ? kEnglishOk : kRejected) << i;
    }
    EXPECT_EQ(session.Finish(), 0);
}

TEST(HostFraming, AMessageTooLargeToConvertIsAnsweredAndTheHostReadsOn)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer ends the process on a failed operator new";
#else
    if (HostRunsUnderWine())
        GTEST_SKIP() << "Wine cannot start in the small address space this test needs";
    // 100 MiB of text fits twice in 320 MiB of address space (the parsed
    // request and the handler's copy), but not with its UTF-16 form as well.
    // (A running LTTng session daemon would make the host map its tracing
    // library, whose threads and buffers take well over 100 MiB: these tests
    // hold the lttng lock.)
    HostOptions options = WithLocale("C");
    options.nAddressSpaceLimit = 320ull << 20;
    const std::string request =
        R"({"function":"SignMessage","params":[{"param":")" + std::string(100u << 20, 'x') + R"("},{"param":"SHA-256"}]})";
    const auto conv = Converse(Frames({request, kDescRequest}), options);
    // 0x8007000E, E_OUTOFMEMORY; the agent never saw the request, so its
    // status is still the first one.
    EXPECT_EQ(conv.responses,
              Responses({R"({"function":"SignMessage","errorcode":-2147024882,"result":false})", kEnglishOk}));
    EXPECT_EQ(conv.nExitCode, 0);
#endif
}

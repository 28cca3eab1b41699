#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/Encodings.h"
#include "kernel/platform/TextConversion.h"

#ifdef _WIN32
// Two kernel32 calls, declared here: <windows.h> has its own HRESULT.
extern "C" __declspec(dllimport) void* __stdcall GetModuleHandleW(const wchar_t* pwszModuleName);
extern "C" __declspec(dllimport) void* __stdcall GetProcAddress(void* hModule, const char* pszProcName);
#endif

namespace {

// True in the Windows build when it runs under Wine, whose ntdll says so.
bool RunningUnderWine()
{
#ifdef _WIN32
    void* hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll != nullptr && GetProcAddress(hNtdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::string Utf8(const char16_t* pwsz)
{
    std::string out;
    EXPECT_EQ(UTF16ToUTF8(pwsz, out), KVRA_OK);
    return out;
}

std::u16string Utf16(const char* psz)
{
    std::u16string out;
    EXPECT_EQ(UTF8ToUTF16(psz, out), KVRA_OK);
    return out;
}

std::string Base64(const std::string& bytes, uint32_t dwFlags = 0)
{
    std::string out;
    EXPECT_EQ(Base64EncodeEx(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()),
                             out, dwFlags),
              KVRA_OK);
    return out;
}

// An independent decoder: standard Base64, CR LF ignored.
std::string DecodeBase64(const std::string& text)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '=')
            continue;
        acc = acc << 6 | static_cast<uint32_t>(kAlphabet.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xFF);
        }
    }
    return out;
}

} // namespace

TEST(Utf16ToUtf8, ConvertsAndReplacesUnpairedSurrogates)
{
    EXPECT_EQ(Utf8(u""), "");
    EXPECT_EQ(Utf8(u"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(Utf8(u"abc"), "abc");
    EXPECT_EQ(Utf8(u"中文"), "\xe4\xb8\xad\xe6\x96\x87");
    EXPECT_EQ(Utf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
    const char16_t loneHigh[] = {0xD800, 0};
    EXPECT_EQ(Utf8(loneHigh), "\xef\xbf\xbd");
    const char16_t loneLow[] = {u'a', 0xDC00, u'b', 0};
    EXPECT_EQ(Utf8(loneLow), "a\xef\xbf\xbd" "b");
    const char16_t highThenHigh[] = {0xD800, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(Utf8(highThenHigh), "\xef\xbf\xbd\xf0\x9f\x98\x80");

    // Its length is known without converting.
    for (const char16_t* pwsz : {u"", u"abc", u"\u00e9\u07ff\u0800", u"中文\U0001F600", static_cast<const char16_t*>(loneHigh),
                                 static_cast<const char16_t*>(loneLow), static_cast<const char16_t*>(highThenHigh)})
        EXPECT_EQ(Utf8LengthOfUtf16(pwsz), Utf8(pwsz).size());

    std::string untouched = "keep";
    EXPECT_EQ(UTF16ToUTF8(nullptr, untouched), E_POINTER);
    EXPECT_EQ(untouched, "keep");
}

TEST(Utf8ToUtf16, ConvertsAndReplacesEachMalformedSequence)
{
    EXPECT_EQ(Utf16(""), u"");
    EXPECT_EQ(Utf16("abc"), u"abc");
    EXPECT_EQ(Utf16("\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"), u"\u00e9中\U0001F600");
    // One U+FFFD for each maximal invalid prefix, and the byte that broke it
    // starts over.
    EXPECT_EQ(Utf16("\xff"), u"\uFFFD");
    EXPECT_EQ(Utf16("\xc3(x"), u"\uFFFD(x");
    EXPECT_EQ(Utf16("\xe4\xb8" "a"), u"\uFFFDa");
    EXPECT_EQ(Utf16("\xe4\xb8"), u"\uFFFD");               // cut off by the end
    EXPECT_EQ(Utf16("\xc0\x80"), u"\uFFFD\uFFFD");         // overlong NUL
    // Wine's converter takes a lead byte and a continuation byte that it
    // may not have as one bad piece, where Windows replaces each byte.
    if (!RunningUnderWine()) {
        EXPECT_EQ(Utf16("\xe0\x80\xaf"), u"\uFFFD\uFFFD\uFFFD"); // overlong
        EXPECT_EQ(Utf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
        EXPECT_EQ(Utf16("\xf4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // above U+10FFFF
    }
    EXPECT_EQ(Utf16("\x80\x80"), u"\uFFFD\uFFFD");

    std::u16string untouched = u"keep";
    EXPECT_EQ(UTF8ToUTF16(nullptr, untouched), E_POINTER);
    EXPECT_EQ(untouched, u"keep");
}

TEST(Base64EncodeEx, PadsAndBreaksLinesAsWebPagesExpect)
{
    EXPECT_EQ(Base64("abc"), "YWJj");
    EXPECT_EQ(Base64("ab"), "YWI=");
    EXPECT_EQ(Base64("ab", BASE64_NO_PADDING), "YWI");
    EXPECT_EQ(Base64("a"), "YQ==");
    EXPECT_EQ(Base64("a", BASE64_NO_PADDING), "YQ");
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("", BASE64_NO_LINE_BREAKS), "");

    const std::string sixty(60, '\x5a');
    const std::string b60 = Base64(sixty);
    ASSERT_EQ(b60.size(), 82u);
    EXPECT_EQ(b60.substr(76, 2), "\r\n");
    EXPECT_EQ(Base64(sixty, BASE64_NO_LINE_BREAKS).size(), 80u);

    // When the whole groups fill their last line exactly, that line keeps
    // its CR LF.
    const std::string b57 = Base64(std::string(57, 'q'));
    ASSERT_EQ(b57.size(), 78u);
    EXPECT_EQ(b57.substr(76), "\r\n");
    const std::string b58 = Base64(std::string(58, 'q'));
    ASSERT_EQ(b58.size(), 82u);
    EXPECT_EQ(b58.substr(76, 2), "\r\n");
    EXPECT_EQ(b58.substr(80), "==");
    const std::string b114 = Base64(std::string(114, 'q'));
    ASSERT_EQ(b114.size(), 156u);
    EXPECT_EQ(b114.substr(154), "\r\n");
    EXPECT_EQ(Base64(std::string(56, 'q')).find('\r'), std::string::npos);
}

TEST(Base64EncodeEx, RoundTripsEveryLengthAndByte)
{
    std::string bytes;
    for (int n = 0; n < 600; ++n) {
        for (uint32_t flags : {0u, BASE64_NO_PADDING, BASE64_NO_LINE_BREAKS, 3u}) {
            const std::string text = Base64(bytes, flags);
            ASSERT_EQ(DecodeBase64(text), bytes) << n << " flags " << flags;
            // The size is known without encoding.
            const Base64Size size = Base64EncodedSize(bytes.size(), flags);
            ASSERT_EQ(size.cchText, text.size()) << n << " flags " << flags;
            size_t cLineBreaks = 0;
            for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2)
                ++cLineBreaks;
            ASSERT_EQ(size.cLineBreaks, cLineBreaks) << n << " flags " << flags;
            if (flags & BASE64_NO_LINE_BREAKS) {
                ASSERT_EQ(text.find('\n'), std::string::npos);
                continue;
            }
            // Lines of 76, each closed by CR LF but the last.
            size_t pos, lineStart = 0;
            while ((pos = text.find("\r\n", lineStart)) != std::string::npos) {
                ASSERT_EQ(pos - lineStart, 76u) << n;
                lineStart = pos + 2;
            }
            ASSERT_LE(text.size() - lineStart, 76u) << n;
            ASSERT_EQ(text.size() >= 76 + 2, n >= 57) << n;
        }
        bytes += static_cast<char>(n * 37 + 11);
    }
}

TEST(Base64EncodeEx, RejectsSizesItCannotEncode)
{
    std::string out = "keep";
    EXPECT_EQ(Base64EncodeEx(reinterpret_cast<const uint8_t*>("x"), -1, out, 0), E_FAIL);
    EXPECT_EQ(Base64EncodeEx(reinterpret_cast<const uint8_t*>("x"), 536870912, out, 0), E_FAIL);
    EXPECT_EQ(Base64EncodeEx(nullptr, 3, out, 0), E_POINTER);
    EXPECT_EQ(out, "keep");
    EXPECT_EQ(Base64EncodeEx(nullptr, 0, out, 0), KVRA_OK);
    EXPECT_EQ(out, "");
}

TEST(BinaryText, HexIsReversedLowerCaseAndSwapReversesInPlace)
{
    const uint8_t serial[] = {0x01, 0x2A, 0xFF};
    std::u16string hex;
    EXPECT_EQ(ConvertBinaryDataToString(serial, 3, hex), KVRA_OK);
    EXPECT_EQ(hex, u"ff2a01");
    EXPECT_EQ(ConvertBinaryDataToString(serial, 0, hex), KVRA_OK);
    EXPECT_EQ(hex, u"");
    EXPECT_EQ(ConvertBinaryDataToString(serial, 1u << 30, hex), E_OUTOFMEMORY);

    std::vector<uint8_t> odd{1, 2, 3}, even{1, 2, 3, 4}, one{9};
    SwapByteOrder(odd.data(), 3);
    SwapByteOrder(even.data(), 4);
    SwapByteOrder(one.data(), 1);
    SwapByteOrder(nullptr, 0);
    EXPECT_EQ(odd, (std::vector<uint8_t>{3, 2, 1}));
    EXPECT_EQ(even, (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(one, (std::vector<uint8_t>{9}));
}

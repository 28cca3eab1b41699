// The frame layer on in-memory streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/IOStream.h"

namespace {

// Binds the frame layer to an input made of the given bytes and to an
// in-memory output, for the life of the object.
class Streams {
public:
    explicit Streams(const std::string& input) : m_input(input)
    {
        m_pIn = m_input.empty() ? std::fopen("/dev/null", "rb") : fmemopen(m_input.data(), m_input.size(), "rb");
        m_pOut = open_memstream(&m_pszOut, &m_cbOut);
        BindNativeMessagingStreams(m_pIn, m_pOut);
    }
    ~Streams()
    {
        BindNativeMessagingStreams(nullptr, nullptr);
        std::fclose(m_pIn);
        std::fclose(m_pOut);
        std::free(m_pszOut);
    }
    std::string Output()
    {
        std::fflush(m_pOut);
        return std::string(m_pszOut, m_cbOut);
    }
    std::string Rest()
    {
        std::string rest;
        for (int c; (c = std::fgetc(m_pIn)) != EOF;)
            rest += static_cast<char>(c);
        return rest;
    }

private:
    std::string m_input;
    FILE* m_pIn;
    FILE* m_pOut;
    char* m_pszOut = nullptr;
    size_t m_cbOut = 0;
};

struct Read {
    HRESULT hr;
    int32_t nLength;
    std::string body; // up to the buffer's terminating NUL at nLength
    bool bBuffer;
};

Read ReadOne()
{
    int32_t nLength = 12345;
    FrameBuffer buffer;
    const HRESULT hr = ReadFromNativeMessaging(&nLength, &buffer);
    Read r{hr, nLength, {}, static_cast<bool>(buffer)};
    if (buffer && nLength > 0) {
        EXPECT_EQ(buffer[nLength], '\0');
        r.body.assign(buffer.get(), static_cast<size_t>(nLength));
    }
    return r;
}

} // namespace

TEST(ReadFrame, ReadsOneFrameAtATime)
{
    Streams s(std::string("\x05\0\0\0abcde\x02\0\0\0\r\n", 15));
    Read r = ReadOne();
    EXPECT_EQ(r.hr, KVRA_OK);
    EXPECT_EQ(r.nLength, 5);
    EXPECT_EQ(r.body, "abcde");
    r = ReadOne();
    EXPECT_EQ(r.body, "\r\n");
    // At the end of input, and every time after it: length 0, no buffer.
    for (int i = 0; i < 2; ++i) {
        r = ReadOne();
        EXPECT_EQ(r.hr, KVRA_OK);
        EXPECT_EQ(r.nLength, 0);
        EXPECT_FALSE(r.bBuffer);
    }
}

TEST(ReadFrame, LengthsZeroAndMinusOneEndWithoutReadingFurther)
{
    for (const char* pszLength : {"\0\0\0\0", "\xff\xff\xff\xff"}) {
        Streams s(std::string(pszLength, 4) + std::string("\x01\0\0\0x", 5));
        const Read r = ReadOne();
        EXPECT_EQ(r.hr, KVRA_OK);
        EXPECT_EQ(r.nLength, 0);
        EXPECT_FALSE(r.bBuffer);
        EXPECT_EQ(s.Rest(), std::string("\x01\0\0\0x", 5));
    }
}

TEST(ReadFrame, ShortInputIsPaddedWithZeros)
{
    {
        Streams s(std::string("\x0a\0\0\0abc", 7));
        const Read r = ReadOne();
        EXPECT_EQ(r.hr, KVRA_OK);
        EXPECT_EQ(r.nLength, 10);
        EXPECT_EQ(r.body, std::string("abc\0\0\0\0\0\0\0", 10));
    }
    {
        // Three length bytes then the end: the missing byte counts as 0.
        Streams s(std::string("\x03\0\0", 3));
        const Read r = ReadOne();
        EXPECT_EQ(r.nLength, 3);
        EXPECT_EQ(r.body, std::string(3, '\0'));
    }
}

TEST(ReadFrame, NegativeLengthGetsNoBufferAndLeavesTheBodyUnread)
{
    Streams s(std::string("\0\0\0\x80", 4) + "body");
    int32_t nLength = 77;
    FrameBuffer buffer;
    EXPECT_EQ(ReadFromNativeMessaging(&nLength, &buffer), -1);
    EXPECT_EQ(nLength, 77);
    EXPECT_FALSE(buffer);
    EXPECT_EQ(s.Rest(), "body");
}

TEST(WriteFrame, WritesUpToTheLimitAndNothingBeyond)
{
    Streams s("");
    EXPECT_EQ(WriteToNativeMessaging("a\nb"), KVRA_OK);
    EXPECT_EQ(s.Output(), std::string("\x03\0\0\0a\nb", 7));

    const std::string atLimit(MAX_SEND_MSG_LEN, 'x');
    EXPECT_EQ(WriteToNativeMessaging(atLimit.c_str()), KVRA_OK);
    const std::string out = s.Output();
    ASSERT_EQ(out.size(), 7 + 4 + MAX_SEND_MSG_LEN);
    EXPECT_EQ(out.substr(7, 4), std::string("\0\0\x10\0", 4));

    const std::string overLimit(MAX_SEND_MSG_LEN + 1, 'x');
    EXPECT_EQ(WriteToNativeMessaging(overLimit.c_str()), KVRA_E_SEND_MSG_TOO_LONG);
    EXPECT_EQ(s.Output().size(), out.size());
}

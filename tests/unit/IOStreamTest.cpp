// The frame layer on in-memory streams, for what the host's own output
// cannot show.
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

} // namespace

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

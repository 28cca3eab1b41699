#include <gtest/gtest.h>

#include <vector>

#include "kernel/DerEncoder.h"

namespace {

std::vector<uint8_t> Length(uint32_t n)
{
    std::vector<uint8_t> vtr;
    EXPECT_EQ(CalculateASNValueLength(n, vtr), KVRA_OK) << n;
    return vtr;
}

using Bytes = std::vector<uint8_t>;

} // namespace

TEST(DerEncoder, LengthOctetsUseTheShortestForm)
{
    EXPECT_EQ(Length(1), Bytes{0x01});
    EXPECT_EQ(Length(127), Bytes{0x7F});
    EXPECT_EQ(Length(128), (Bytes{0x81, 0x80}));
    EXPECT_EQ(Length(255), (Bytes{0x81, 0xFF}));
    EXPECT_EQ(Length(256), (Bytes{0x82, 0x01, 0x00}));
    EXPECT_EQ(Length(65535), (Bytes{0x82, 0xFF, 0xFF}));
    EXPECT_EQ(Length(65536), (Bytes{0x83, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Length(16777216), (Bytes{0x84, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Length(0xFFFFFFFF), (Bytes{0x84, 0xFF, 0xFF, 0xFF, 0xFF}));
    Bytes vtr;
    EXPECT_EQ(CalculateASNValueLength(0, vtr), E_FAIL);
}

TEST(DerEncoder, ElementsTakeOnlyTheKnownSingleByteTags)
{
    const uint8_t abValue[] = {0x61, 0x62, 0x63};
    Bytes vtr;
    ASSERT_EQ(ASN1Encode(0x04, abValue, 3, vtr), KVRA_OK);
    EXPECT_EQ(vtr, (Bytes{0x04, 0x03, 0x61, 0x62, 0x63}));
    // Only the low 8 bits of the tag count.
    ASSERT_EQ(ASN1Encode(0x131, abValue, 3, vtr), KVRA_OK);
    EXPECT_EQ(vtr[0], 0x31);
    const Bytes big(300, 0x55);
    ASSERT_EQ(ASN1Encode(0x30, big.data(), 300, vtr), KVRA_OK);
    EXPECT_EQ(Bytes(vtr.begin(), vtr.begin() + 4), (Bytes{0x30, 0x82, 0x01, 0x2C}));
    EXPECT_EQ(vtr.size(), 304u);

    vtr = {0xEE};
    for (uint32_t tag : {0x05u, 0x03u, 0x01u, 0xA1u, 0x81u, 0x17u}) {
        EXPECT_EQ(ASN1Encode(tag, abValue, 3, vtr), E_FAIL) << tag;
    }
    EXPECT_EQ(ASN1Encode(0x04, abValue, 0, vtr), E_FAIL); // never empty
    EXPECT_EQ(vtr, Bytes{0xEE});
}

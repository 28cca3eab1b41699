#include <gtest/gtest.h>

#include <vector>

#include "kernel/DerEncoder.h"
#include "kernel/HashAndSign.h"

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

TEST(DerEncoder, EcdsaSignaturesBecomeTwoMinimalPositiveIntegers)
{
    auto encode = [](const Bytes& raw) {
        Bytes der = {0xEE};
        EXPECT_EQ(EncodeEcdsaSignature(raw.data(), static_cast<uint32_t>(raw.size()), der), KVRA_OK);
        return der;
    };
    // Leading zeros go; a set top bit gets a 00 in front; zero stays one byte.
    EXPECT_EQ(encode({0x00, 0x00, 0x7F, 0x80, 0x01, 0x02}),
              (Bytes{0x30, 0x09, 0x02, 0x01, 0x7F, 0x02, 0x04, 0x00, 0x80, 0x01, 0x02}));
    EXPECT_EQ(encode({0x00, 0x00, 0x00, 0x00}), (Bytes{0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00}));
    // P-521's halves of 66 bytes take the long form.
    const Bytes p521 = encode(Bytes(132, 0x01));
    EXPECT_EQ(Bytes(p521.begin(), p521.begin() + 3), (Bytes{0x30, 0x81, 0x88}));

    Bytes vtr = {0xEE};
    const uint8_t abOdd[] = {1, 2, 3};
    EXPECT_EQ(EncodeEcdsaSignature(abOdd, 3, vtr), E_FAIL);
    EXPECT_EQ(EncodeEcdsaSignature(abOdd, 0, vtr), E_FAIL);
    EXPECT_EQ(vtr, Bytes{0xEE});
}

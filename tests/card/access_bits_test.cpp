#include <set>
#include <string>

#include "card_fixture.h"

using namespace mifare;

TEST(AccessBits, KnownEncodings)
{
    struct Case {
        std::uint8_t cond[4];
        std::uint8_t bits[3];
    };
    const Case cases[] = {
        {{0, 0, 0, 1}, {0xFF, 0x07, 0x80}}, // factory
        {{6, 6, 6, 3}, {0x08, 0x77, 0x8F}},
        {{0, 0, 0, 0}, {0xFF, 0x0F, 0x00}},
        {{7, 7, 7, 7}, {0x00, 0xF0, 0xFF}},
        {{4, 2, 1, 0}, {0xDE, 0x1B, 0x42}},
    };
    for (const Case& c : cases) {
        std::uint8_t bits[3];
        encode_access_bits(c.cond, bits);
        EXPECT_EQ(bits[0], c.bits[0]);
        EXPECT_EQ(bits[1], c.bits[1]);
        EXPECT_EQ(bits[2], c.bits[2]);
        std::uint8_t cond[4];
        EXPECT_TRUE(decode_access_bits(c.bits, cond));
        for (int g = 0; g < 4; ++g)
            EXPECT_EQ(cond[g], c.cond[g]) << "group " << g;
    }
}

TEST(AccessBits, EveryConditionSetRoundTrips)
{
    for (int n = 0; n < 4096; ++n) {
        std::uint8_t cond[4] = {std::uint8_t(n & 7), std::uint8_t((n >> 3) & 7), std::uint8_t((n >> 6) & 7),
                                std::uint8_t((n >> 9) & 7)};
        std::uint8_t bits[3], back[4];
        encode_access_bits(cond, bits);
        ASSERT_TRUE(access_bits_valid(bits)) << n;
        ASSERT_TRUE(decode_access_bits(bits, back)) << n;
        for (int g = 0; g < 4; ++g)
            ASSERT_EQ(back[g], cond[g]) << n;
    }
}

TEST(AccessBits, AnySingleFlippedBitIsMalformed)
{
    const std::uint8_t good[3] = {0xFF, 0x07, 0x80};
    for (int bit = 0; bit < 24; ++bit) {
        std::uint8_t bits[3] = {good[0], good[1], good[2]};
        bits[bit / 8] ^= std::uint8_t(1u << (bit % 8));
        EXPECT_FALSE(access_bits_valid(bits)) << "bit " << bit;
    }
}

TEST(AccessBits, KeyBReadableRows)
{
    for (std::uint8_t c = 0; c < 8; ++c)
        EXPECT_EQ(key_b_readable(c), c == 0 || c == 1 || c == 2) << int(c);
}

TEST(AccessBits, DescriptionsAreDistinctPerRow)
{
    std::set<std::string> data, trailer;
    for (std::uint8_t c = 0; c < 8; ++c) {
        data.insert(describe_data_condition(c));
        trailer.insert(describe_trailer_condition(c));
    }
    // 110 and 111 share one trailer meaning in the datasheet.
    EXPECT_EQ(data.size(), 8u);
    EXPECT_EQ(trailer.size(), 7u);
    EXPECT_STREQ(describe_data_condition(4), "read A|B, write B");
    EXPECT_STREQ(describe_trailer_condition(2),
                 "key A: write never; access bits: read A, write never; key B: read A, write never");
}

TEST(AccessBits, DecodeSectorGivesEveryBlockItsGroup)
{
    std::array<std::uint8_t, 4> cond = {2, 4, 6, 3};
    card_test::Block t = card_test::trailer_bytes(card_test::KEY_A, cond, card_test::KEY_B);
    struct Case {
        CardType type;
        int sector;
    };
    for (Case c : {Case{CardType::Classic1K, 5}, Case{CardType::Classic4K, 35}}) {
        SectorConditions sc;
        ASSERT_EQ(decode_sector(c.type, c.sector, t.data(), &sc), RF_OK);
        EXPECT_TRUE(sc.valid);
        ASSERT_EQ(sc.blocks, blocks_in_sector(c.type, c.sector));
        int first = first_block_of_sector(c.type, c.sector);
        for (int i = 0; i < sc.blocks; ++i) {
            int g = access_group_of_block(c.type, first + i);
            EXPECT_EQ(sc.condition[i], cond[g]) << "block " << i;
            EXPECT_STREQ(sc.description[i], g == 3 ? describe_trailer_condition(cond[g])
                                                   : describe_data_condition(cond[g]));
        }
    }
    t[7] ^= 0x01;
    SectorConditions sc;
    ASSERT_EQ(decode_sector(CardType::Classic1K, 5, t.data(), &sc), RF_OK);
    EXPECT_FALSE(sc.valid);
    EXPECT_EQ(decode_sector(CardType::Classic1K, 16, t.data(), &sc), RF_ERR_ARG);
    EXPECT_EQ(decode_sector(CardType::Classic1K, 0, nullptr, &sc), RF_ERR_ARG);
}

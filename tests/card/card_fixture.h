// Small builders shared by the card tests.
#ifndef CARD_FIXTURE_H
#define CARD_FIXTURE_H

#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "mifare/card.h"

namespace card_test {

using Block = std::array<std::uint8_t, mifare::BLOCK_SIZE>;
using Key = std::array<std::uint8_t, mifare::KEY_SIZE>;

inline const std::uint8_t UID[4] = {0xDE, 0xAD, 0xBE, 0xEF};
inline const Key FACTORY_KEY = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline const Key KEY_A = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
inline const Key KEY_B = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};

inline std::vector<std::uint8_t> image_of(const mifare::Card& card)
{
    std::vector<std::uint8_t> img(card.image_size());
    EXPECT_EQ(card.export_image(img.data(), img.size()), RF_OK);
    return img;
}

inline Block stored_block(const mifare::Card& card, int block)
{
    auto img = image_of(card);
    Block b;
    std::copy(img.begin() + block * 16, img.begin() + block * 16 + 16, b.begin());
    return b;
}

inline Block trailer_bytes(const Key& a, std::array<std::uint8_t, 4> cond, const Key& b, std::uint8_t gpb = 0x69)
{
    Block t{};
    std::copy(a.begin(), a.end(), t.begin());
    mifare::encode_access_bits(cond.data(), t.data() + 6);
    t[9] = gpb;
    std::copy(b.begin(), b.end(), t.begin() + 10);
    return t;
}

// A factory card with one sector's trailer replaced, as if personalised earlier.
inline mifare::Card card_with_trailer(mifare::CardType type, int sector, const Block& trailer)
{
    mifare::Card factory(type, UID);
    auto img = image_of(factory);
    std::copy(trailer.begin(), trailer.end(), img.begin() + mifare::trailer_of_sector(type, sector) * 16);
    mifare::Card card(type, UID);
    EXPECT_EQ(mifare::Card::from_image(img.data(), img.size(), &card), RF_OK);
    return card;
}

inline void activate(mifare::Card& card)
{
    std::uint8_t uid[4];
    ASSERT_EQ(card.request(mifare::REQUEST_ALL), RF_OK);
    ASSERT_EQ(card.anticollision(uid), RF_OK);
    ASSERT_EQ(card.select(uid), RF_OK);
}

inline const char* key_name(mifare::KeyType k) { return k == mifare::KeyType::A ? "A" : "B"; }

} // namespace card_test

#endif

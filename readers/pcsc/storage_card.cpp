#include "storage_card.h"

#include <cstring>

namespace pcsc {

namespace {

constexpr std::uint8_t kRid[5] = {0xA0, 0x00, 0x00, 0x03, 0x06};
constexpr std::uint8_t kStandardIso14443A3 = 0x03;
constexpr std::uint8_t kNameClassic1K = 0x01;
constexpr std::uint8_t kNameClassic4K = 0x02;

int popcount4(unsigned v) { return (v & 1) + ((v >> 1) & 1) + ((v >> 2) & 1) + ((v >> 3) & 1); }

}  // namespace

void build_atr(mifare::CardType type, std::uint8_t atr[ATR_SIZE]) noexcept
{
    const std::uint8_t bytes[ATR_SIZE] = {
        0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, kRid[0], kRid[1], kRid[2], kRid[3], kRid[4],
        kStandardIso14443A3, 0x00,
        type == mifare::CardType::Classic4K ? kNameClassic4K : kNameClassic1K,
        0x00, 0x00, 0x00, 0x00, 0x00};
    std::memcpy(atr, bytes, ATR_SIZE);
    std::uint8_t tck = 0;
    for (std::size_t i = 1; i < ATR_SIZE - 1; ++i) tck ^= atr[i];
    atr[ATR_SIZE - 1] = tck;
}

bool classic_type_from_atr(const std::uint8_t *atr, std::size_t size, mifare::CardType *type) noexcept
{
    if (!atr || size < 2 || (atr[0] != 0x3B && atr[0] != 0x3F))
        return false;
    // Walk the interface bytes to find where the historical bytes start.
    const std::size_t historical = atr[1] & 0x0F;
    std::size_t pos = 2;
    unsigned y = atr[1] >> 4;
    for (;;) {
        pos += static_cast<std::size_t>(popcount4(y));
        if (!(y & 0x8))
            break;
        if (pos > size)
            return false;
        y = atr[pos - 1] >> 4;  // TDi closes its group
    }
    if (pos + historical > size || historical < 3 + 5 + 1 + 2)
        return false;
    const std::uint8_t *h = atr + pos;
    if (h[0] != 0x80 || h[1] != 0x4F || h[2] < 5 + 1 + 2 || 3u + h[2] > historical)
        return false;
    if (std::memcmp(h + 3, kRid, sizeof kRid) != 0 || h[8] != kStandardIso14443A3 || h[9] != 0x00)
        return false;
    mifare::CardType found;
    if (h[10] == kNameClassic1K)
        found = mifare::CardType::Classic1K;
    else if (h[10] == kNameClassic4K)
        found = mifare::CardType::Classic4K;
    else
        return false;
    if (type)
        *type = found;
    return true;
}

unsigned int atqa_of(mifare::CardType type) noexcept
{
    const std::uint8_t uid[mifare::UID_SIZE] = {};
    mifare::Card card(type, uid);
    std::uint8_t atqa[2] = {};
    card.request(mifare::REQUEST_ALL, atqa);
    return atqa[0] | (static_cast<unsigned int>(atqa[1]) << 8);
}

}  // namespace pcsc

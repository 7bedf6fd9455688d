// Geometry and access-condition tables of Mifare Classic 1K/4K.
#include "mifare/card.h"

namespace mifare {

namespace {

// 4K: 32 small sectors of 4 blocks, then 8 large ones of 16.
constexpr int SMALL_SECTORS_4K = 32;
constexpr int SMALL_AREA_BLOCKS = SMALL_SECTORS_4K * 4;

bool is_large_sector(CardType type, int sector) noexcept
{
    return type == CardType::Classic4K && sector >= SMALL_SECTORS_4K;
}

// Indexed by C1C2C3.
constexpr DataAccess DATA_TABLE[8] = {
    /* 000 */ {KEYS_AB, KEYS_AB, KEYS_AB, KEYS_AB},
    /* 001 */ {KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_AB},
    /* 010 */ {KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_NONE},
    /* 011 */ {KEYS_B, KEYS_B, KEYS_NONE, KEYS_NONE},
    /* 100 */ {KEYS_AB, KEYS_B, KEYS_NONE, KEYS_NONE},
    /* 101 */ {KEYS_B, KEYS_NONE, KEYS_NONE, KEYS_NONE},
    /* 110 */ {KEYS_AB, KEYS_B, KEYS_B, KEYS_AB},
    /* 111 */ {KEYS_NONE, KEYS_NONE, KEYS_NONE, KEYS_NONE},
};

// key A read/write, access bits read/write, key B read/write.
constexpr TrailerAccess TRAILER_TABLE[8] = {
    /* 000 */ {KEYS_NONE, KEYS_A, KEYS_A, KEYS_NONE, KEYS_A, KEYS_A},
    /* 001 */ {KEYS_NONE, KEYS_A, KEYS_A, KEYS_A, KEYS_A, KEYS_A},
    /* 010 */ {KEYS_NONE, KEYS_NONE, KEYS_A, KEYS_NONE, KEYS_A, KEYS_NONE},
    /* 011 */ {KEYS_NONE, KEYS_B, KEYS_AB, KEYS_B, KEYS_NONE, KEYS_B},
    /* 100 */ {KEYS_NONE, KEYS_B, KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_B},
    /* 101 */ {KEYS_NONE, KEYS_NONE, KEYS_AB, KEYS_B, KEYS_NONE, KEYS_NONE},
    /* 110 */ {KEYS_NONE, KEYS_NONE, KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_NONE},
    /* 111 */ {KEYS_NONE, KEYS_NONE, KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_NONE},
};

constexpr const char* DATA_TEXT[8] = {
    /* 000 */ "read A|B, write A|B, increment A|B, decrement A|B",
    /* 001 */ "read A|B, write never, increment never, decrement A|B",
    /* 010 */ "read A|B, write never",
    /* 011 */ "read B, write B",
    /* 100 */ "read A|B, write B",
    /* 101 */ "read B, write never",
    /* 110 */ "read A|B, write B, increment B, decrement A|B",
    /* 111 */ "read never, write never",
};

constexpr const char* TRAILER_TEXT[8] = {
    /* 000 */ "key A: write A; access bits: read A, write never; key B: read A, write A",
    /* 001 */ "key A: write A; access bits: read A, write A; key B: read A, write A",
    /* 010 */ "key A: write never; access bits: read A, write never; key B: read A, write never",
    /* 011 */ "key A: write B; access bits: read A|B, write B; key B: read never, write B",
    /* 100 */ "key A: write B; access bits: read A|B, write never; key B: read never, write B",
    /* 101 */ "key A: write never; access bits: read A|B, write B; key B: read never, write never",
    /* 110 */ "key A: write never; access bits: read A|B, write never; key B: read never, write never",
    /* 111 */ "key A: write never; access bits: read A|B, write never; key B: read never, write never",
};

} // namespace

int block_count(CardType type) noexcept { return type == CardType::Classic4K ? 256 : 64; }
int sector_count(CardType type) noexcept { return type == CardType::Classic4K ? 40 : 16; }
std::size_t image_size(CardType type) noexcept
{
    return type == CardType::Classic4K ? IMAGE_SIZE_4K : IMAGE_SIZE_1K;
}

bool valid_block(CardType type, int block) noexcept { return block >= 0 && block < block_count(type); }
bool valid_sector(CardType type, int sector) noexcept
{
    return sector >= 0 && sector < sector_count(type);
}

int sector_of_block(CardType type, int block) noexcept
{
    if (!valid_block(type, block))
        return -1;
    if (block < SMALL_AREA_BLOCKS)
        return block / 4;
    return SMALL_SECTORS_4K + (block - SMALL_AREA_BLOCKS) / 16;
}

int first_block_of_sector(CardType type, int sector) noexcept
{
    if (!valid_sector(type, sector))
        return -1;
    if (!is_large_sector(type, sector))
        return sector * 4;
    return SMALL_AREA_BLOCKS + (sector - SMALL_SECTORS_4K) * 16;
}

int blocks_in_sector(CardType type, int sector) noexcept
{
    if (!valid_sector(type, sector))
        return -1;
    return is_large_sector(type, sector) ? 16 : 4;
}

int trailer_of_sector(CardType type, int sector) noexcept
{
    if (!valid_sector(type, sector))
        return -1;
    return first_block_of_sector(type, sector) + blocks_in_sector(type, sector) - 1;
}

bool is_trailer(CardType type, int block) noexcept
{
    return valid_block(type, block) && trailer_of_sector(type, sector_of_block(type, block)) == block;
}

int access_group_of_block(CardType type, int block) noexcept
{
    int sector = sector_of_block(type, block);
    if (sector < 0)
        return -1;
    int offset = block - first_block_of_sector(type, sector);
    if (!is_large_sector(type, sector))
        return offset;
    return offset == 15 ? 3 : offset / 5;
}

DataAccess data_access(std::uint8_t condition) noexcept { return DATA_TABLE[condition & 7]; }
TrailerAccess trailer_access(std::uint8_t condition) noexcept { return TRAILER_TABLE[condition & 7]; }

bool key_b_readable(std::uint8_t trailer_condition) noexcept
{
    return (trailer_access(trailer_condition).key_b_read & KEYS_A) != 0;
}

// Byte 6: ~C2 high nibble, ~C1 low; byte 7: C1 high, ~C3 low; byte 8: C3 high, C2 low.
// Bit n of each nibble belongs to group n.
bool decode_access_bits(const std::uint8_t bits[3], std::uint8_t condition[4]) noexcept
{
    unsigned c1 = bits[1] >> 4, c2 = bits[2] & 0x0F, c3 = bits[2] >> 4;
    unsigned n1 = bits[0] & 0x0F, n2 = bits[0] >> 4, n3 = bits[1] & 0x0F;
    for (int g = 0; g < 4; ++g)
        condition[g] = static_cast<std::uint8_t>((((c1 >> g) & 1) << 2) | (((c2 >> g) & 1) << 1) | ((c3 >> g) & 1));
    return ((c1 ^ n1) == 0x0F) && ((c2 ^ n2) == 0x0F) && ((c3 ^ n3) == 0x0F);
}

bool access_bits_valid(const std::uint8_t bits[3]) noexcept
{
    std::uint8_t unused[4];
    return decode_access_bits(bits, unused);
}

void encode_access_bits(const std::uint8_t condition[4], std::uint8_t bits[3]) noexcept
{
    unsigned c1 = 0, c2 = 0, c3 = 0;
    for (int g = 0; g < 4; ++g) {
        c1 |= ((condition[g] >> 2) & 1u) << g;
        c2 |= ((condition[g] >> 1) & 1u) << g;
        c3 |= (condition[g] & 1u) << g;
    }
    bits[0] = static_cast<std::uint8_t>(((~c2 & 0x0F) << 4) | (~c1 & 0x0F));
    bits[1] = static_cast<std::uint8_t>((c1 << 4) | (~c3 & 0x0F));
    bits[2] = static_cast<std::uint8_t>((c3 << 4) | c2);
}

const char* describe_data_condition(std::uint8_t condition) noexcept { return DATA_TEXT[condition & 7]; }
const char* describe_trailer_condition(std::uint8_t condition) noexcept
{
    return TRAILER_TEXT[condition & 7];
}

rf_status decode_sector(CardType type, int sector, const std::uint8_t trailer[16],
                        SectorConditions* out) noexcept
{
    if (!valid_sector(type, sector) || !trailer || !out)
        return RF_ERR_ARG;
    std::uint8_t group[4];
    out->valid = decode_access_bits(trailer + 6, group);
    out->blocks = blocks_in_sector(type, sector);
    int first = first_block_of_sector(type, sector);
    for (int i = 0; i < 16; ++i) {
        if (i >= out->blocks) {
            out->condition[i] = 0;
            out->description[i] = nullptr;
            continue;
        }
        int g = access_group_of_block(type, first + i);
        out->condition[i] = group[g];
        out->description[i] = g == 3 ? describe_trailer_condition(group[g]) : describe_data_condition(group[g]);
    }
    return RF_OK;
}

} // namespace mifare

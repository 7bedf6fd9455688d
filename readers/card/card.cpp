// Card state machine, authentication and block access.
#include "mifare/card.h"

#include <cstring>

namespace mifare {

namespace {

constexpr std::uint8_t FACTORY_KEY[KEY_SIZE] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t FACTORY_BITS[4] = {0xFF, 0x07, 0x80, 0x69};
// Bytes 8..15 of block 0; fixed so two factory cards differ only by UID.
constexpr std::uint8_t MANUFACTURER_DATA[8] = {'V', 'E', 'S', 'K', 'R', 'D', 0x10, 0x01};

constexpr int KEY_A_OFFSET = 0;
constexpr int BITS_OFFSET = 6;  // 3 access bytes and the GPB
constexpr int BITS_SIZE = 4;
constexpr int KEY_B_OFFSET = 10;

std::uint8_t mask_of(KeyType key) noexcept { return key == KeyType::A ? KEYS_A : KEYS_B; }

} // namespace

Card::Card(CardType type, const std::uint8_t uid[UID_SIZE]) noexcept : type_(type)
{
    std::uint8_t* b0 = data_;
    if (uid)
        std::memcpy(b0, uid, UID_SIZE);
    b0[4] = static_cast<std::uint8_t>(b0[0] ^ b0[1] ^ b0[2] ^ b0[3]);
    b0[5] = sak();
    b0[6] = type == CardType::Classic4K ? 0x02 : 0x04;
    b0[7] = 0x00;
    std::memcpy(b0 + 8, MANUFACTURER_DATA, sizeof MANUFACTURER_DATA);

    for (int s = 0; s < sector_count(type); ++s) {
        std::uint8_t* t = block_ptr(trailer_of_sector(type, s));
        std::memcpy(t + KEY_A_OFFSET, FACTORY_KEY, KEY_SIZE);
        std::memcpy(t + BITS_OFFSET, FACTORY_BITS, BITS_SIZE);
        std::memcpy(t + KEY_B_OFFSET, FACTORY_KEY, KEY_SIZE);
    }
}

rf_status Card::from_image(const std::uint8_t* image, std::size_t size, Card* out) noexcept
{
    if (!image || !out)
        return RF_ERR_ARG;
    CardType type;
    if (size == IMAGE_SIZE_1K)
        type = CardType::Classic1K;
    else if (size == IMAGE_SIZE_4K)
        type = CardType::Classic4K;
    else
        return RF_ERR_ARG;
    Card card;
    card.type_ = type;
    std::memcpy(card.data_, image, size);
    *out = card;
    return RF_OK;
}

rf_status Card::export_image(std::uint8_t* out, std::size_t size) const noexcept
{
    if (!out || size < image_size())
        return RF_ERR_ARG;
    std::memcpy(out, data_, image_size());
    return RF_OK;
}

std::uint8_t Card::sak() const noexcept { return type_ == CardType::Classic4K ? 0x18 : 0x08; }

rf_status Card::request(int mode, std::uint8_t atqa[2]) noexcept
{
    if (mode != REQUEST_IDLE && mode != REQUEST_ALL)
        return RF_ERR_ARG;
    if (state_ == CardState::Halt && mode != REQUEST_ALL)
        return RF_ERR_HALTED;
    // A ready or active card falls back to idle on a stray REQA and answers
    // the reader's retry; one answer here stands for both.
    state_ = CardState::Ready;
    drop_auth();
    if (atqa) {
        atqa[0] = type_ == CardType::Classic4K ? 0x02 : 0x04;
        atqa[1] = 0x00;
    }
    return RF_OK;
}

rf_status Card::anticollision(std::uint8_t uid[UID_SIZE]) noexcept
{
    if (!uid)
        return RF_ERR_ARG;
    if (state_ == CardState::Halt)
        return RF_ERR_HALTED;
    if (state_ != CardState::Ready)
        return RF_ERR_NO_CARD;
    std::memcpy(uid, data_, UID_SIZE);
    return RF_OK;
}

rf_status Card::select(const std::uint8_t uid[UID_SIZE], std::uint8_t* sak_out) noexcept
{
    if (!uid)
        return RF_ERR_ARG;
    if (state_ == CardState::Halt)
        return RF_ERR_HALTED;
    if (state_ != CardState::Ready || std::memcmp(uid, data_, UID_SIZE) != 0)
        return RF_ERR_SELECT;
    state_ = CardState::Active;
    drop_auth();
    if (sak_out)
        *sak_out = sak();
    return RF_OK;
}

rf_status Card::halt() noexcept
{
    if (state_ == CardState::Halt)
        return RF_ERR_HALTED;
    if (state_ != CardState::Active)
        return RF_ERR_SELECT;
    state_ = CardState::Halt;
    drop_auth();
    return RF_OK;
}

void Card::reset() noexcept
{
    state_ = CardState::Idle;
    drop_auth();
}

rf_status Card::authenticate(int block, KeyType key_type, const std::uint8_t key[KEY_SIZE]) noexcept
{
    if (!key || !valid_block(type_, block) || (key_type != KeyType::A && key_type != KeyType::B))
        return RF_ERR_ARG;
    if (state_ == CardState::Halt)
        return RF_ERR_HALTED;
    if (state_ != CardState::Active)
        return RF_ERR_SELECT;
    drop_auth();

    int sector = sector_of_block(type_, block);
    const std::uint8_t* t = block_ptr(trailer_of_sector(type_, sector));
    std::uint8_t group[4];
    if (!decode_access_bits(t + BITS_OFFSET, group))
        return RF_ERR_AUTH;
    if (key_type == KeyType::B && key_b_readable(group[3]))
        return RF_ERR_AUTH;
    const std::uint8_t* stored = t + (key_type == KeyType::A ? KEY_A_OFFSET : KEY_B_OFFSET);
    if (std::memcmp(stored, key, KEY_SIZE) != 0)
        return RF_ERR_AUTH;

    auth_sector_ = sector;
    auth_key_ = key_type;
    return RF_OK;
}

// Shared gate of read and write: the block's condition and the current key.
rf_status Card::check_access(int block, std::uint8_t* condition, std::uint8_t* key_mask) const noexcept
{
    if (!valid_block(type_, block))
        return RF_ERR_ARG;
    if (state_ == CardState::Halt)
        return RF_ERR_HALTED;
    int sector = sector_of_block(type_, block);
    if (state_ != CardState::Active || auth_sector_ != sector)
        return RF_ERR_NOT_AUTH;
    std::uint8_t group[4];
    if (!decode_access_bits(block_ptr(trailer_of_sector(type_, sector)) + BITS_OFFSET, group))
        return RF_ERR_ACCESS;
    // The trailer may have been rewritten since authentication to make key B
    // plain data; from then on key B opens nothing.
    if (auth_key_ == KeyType::B && key_b_readable(group[3]))
        return RF_ERR_ACCESS;
    *condition = group[access_group_of_block(type_, block)];
    *key_mask = mask_of(auth_key_);
    return RF_OK;
}

rf_status Card::read_block(int block, std::uint8_t out[BLOCK_SIZE]) noexcept
{
    if (!out)
        return RF_ERR_ARG;
    std::uint8_t cond, key;
    rf_status st = check_access(block, &cond, &key);
    if (st != RF_OK)
        return st;
    const std::uint8_t* src = block_ptr(block);
    if (!is_trailer(type_, block)) {
        if (!(data_access(cond).read & key))
            return RF_ERR_ACCESS;
        std::memcpy(out, src, BLOCK_SIZE);
        return RF_OK;
    }
    TrailerAccess ta = trailer_access(cond);
    std::memset(out, 0, BLOCK_SIZE);
    if (ta.key_a_read & key)
        std::memcpy(out + KEY_A_OFFSET, src + KEY_A_OFFSET, KEY_SIZE);
    if (ta.bits_read & key)
        std::memcpy(out + BITS_OFFSET, src + BITS_OFFSET, BITS_SIZE);
    if (ta.key_b_read & key)
        std::memcpy(out + KEY_B_OFFSET, src + KEY_B_OFFSET, KEY_SIZE);
    return RF_OK;
}

rf_status Card::write_block(int block, const std::uint8_t in[BLOCK_SIZE]) noexcept
{
    if (!in)
        return RF_ERR_ARG;
    std::uint8_t cond, key;
    rf_status st = check_access(block, &cond, &key);
    if (st != RF_OK)
        return st;
    std::uint8_t* dst = block_ptr(block);
    if (block == 0)
        return RF_ERR_ACCESS;
    if (!is_trailer(type_, block)) {
        if (!(data_access(cond).write & key))
            return RF_ERR_ACCESS;
        std::memcpy(dst, in, BLOCK_SIZE);
        return RF_OK;
    }
    TrailerAccess ta = trailer_access(cond);
    bool key_a = ta.key_a_write & key, bits = ta.bits_write & key, key_b = ta.key_b_write & key;
    if (!key_a && !bits && !key_b)
        return RF_ERR_ACCESS;
    if (key_a)
        std::memcpy(dst + KEY_A_OFFSET, in + KEY_A_OFFSET, KEY_SIZE);
    if (bits)
        std::memcpy(dst + BITS_OFFSET, in + BITS_OFFSET, BITS_SIZE);
    if (key_b)
        std::memcpy(dst + KEY_B_OFFSET, in + KEY_B_OFFSET, KEY_SIZE);
    return RF_OK;
}

} // namespace mifare

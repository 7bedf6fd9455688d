/*
 * One Mifare Classic 1K/4K card, shared by every reader library and the tests.
 *
 * Card operations answer with the rf_status numbers so a reader can hand them
 * straight to its caller. Nothing here throws, allocates or touches files:
 * keeping the card file on disk is the reader library's job.
 */
#ifndef MIFARE_CARD_H
#define MIFARE_CARD_H

#include <cstddef>
#include <cstdint>

#include "rf_status.h"

namespace mifare {

enum class CardType : std::uint8_t { Classic1K, Classic4K };

enum class KeyType : std::uint8_t { A = 0, B = 1 };

enum class CardState : std::uint8_t { Idle, Ready, Active, Halt };

/* Request modes, as the reader's request call takes them. */
enum RequestMode : int {
    REQUEST_IDLE = 0, /* REQA */
    REQUEST_ALL = 1   /* WUPA: also wakes a halted card */
};

constexpr int BLOCK_SIZE = 16;
constexpr int KEY_SIZE = 6;
constexpr int UID_SIZE = 4;
constexpr std::size_t IMAGE_SIZE_1K = 1024;
constexpr std::size_t IMAGE_SIZE_4K = 4096;

/* ---- Geometry. Block and sector numbers are absolute; -1 marks an invalid one. */

int block_count(CardType type) noexcept;
int sector_count(CardType type) noexcept;
std::size_t image_size(CardType type) noexcept;
bool valid_block(CardType type, int block) noexcept;
bool valid_sector(CardType type, int sector) noexcept;
int sector_of_block(CardType type, int block) noexcept;
int first_block_of_sector(CardType type, int sector) noexcept;
int blocks_in_sector(CardType type, int sector) noexcept;
int trailer_of_sector(CardType type, int sector) noexcept;
bool is_trailer(CardType type, int block) noexcept;
/* Access-bits group (0..2 data, 3 trailer) that governs a block. */
int access_group_of_block(CardType type, int block) noexcept;

/* ---- Access conditions.
 * A condition is C1C2C3 of one group packed as (C1 << 2) | (C2 << 1) | C3. */

/* Which keys may do something: a combination of these bits. */
enum KeyMask : std::uint8_t { KEYS_NONE = 0, KEYS_A = 1, KEYS_B = 2, KEYS_AB = 3 };

struct DataAccess {
    std::uint8_t read, write, increment, decrement; /* KeyMask each; decrement covers transfer/restore */
};

struct TrailerAccess {
    std::uint8_t key_a_read, key_a_write;
    std::uint8_t bits_read, bits_write; /* access bits and GPB */
    std::uint8_t key_b_read, key_b_write;
};

DataAccess data_access(std::uint8_t condition) noexcept;
TrailerAccess trailer_access(std::uint8_t condition) noexcept;

/* Key B is plain data in sectors whose trailer lets key A read it. */
bool key_b_readable(std::uint8_t trailer_condition) noexcept;

/* bits = trailer bytes 6..8. True when every bit matches its inverted copy. */
bool access_bits_valid(const std::uint8_t bits[3]) noexcept;
/* Fills condition[0..3] from the plain copy even when invalid; returns validity. */
bool decode_access_bits(const std::uint8_t bits[3], std::uint8_t condition[4]) noexcept;
void encode_access_bits(const std::uint8_t condition[4], std::uint8_t bits[3]) noexcept;

/* Short English text for the dump display, e.g. "read A|B, write B". */
const char* describe_data_condition(std::uint8_t condition) noexcept;
const char* describe_trailer_condition(std::uint8_t condition) noexcept;

struct SectorConditions {
    bool valid;                        /* false: malformed access bits, sector unusable */
    int blocks;                        /* 4 or 16 */
    std::uint8_t condition[16];        /* per block of the sector, trailer last */
    const char* description[16];
};

/* Decodes a sector's trailer (16 bytes) into per-block conditions. */
rf_status decode_sector(CardType type, int sector, const std::uint8_t trailer[16],
                        SectorConditions* out) noexcept;

/* ---- The card. */

class Card {
public:
    /* A factory-fresh card. */
    Card(CardType type, const std::uint8_t uid[UID_SIZE]) noexcept;

    /* Raw .mfd image (blocks from 0, no header): 1024 bytes makes a 1K,
     * 4096 a 4K; any other size is RF_ERR_ARG. UID and everything else are
     * taken from the image as stored. The loaded card starts idle. */
    static rf_status from_image(const std::uint8_t* image, std::size_t size, Card* out) noexcept;

    /* The stored bytes, keys included. size must be at least image_size(). */
    rf_status export_image(std::uint8_t* out, std::size_t size) const noexcept;
    std::size_t image_size() const noexcept { return mifare::image_size(type_); }

    CardType type() const noexcept { return type_; }
    const std::uint8_t* uid() const noexcept { return data_; }
    std::uint8_t sak() const noexcept;
    CardState state() const noexcept { return state_; }
    /* -1 when no sector is authenticated. */
    int authenticated_sector() const noexcept { return auth_sector_; }
    KeyType authenticated_key() const noexcept { return auth_key_; }

    /* ---- Commands, as the card sees them over the air. */

    /* Idle, ready and active cards answer mode 0 and 1, a halted one only
     * mode 1. The card becomes ready; atqa (optional) gets 2 bytes, LSB first. */
    rf_status request(int mode, std::uint8_t atqa[2] = nullptr) noexcept;
    /* Ready cards only. */
    rf_status anticollision(std::uint8_t uid[UID_SIZE]) noexcept;
    /* Ready cards only; a matching UID makes the card active. */
    rf_status select(const std::uint8_t uid[UID_SIZE], std::uint8_t* sak = nullptr) noexcept;
    /* Active cards only; the card sleeps until a request for all cards. */
    rf_status halt() noexcept;
    /* Field off and on: back to idle, authentication gone. */
    void reset() noexcept;

    rf_status authenticate(int block, KeyType key_type, const std::uint8_t key[KEY_SIZE]) noexcept;
    /* Trailers read back with key A as zeros, key B as zeros unless readable. */
    rf_status read_block(int block, std::uint8_t out[BLOCK_SIZE]) noexcept;
    /* A trailer write changes the parts the current key may write and keeps
     * the others; it fails only when no part is writable. Malformed access
     * bits are stored as given and lock the sector from then on. */
    rf_status write_block(int block, const std::uint8_t in[BLOCK_SIZE]) noexcept;

private:
    Card() noexcept = default;
    const std::uint8_t* block_ptr(int block) const noexcept { return data_ + block * BLOCK_SIZE; }
    std::uint8_t* block_ptr(int block) noexcept { return data_ + block * BLOCK_SIZE; }
    rf_status check_access(int block, std::uint8_t* condition, std::uint8_t* key_mask) const noexcept;
    void drop_auth() noexcept { auth_sector_ = -1; }

    CardType type_ = CardType::Classic1K;
    CardState state_ = CardState::Idle;
    int auth_sector_ = -1;
    KeyType auth_key_ = KeyType::A;
    std::uint8_t data_[IMAGE_SIZE_4K] = {};
};

} // namespace mifare

#endif

/*
 * The PC/SC storage-card commands both sides of our PC/SC link use: the
 * reader library sends them, the virtual card of the tests answers them.
 * Only what Mifare Classic 1K/4K needs. No PC/SC header here, so the virtual
 * card builds without pcsc-lite.
 */
#ifndef PCSC_STORAGE_CARD_H
#define PCSC_STORAGE_CARD_H

#include <cstddef>
#include <cstdint>

#include "mifare/card.h"

namespace pcsc {

constexpr std::uint8_t CLA_STORAGE = 0xFF;

enum Ins : std::uint8_t {
    INS_GET_DATA = 0xCA,           /* P1 00: UID */
    INS_LOAD_KEYS = 0x82,          /* P2: key slot, data: 6-byte key */
    INS_GENERAL_AUTHENTICATE = 0x86,
    INS_READ_BINARY = 0xB0,        /* P1P2: block */
    INS_UPDATE_BINARY = 0xD6       /* P1P2: block, data: 16 bytes */
};

/* General Authenticate data: version, block MSB, block LSB, key type, slot. */
constexpr std::uint8_t AUTH_VERSION = 0x01;
constexpr std::uint8_t AUTH_KEY_A = 0x60;
constexpr std::uint8_t AUTH_KEY_B = 0x61;
constexpr std::size_t AUTH_DATA_SIZE = 5;

enum StatusWord : std::uint16_t {
    SW_OK = 0x9000,
    SW_FAILED = 0x6300,            /* authentication failed (most readers: any failure) */
    SW_WRONG_LENGTH = 0x6700,
    SW_INCOMPATIBLE = 0x6981,      /* command incompatible with the card */
    SW_SECURITY = 0x6982,          /* security status not satisfied: not authenticated */
    SW_NOT_ALLOWED = 0x6986,       /* command not allowed: access conditions */
    SW_WRONG_DATA = 0x6A80,        /* malformed command data */
    SW_UNSUPPORTED = 0x6A81,       /* function not supported */
    SW_NOT_FOUND = 0x6A82,         /* block does not exist */
    SW_WRONG_P1P2 = 0x6B00,
    SW_WRONG_LE = 0x6C00,          /* low byte: the length that would be right */
    SW_INS_UNKNOWN = 0x6D00,
    SW_CLA_UNKNOWN = 0x6E00,
    SW_UNKNOWN = 0x6F00            /* no precise diagnosis */
};

/* Storage-card ATR: 3B 8F 80 01, historical bytes 80 4F 0C, RID A0 00 00 03 06,
 * standard 03 (ISO 14443 A part 3), card name (00 01 Classic 1K, 00 02
 * Classic 4K), four RFU bytes, TCK. */
constexpr std::size_t ATR_SIZE = 20;
void build_atr(mifare::CardType type, std::uint8_t atr[ATR_SIZE]) noexcept;

/* True when `atr` is a storage-card ATR of a Mifare Classic 1K or 4K; *type
 * then tells which. Anything malformed, short or of another card is false. */
bool classic_type_from_atr(const std::uint8_t *atr, std::size_t size, mifare::CardType *type) noexcept;

/* ATQA as a 16-bit value (the card model gives it as two bytes, LSB first). */
unsigned int atqa_of(mifare::CardType type) noexcept;

}  // namespace pcsc

#endif

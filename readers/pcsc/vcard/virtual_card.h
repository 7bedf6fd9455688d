/*
 * A contactless reader with one Mifare Classic card on it, as PC/SC sees it:
 * controls (power, reset, ATR) and storage-card APDUs in, responses out.
 * The Mifare rules are the card model's; this class only translates. It does
 * no I/O, so a test or a fuzzer can drive it with any bytes.
 */
#ifndef PCSC_VCARD_VIRTUAL_CARD_H
#define PCSC_VCARD_VIRTUAL_CARD_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "mifare/card.h"

namespace vcard {

/* Control codes of the vpcd link (a message of one byte). */
enum Control : std::uint8_t { CTRL_POWER_OFF = 0, CTRL_POWER_ON = 1, CTRL_RESET = 2, CTRL_GET_ATR = 4 };

/* Room every response fits in: 256 data bytes and the status word. */
constexpr std::size_t RESPONSE_MAX = 258;

/* The reader's volatile key slots (Load Keys P2). */
constexpr int KEY_SLOTS = 2;

struct Counts {
    unsigned long apdus;          /* every APDU, well-formed or not */
    unsigned long get_uid;
    unsigned long load_keys;
    unsigned long authenticate;
    unsigned long read_binary;
    unsigned long update_binary;
    unsigned long other;          /* APDUs that are none of the five */
    unsigned long power_on, power_off, reset, get_atr;
};

/* "key=value" lines, one per counter, in a fixed order. */
std::string format_counts(const Counts &counts);

class VirtualCard {
  public:
    explicit VirtualCard(const mifare::Card &card) noexcept;

    /* Handles a control; returns the number of response bytes written to
     * `out` (the ATR for CTRL_GET_ATR, else 0). `out` holds RESPONSE_MAX. */
    std::size_t control(std::uint8_t code, std::uint8_t *out) noexcept;

    /* Answers one APDU of `size` bytes (any bytes, any size, `apdu` may be
     * null when size is 0). Writes data + status word to `out` (RESPONSE_MAX
     * bytes) and returns the response length, always at least 2. */
    std::size_t apdu(const std::uint8_t *apdu, std::size_t size, std::uint8_t *out) noexcept;

    /* Presents another ATR (at most 33 bytes) instead of the card's own
     * storage-card ATR, to play a card of another kind. */
    bool set_atr(const std::uint8_t *atr, std::size_t size) noexcept;

    const Counts &counts() const noexcept { return counts_; }
    const mifare::Card &card() const noexcept { return card_; }

  private:
    void activate() noexcept;
    std::uint16_t get_uid(const std::uint8_t *a, std::size_t size, std::uint8_t *out, std::size_t *n) noexcept;
    std::uint16_t load_keys(const std::uint8_t *a, std::size_t size) noexcept;
    std::uint16_t authenticate(const std::uint8_t *a, std::size_t size) noexcept;
    std::uint16_t read_binary(const std::uint8_t *a, std::size_t size, std::uint8_t *out, std::size_t *n) noexcept;
    std::uint16_t update_binary(const std::uint8_t *a, std::size_t size) noexcept;

    mifare::Card card_;
    bool slot_loaded_[KEY_SLOTS] = {};
    std::uint8_t slot_key_[KEY_SLOTS][mifare::KEY_SIZE] = {};
    Counts counts_ = {};
    std::uint8_t atr_[33] = {};
    std::size_t atr_size_ = 0;  /* 0: the card's own */
};

}  // namespace vcard

#endif

// The simulated field: the one card every handle of the process talks to.
//
// Without RFSIM_CARD the card lives in memory for the life of the process.
// With RFSIM_CARD it lives in that file: it is loaded when the reader opens
// and again at every request (so each detect or login sees what other
// processes wrote), and every write goes to the file before it counts.
#ifndef RFSIM_FIELD_H
#define RFSIM_FIELD_H

#include <cstdint>
#include <string>

#include "mifare/card.h"

namespace rfsim {

// UID of the card in memory and of a card file created fresh.
inline constexpr std::uint8_t kFactoryUid[mifare::UID_SIZE] = {0x12, 0x34, 0x56, 0x78};

class Field {
  public:
    // Takes the card path (null or empty: the in-memory card) and whether the
    // field is empty. Returns 0 or an rf_init error; on failure the field is
    // as it was and *error says why.
    int configure(const char *card_path, bool no_card, std::string *error);

    bool empty() const noexcept { return no_card_; }
    mifare::Card &card() noexcept { return card_; }

    // Before a request: the card as it is now in the card file, idle.
    int refresh() noexcept;
    // A write through the card's access rules that is on disk before it
    // counts. On failure the card is unchanged.
    int write_block(int block, const std::uint8_t data[mifare::BLOCK_SIZE]) noexcept;

  private:
    mifare::Card card_{mifare::CardType::Classic1K, kFactoryUid};
    std::string path_;
    bool no_card_ = false;
};

Field &field() noexcept;

// rf_init reads the settings at every open, so a changed RFSIM_* counts
// from the next open on. Each returns 0 or an rf_init error, explained in one
// line on stderr.
int configure_faults_from_environment() noexcept;  // RFSIM_FAULT
int configure_field_from_environment() noexcept;   // RFSIM_NO_CARD, RFSIM_CARD

// One line on stderr, prefixed "rfsim: ".
void complain(const std::string &message) noexcept;

}  // namespace rfsim

#endif

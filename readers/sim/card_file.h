// The card file: a raw .mfd image (1024 or 4096 bytes, blocks from 0, no
// header). Readers take a shared lock on "<file>.lock", writers an exclusive
// one; a write replaces the file atomically with "<file>.tmp".
#ifndef RFSIM_CARD_FILE_H
#define RFSIM_CARD_FILE_H

#include <cstdint>
#include <string>

#include "mifare/card.h"

namespace rfsim {

// Loads the card in the file; a missing file is first created as a
// factory-fresh 1K card. RF_OK, or RF_ERR_IO with *error set; a file that
// exists is never changed here.
int load_card_file(const std::string &path, mifare::Card *out, std::string *error);

// Stores one block of `card` into the file as it is now on disk, so writes
// of other processes to other blocks survive. The file must still hold the
// same card (same size and UID): otherwise the card has left the field and
// the result is RF_ERR_COMM. RF_ERR_IO when the file can't be written.
int store_block(const std::string &path, const mifare::Card &card, int block, std::string *error);

}  // namespace rfsim

#endif

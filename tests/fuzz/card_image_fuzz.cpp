// The card-file loader's parsing: any bytes as a card image. The simulated
// reader's loader reads the file and hands the bytes to Card::from_image; a
// loaded card must round-trip and then survive every command on every block,
// whatever keys and access bits (malformed ones included) the image holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "mifare/card.h"

using mifare::Card;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Inputs of any length go to the parser; short ones are also padded to
    // each real size, so the fuzzer's few bytes become whole cards.
    std::vector<std::vector<uint8_t>> images{std::vector<uint8_t>(data, data + size)};
    for (size_t real : {mifare::IMAGE_SIZE_1K, mifare::IMAGE_SIZE_4K}) {
        if (size == real) continue;
        std::vector<uint8_t> padded(real, 0);
        if (size > 0) std::memcpy(padded.data(), data, size < real ? size : real);
        images.push_back(padded);
    }
    for (const auto &bytes : images) {
        const uint8_t uid[mifare::UID_SIZE] = {};
        Card card(mifare::CardType::Classic1K, uid);
        const rf_status st = Card::from_image(bytes.empty() ? nullptr : bytes.data(), bytes.size(), &card);
        const bool real_size = bytes.size() == mifare::IMAGE_SIZE_1K || bytes.size() == mifare::IMAGE_SIZE_4K;
        if ((st == RF_OK) != real_size) std::abort();
        if (st != RF_OK) continue;

        std::unique_ptr<uint8_t[]> back(new uint8_t[card.image_size()]);
        if (card.export_image(back.get(), card.image_size()) != RF_OK) std::abort();
        if (std::memcmp(back.get(), bytes.data(), bytes.size()) != 0) std::abort();

        uint8_t card_uid[mifare::UID_SIZE];
        std::unique_ptr<uint8_t[]> block(new uint8_t[mifare::BLOCK_SIZE]);
        const int sectors = mifare::sector_count(card.type());
        for (int s = 0; s < sectors; ++s) {
            const int trailer = mifare::trailer_of_sector(card.type(), s);
            for (mifare::KeyType key_type : {mifare::KeyType::A, mifare::KeyType::B}) {
                // The stored keys themselves: A at bytes 0-5, B at 10-15.
                const uint8_t *key = bytes.data() + trailer * mifare::BLOCK_SIZE +
                                     (key_type == mifare::KeyType::A ? 0 : 10);
                card.reset();
                if (card.request(mifare::REQUEST_ALL) != RF_OK || card.anticollision(card_uid) != RF_OK ||
                    card.select(card_uid) != RF_OK)
                    std::abort();
                if (card.authenticate(mifare::first_block_of_sector(card.type(), s), key_type, key) != RF_OK)
                    continue;
                const int first = mifare::first_block_of_sector(card.type(), s);
                for (int b = first; b < first + mifare::blocks_in_sector(card.type(), s); ++b) {
                    if (card.read_block(b, block.get()) == RF_OK && b != 0) {
                        block[0] ^= 0x5A;
                        (void)card.write_block(b, block.get());
                    }
                }
            }
        }
        mifare::SectorConditions access;
        for (int s = 0; s < sectors; ++s) {
            (void)mifare::decode_sector(card.type(), s, bytes.data() + mifare::trailer_of_sector(card.type(), s) * 16,
                                        &access);
        }
    }
    return 0;
}

// The virtual card's command handler: any sequence of controls and APDUs, of
// any bytes and lengths, in any order. Every response must fit the documented
// RESPONSE_MAX bytes (the buffer here is exactly that, on the heap), carry at
// least a status word, and every APDU must be counted.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "mifare/card.h"
#include "virtual_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const uint8_t uid[mifare::UID_SIZE] = {0x12, 0x34, 0x56, 0x78};
    // A 4K card reaches the 16-block sectors too; the first input byte picks.
    const bool big = size > 0 && (data[0] & 1);
    vcard::VirtualCard card(mifare::Card(big ? mifare::CardType::Classic4K : mifare::CardType::Classic1K, uid));
    std::unique_ptr<uint8_t[]> out(new uint8_t[vcard::RESPONSE_MAX]);
    size_t at = size > 0 ? 1 : 0;
    unsigned long apdus = 0;
    // Messages: a length byte, then that many bytes (cut at the input's end).
    // Length 1 is a control, as on the vpcd link; anything else an APDU.
    while (at < size) {
        size_t n = data[at++];
        if (n > size - at) n = size - at;
        // An exact-size copy, so a read past the message is reported.
        std::vector<uint8_t> message(data + at, data + at + n);
        at += n;
        if (n == 1) {
            const size_t got = card.control(message[0], out.get());
            if (got > vcard::RESPONSE_MAX) std::abort();
            continue;
        }
        const size_t got = card.apdu(message.empty() ? nullptr : message.data(), n, out.get());
        ++apdus;
        if (got < 2 || got > vcard::RESPONSE_MAX) std::abort();
    }
    if (card.counts().apdus != apdus) std::abort();
    return 0;
}

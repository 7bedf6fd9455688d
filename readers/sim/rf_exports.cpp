// The twelve rf_ entry points of the simulated reader.
//
// Each reader handle keeps its own loaded keys; all handles share the one
// card in the simulated field (see field.h). Like Vesk_RD itself, the reader
// serves one call at a time.
#include <cstdint>
#include <cstring>

#include "faults.h"
#include "field.h"
#include "frame/rf_api.h"
#include "mifare/card.h"
#include "rf_status.h"

#ifdef _WIN32
#define RFSIM_EXPORT extern "C"
#else
#define RFSIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using mifare::Card;
using mifare::CardType;
using mifare::KeyType;

constexpr int kMaxHandles = 16;
constexpr int kMaxSectors = 40;  // a 4K card; a 1K card uses the first 16
constexpr unsigned char kKeyModeA = 0;
constexpr unsigned char kKeyModeB = 4;

struct Reader {
    int handle = 0;  // 0: slot free
    int port = -1;
    bool key_loaded[2][kMaxSectors] = {};
    std::uint8_t keys[2][kMaxSectors][mifare::KEY_SIZE] = {};
};

Reader g_readers[kMaxHandles];
int g_last_handle = 0;

Reader *find(int handle) noexcept {
    if (handle <= 0) return nullptr;
    for (Reader &r : g_readers)
        if (r.handle == handle) return &r;
    return nullptr;
}

int next_handle() noexcept {
    for (;;) {
        g_last_handle = g_last_handle == 0x7FFFFFFF ? 1 : g_last_handle + 1;
        if (find(g_last_handle) == nullptr) return g_last_handle;
    }
}

bool valid_baud(int baud) noexcept {
    for (int b : {9600, 19200, 38400, 57600, 115200})
        if (b == baud) return true;
    return false;
}

// Key mode 0 is key A, 4 key B; the card model numbers them 0 and 1.
bool key_slot(unsigned char mode, int *slot) noexcept {
    if (mode == kKeyModeA) *slot = 0;
    else if (mode == kKeyModeB) *slot = 1;
    else return false;
    return true;
}

// The card's serial value: UID bytes least significant first, so that
// Vesk_RD, which hands the value out least significant byte first, gives the
// host the UID in the card's own order.
unsigned int serial_of(const std::uint8_t uid[mifare::UID_SIZE]) noexcept {
    return static_cast<unsigned int>(uid[0]) | static_cast<unsigned int>(uid[1]) << 8 |
           static_cast<unsigned int>(uid[2]) << 16 | static_cast<unsigned int>(uid[3]) << 24;
}

void uid_of(unsigned int serial, std::uint8_t uid[mifare::UID_SIZE]) noexcept {
    for (int i = 0; i < mifare::UID_SIZE; ++i) uid[i] = static_cast<std::uint8_t>(serial >> (8 * i));
}

// Common gate of every entry point but rf_init: the injected fault of this
// call, if any, then the handle. Returns RF_OK when the call may proceed.
int gate(vesk::EntryIndex entry, int handle, Reader **reader) noexcept {
    int injected = 0;
    if (rfsim::faults().take(entry, &injected)) return injected;
    *reader = find(handle);
    return *reader ? RF_OK : RF_ERR_HANDLE;
}

int do_request(unsigned char mode, unsigned int *card_type) noexcept {
    if (mode != mifare::REQUEST_IDLE && mode != mifare::REQUEST_ALL) return RF_ERR_ARG;
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    // A halted card stays silent to REQA: nothing to refresh for it.
    if (field.card().state() == mifare::CardState::Halt && mode != mifare::REQUEST_ALL) return RF_ERR_HALTED;
    const int refreshed = field.refresh();
    if (refreshed != RF_OK) return refreshed;
    std::uint8_t atqa[2] = {0, 0};
    const int st = field.card().request(mode, atqa);
    if (st != RF_OK) return st;
    if (card_type) *card_type = static_cast<unsigned int>(atqa[0]) | static_cast<unsigned int>(atqa[1]) << 8;
    return RF_OK;
}

int do_anticoll(unsigned char bcnt, unsigned int *serial) noexcept {
    if (bcnt != 0) return RF_ERR_ARG;
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    std::uint8_t uid[mifare::UID_SIZE];
    const int st = field.card().anticollision(uid);
    if (st != RF_OK) return st;
    *serial = serial_of(uid);
    return RF_OK;
}

int do_select(unsigned int serial, unsigned char *answer) noexcept {
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    std::uint8_t uid[mifare::UID_SIZE];
    uid_of(serial, uid);
    std::uint8_t sak = 0;
    const int st = field.card().select(uid, &sak);
    if (st != RF_OK) return st;
    *answer = sak;
    return RF_OK;
}

}  // namespace

RFSIM_EXPORT int VESK_CALL rf_init(int port, int baud) noexcept {
    const int faults_read = rfsim::configure_faults_from_environment();
    if (faults_read != 0) return faults_read;
    int injected = 0;
    if (rfsim::faults().take(vesk::kRfInit, &injected)) return injected;
    if (port < 0 || port > 255) return RF_INIT_BAD_PORT;
    if (!valid_baud(baud)) return RF_INIT_BAD_BAUD;
    const int field_read = rfsim::configure_field_from_environment();
    if (field_read != 0) return field_read;
    // Opening a port again replaces its earlier handle, as reopening a
    // serial port would; a host that reconnects without closing (Vesk_RD
    // does) never runs out of handles.
    Reader *slot = nullptr;
    for (Reader &r : g_readers)
        if (r.handle != 0 && r.port == port) slot = &r;
    if (!slot)
        for (Reader &r : g_readers)
            if (r.handle == 0) {
                slot = &r;
                break;
            }
    if (!slot) return RF_INIT_BUSY;
    *slot = Reader{};
    slot->handle = next_handle();
    slot->port = port;
    return slot->handle;
}

RFSIM_EXPORT int VESK_CALL rf_exit(int handle) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfExit, handle, &r);
    if (st != RF_OK) return st;
    *r = Reader{};
    return RF_OK;
}

RFSIM_EXPORT int VESK_CALL rf_beep(int handle, int msec) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfBeep, handle, &r);
    if (st != RF_OK) return st;
    // The simulated buzzer is silent and takes no time.
    return msec < 0 ? RF_ERR_ARG : RF_OK;
}

RFSIM_EXPORT int VESK_CALL rf_request(int handle, unsigned char mode, unsigned int *card_type) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfRequest, handle, &r);
    if (st != RF_OK) return st;
    if (!card_type) return RF_ERR_ARG;
    return do_request(mode, card_type);
}

RFSIM_EXPORT int VESK_CALL rf_anticoll(int handle, unsigned char bcnt, unsigned int *serial) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfAnticoll, handle, &r);
    if (st != RF_OK) return st;
    if (!serial) return RF_ERR_ARG;
    return do_anticoll(bcnt, serial);
}

RFSIM_EXPORT int VESK_CALL rf_select(int handle, unsigned int serial, unsigned char *answer) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfSelect, handle, &r);
    if (st != RF_OK) return st;
    if (!answer) return RF_ERR_ARG;
    return do_select(serial, answer);
}

RFSIM_EXPORT int VESK_CALL rf_card(int handle, unsigned char mode, unsigned int *serial) noexcept {
    Reader *r = nullptr;
    int st = gate(vesk::kRfCard, handle, &r);
    if (st != RF_OK) return st;
    if (!serial) return RF_ERR_ARG;
    unsigned int type = 0, value = 0;
    unsigned char sak = 0;
    if ((st = do_request(mode, &type)) != RF_OK) return st;
    if ((st = do_anticoll(0, &value)) != RF_OK) return st;
    if ((st = do_select(value, &sak)) != RF_OK) return st;
    *serial = value;
    return RF_OK;
}

RFSIM_EXPORT int VESK_CALL rf_halt(int handle) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfHalt, handle, &r);
    if (st != RF_OK) return st;
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    return field.card().halt();
}

RFSIM_EXPORT int VESK_CALL rf_load_key(int handle, unsigned char mode, int sector, const unsigned char *key) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfLoadKey, handle, &r);
    if (st != RF_OK) return st;
    int slot = 0;
    if (!key || !key_slot(mode, &slot) || sector < 0 || sector >= kMaxSectors) return RF_ERR_ARG;
    std::memcpy(r->keys[slot][sector], key, mifare::KEY_SIZE);
    r->key_loaded[slot][sector] = true;
    return RF_OK;
}

RFSIM_EXPORT int VESK_CALL rf_authentication(int handle, unsigned char mode, int sector) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfAuthentication, handle, &r);
    if (st != RF_OK) return st;
    int slot = 0;
    if (!key_slot(mode, &slot) || sector < 0 || sector >= kMaxSectors) return RF_ERR_ARG;
    if (!r->key_loaded[slot][sector]) return RF_ERR_NO_KEY;
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    Card &card = field.card();
    if (!mifare::valid_sector(card.type(), sector)) return RF_ERR_ARG;
    return card.authenticate(mifare::first_block_of_sector(card.type(), sector), slot == 0 ? KeyType::A : KeyType::B,
                             r->keys[slot][sector]);
}

RFSIM_EXPORT int VESK_CALL rf_read(int handle, unsigned char block, unsigned char *data) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfRead, handle, &r);
    if (st != RF_OK) return st;
    if (!data) return RF_ERR_ARG;
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    return field.card().read_block(block, data);
}

RFSIM_EXPORT int VESK_CALL rf_write(int handle, unsigned char block, const unsigned char *data) noexcept {
    Reader *r = nullptr;
    const int st = gate(vesk::kRfWrite, handle, &r);
    if (st != RF_OK) return st;
    if (!data) return RF_ERR_ARG;
    rfsim::Field &field = rfsim::field();
    if (field.empty()) return RF_ERR_NO_CARD;
    return field.write_block(block, data);
}

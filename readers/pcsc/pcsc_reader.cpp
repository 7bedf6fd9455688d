// RfReader over PC/SC: the twelve rf_ entry points, spoken as PC/SC
// storage-card commands to a contactless reader through pcsc-lite (Linux)
// or winscard (Windows). Only the PC/SC API and standard C++ are used here.
//
// Commands per entry point (nothing else is ever sent):
//   rf_anticoll        one Get UID
//   rf_authentication  one General Authenticate, preceded by one Load Keys
//                      only when the reader's key slot does not already hold
//                      that key in this card session
//   rf_read            one Read Binary
//   rf_write           one Update Binary
//   every other entry  none (PC/SC calls only)
// rf_load_key keeps the key here: a login that loads the same key for every
// sector then costs one Load Keys per card session instead of one per sector.
#include <chrono>
#include <cstring>
#include <new>

#include "frame/rf_api.h"
#include "mifare/card.h"
#include "pcsc_api.h"
#include "rf_status.h"
#include "storage_card.h"

#ifdef _WIN32
#  define RF_EXPORT extern "C"
#else
#  define RF_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int kMaxHandles = 8;
// Long enough for a card laid on the reader just before the call, short
// enough that a host polling for a card stays responsive.
constexpr long kRequestWaitMs = 1000;
constexpr int kMaxSectors = 40;
constexpr std::size_t kMaxReaderName = 256;
constexpr DWORD kProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;

constexpr unsigned char kKeyModeA = 0;
constexpr unsigned char kKeyModeB = 4;

enum class Command { GetUid, LoadKeys, Authenticate, Read, Update };

struct Reader {
    bool open;
    int port;
    SCARDCONTEXT context;
    char name[kMaxReaderName];

    // The card session: from rf_request's connect to rf_halt, rf_exit, or
    // the first sign that the card has gone.
    bool connected;
    SCARDHANDLE card;
    DWORD protocol;
    mifare::CardType type;
    // A refused command leaves a real card idle until it is activated again.
    bool reset_pending;
    bool have_uid;
    unsigned int serial;
    bool selected;
    int auth_sector;

    bool key_loaded[2][kMaxSectors];
    std::uint8_t keys[2][kMaxSectors][mifare::KEY_SIZE];
    // What the reader's volatile key slots 0 (key A) and 1 (key B) hold.
    bool slot_valid[2];
    std::uint8_t slot_key[2][mifare::KEY_SIZE];
};

Reader g_readers[kMaxHandles];

Reader *reader_of(int handle)
{
    if (handle < 1 || handle > kMaxHandles || !g_readers[handle - 1].open)
        return nullptr;
    return &g_readers[handle - 1];
}

int key_index(unsigned char mode)
{
    return mode == kKeyModeA ? 0 : mode == kKeyModeB ? 1 : -1;
}

void forget_card(Reader &r)
{
    r.have_uid = false;
    r.selected = false;
    r.auth_sector = -1;
}

void end_session(Reader &r, DWORD disposition)
{
    if (r.connected)
        SCardDisconnect(r.card, disposition);
    r.connected = false;
    r.reset_pending = false;
    r.slot_valid[0] = r.slot_valid[1] = false;
    forget_card(r);
}

// The connected card's ATR; false when the card is no longer reachable.
bool card_atr(Reader &r, std::uint8_t *atr, DWORD *atr_size)
{
    char name[kMaxReaderName];
    DWORD name_size = sizeof name;
    DWORD state = 0, protocol = 0;
    return pcsc_Status(r.card, name, &name_size, &state, &protocol, atr, atr_size) == SCARD_S_SUCCESS;
}

// Accepts the connected card if it is a Mifare Classic 1K or 4K.
rf_status identify(Reader &r)
{
    std::uint8_t atr[64];
    DWORD atr_size = sizeof atr;
    if (!card_atr(r, atr, &atr_size)) {
        end_session(r, SCARD_LEAVE_CARD);
        return RF_ERR_NO_CARD;
    }
    mifare::CardType type;
    if (!pcsc::classic_type_from_atr(atr, atr_size, &type)) {
        end_session(r, SCARD_LEAVE_CARD);
        return RF_ERR_CARD_TYPE;
    }
    r.type = type;
    return RF_OK;
}

// Waits up to kRequestWaitMs for a responsive card in the reader.
rf_status wait_for_card(Reader &r)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    pcsc_ReaderState state;
    std::memset(&state, 0, sizeof state);
    state.szReader = r.name;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    DWORD timeout = 0;  // the first call only reports the present state
    for (;;) {
        const LONG rv = pcsc_GetStatusChange(r.context, timeout, &state, 1);
        if (rv == SCARD_E_TIMEOUT)
            return RF_ERR_NO_CARD;
        if (rv != SCARD_S_SUCCESS)
            return RF_ERR_COMM;
        const DWORD event = state.dwEventState;
        if (event & (SCARD_STATE_UNKNOWN | SCARD_STATE_IGNORE))
            return RF_ERR_COMM;  // the reader itself is gone
        if ((event & SCARD_STATE_PRESENT) && !(event & SCARD_STATE_MUTE))
            return RF_OK;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0)
            return RF_ERR_NO_CARD;
        timeout = static_cast<DWORD>(left);
        state.dwCurrentState = event & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    }
}

rf_status connect_card(Reader &r)
{
    rf_status st = wait_for_card(r);
    if (st != RF_OK)
        return st;
    const LONG rv = pcsc_Connect(r.context, r.name, SCARD_SHARE_SHARED, kProtocols, &r.card, &r.protocol);
    if (rv != SCARD_S_SUCCESS) {
        // The card may have left between the wait and the connect.
        if (rv == SCARD_E_NO_SMARTCARD || rv == SCARD_W_REMOVED_CARD || rv == SCARD_W_UNRESPONSIVE_CARD ||
            rv == SCARD_W_UNPOWERED_CARD)
            return RF_ERR_NO_CARD;
        return RF_ERR_COMM;
    }
    r.connected = true;
    r.reset_pending = false;
    r.slot_valid[0] = r.slot_valid[1] = false;
    return identify(r);
}

// Keeps the current session if its card is still there, activating the card
// anew when an earlier command was refused.
void check_session(Reader &r)
{
    if (!r.connected)
        return;
    if (r.reset_pending) {
        if (SCardReconnect(r.card, SCARD_SHARE_SHARED, kProtocols, SCARD_RESET_CARD, &r.protocol) !=
            SCARD_S_SUCCESS) {
            end_session(r, SCARD_LEAVE_CARD);
            return;
        }
        r.reset_pending = false;
        r.slot_valid[0] = r.slot_valid[1] = false;
        return;
    }
    std::uint8_t atr[64];
    DWORD atr_size = sizeof atr;
    if (!card_atr(r, atr, &atr_size))
        end_session(r, SCARD_LEAVE_CARD);
}

// Status words as rf_status values. A refused read or write means "not
// authenticated" unless this session authenticated the block's sector, where
// it can only be the access conditions.
rf_status status_of(std::uint16_t sw, Command command, const Reader &r, int block)
{
    switch (sw) {
    case pcsc::SW_OK:
        return RF_OK;
    case pcsc::SW_NOT_FOUND:
    case pcsc::SW_WRONG_P1P2:
        return RF_ERR_ARG;
    case pcsc::SW_UNSUPPORTED:
    case pcsc::SW_INS_UNKNOWN:
    case pcsc::SW_CLA_UNKNOWN:
    case pcsc::SW_INCOMPATIBLE:
        return RF_ERR_CARD_TYPE;
    case pcsc::SW_FAILED:
    case pcsc::SW_SECURITY:
    case pcsc::SW_NOT_ALLOWED:
        switch (command) {
        case Command::LoadKeys:
        case Command::Authenticate:
            return RF_ERR_AUTH;
        case Command::Read:
        case Command::Update:
            return mifare::sector_of_block(r.type, block) == r.auth_sector ? RF_ERR_ACCESS : RF_ERR_NOT_AUTH;
        case Command::GetUid:
            break;
        }
        break;
    default:
        break;
    }
    return RF_ERR_COMM;
}

// Sends one APDU. On success copies exactly `want` response bytes (any number
// of at least `want` when `at_least`) to `data`. A transport failure, or an
// answer that fits no storage-card response, ends the session.
rf_status exchange(Reader &r, const std::uint8_t *apdu, DWORD size, Command command, int block,
                   std::uint8_t *data = nullptr, DWORD want = 0, bool at_least = false)
{
    std::uint8_t response[258];
    DWORD got = sizeof response;
    const SCARD_IO_REQUEST *pci = r.protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    if (SCardTransmit(r.card, pci, apdu, size, nullptr, response, &got) != SCARD_S_SUCCESS || got < 2) {
        end_session(r, SCARD_LEAVE_CARD);
        return RF_ERR_COMM;
    }
    const std::uint16_t sw = static_cast<std::uint16_t>(response[got - 2] << 8 | response[got - 1]);
    const rf_status st = status_of(sw, command, r, block);
    if (st != RF_OK) {
        if (command != Command::GetUid)
            r.reset_pending = true;
        return st;
    }
    const DWORD body = got - 2;
    if (body < want || (!at_least && body != want)) {
        end_session(r, SCARD_LEAVE_CARD);
        return RF_ERR_COMM;
    }
    if (data)
        std::memcpy(data, response, want);
    return RF_OK;
}

// Walks the reader list to entry `port`. The list may grow between sizing
// and reading it, hence the retries.
int find_reader(SCARDCONTEXT context, int port, char *name)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = 0;
        LONG rv = pcsc_ListReaders(context, nullptr, nullptr, &size);
        if (rv == SCARD_E_NO_READERS_AVAILABLE)
            return RF_INIT_NO_READER;
        if (rv != SCARD_S_SUCCESS)
            return RF_INIT_NO_SERVICE;
        char *list = new (std::nothrow) char[size + 1];
        if (!list)
            return RF_INIT_BUSY;
        rv = pcsc_ListReaders(context, nullptr, list, &size);
        if (rv == SCARD_E_INSUFFICIENT_BUFFER) {
            delete[] list;
            continue;
        }
        if (rv != SCARD_S_SUCCESS) {
            delete[] list;
            return rv == SCARD_E_NO_READERS_AVAILABLE ? RF_INIT_NO_READER : RF_INIT_NO_SERVICE;
        }
        list[size] = '\0';
        int result = RF_INIT_NO_READER;
        int index = 0;
        for (const char *p = list; p < list + size && *p; p += std::strlen(p) + 1, ++index) {
            result = RF_INIT_BAD_PORT;
            if (index == port) {
                const std::size_t length = std::strlen(p);
                if (length < kMaxReaderName) {
                    std::memcpy(name, p, length + 1);
                    result = 0;
                }
                break;
            }
        }
        delete[] list;
        return result;
    }
    return RF_INIT_NO_SERVICE;
}

}  // namespace

RF_EXPORT int VESK_CALL rf_exit(int handle);

RF_EXPORT int VESK_CALL rf_init(int port, int baud)
{
    (void)baud;  // no serial line under PC/SC
    // Opening a port again replaces its earlier handle, as reopening a serial
    // port would: a host that reconnects without closing (Vesk_RD does)
    // never runs out of handles.
    int slot = 0;
    while (slot < kMaxHandles && !(g_readers[slot].open && g_readers[slot].port == port))
        ++slot;
    if (slot < kMaxHandles)
        rf_exit(slot + 1);
    slot = 0;
    while (slot < kMaxHandles && g_readers[slot].open)
        ++slot;
    if (slot == kMaxHandles)
        return RF_INIT_BUSY;
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return RF_INIT_NO_SERVICE;
    char name[kMaxReaderName];
    const int found = port < 0 ? RF_INIT_BAD_PORT : find_reader(context, port, name);
    if (found != 0) {
        SCardReleaseContext(context);
        return found;
    }
    Reader &r = g_readers[slot];
    std::memset(&r, 0, sizeof r);
    r.open = true;
    r.port = port;
    r.context = context;
    std::memcpy(r.name, name, sizeof name);
    forget_card(r);
    return slot + 1;
}

RF_EXPORT int VESK_CALL rf_exit(int handle)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    end_session(*r, SCARD_LEAVE_CARD);
    SCardReleaseContext(r->context);
    std::memset(r, 0, sizeof *r);
    return RF_OK;
}

// PC/SC has no standard buzzer command.
RF_EXPORT int VESK_CALL rf_beep(int handle, int msec)
{
    (void)msec;
    return reader_of(handle) ? RF_OK : RF_ERR_HANDLE;
}

RF_EXPORT int VESK_CALL rf_request(int handle, unsigned char mode, unsigned int *card_type)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    if (mode != mifare::REQUEST_IDLE && mode != mifare::REQUEST_ALL)
        return RF_ERR_ARG;
    forget_card(*r);
    check_session(*r);
    if (!r->connected) {
        const rf_status st = connect_card(*r);
        if (st != RF_OK)
            return st;
    }
    if (card_type)
        *card_type = pcsc::atqa_of(r->type);
    return RF_OK;
}

RF_EXPORT int VESK_CALL rf_anticoll(int handle, unsigned char bcnt, unsigned int *serial)
{
    (void)bcnt;
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    if (!r->connected)
        return RF_ERR_NO_CARD;
    r->have_uid = false;
    r->selected = false;
    r->auth_sector = -1;
    const std::uint8_t get_uid[] = {pcsc::CLA_STORAGE, pcsc::INS_GET_DATA, 0x00, 0x00, 0x00};
    std::uint8_t uid[mifare::UID_SIZE];
    // Longer (7- and 10-byte) UIDs are known by their first four bytes.
    const rf_status st = exchange(*r, get_uid, sizeof get_uid, Command::GetUid, -1, uid, mifare::UID_SIZE, true);
    if (st != RF_OK)
        return st;
    r->serial = uid[0] | static_cast<unsigned int>(uid[1]) << 8 | static_cast<unsigned int>(uid[2]) << 16 |
                static_cast<unsigned int>(uid[3]) << 24;
    r->have_uid = true;
    if (serial)
        *serial = r->serial;
    return RF_OK;
}

RF_EXPORT int VESK_CALL rf_select(int handle, unsigned int serial, unsigned char *answer)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    if (!r->connected)
        return RF_ERR_NO_CARD;
    if (!r->have_uid || serial != r->serial)
        return RF_ERR_SELECT;
    r->selected = true;
    r->auth_sector = -1;
    if (answer)
        *answer = r->type == mifare::CardType::Classic4K ? 0x18 : 0x08;
    return RF_OK;
}

RF_EXPORT int VESK_CALL rf_card(int handle, unsigned char mode, unsigned int *serial)
{
    unsigned int value = 0;
    int st = rf_request(handle, mode, nullptr);
    if (st == RF_OK)
        st = rf_anticoll(handle, 0, &value);
    if (st == RF_OK)
        st = rf_select(handle, value, nullptr);
    if (st == RF_OK && serial)
        *serial = value;
    return st;
}

RF_EXPORT int VESK_CALL rf_load_key(int handle, unsigned char mode, int sector, const unsigned char *key)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    const int k = key_index(mode);
    if (k < 0 || !key || sector < 0 || sector >= kMaxSectors)
        return RF_ERR_ARG;
    std::memcpy(r->keys[k][sector], key, mifare::KEY_SIZE);
    r->key_loaded[k][sector] = true;
    return RF_OK;
}

RF_EXPORT int VESK_CALL rf_authentication(int handle, unsigned char mode, int sector)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    const int k = key_index(mode);
    if (k < 0 || sector < 0 || sector >= kMaxSectors)
        return RF_ERR_ARG;
    if (!r->connected)
        return RF_ERR_NO_CARD;
    if (!r->selected)
        return RF_ERR_SELECT;
    if (!mifare::valid_sector(r->type, sector))
        return RF_ERR_ARG;
    if (!r->key_loaded[k][sector])
        return RF_ERR_NO_KEY;
    r->auth_sector = -1;
    const std::uint8_t slot = static_cast<std::uint8_t>(k);
    const std::uint8_t *key = r->keys[k][sector];
    if (!r->slot_valid[k] || std::memcmp(r->slot_key[k], key, mifare::KEY_SIZE) != 0) {
        std::uint8_t load[5 + mifare::KEY_SIZE] = {pcsc::CLA_STORAGE, pcsc::INS_LOAD_KEYS, 0x00, slot,
                                                   mifare::KEY_SIZE};
        std::memcpy(load + 5, key, mifare::KEY_SIZE);
        r->slot_valid[k] = false;
        const rf_status st = exchange(*r, load, sizeof load, Command::LoadKeys, -1);
        if (st != RF_OK)
            return st;
        std::memcpy(r->slot_key[k], key, mifare::KEY_SIZE);
        r->slot_valid[k] = true;
    }
    const int block = mifare::first_block_of_sector(r->type, sector);
    const std::uint8_t authenticate[5 + pcsc::AUTH_DATA_SIZE] = {
        pcsc::CLA_STORAGE, pcsc::INS_GENERAL_AUTHENTICATE, 0x00, 0x00, pcsc::AUTH_DATA_SIZE,
        pcsc::AUTH_VERSION, 0x00, static_cast<std::uint8_t>(block),
        k == 0 ? pcsc::AUTH_KEY_A : pcsc::AUTH_KEY_B, slot};
    const rf_status st = exchange(*r, authenticate, sizeof authenticate, Command::Authenticate, block);
    if (st != RF_OK) {
        // A reader that refuses may have lost the key; load it again next time.
        r->slot_valid[k] = false;
        return st;
    }
    r->auth_sector = sector;
    return RF_OK;
}

RF_EXPORT int VESK_CALL rf_read(int handle, unsigned char block, unsigned char *data)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    if (!data)
        return RF_ERR_ARG;
    if (!r->connected)
        return RF_ERR_NO_CARD;
    if (!mifare::valid_block(r->type, block))
        return RF_ERR_ARG;
    const std::uint8_t read[] = {pcsc::CLA_STORAGE, pcsc::INS_READ_BINARY, 0x00, block, mifare::BLOCK_SIZE};
    return exchange(*r, read, sizeof read, Command::Read, block, data, mifare::BLOCK_SIZE);
}

RF_EXPORT int VESK_CALL rf_write(int handle, unsigned char block, const unsigned char *data)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    if (!data)
        return RF_ERR_ARG;
    if (!r->connected)
        return RF_ERR_NO_CARD;
    if (!mifare::valid_block(r->type, block))
        return RF_ERR_ARG;
    std::uint8_t update[5 + mifare::BLOCK_SIZE] = {pcsc::CLA_STORAGE, pcsc::INS_UPDATE_BINARY, 0x00, block,
                                                   mifare::BLOCK_SIZE};
    std::memcpy(update + 5, data, mifare::BLOCK_SIZE);
    return exchange(*r, update, sizeof update, Command::Update, block);
}

// Ends the card session; the card is reset so no authentication survives.
RF_EXPORT int VESK_CALL rf_halt(int handle)
{
    Reader *r = reader_of(handle);
    if (!r)
        return RF_ERR_HANDLE;
    if (!r->connected)
        return RF_ERR_NO_CARD;
    end_session(*r, SCARD_RESET_CARD);
    return RF_OK;
}

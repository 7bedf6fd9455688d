#include "virtual_card.h"

#include <cstdio>
#include <cstring>

#include "storage_card.h"

namespace vcard {

namespace {

// Card statuses as a reader reports them for a refused block command.
std::uint16_t block_status(rf_status st)
{
    switch (st) {
    case RF_OK:
        return pcsc::SW_OK;
    case RF_ERR_ARG:
        return pcsc::SW_NOT_FOUND;
    case RF_ERR_ACCESS:
        return pcsc::SW_NOT_ALLOWED;
    case RF_ERR_NOT_AUTH:
    case RF_ERR_SELECT:
    case RF_ERR_HALTED:
        return pcsc::SW_SECURITY;
    default:
        return pcsc::SW_UNKNOWN;
    }
}

int block_of(const std::uint8_t *a) { return a[2] << 8 | a[3]; }

}  // namespace

std::string format_counts(const Counts &c)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "apdus=%lu\nget_uid=%lu\nload_keys=%lu\nauthenticate=%lu\nread_binary=%lu\n"
                  "update_binary=%lu\nother=%lu\npower_on=%lu\npower_off=%lu\nreset=%lu\nget_atr=%lu\n",
                  c.apdus, c.get_uid, c.load_keys, c.authenticate, c.read_binary, c.update_binary, c.other,
                  c.power_on, c.power_off, c.reset, c.get_atr);
    return text;
}

VirtualCard::VirtualCard(const mifare::Card &card) noexcept : card_(card) { card_.reset(); }

// What a reader does when the card enters its field or is reset: wake it,
// read its UID and select it, so storage-card commands find it active.
void VirtualCard::activate() noexcept
{
    card_.reset();
    std::uint8_t uid[mifare::UID_SIZE];
    if (card_.request(mifare::REQUEST_ALL) == RF_OK && card_.anticollision(uid) == RF_OK)
        card_.select(uid);
}

bool VirtualCard::set_atr(const std::uint8_t *atr, std::size_t size) noexcept
{
    if (!atr || size == 0 || size > sizeof atr_)
        return false;
    std::memcpy(atr_, atr, size);
    atr_size_ = size;
    return true;
}

std::size_t VirtualCard::control(std::uint8_t code, std::uint8_t *out) noexcept
{
    switch (code) {
    case CTRL_POWER_OFF:
        ++counts_.power_off;
        card_.reset();
        return 0;
    case CTRL_POWER_ON:
        ++counts_.power_on;
        activate();
        return 0;
    case CTRL_RESET:
        ++counts_.reset;
        activate();
        return 0;
    case CTRL_GET_ATR:
        ++counts_.get_atr;
        if (atr_size_ > 0) {
            std::memcpy(out, atr_, atr_size_);
            return atr_size_;
        }
        pcsc::build_atr(card_.type(), out);
        return pcsc::ATR_SIZE;
    default:
        return 0;
    }
}

std::size_t VirtualCard::apdu(const std::uint8_t *a, std::size_t size, std::uint8_t *out) noexcept
{
    ++counts_.apdus;
    std::size_t n = 0;
    std::uint16_t sw;
    if (!a || size < 4) {
        ++counts_.other;
        sw = pcsc::SW_WRONG_LENGTH;
    } else if (a[0] != pcsc::CLA_STORAGE) {
        ++counts_.other;
        sw = pcsc::SW_CLA_UNKNOWN;
    } else {
        switch (a[1]) {
        case pcsc::INS_GET_DATA:
            ++counts_.get_uid;
            sw = get_uid(a, size, out, &n);
            break;
        case pcsc::INS_LOAD_KEYS:
            ++counts_.load_keys;
            sw = load_keys(a, size);
            break;
        case pcsc::INS_GENERAL_AUTHENTICATE:
            ++counts_.authenticate;
            sw = authenticate(a, size);
            break;
        case pcsc::INS_READ_BINARY:
            ++counts_.read_binary;
            sw = read_binary(a, size, out, &n);
            break;
        case pcsc::INS_UPDATE_BINARY:
            ++counts_.update_binary;
            sw = update_binary(a, size);
            break;
        default:
            ++counts_.other;
            sw = pcsc::SW_INS_UNKNOWN;
            break;
        }
    }
    if (sw != pcsc::SW_OK)
        n = 0;
    out[n] = static_cast<std::uint8_t>(sw >> 8);
    out[n + 1] = static_cast<std::uint8_t>(sw);
    return n + 2;
}

// FF CA 00 00 [Le]: the UID. Other P1 values ask for things a Classic lacks.
std::uint16_t VirtualCard::get_uid(const std::uint8_t *a, std::size_t size, std::uint8_t *out, std::size_t *n) noexcept
{
    if (size != 4 && size != 5)
        return pcsc::SW_WRONG_LENGTH;
    if (a[2] != 0x00 || a[3] != 0x00)
        return a[2] == 0x01 ? pcsc::SW_UNSUPPORTED : pcsc::SW_WRONG_P1P2;
    const unsigned le = size == 5 ? a[4] : 0;
    if (le != 0 && le < mifare::UID_SIZE)
        return static_cast<std::uint16_t>(pcsc::SW_WRONG_LE | mifare::UID_SIZE);
    std::memcpy(out, card_.uid(), mifare::UID_SIZE);
    *n = mifare::UID_SIZE;
    return pcsc::SW_OK;
}

// FF 82 00 <slot> 06 <key>: volatile slots only.
std::uint16_t VirtualCard::load_keys(const std::uint8_t *a, std::size_t size) noexcept
{
    if (size != 5 + mifare::KEY_SIZE || a[4] != mifare::KEY_SIZE)
        return pcsc::SW_WRONG_LENGTH;
    if (a[2] != 0x00 || a[3] >= KEY_SLOTS)
        return pcsc::SW_WRONG_P1P2;
    std::memcpy(slot_key_[a[3]], a + 5, mifare::KEY_SIZE);
    slot_loaded_[a[3]] = true;
    return pcsc::SW_OK;
}

// FF 86 00 00 05 01 <block MSB> <block LSB> <60|61> <slot> [Le]
std::uint16_t VirtualCard::authenticate(const std::uint8_t *a, std::size_t size) noexcept
{
    if ((size != 5 + pcsc::AUTH_DATA_SIZE && size != 6 + pcsc::AUTH_DATA_SIZE) || a[4] != pcsc::AUTH_DATA_SIZE)
        return pcsc::SW_WRONG_LENGTH;
    if (a[2] != 0x00 || a[3] != 0x00)
        return pcsc::SW_WRONG_P1P2;
    const std::uint8_t *d = a + 5;
    if (d[0] != pcsc::AUTH_VERSION || (d[3] != pcsc::AUTH_KEY_A && d[3] != pcsc::AUTH_KEY_B))
        return pcsc::SW_WRONG_DATA;
    if (d[4] >= KEY_SLOTS || !slot_loaded_[d[4]])
        return pcsc::SW_NOT_ALLOWED;
    const int block = d[1] << 8 | d[2];
    const mifare::KeyType type = d[3] == pcsc::AUTH_KEY_A ? mifare::KeyType::A : mifare::KeyType::B;
    switch (card_.authenticate(block, type, slot_key_[d[4]])) {
    case RF_OK:
        return pcsc::SW_OK;
    case RF_ERR_ARG:
        return pcsc::SW_NOT_FOUND;
    default:
        return pcsc::SW_FAILED;
    }
}

// FF B0 <block> 10 (Le 00 also means one block).
std::uint16_t VirtualCard::read_binary(const std::uint8_t *a, std::size_t size, std::uint8_t *out, std::size_t *n) noexcept
{
    if (size != 5)
        return pcsc::SW_WRONG_LENGTH;
    if (a[4] != 0 && a[4] != mifare::BLOCK_SIZE)
        return static_cast<std::uint16_t>(pcsc::SW_WRONG_LE | mifare::BLOCK_SIZE);
    const std::uint16_t sw = block_status(card_.read_block(block_of(a), out));
    if (sw == pcsc::SW_OK)
        *n = mifare::BLOCK_SIZE;
    return sw;
}

// FF D6 <block> 10 <16 bytes>
std::uint16_t VirtualCard::update_binary(const std::uint8_t *a, std::size_t size) noexcept
{
    if (size != 5 + mifare::BLOCK_SIZE || a[4] != mifare::BLOCK_SIZE)
        return pcsc::SW_WRONG_LENGTH;
    return block_status(card_.write_block(block_of(a), a + 5));
}

}  // namespace vcard

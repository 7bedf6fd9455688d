#include "binding.h"
#include "frame/last_error.h"
#include "frame/messages.h"

namespace vesk {
namespace {

// Shifts, not memcpy: the byte order must not depend on the CPU.
void put_serial(unsigned int value, unsigned char *out) noexcept {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

int read_series_no(unsigned char *serial) noexcept {
    unsigned int card_type = 0;
    if (entry<rf_request_fn>(kRfRequest)(g_reader_handle, 1, &card_type) != 0) return VESK_E_BIND;
    unsigned int value = 0;
    const int status = entry<rf_anticoll_fn>(kRfAnticoll)(g_reader_handle, 0, &value);
    if (status != 0) return status;
    if (serial != nullptr) put_serial(value, serial);
    return 0;
}

}  // namespace

int select_card(unsigned char *answer) noexcept {
    unsigned int value = 0;
    int status = entry<rf_anticoll_fn>(kRfAnticoll)(g_reader_handle, 0, &value);
    if (status != 0) {
        record_failure(status, msg::kNoCardInField);
        return VESK_E_BIND;
    }
    *answer = 0;
    status = entry<rf_select_fn>(kRfSelect)(g_reader_handle, value, answer);
    if (status != 0) return record_failure(status, msg::kSelectFailed);
    return 0;
}

}  // namespace vesk

using namespace vesk;

extern "C" {

VESK_API int VESK_CALL MF_ReadSeriesNo(unsigned char *serial) noexcept {
    if (!bound()) return fail_not_open();
    return read_series_no(serial);
}

VESK_API int VESK_CALL Quen_RequestCardExist(unsigned char *serial, unsigned char *answer) noexcept {
    if (!bound()) return fail_not_open();
    unsigned char scratch[20] = {};
    const int read = read_series_no(scratch);
    if (read != 0) return record_failure(read, msg::kReadSerialFailed);

    unsigned char answer_byte = 0;
    const int selected = select_card(&answer_byte);
    if (selected != 0) return selected;

    if (serial != nullptr) {
        for (int i = 0; i < VESK_SERIAL_SIZE; ++i) serial[i] = scratch[i];
    }
    if (answer != nullptr) *answer = answer_byte;
    return 0;
}

}  // extern "C"

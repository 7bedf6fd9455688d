#include <cstring>

#include "binding.h"
#include "frame/last_error.h"
#include "frame/messages.h"

namespace vesk {
namespace {

// Unsigned arithmetic wraps instead of overflowing for any int input, and
// keeps the modulo-256 result for negative numbers too.
unsigned char block_address(int sector, int block) noexcept {
    return static_cast<unsigned char>((static_cast<unsigned int>(sector) * 4u + static_cast<unsigned int>(block)) &
                                      0xFFu);
}

}  // namespace
}  // namespace vesk

using namespace vesk;

extern "C" {

VESK_API int VESK_CALL Quen_ReadBlock(int sector, int block, unsigned char *data) noexcept {
    if (!bound()) return fail_not_open();
    unsigned char buffer[RF_TRANSFER_SIZE] = {};
    const int status = entry<rf_read_fn>(kRfRead)(g_reader_handle, block_address(sector, block), buffer);
    if (status != 0) {
        record_failure(status, msg::kReadFailed);
        return VESK_E_READ;
    }
    if (data != nullptr) std::memcpy(data, buffer, VESK_BLOCK_SIZE);
    return 0;
}

VESK_API int VESK_CALL Quen_WriteBlock(int sector, int block, const unsigned char *data) noexcept {
    if (!bound()) return fail_not_open();
    if (data == nullptr) return VESK_E_WRITE;
    unsigned char buffer[RF_TRANSFER_SIZE] = {};
    std::memcpy(buffer, data, VESK_BLOCK_SIZE);
    const int status = entry<rf_write_fn>(kRfWrite)(g_reader_handle, block_address(sector, block), buffer);
    return status != 0 ? VESK_E_WRITE : 0;
}

VESK_API int VESK_CALL Quen_SleepCard(void) noexcept {
    if (!bound()) return fail_not_open();
    const int status = entry<rf_halt_fn>(kRfHalt)(g_reader_handle);
    if (status != 0) {
        record_failure(status, msg::kHaltFailed);
        return VESK_E_HALT;
    }
    return 0;
}

}  // extern "C"

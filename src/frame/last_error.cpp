#include "last_error.h"

#include <cstdio>
#include <cstring>

#include "Vesk_RD.h"

namespace vesk {
namespace {

struct LastErrorRecord {
    int code = -1;
    char message[kMessageSize] = {};
};

LastErrorRecord g_record;
int g_mf_status = 0;

/* Copies at most size-1 bytes and always terminates. Reads and writes stay
 * inside both buffers even if `src` is rewritten while we copy: the length is
 * taken once and bounded, and the terminator is ours, not the source's. */
void bounded_copy(char *dst, const char *src, int size) noexcept {
    const size_t n = strnlen(src, static_cast<size_t>(size - 1));
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace

int record_failure_v(int code, const char *format, va_list args) noexcept {
    // No zero fill: only the bytes up to the terminator are ever read, and
    // clearing 1024 bytes was most of the cost of a short message.
    char scratch[kMessageSize];
    scratch[0] = '\0';
    // C99 vsnprintf always terminates and cuts at 1023 bytes. A formatting
    // error leaves no text we could trust, so it records an empty one.
    if (format != nullptr && std::vsnprintf(scratch, sizeof scratch, format, args) < 0) scratch[0] = '\0';
    g_record.code = code;
    bounded_copy(g_record.message, scratch, kMessageSize);
    return code;
}

int record_failure(int code, const char *format, ...) noexcept {
    va_list args;
    va_start(args, format);
    record_failure_v(code, format, args);
    va_end(args);
    return code;
}

}  // namespace vesk

extern "C" {

VESK_API int VESK_CDECL SetLastErrMsg(int code, const char *format, ...) noexcept {
    va_list args;
    va_start(args, format);
    vesk::record_failure_v(code, format, args);
    va_end(args);
    return code;
}

VESK_API int VESK_CALL Quen_GetLastErr(int *code, char *message) noexcept {
    if (code != nullptr) *code = vesk::g_record.code;
    if (message != nullptr) vesk::bounded_copy(message, vesk::g_record.message, vesk::kMessageSize);
    return 0;
}

VESK_API int VESK_CALL GetMFLastErr(void) noexcept { return vesk::g_mf_status; }

}  // extern "C"

/* The process-wide last-error record and the MF status word. */
#ifndef VESK_FRAME_LAST_ERROR_H
#define VESK_FRAME_LAST_ERROR_H

#include <cstdarg>

namespace vesk {

inline constexpr int kMessageSize = 1024;

/* Formats into the record; the shared body of SetLastErrMsg and every
 * failure path. Returns `code`. */
int record_failure_v(int code, const char *format, va_list args) noexcept;
int record_failure(int code, const char *format, ...) noexcept;

}  // namespace vesk

#endif

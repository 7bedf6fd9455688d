// SetLastErrMsg with arbitrary texts that contain no conversions: every '%'
// is doubled, so the text must come back byte for byte, cut to 1023 bytes and
// terminated, and Quen_GetLastErr must stay inside a 1024-byte buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Vesk_RD.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int code = 0;
    if (size >= sizeof code) {
        std::memcpy(&code, data, sizeof code);
        data += sizeof code;
        size -= sizeof code;
    }
    std::string text(reinterpret_cast<const char *>(data), size);
    text.resize(std::strlen(text.c_str()));  // a C string ends at its first NUL
    std::string format;
    for (char c : text) {
        format += c;
        if (c == '%') format += '%';
    }

    if (SetLastErrMsg(code, format.c_str()) != code) std::abort();

    // Exactly the documented size on the heap: one byte more is an overrun
    // AddressSanitizer reports.
    std::unique_ptr<char[]> message(new char[VESK_MESSAGE_SIZE]);
    std::memset(message.get(), 'Z', VESK_MESSAGE_SIZE);
    int got = ~code;
    if (Quen_GetLastErr(&got, message.get()) != 0) std::abort();
    const void *end = std::memchr(message.get(), '\0', VESK_MESSAGE_SIZE);
    if (end == nullptr) std::abort();  // not terminated inside the buffer
    const size_t length = static_cast<size_t>(static_cast<const char *>(end) - message.get());
    if (length > VESK_MESSAGE_SIZE - 1) std::abort();
    if (got != code) std::abort();
    if (std::string(message.get(), length) != text.substr(0, VESK_MESSAGE_SIZE - 1)) std::abort();
    return 0;
}

// vesk's argument parsing: hex keys and blocks, sector ranges, and the JSON
// and hex text it prints from what it parsed. Whatever the text, a parse
// that succeeds gives exactly what the text says.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "vesk.h"

using namespace vesk::tool;

namespace {

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string error;

    for (size_t bytes : {size_t{6}, size_t{16}}) {
        std::vector<uint8_t> out;
        if (parse_hex(text, bytes, &out, &error)) {
            if (out.size() != bytes || upper(text) != hex(out.data(), out.size())) std::abort();
        } else if (error.empty()) {
            std::abort();  // a refusal always says why
        }
        error.clear();
    }

    int first = -1, last = -1;
    if (parse_sector_range(text, &first, &last, &error)) {
        if (first < 0 || last > 39 || first > last) std::abort();
    } else if (error.empty()) {
        std::abort();
    }

    // JSON strings: quoted, and no raw control character survives.
    const std::string json = json_string(text);
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
    for (unsigned char c : json)
        if (c < 0x20) std::abort();
    const std::string shown = ascii(data, size);
    if (shown.size() != size) std::abort();
    return 0;
}

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "vesk.h"

namespace vesk::tool {

namespace {
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_number(const std::string &text, int *value) {
    if (text.empty() || text.size() > 3) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

constexpr int kMaxSector = 39;  // the last sector of a 4K card
}  // namespace

bool parse_hex(const std::string &text, std::size_t bytes, std::vector<std::uint8_t> *out,
               std::string *error) {
    if (text.size() != bytes * 2) {
        *error = "expected " + std::to_string(bytes * 2) + " hex digits, got " +
                 std::to_string(text.size()) + " characters";
        return false;
    }
    out->assign(bytes, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        int v = hex_value(text[i]);
        if (v < 0) {
            *error = "'" + std::string(1, text[i]) + "' at position " + std::to_string(i + 1) +
                     " is not a hex digit";
            return false;
        }
        (*out)[i / 2] = static_cast<std::uint8_t>(((*out)[i / 2] << 4) | v);
    }
    return true;
}

std::string hex(const std::uint8_t *data, std::size_t n, const char *separator) {
    std::string out;
    char buf[3];
    for (std::size_t i = 0; i < n; ++i) {
        if (i) out += separator;
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        out += buf;
    }
    return out;
}

std::string ascii(const std::uint8_t *data, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (data[i] >= 0x20 && data[i] < 0x7F) ? char(data[i]) : '.';
    return out;
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[7];
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);  // UTF-8 passes through
            }
        }
    }
    return out + "\"";
}

bool parse_sector_range(const std::string &text, int *first, int *last, std::string *error) {
    auto dash = text.find('-');
    std::string a = text.substr(0, dash);
    std::string b = dash == std::string::npos ? a : text.substr(dash + 1);
    if (!parse_number(a, first) || !parse_number(b, last)) {
        *error = "--sectors: '" + text + "' is not a sector or a range A-B";
        return false;
    }
    if (*first > kMaxSector || *last > kMaxSector) {
        *error = "--sectors: no card has sector " + std::to_string(std::max(*first, *last)) +
                 " (a 1K card has sectors 0-15, a 4K card 0-39)";
        return false;
    }
    if (*first > *last) {
        *error = "--sectors: range " + text + " runs backwards";
        return false;
    }
    return true;
}

const char *card_type_name(mifare::CardType type) {
    return type == mifare::CardType::Classic4K ? "Mifare Classic 4K" : "Mifare Classic 1K";
}

}  // namespace vesk::tool

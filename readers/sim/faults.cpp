#include "faults.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace rfsim {

namespace {

std::string trim(const std::string &s) {
    const char *ws = " \t";
    const auto begin = s.find_first_not_of(ws);
    if (begin == std::string::npos) return "";
    return s.substr(begin, s.find_last_not_of(ws) - begin + 1);
}

// Whole-string decimal integer within [lo, hi].
bool parse_long(const std::string &s, long lo, long hi, long *out) {
    if (s.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

}  // namespace

bool Faults::configure(const char *setting, std::string *error) {
    const std::string text = setting ? setting : "";
    if (text == setting_) return true;

    Rule rules[kMaxRules];
    int count = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = trim(text.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) {
            if (trim(text).empty()) break;
            *error = "RFSIM_FAULT has an empty item in \"" + text + "\"";
            return false;
        }
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
            *error = "RFSIM_FAULT item \"" + item + "\" lacks =<status>";
            return false;
        }
        std::string name = trim(item.substr(0, eq));
        const std::string status_text = trim(item.substr(eq + 1));
        long nth = 0;
        const std::size_t hash = name.find('#');
        if (hash != std::string::npos) {
            if (!parse_long(trim(name.substr(hash + 1)), 1, LONG_MAX, &nth)) {
                *error = "RFSIM_FAULT item \"" + item + "\": the call number after # must be 1 or more";
                return false;
            }
            name = trim(name.substr(0, hash));
        }
        int entry = -1;
        for (int i = 0; i < vesk::kEntryCount; ++i)
            if (name == vesk::kEntryNames[i]) entry = i;
        if (entry < 0) {
            *error = "RFSIM_FAULT item \"" + item + "\": \"" + name + "\" is not an rf_ entry point";
            return false;
        }
        long status = 0;
        // rf_init fails with a negative value; every other entry point with a
        // nonzero status. An injected success would leave outputs unwritten.
        const bool ok = entry == vesk::kRfInit ? parse_long(status_text, INT_MIN, -1, &status)
                                               : parse_long(status_text, INT_MIN, INT_MAX, &status) && status != 0;
        if (!ok) {
            *error = "RFSIM_FAULT item \"" + item + "\": the status must be " +
                     (entry == vesk::kRfInit ? "a negative integer for rf_init" : "a nonzero integer");
            return false;
        }
        if (count == kMaxRules) {
            *error = "RFSIM_FAULT has more than " + std::to_string(kMaxRules) + " items";
            return false;
        }
        rules[count++] = Rule{entry, nth, static_cast<int>(status)};
        if (comma == text.size()) break;
    }

    setting_ = text;
    std::memcpy(rules_, rules, sizeof rules);
    rule_count_ = count;
    std::memset(calls_, 0, sizeof calls_);
    return true;
}

bool Faults::take(vesk::EntryIndex entry, int *status) noexcept {
    const long n = ++calls_[entry];
    const Rule *every = nullptr;
    for (int i = 0; i < rule_count_; ++i) {
        const Rule &r = rules_[i];
        if (r.entry != entry) continue;
        if (r.nth == n) {
            *status = r.status;
            return true;
        }
        if (r.nth == 0 && !every) every = &r;
    }
    if (!every) return false;
    *status = every->status;
    return true;
}

Faults &faults() noexcept {
    static Faults instance;
    return instance;
}

}  // namespace rfsim

// Faults on purpose: RFSIM_FAULT=<entry>[#N]=<status>[,...] makes the Nth
// call (counted from 1), or every call, of an entry point return <status>
// without doing anything else.
#ifndef RFSIM_FAULTS_H
#define RFSIM_FAULTS_H

#include <string>

#include "frame/rf_api.h"

namespace rfsim {

class Faults {
  public:
    // Replaces the plan and restarts the call counts, unless the setting is the one
    // already in force (then counting goes on). A malformed setting changes
    // nothing and explains itself in *error.
    bool configure(const char *setting, std::string *error);
    // Counts one call of entry; true when that call is to fail with *status.
    bool take(vesk::EntryIndex entry, int *status) noexcept;

  private:
    struct Rule {
        int entry;
        long nth;  // 0: every call
        int status;
    };
    static constexpr int kMaxRules = 64;

    std::string setting_;
    Rule rules_[kMaxRules] = {};
    int rule_count_ = 0;
    long calls_[vesk::kEntryCount] = {};
};

Faults &faults() noexcept;

}  // namespace rfsim

#endif

// Shared fixtures of the simulated-reader tests: the library loaded by its
// full path, its twelve entry points, card files in a scratch folder, and
// child processes.
#ifndef RFSIM_TESTS_SIM_SUPPORT_H
#define RFSIM_TESTS_SIM_SUPPORT_H

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/rf_api.h"
#include "mifare/card.h"
#include "rf_status.h"

namespace st {

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, 16>;
using Key = std::array<std::uint8_t, 6>;

inline const Key kFactoryKey = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline const Key kKeyA = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
inline const Key kKeyB = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
// UID of the in-memory card and of a card file created fresh.
inline const std::uint8_t kSimUid[4] = {0x12, 0x34, 0x56, 0x78};
inline constexpr unsigned int kSimSerial = 0x78563412u;

// The simulated reader's entry points. Loading it by full path first also
// makes Vesk_RD's bare-name load find this object by its SONAME.
struct Rf {
    rf_init_fn init;
    rf_card_fn card;
    rf_load_key_fn load_key;
    rf_authentication_fn authentication;
    rf_read_fn read;
    rf_write_fn write;
    rf_halt_fn halt;
    rf_exit_fn exit;
    rf_beep_fn beep;
    rf_anticoll_fn anticoll;
    rf_request_fn request;
    rf_select_fn select;
};
const Rf &rf();

// A scratch folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

bool exists(const std::string &path);
Bytes read_file(const std::string &path);
void write_file(const std::string &path, const Bytes &bytes);

// The stored image of a factory card with the simulator's UID.
Bytes factory_image(mifare::CardType type);
// A trailer with the given keys and per-group conditions (C1C2C3 packed).
Block trailer(const Key &a, std::array<std::uint8_t, 4> conditions, const Key &b);
Block filled(std::uint8_t value);
Block block_of(const Bytes &image, int block);

// Runs body in a forked child, whose exit status is body's result.
pid_t spawn(const std::function<int()> &body);
// The child's exit status, or -1000 - signal when it was killed.
int wait_for(pid_t pid);
int run_in_child(const std::function<int()> &body);

// Sets (or, for null, removes) an environment variable.
void set_env(const char *name, const char *value);

}  // namespace st

#endif

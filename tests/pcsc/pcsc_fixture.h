// The real PC/SC stack for a test: pcscd (started here, or one already
// running) with the vpcd virtual reader, and our virtual card on it. Whatever
// the fixture starts it stops. Without pcscd the tests skip, except under
// CI=true, where a missing stack is a failure.
#ifndef VESK_TESTS_PCSC_FIXTURE_H
#define VESK_TESTS_PCSC_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace pt {

// Name of the vpcd reader on port 35963, as pcscd lists it.
extern const char *const kVpcdReader;

// The vesk-vcard program, stopped (SIGTERM) and reaped on destruction.
class VirtualCard {
  public:
    VirtualCard() = default;
    ~VirtualCard();
    VirtualCard(const VirtualCard &) = delete;
    VirtualCard &operator=(const VirtualCard &) = delete;

    // Starts the program with these extra arguments; the report goes to a
    // file of its own. Returns false (with a message in *why) if it fails.
    bool start(const std::string &work_dir, const std::vector<std::string> &args, std::string *why);
    // Stops the program and waits for it; the report is final afterwards.
    void stop();
    bool running();
    // Waits up to `ms` for the program to end by itself.
    bool wait_exit(int ms);
    // Command counts from the report ("get_uid", "read_binary", ...).
    std::map<std::string, long> counts() const;
    long count(const std::string &name) const;

  private:
    pid_t pid_ = -1;
    std::string report_;
};

class PcscTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Lays a card on the reader and waits until pcscd sees it. extra: more
    // vesk-vcard arguments (--image, --4k, --disconnect-after ...).
    void insert_card(const std::vector<std::string> &extra = {});
    // Takes the card away and waits until pcscd sees it gone.
    void remove_card();
    // Writes a card image into the work folder; returns its path.
    std::string write_image(const std::string &name, const std::vector<unsigned char> &image);

    // rf_init port of the vpcd reader (its index in the reader list).
    int reader_port() const { return port_; }
    const std::string &work_dir() const { return work_dir_; }

    VirtualCard card_;

  private:
    std::string work_dir_;
    int port_ = -1;
};

// pcscd started here with a reader configuration that names no reader.
class EmptyReaderListTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string work_dir_;
};

// Skips, or fails under CI=true, with `why`.
#define PT_UNAVAILABLE(why)                                               \
    do {                                                                  \
        if (::pt::in_ci()) {                                              \
            FAIL() << "PC/SC stack required under CI=true: " << (why);    \
        }                                                                 \
        GTEST_SKIP() << (why);                                            \
    } while (0)

bool in_ci();

// Why the stack can not be had ("" when it can): pcscd or the vpcd driver
// missing, or pcscd not running and this process unable to start it.
std::string stack_unavailable();

// Starts pcscd unless one is running. `config_dir` empty: the system's
// reader configuration; else that folder. Returns "" or why it failed.
std::string ensure_pcscd(const std::string &work_dir, const std::string &config_dir = "");
// Stops the pcscd this process started, if any.
void stop_pcscd();
bool pcscd_running();
bool pcscd_started_here();

// Index of `reader` in pcscd's reader list, -1 if absent.
int reader_index(const std::string &reader);
// Waits up to `ms` until the reader has (present) or lacks a card.
bool wait_card(const std::string &reader, bool present, int ms);

// A fresh folder for one test's files, removed when the test passed.
std::string make_work_dir();
void remove_work_dir(const std::string &dir);

std::string hex(const unsigned char *bytes, int n);

struct RunResult {
    int status = -1;  // exit status, 128 + signal when killed
    std::string out, err;
};
// Runs a program to its end with `env` added to this process's environment;
// its output goes through files in `work_dir`.
RunResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
              const std::string &work_dir);

}  // namespace pt

#endif

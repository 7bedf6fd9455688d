// Shared pieces of the vesk command: options, text helpers, the session
// with the card, and the subcommands.
#ifndef VESK_TOOL_VESK_H
#define VESK_TOOL_VESK_H

#include <cstdint>
#include <string>
#include <vector>

#include "mifare/card.h"

namespace vesk::tool {

// Exit statuses, documented in the README.
enum Exit : int {
    EXIT_OK = 0,
    EXIT_FAILED = 1,   // the reader, the card or a file failed
    EXIT_USAGE = 2,    // bad arguments; nothing was called
    EXIT_PARTIAL = 3   // dump/restore went through, but some blocks failed
};

struct Options {
    std::string reader = "sim";
    int port = 1;
    int baud = 115200;
    std::string key_hex = "FFFFFFFFFFFF";
    std::string key_type = "a";
    bool json = false;

    // Filled from the text options by validate_common().
    std::uint8_t key[mifare::KEY_SIZE] = {};
    int key_type_code = 0;   // Vesk_RD's keyType: 0 key A, 1 key B
};

// ---- text.cpp
// Exactly `bytes` bytes as 2*bytes hex digits, nothing else.
bool parse_hex(const std::string &text, std::size_t bytes, std::vector<std::uint8_t> *out,
               std::string *error);
std::string hex(const std::uint8_t *data, std::size_t n, const char *separator = "");
std::string ascii(const std::uint8_t *data, std::size_t n);
std::string json_string(const std::string &text);
// "A-B" or "A"; both within 0..39 (the largest card), A <= B.
bool parse_sector_range(const std::string &text, int *first, int *last, std::string *error);
const char *card_type_name(mifare::CardType type);

// ---- reader_lookup.cpp
// Where the reader library called `name` (sim, pcsc) may lie, best first,
// relative to the folder of the vesk executable.
std::vector<std::string> reader_candidates(const std::string &name, const std::string &exe_dir);
// sim, pcsc or a path to a reader library file.
bool resolve_reader(const std::string &choice, std::string *path, std::string *error);

// ---- main.cpp
// Checks and converts the options shared by every subcommand.
bool validate_common(Options *options, std::string *error);

// ---- session.cpp
struct CardInfo {
    std::uint8_t serial[4] = {};
    std::uint8_t answer = 0;
    bool classic = false;   // SAK names a Mifare Classic 1K or 4K
    mifare::CardType type = mifare::CardType::Classic1K;
};

// One Vesk_RD failure, with what the last-error record held after it.
struct Failure {
    std::string action;
    int rc = 0;
    int record_code = 0;
    std::string record_text;   // UTF-8
    bool connecting = false;   // Quen_ConnectVelm40's codes mean other things
    std::string message() const;
    std::string json() const;
};

class Session {
  public:
    explicit Session(const Options &options) : options_(options) {}
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Finds and loads the reader library, connects (with its beep) and
    // selects the card. Subcommands check their own arguments before this. Prints the failure and returns false when any step fails.
    bool open(CardInfo *card);
    // Each returns Vesk_RD's result; on failure *failure is filled.
    int login(int sector, Failure *failure);
    int read(int absolute_block, std::uint8_t out[16], Failure *failure);
    int write(int absolute_block, const std::uint8_t in[16], Failure *failure);
    // Halts the card and closes the reader; a failure here is a warning.
    void finish();

  private:
    Failure capture(const std::string &action, int rc) const;
    const Options &options_;
    bool connected_ = false;
    bool card_open_ = false;
};

void print_failure(const Failure &failure);

// ---- commands.cpp
int cmd_info(const Options &options);
int cmd_dump(const Options &options, const std::string &sectors, const std::string &output);
int cmd_read(const Options &options, int sector, int block);
int cmd_write(const Options &options, int sector, int block, const std::string &data);
int cmd_restore(const Options &options, const std::string &file, bool trailers);

}  // namespace vesk::tool

#endif

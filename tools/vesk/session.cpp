#include <cstdio>

#include "Vesk_RD.h"
#include "os.h"
#include "vesk.h"

namespace vesk::tool {

namespace {
const char *meaning(const Failure &f) {
    bool recorded = f.record_code != 0 || !f.record_text.empty();
    if (f.connecting) {
        // -1 and -2 are Vesk_RD's own only when nothing was recorded;
        // otherwise they are rf_init's result.
        if (recorded) return "the reader library refused the port settings";
        if (f.rc == VESK_E_LOAD) return "the reader library could not be loaded";
        if (f.rc == VESK_E_BIND) return "the reader library lacks an entry point";
        return "connecting failed";
    }
    switch (f.rc) {
    case VESK_E_LOAD: return "the reader is not open";
    case VESK_E_BIND: return "no card answered";
    case VESK_E_LOAD_KEY: return "loading the key failed";
    case VESK_E_AUTH: return "the key was not accepted";
    case VESK_E_READ: return "reading the block failed";
    case VESK_E_WRITE: return "writing the block failed";
    case VESK_E_HALT: return "halting the card failed";
    default: return "status passed through from the reader library";
    }
}

// Vesk_RD keeps only the last failure and some calls record nothing
// (Quen_WriteBlock never does), so the record is emptied before each call:
// whatever it holds afterwards belongs to that call.
void clear_record() { SetLastErrMsg(0, nullptr); }

// Vesk_RD's blocks are (sector * 4 + block) mod 256, which reaches every
// absolute block of a 4K card, including the 16-block sectors 32..39.
int address_sector(int absolute_block) { return absolute_block / 4; }
int address_block(int absolute_block) { return absolute_block % 4; }
}  // namespace

std::string Failure::message() const {
    std::string text = action + " failed: return code " + std::to_string(rc) + " (" + meaning(*this) + ")";
    if (record_code == 0 && record_text.empty())
        text += "; nothing recorded";
    else
        text += "; record " + std::to_string(record_code) + " \"" + record_text + "\"";
    return text;
}

std::string Failure::json() const {
    return "{\"action\":" + json_string(action) + ",\"return_code\":" + std::to_string(rc) +
           ",\"record_code\":" + std::to_string(record_code) + ",\"record_text\":" + json_string(record_text) +
           "}";
}

void print_failure(const Failure &failure) { std::fprintf(stderr, "vesk: %s\n", failure.message().c_str()); }

Failure Session::capture(const std::string &action, int rc) const {
    Failure f;
    f.action = action;
    f.rc = rc;
    char text[VESK_MESSAGE_SIZE] = {};
    Quen_GetLastErr(&f.record_code, text);
    f.record_text = os::gbk_to_utf8(text);
    return f;
}

Session::~Session() { finish(); }

bool Session::open(CardInfo *card) {
    std::string path, error;
    if (!resolve_reader(options_.reader, &path, &error)) {
        std::fprintf(stderr, "vesk: %s\n", error.c_str());
        return false;
    }
    if (!os::preload_reader(path, &error)) {
        std::fprintf(stderr, "vesk: cannot load reader library %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    clear_record();
    int rc = Quen_ConnectVelm40(options_.port, options_.baud);
    if (rc != 0) {
        Failure f = capture("connecting to the reader (port " + std::to_string(options_.port) + ", " +
                                std::to_string(options_.baud) + " baud)",
                            rc);
        f.connecting = true;
        print_failure(f);
        return false;
    }
    connected_ = true;
    clear_record();
    rc = Quen_RequestCardExist(card->serial, &card->answer);
    if (rc != 0) {
        print_failure(capture("detecting the card", rc));
        return false;
    }
    card_open_ = true;
    card->classic = card->answer == 0x08 || card->answer == 0x18;
    card->type = card->answer == 0x18 ? mifare::CardType::Classic4K : mifare::CardType::Classic1K;
    return true;
}

int Session::login(int sector, Failure *failure) {
    clear_record();
    int rc = Quen_Login_With_UserKey(sector, options_.key, options_.key_type_code);
    if (rc != 0 && failure) *failure = capture("logging in to sector " + std::to_string(sector), rc);
    return rc;
}

int Session::read(int absolute_block, std::uint8_t out[16], Failure *failure) {
    clear_record();
    int rc = Quen_ReadBlock(address_sector(absolute_block), address_block(absolute_block), out);
    if (rc != 0 && failure) *failure = capture("reading block " + std::to_string(absolute_block), rc);
    return rc;
}

int Session::write(int absolute_block, const std::uint8_t in[16], Failure *failure) {
    clear_record();
    int rc = Quen_WriteBlock(address_sector(absolute_block), address_block(absolute_block), in);
    if (rc != 0 && failure) *failure = capture("writing block " + std::to_string(absolute_block), rc);
    return rc;
}

void Session::finish() {
    if (card_open_) {
        card_open_ = false;
        clear_record();
        int rc = Quen_SleepCard();
        if (rc != 0) {
            Failure f = capture("halting the card", rc);
            std::fprintf(stderr, "vesk: warning: %s\n", f.message().c_str());
        }
    }
    if (connected_) {
        connected_ = false;
        Quen_CloseVelm40();
    }
}

}  // namespace vesk::tool

// Test-only reader library. Built once complete and once per missing entry
// point (REC_OMIT_<name>). It must not allocate inside the rf_ calls, since a
// test counts the heap allocations made across Vesk_RD's exports.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frame/rf_api.h"
#include "recorder_control.h"

#ifdef _WIN32
#define REC_EXPORT extern "C" __declspec(dllexport)
#else
#define REC_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int kMaxCalls = 512;
constexpr int kLineSize = 160;
constexpr int kMaxScript = 64;

struct Step {
    char entry[32];
    int nth;
    int status;
};

struct SerialStep {
    int nth;
    unsigned int value;
};

struct State {
    char log[kMaxCalls][kLineSize];
    int log_count;
    Step script[kMaxScript];
    int script_count;
    SerialStep serials[kMaxScript];
    int serial_count;
    int counts[vesk::kEntryCount];
    unsigned char answer;
    unsigned char read_data[RF_TRANSFER_SIZE];
};

State g;

void reset() {
    std::memset(&g, 0, sizeof g);
    g.answer = 0x08;
    for (int i = 0; i < RF_TRANSFER_SIZE; ++i) g.read_data[i] = static_cast<unsigned char>(i);
}

struct Init {
    Init() { reset(); }
} g_init;

// The hammer test calls in from several threads at once: each call claims its
// line atomically, so the log never grows past its last line.
void log_call(const char *format, ...) {
    const int slot = __atomic_fetch_add(&g.log_count, 1, __ATOMIC_RELAXED);
    if (slot >= kMaxCalls) {
        __atomic_store_n(&g.log_count, kMaxCalls, __ATOMIC_RELAXED);
        return;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(g.log[slot], kLineSize, format, args);
    va_end(args);
}

void hex(const unsigned char *bytes, int n, char *out) {
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    out[2 * n] = '\0';
}

// Counts the call and answers from the script: the first step that names
// this call number or a period that divides it, else a step for every call,
// else `fallback`.
int answer(vesk::EntryIndex index, int fallback) {
    const int n = __atomic_add_fetch(&g.counts[index], 1, __ATOMIC_RELAXED);
    const char *name = vesk::kEntryNames[index];
    int every = fallback;
    bool have_every = false;
    for (int i = 0; i < g.script_count; ++i) {
        if (std::strcmp(g.script[i].entry, name) != 0) continue;
        if (g.script[i].nth == n) return g.script[i].status;
        if (g.script[i].nth < 0 && n % -g.script[i].nth == 0) return g.script[i].status;
        if (g.script[i].nth == 0 && !have_every) {
            every = g.script[i].status;
            have_every = true;
        }
    }
    return every;
}

unsigned int serial_for(int n) {
    for (int i = 0; i < g.serial_count; ++i)
        if (g.serials[i].nth == n) return g.serials[i].value;
    for (int i = 0; i < g.serial_count; ++i)
        if (g.serials[i].nth == 0) return g.serials[i].value;
    return 0x12345678u;
}

}  // namespace

REC_EXPORT void rec_reset(void) { reset(); }

REC_EXPORT void rec_script(const char *entry, int nth, int status) {
    if (g.script_count >= kMaxScript) return;
    Step &s = g.script[g.script_count++];
    std::snprintf(s.entry, sizeof s.entry, "%s", entry);
    s.nth = nth;
    s.status = status;
}

REC_EXPORT void rec_serial(int nth, unsigned int value) {
    if (g.serial_count >= kMaxScript) return;
    g.serials[g.serial_count++] = {nth, value};
}

REC_EXPORT void rec_answer(unsigned char value) { g.answer = value; }

REC_EXPORT void rec_read_data(const unsigned char *data20) { std::memcpy(g.read_data, data20, RF_TRANSFER_SIZE); }

REC_EXPORT int rec_count(void) {
    const int n = __atomic_load_n(&g.log_count, __ATOMIC_RELAXED);
    return n < kMaxCalls ? n : kMaxCalls;
}

REC_EXPORT const char *rec_call(int i) { return i >= 0 && i < g.log_count ? g.log[i] : ""; }

#ifndef REC_OMIT_rf_init
REC_EXPORT int VESK_CALL rf_init(int port, int baud) {
    log_call("rf_init(%d,%d)", port, baud);
    return answer(vesk::kRfInit, 7);
}
#endif

#ifndef REC_OMIT_rf_card
REC_EXPORT int VESK_CALL rf_card(int handle, unsigned char mode, unsigned int *serial) {
    log_call("rf_card(%d,%u)", handle, mode);
    if (serial != nullptr) *serial = serial_for(0);
    return answer(vesk::kRfCard, 0);
}
#endif

#ifndef REC_OMIT_rf_load_key
REC_EXPORT int VESK_CALL rf_load_key(int handle, unsigned char mode, int sector, const unsigned char *key) {
    log_call("rf_load_key(%d,%u,%d,%p)", handle, mode, sector, static_cast<const void *>(key));
    return answer(vesk::kRfLoadKey, 0);
}
#endif

#ifndef REC_OMIT_rf_authentication
REC_EXPORT int VESK_CALL rf_authentication(int handle, unsigned char mode, int sector) {
    log_call("rf_authentication(%d,%u,%d)", handle, mode, sector);
    return answer(vesk::kRfAuthentication, 0);
}
#endif

#ifndef REC_OMIT_rf_read
REC_EXPORT int VESK_CALL rf_read(int handle, unsigned char block, unsigned char *data) {
    char text[2 * RF_TRANSFER_SIZE + 1];
    hex(data, RF_TRANSFER_SIZE, text);
    log_call("rf_read(%d,%u,%s)", handle, block, text);
    const int status = answer(vesk::kRfRead, 0);
    // A failing reader may still scribble on the buffer; Vesk_RD must not
    // pass that on.
    std::memcpy(data, g.read_data, RF_TRANSFER_SIZE);
    return status;
}
#endif

#ifndef REC_OMIT_rf_write
REC_EXPORT int VESK_CALL rf_write(int handle, unsigned char block, const unsigned char *data) {
    char text[2 * RF_TRANSFER_SIZE + 1];
    hex(data, RF_TRANSFER_SIZE, text);
    log_call("rf_write(%d,%u,%s)", handle, block, text);
    return answer(vesk::kRfWrite, 0);
}
#endif

#ifndef REC_OMIT_rf_halt
REC_EXPORT int VESK_CALL rf_halt(int handle) {
    log_call("rf_halt(%d)", handle);
    return answer(vesk::kRfHalt, 0);
}
#endif

#ifndef REC_OMIT_rf_exit
REC_EXPORT int VESK_CALL rf_exit(int handle) {
    log_call("rf_exit(%d)", handle);
    return answer(vesk::kRfExit, 0);
}
#endif

#ifndef REC_OMIT_rf_beep
REC_EXPORT int VESK_CALL rf_beep(int handle, int msec) {
    log_call("rf_beep(%d,%d)", handle, msec);
    return answer(vesk::kRfBeep, 0);
}
#endif

#ifndef REC_OMIT_rf_anticoll
REC_EXPORT int VESK_CALL rf_anticoll(int handle, unsigned char bcnt, unsigned int *serial) {
    log_call("rf_anticoll(%d,%u,0x%08X)", handle, bcnt, *serial);
    const int status = answer(vesk::kRfAnticoll, 0);
    *serial = serial_for(__atomic_load_n(&g.counts[vesk::kRfAnticoll], __ATOMIC_RELAXED));
    return status;
}
#endif

#ifndef REC_OMIT_rf_request
REC_EXPORT int VESK_CALL rf_request(int handle, unsigned char mode, unsigned int *card_type) {
    log_call("rf_request(%d,%u)", handle, mode);
    *card_type = 0x0004;
    return answer(vesk::kRfRequest, 0);
}
#endif

#ifndef REC_OMIT_rf_select
REC_EXPORT int VESK_CALL rf_select(int handle, unsigned int serial, unsigned char *answer_byte) {
    log_call("rf_select(%d,0x%08X)", handle, serial);
    *answer_byte = g.answer;
    return answer(vesk::kRfSelect, 0);
}
#endif

// Vesk_RD over the simulated reader against the same rf_ calls made straight
// into the same loaded reader, in the same process. Each Vesk_* benchmark has
// a Bare_* twin; scripts/bench prints their ratios.
//
// The bare side is what a host would write against the reader library
// itself: the same calls in the same order, each status checked, the outputs
// written. It uses its own reader handle (port 2), since reopening port 1
// would replace Vesk_RD's; the card in the field is shared. The card file is
// off (RFSIM_CARD unset): the card lives in memory.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Vesk_RD.h"
#include "frame/rf_api.h"

namespace {

struct Bare {
    rf_init_fn init;
    rf_request_fn request;
    rf_anticoll_fn anticoll;
    rf_select_fn select;
    rf_load_key_fn load_key;
    rf_authentication_fn authentication;
    rf_read_fn read;
    rf_write_fn write;
    rf_halt_fn halt;
    int handle;
};

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr int kSector = 1;
constexpr int kBlock = 1;
constexpr unsigned char kAddress = kSector * 4 + kBlock;

template <typename Fn>
Fn must(void *lib, const char *name) {
    void *p = dlsym(lib, name);
    if (p == nullptr) {
        std::fprintf(stderr, "simulated reader lacks %s\n", name);
        std::exit(1);
    }
    return reinterpret_cast<Fn>(p);
}

// Loads the simulated reader by its path (Vesk_RD's bare-name load then finds
// the same object), connects Vesk_RD on port 1 and opens port 2 for the bare side.
Bare &bare() {
    static Bare b = [] {
        unsetenv("RFSIM_CARD");
        unsetenv("RFSIM_FAULT");
        unsetenv("RFSIM_NO_CARD");
        void *lib = dlopen(VESK_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::exit(1);
        }
        Bare r{};
        r.init = must<rf_init_fn>(lib, "rf_init");
        r.request = must<rf_request_fn>(lib, "rf_request");
        r.anticoll = must<rf_anticoll_fn>(lib, "rf_anticoll");
        r.select = must<rf_select_fn>(lib, "rf_select");
        r.load_key = must<rf_load_key_fn>(lib, "rf_load_key");
        r.authentication = must<rf_authentication_fn>(lib, "rf_authentication");
        r.read = must<rf_read_fn>(lib, "rf_read");
        r.write = must<rf_write_fn>(lib, "rf_write");
        r.halt = must<rf_halt_fn>(lib, "rf_halt");
        if (Quen_ConnectVelm40(1, 115200) != 0) {
            std::fprintf(stderr, "Vesk_RD did not connect to the simulated reader\n");
            std::exit(1);
        }
        r.handle = r.init(2, 115200);
        if (r.handle <= 0) {
            std::fprintf(stderr, "rf_init(2) gave %d\n", r.handle);
            std::exit(1);
        }
        return r;
    }();
    return b;
}

void put_serial(unsigned int value, unsigned char *out) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// ---- the bare sequences

int bare_read_series_no(const Bare &b, unsigned char *serial) {
    unsigned int type = 0;
    if (b.request(b.handle, 1, &type) != 0) return -2;
    unsigned int value = 0;
    const int st = b.anticoll(b.handle, 0, &value);
    if (st != 0) return st;
    put_serial(value, serial);
    return 0;
}

int bare_request_card_exist(const Bare &b, unsigned char *serial, unsigned char *answer) {
    unsigned char first[4];
    int st = bare_read_series_no(b, first);
    if (st != 0) return st;
    unsigned int value = 0;
    if ((st = b.anticoll(b.handle, 0, &value)) != 0) return -2;
    unsigned char a = 0;
    if ((st = b.select(b.handle, value, &a)) != 0) return st;
    std::memcpy(serial, first, 4);
    *answer = a;
    return 0;
}

int bare_login(const Bare &b, int sector, const unsigned char *key) {
    unsigned int type = 0;
    if (b.request(b.handle, 1, &type) != 0) return -2;
    unsigned int value = 0;
    if (b.anticoll(b.handle, 0, &value) != 0) return -2;
    unsigned char a = 0;
    const int st = b.select(b.handle, value, &a);
    if (st != 0) return st;
    if (b.load_key(b.handle, 0, sector, key) != 0) return -3;
    if (b.authentication(b.handle, 0, sector) != 0) return -4;
    return 0;
}

int bare_read(const Bare &b, unsigned char *data) {
    unsigned char buffer[RF_TRANSFER_SIZE] = {};
    if (b.read(b.handle, kAddress, buffer) != 0) return -5;
    std::memcpy(data, buffer, 16);
    return 0;
}

int bare_write(const Bare &b, const unsigned char *data) {
    unsigned char buffer[RF_TRANSFER_SIZE] = {};
    std::memcpy(buffer, data, 16);
    return b.write(b.handle, kAddress, buffer) != 0 ? -6 : 0;
}

// Halting needs an active card: both halt benchmarks wake and select it with
// the same bare calls first, and Bare_Wake measures that part alone.
int wake(const Bare &b) {
    unsigned int type = 0, value = 0;
    unsigned char a = 0;
    if (b.request(b.handle, 1, &type) != 0 || b.anticoll(b.handle, 0, &value) != 0 ||
        b.select(b.handle, value, &a) != 0)
        return -1;
    return 0;
}

void check(benchmark::State &state, int rc) {
    if (rc != 0) state.SkipWithError("the call failed");
}

// ---- benchmarks, in twins

void Vesk_ReadSeriesNo(benchmark::State &state) {
    bare();
    unsigned char serial[4] = {};
    for (auto _ : state) check(state, MF_ReadSeriesNo(serial));
    benchmark::DoNotOptimize(serial);
}
void Bare_ReadSeriesNo(benchmark::State &state) {
    const Bare &b = bare();
    unsigned char serial[4] = {};
    for (auto _ : state) check(state, bare_read_series_no(b, serial));
    benchmark::DoNotOptimize(serial);
}

void Vesk_RequestCardExist(benchmark::State &state) {
    bare();
    unsigned char serial[4] = {}, answer = 0;
    for (auto _ : state) check(state, Quen_RequestCardExist(serial, &answer));
    benchmark::DoNotOptimize(serial);
}
void Bare_RequestCardExist(benchmark::State &state) {
    const Bare &b = bare();
    unsigned char serial[4] = {}, answer = 0;
    for (auto _ : state) check(state, bare_request_card_exist(b, serial, &answer));
    benchmark::DoNotOptimize(serial);
}

void Vesk_Login(benchmark::State &state) {
    bare();
    for (auto _ : state) check(state, Quen_Login_With_UserKey(kSector, kKey, 0));
}
void Bare_Login(benchmark::State &state) {
    const Bare &b = bare();
    for (auto _ : state) check(state, bare_login(b, kSector, kKey));
}

void Vesk_ReadBlock(benchmark::State &state) {
    check(state, bare_login(bare(), kSector, kKey));
    unsigned char data[16] = {};
    for (auto _ : state) check(state, Quen_ReadBlock(kSector, kBlock, data));
    benchmark::DoNotOptimize(data);
}
void Bare_ReadBlock(benchmark::State &state) {
    const Bare &b = bare();
    check(state, bare_login(b, kSector, kKey));
    unsigned char data[16] = {};
    for (auto _ : state) check(state, bare_read(b, data));
    benchmark::DoNotOptimize(data);
}

void Vesk_WriteBlock(benchmark::State &state) {
    check(state, bare_login(bare(), kSector, kKey));
    unsigned char data[16] = {1, 2, 3};
    for (auto _ : state) check(state, Quen_WriteBlock(kSector, kBlock, data));
}
void Bare_WriteBlock(benchmark::State &state) {
    const Bare &b = bare();
    check(state, bare_login(b, kSector, kKey));
    unsigned char data[16] = {1, 2, 3};
    for (auto _ : state) check(state, bare_write(b, data));
}

void Bare_Wake(benchmark::State &state) {
    const Bare &b = bare();
    for (auto _ : state) check(state, wake(b));
}
void Vesk_SleepCard(benchmark::State &state) {
    const Bare &b = bare();
    for (auto _ : state) {
        check(state, wake(b));
        check(state, Quen_SleepCard());
    }
}
void Bare_SleepCard(benchmark::State &state) {
    const Bare &b = bare();
    for (auto _ : state) {
        check(state, wake(b));
        check(state, b.halt(b.handle) != 0 ? -7 : 0);
    }
}

}  // namespace

BENCHMARK(Vesk_ReadSeriesNo);
BENCHMARK(Bare_ReadSeriesNo);
BENCHMARK(Vesk_RequestCardExist);
BENCHMARK(Bare_RequestCardExist);
BENCHMARK(Vesk_Login);
BENCHMARK(Bare_Login);
BENCHMARK(Vesk_ReadBlock);
BENCHMARK(Bare_ReadBlock);
BENCHMARK(Vesk_WriteBlock);
BENCHMARK(Bare_WriteBlock);
BENCHMARK(Vesk_SleepCard);
BENCHMARK(Bare_SleepCard);
BENCHMARK(Bare_Wake);

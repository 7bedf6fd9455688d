// A whole 1K dump (16 logins, 64 reads) through Vesk_RD, the PC/SC reader
// library, pcscd, vpcd and the virtual card. Reported per dump: the wall
// time, the APDUs the virtual card answered, the ratio to the fewest this
// call sequence needs, and the wall time per APDU.
//
// The fewest: every login's rf_anticoll must give the serial of the card in
// the field now (one Get UID), the one key is loaded once per session (one
// Load Keys), every login authenticates (one General Authenticate), every
// read is one Read Binary: 16 + 1 + 16 + 64 = 97 for the first dump, 96 for
// each later one, whose key is already loaded.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Vesk_RD.h"
#include "pcsc_fixture.h"

namespace {

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

bool failed(const char *what, int sector, int rc) {
    int code = 0;
    char text[VESK_MESSAGE_SIZE];
    Quen_GetLastErr(&code, text);
    std::fprintf(stderr, "%s of sector %d returned %d, record code %d\n", what, sector, rc, code);
    return false;
}

bool dump() {
    for (int sector = 0; sector < 16; ++sector) {
        int rc = Quen_Login_With_UserKey(sector, kKey, 0);
        if (rc != 0) return failed("login", sector, rc);
        for (int b = 0; b < 4; ++b) {
            unsigned char block[16];
            if ((rc = Quen_ReadBlock(sector, b, block)) != 0) return failed("read", sector, rc);
        }
    }
    return true;
}

void PcscDump1K(benchmark::State &state) {
    const std::string why = pt::stack_unavailable();
    if (!why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::string work = pt::make_work_dir();
    const std::string failed = pt::ensure_pcscd(work);
    pt::VirtualCard card;
    std::string error;
    if (!failed.empty() || !card.start(work, {}, &error) || !pt::wait_card(pt::kVpcdReader, true, 5000) ||
        dlopen(VESK_PCSC_READER_PATH, RTLD_NOW | RTLD_LOCAL) == nullptr ||
        Quen_ConnectVelm40(pt::reader_index(pt::kVpcdReader), 9600) != 0) {
        state.SkipWithError(("PC/SC stack not usable: " + failed + error).c_str());
        return;
    }
    // The first dump loads the key; the timed ones reuse it.
    // A freshly started pcscd sometimes drops the first session; the timed
    // dumps begin once one whole dump has gone through.
    long before_first = card.count("apdus");
    bool ok = dump();
    for (int attempt = 0; !ok && attempt < 3; ++attempt) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Quen_ConnectVelm40(pt::reader_index(pt::kVpcdReader), 9600);
        before_first = card.count("apdus");
        ok = dump();
    }
    if (!ok) state.SkipWithError("no dump went through");
    const long first = card.count("apdus") - before_first;
    const long before = card.count("apdus");
    long dumps = 0;
    for (auto _ : state) {
        if (!dump()) {
            state.SkipWithError("a dump failed");
            break;
        }
        ++dumps;
    }
    const long later = dumps > 0 ? (card.count("apdus") - before) / dumps : 0;
    state.counters["apdus_first_dump"] = static_cast<double>(first);
    state.counters["ratio_first_to_97"] = static_cast<double>(first) / 97.0;
    state.counters["apdus_per_dump"] = static_cast<double>(later);
    state.counters["ratio_to_96"] = static_cast<double>(later) / 96.0;
    // Wall time per APDU, averaged over the timed dumps.
    state.counters["s_per_apdu"] = benchmark::Counter(static_cast<double>(later) * static_cast<double>(dumps),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    Quen_CloseVelm40();
    card.stop();
    if (pt::pcscd_started_here()) pt::stop_pcscd();
    pt::remove_work_dir(work);
}

}  // namespace

BENCHMARK(PcscDump1K)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

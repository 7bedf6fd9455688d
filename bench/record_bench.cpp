// What a recorded failure costs next to the formatting it cannot avoid.
// Arg 0: the catalogue text "串口%d未打开" with 0 (what every unbound call
// records); arg 1: a host text of 1023 bytes through "%s", the longest the
// record holds.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "Vesk_RD.h"
#include "frame/messages.h"

namespace {

const std::string kLong(1023, 'q');

// The baseline: one vsnprintf into a 1024-byte buffer, nothing else.
int plain_format(char *buffer, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, VESK_MESSAGE_SIZE, format, args);
    va_end(args);
    return n;
}

void BM_PlainVsnprintf(benchmark::State &state) {
    char buffer[VESK_MESSAGE_SIZE];
    for (auto _ : state) {
        if (state.range(0) == 0) {
            benchmark::DoNotOptimize(plain_format(buffer, vesk::msg::kPortNotOpen, 0));
        } else {
            benchmark::DoNotOptimize(plain_format(buffer, "%s", kLong.c_str()));
        }
        benchmark::ClobberMemory();
    }
}

// A card operation with no reader bound: the whole failure path, recording
// (-1, "串口0未打开") and returning -1. Only arg 0 applies.
void BM_FailurePathRecords(benchmark::State &state) {
    unsigned char data[VESK_BLOCK_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(Quen_ReadBlock(1, 2, data));
        benchmark::ClobberMemory();
    }
}

void BM_SetLastErrMsgThenGetLastErr(benchmark::State &state) {
    char message[VESK_MESSAGE_SIZE];
    int code = 0;
    for (auto _ : state) {
        if (state.range(0) == 0) {
            SetLastErrMsg(-1, vesk::msg::kPortNotOpen, 0);
        } else {
            SetLastErrMsg(-1, "%s", kLong.c_str());
        }
        Quen_GetLastErr(&code, message);
        benchmark::DoNotOptimize(message);
        benchmark::ClobberMemory();
    }
}

void BM_SetLastErrMsgAlone(benchmark::State &state) {
    for (auto _ : state) {
        if (state.range(0) == 0) {
            benchmark::DoNotOptimize(SetLastErrMsg(-1, vesk::msg::kPortNotOpen, 0));
        } else {
            benchmark::DoNotOptimize(SetLastErrMsg(-1, "%s", kLong.c_str()));
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_PlainVsnprintf)->Arg(0)->Arg(1);
BENCHMARK(BM_FailurePathRecords)->Arg(0);
BENCHMARK(BM_SetLastErrMsgAlone)->Arg(0)->Arg(1);
BENCHMARK(BM_SetLastErrMsgThenGetLastErr)->Arg(0)->Arg(1);

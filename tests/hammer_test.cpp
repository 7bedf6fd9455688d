// Four threads calling all twelve exports at once. The library is not
// thread-safe by design, so the record and the handle race; what must hold is
// that no call reads or writes outside a buffer (AddressSanitizer watches the
// exact-size heap buffers below) and every return stays one the operation can
// give. Every text read back is terminated inside its 1024 bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/harness.h"

namespace {

constexpr int kThreads = 4;
constexpr int kIterations = 20000;

std::atomic<long> g_bad_returns{0};
std::atomic<long> g_unterminated{0};

void expect_one_of(int value, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (value == a) return;
    std::fprintf(stderr, "unexpected return %d\n", value);
    ++g_bad_returns;
}

// Exactly sized heap blocks, so one byte too far is a reported overrun.
std::unique_ptr<unsigned char[]> bytes(size_t n) { return std::unique_ptr<unsigned char[]>(new unsigned char[n]()); }

void hammer(int id) {
    auto serial = bytes(VESK_SERIAL_SIZE);
    auto answer = bytes(VESK_ANSWER_SIZE);
    auto data = bytes(VESK_BLOCK_SIZE);
    auto key = bytes(6);
    std::unique_ptr<char[]> message(new char[VESK_MESSAGE_SIZE]);
    const size_t lengths[] = {0, 1, 100, 1022, 1023, 1024, 1025, 4000};
    std::vector<std::string> texts;
    for (size_t n : lengths) texts.emplace_back(n, static_cast<char>('a' + id));

    for (int i = 0; i < kIterations; ++i) {
        const int sector = i % 70 - 3;
        const int block = i % 9 - 2;
        expect_one_of(Quen_ConnectVelm40(id, 9600), {0, -3});
        expect_one_of(Quen_ControlBuzzer(), {0, -1});
        expect_one_of(MF_ReadSeriesNo(i % 2 ? serial.get() : nullptr), {0, -2, 2});
        expect_one_of(Quen_RequestCardExist(serial.get(), i % 3 ? answer.get() : nullptr), {0, -2, 2, 8});
        expect_one_of(Quen_Login_With_UserKey(sector, i % 5 ? key.get() : nullptr, i % 3), {0, -2, 8, -3, -4});
        expect_one_of(Quen_ReadBlock(sector, block, i % 4 ? data.get() : nullptr), {0, -5});
        expect_one_of(Quen_WriteBlock(sector, block, i % 6 ? data.get() : nullptr), {0, -6});
        expect_one_of(Quen_SleepCard(), {0, -7});
        const std::string &text = texts[static_cast<size_t>(i) % texts.size()];
        expect_one_of(SetLastErrMsg(i, i % 7 ? "%s" : nullptr, text.c_str()), {i});
        int code = 0;
        expect_one_of(Quen_GetLastErr(&code, message.get()), {0});
        if (std::memchr(message.get(), '\0', VESK_MESSAGE_SIZE) == nullptr) ++g_unterminated;
        expect_one_of(Quen_GetLastErr(nullptr, message.get()), {0});
        expect_one_of(Quen_GetLastErr(&code, nullptr), {0});
        expect_one_of(GetMFLastErr(), {0});
        expect_one_of(Quen_CloseVelm40(), {0});
    }
}

}  // namespace

TEST(Hammer, FourThreadsOverAllTwelveExportsStayInsideEveryBuffer) {
    vt::Recorder rec;
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    rec.reset();
    // Failures spread over every step, so the recording paths race too.
    rec.script("rf_init", -9, -3);
    rec.script("rf_init", -10, 0);
    rec.script("rf_request", -5, 1);
    rec.script("rf_anticoll", -7, 2);
    rec.script("rf_select", -11, 8);
    rec.script("rf_load_key", -13, 7);
    rec.script("rf_authentication", -3, 3);
    rec.script("rf_read", -2, 5);
    rec.script("rf_write", -3, 5);
    rec.script("rf_halt", -2, 12);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(hammer, t);
    for (std::thread &t : threads) t.join();

    EXPECT_EQ(g_bad_returns.load(), 0);
    EXPECT_EQ(g_unterminated.load(), 0);
    const vt::Record r = vt::last_error();
    EXPECT_LE(r.text.size(), 1023u);
}

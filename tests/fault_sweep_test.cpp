// Every reader-library call of every operation, failing with every kind of
// status: what the operation returns, what it records, which calls it makes,
// and that its outputs stay untouched.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

const int kStatuses[] = {INT_MIN, -1, 1, 255, INT_MAX};
const unsigned char kKey[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const unsigned char kBlock[16] = {};

// Output buffers of the operation under test; null when the caller wants none.
struct Outputs {
    unsigned char serial[VESK_SERIAL_SIZE];
    unsigned char answer;
    unsigned char data[VESK_BLOCK_SIZE];
};

struct Operation {
    const char *name;
    std::vector<std::string> calls;  // the complete sequence of a success
    int (*run)(Outputs *out);
};

const Operation kConnect{"Quen_ConnectVelm40", {"rf_init", "rf_beep"},
                         [](Outputs *) { return Quen_ConnectVelm40(1, 9600); }};
const Operation kReadSeriesNo{"MF_ReadSeriesNo", {"rf_request", "rf_anticoll"},
                              [](Outputs *o) { return MF_ReadSeriesNo(o ? o->serial : nullptr); }};
const Operation kRequestCardExist{
    "Quen_RequestCardExist", {"rf_request", "rf_anticoll", "rf_anticoll", "rf_select"},
    [](Outputs *o) { return Quen_RequestCardExist(o ? o->serial : nullptr, o ? &o->answer : nullptr); }};
const Operation kLogin{"Quen_Login_With_UserKey",
                       {"rf_request", "rf_anticoll", "rf_select", "rf_load_key", "rf_authentication"},
                       [](Outputs *) { return Quen_Login_With_UserKey(3, kKey, 0); }};
const Operation kReadBlock{"Quen_ReadBlock", {"rf_read"},
                           [](Outputs *o) { return Quen_ReadBlock(3, 1, o ? o->data : nullptr); }};
const Operation kWriteBlock{"Quen_WriteBlock", {"rf_write"}, [](Outputs *) { return Quen_WriteBlock(3, 1, kBlock); }};
const Operation kSleepCard{"Quen_SleepCard", {"rf_halt"}, [](Outputs *) { return Quen_SleepCard(); }};
const Operation kControlBuzzer{"Quen_ControlBuzzer", {"rf_beep"}, [](Outputs *) { return Quen_ControlBuzzer(); }};
const Operation kCloseVelm40{"Quen_CloseVelm40", {"rf_exit"}, [](Outputs *) { return Quen_CloseVelm40(); }};

// Which of the swept statuses a row is about (rf_init's positive results are
// handles, not failures).
enum Statuses { kAll, kNegative, kPositive };

// A value that is either the failing call's status s or a fixed number.
struct Value {
    bool is_status;
    int fixed;
    int of(int s) const { return is_status ? s : fixed; }
};
constexpr Value S{true, 0};
constexpr Value fixed(int v) { return {false, v}; }

struct Record {
    bool kept;         // the record is left as it was
    Value code;
    const char *text;  // UTF-8; a %d in it takes the status
};
constexpr Record kKept{true, {}, nullptr};
constexpr Record rec(Value code, const char *text) { return {false, code, text}; }

struct Row {
    const Operation *op;
    size_t failing;  // index into op->calls
    Statuses statuses;
    Value returns;
    Record record;
    size_t calls_made;
};

const Row kRows[] = {
    // operation          failing call           returns     record                                   calls
    {&kConnect, 0, kNegative, S, rec(fixed(-1), "打开串口%d失败"), 1},
    {&kConnect, 0, kPositive, fixed(0), kKept, 2},
    {&kConnect, 1, kAll, fixed(0), kKept, 2},
    {&kReadSeriesNo, 0, kAll, fixed(-2), kKept, 1},
    {&kReadSeriesNo, 1, kAll, S, kKept, 2},
    {&kRequestCardExist, 0, kAll, fixed(-2), rec(fixed(-2), "读取卡序列号失败"), 1},
    {&kRequestCardExist, 1, kAll, S, rec(S, "读取卡序列号失败"), 2},
    {&kRequestCardExist, 2, kAll, fixed(-2), rec(S, "读卡器感应区没有卡"), 3},
    {&kRequestCardExist, 3, kAll, S, rec(S, "选卡失败!"), 4},
    {&kLogin, 0, kAll, fixed(-2), rec(S, "读卡器感应区没有卡"), 1},
    {&kLogin, 1, kAll, fixed(-2), rec(S, "读卡器感应区没有卡"), 2},
    {&kLogin, 2, kAll, S, rec(S, "选卡失败!"), 3},
    {&kLogin, 3, kAll, fixed(-3), rec(S, "装载密码失败!"), 4},
    {&kLogin, 4, kAll, fixed(-4), rec(S, "验证密钥失败!"), 5},
    {&kReadBlock, 0, kAll, fixed(-5), rec(S, "读卡内数据错!"), 1},
    {&kWriteBlock, 0, kAll, fixed(-6), kKept, 1},
    {&kSleepCard, 0, kAll, fixed(-7), rec(S, "休眠失败!"), 1},
    {&kControlBuzzer, 0, kAll, fixed(0), kKept, 1},
    {&kCloseVelm40, 0, kAll, fixed(0), kKept, 1},
};

bool applies(Statuses which, int s) {
    return which == kAll || (which == kNegative && s < 0) || (which == kPositive && s > 0);
}

std::vector<std::string> entry_names(const std::vector<std::string> &calls) {
    std::vector<std::string> out;
    for (const std::string &c : calls) out.push_back(c.substr(0, c.find('(')));
    return out;
}

// The failing call as the recorder counts it: the nth call of its entry.
int nth_of(const Operation &op, size_t index) {
    int n = 0;
    for (size_t i = 0; i <= index; ++i) n += op.calls[i] == op.calls[index];
    return n;
}

}  // namespace

TEST(FaultSweep, EveryCallOfEveryOperationFailingWithEveryStatus) {
    vt::Recorder rec;
    int cases = 0;
    for (const Row &row : kRows) {
        const Operation &op = *row.op;
        for (int s : kStatuses) {
            if (!applies(row.statuses, s)) continue;
            for (bool want_outputs : {true, false}) {
                ++cases;
                const std::string where = std::string(op.name) + " failing at " + op.calls[row.failing] + " (#" +
                                          std::to_string(row.failing) + ") with " + std::to_string(s) +
                                          (want_outputs ? "" : ", null outputs");
                // A fresh reader handle 7 before every case; connect itself is the case on its rows.
                rec.reset();
                if (&op != &kConnect) {
                    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0) << where;
                }
                rec.reset();
                rec.script(op.calls[row.failing].c_str(), nth_of(op, row.failing), s);
                SetLastErrMsg(55, "earlier");
                Outputs out;
                std::memset(&out, 0xAA, sizeof out);

                EXPECT_EQ(op.run(want_outputs ? &out : nullptr), row.returns.of(s)) << where;

                const std::vector<std::string> expected_calls(op.calls.begin(), op.calls.begin() + row.calls_made);
                EXPECT_EQ(entry_names(rec.calls()), expected_calls) << where;
                const vt::Record r = vt::last_error();
                if (row.record.kept) {
                    EXPECT_EQ(r.code, 55) << where;
                    EXPECT_EQ(r.text, "earlier") << where;
                } else {
                    EXPECT_EQ(r.code, row.record.code.of(s)) << where;
                    EXPECT_EQ(r.text, vt::gbk_format(row.record.text, s)) << where;
                }
                Outputs untouched;
                std::memset(&untouched, 0xAA, sizeof untouched);
                EXPECT_EQ(0, std::memcmp(&out, &untouched, sizeof out)) << where;
            }
        }
    }
    // 17 rows over all five statuses, rf_init's two rows over two and three.
    EXPECT_EQ(cases, 2 * (17 * 5 + 2 + 3));
}

TEST(FaultSweep, PositiveInitResultBecomesTheHandleOfTheBeep) {
    vt::Recorder rec;
    for (int handle : {1, 255, INT_MAX}) {
        rec.reset();
        rec.script("rf_init", 1, handle);
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
        EXPECT_EQ(rec.calls(), (std::vector<std::string>{"rf_init(1,9600)", "rf_beep(" + std::to_string(handle) + ",10)"}));
    }
}

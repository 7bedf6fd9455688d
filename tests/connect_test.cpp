// Binding the reader library, connect, beep and close.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/harness.h"

using Calls = std::vector<std::string>;
using vt::gbk;
using vt::last_error;

// The notice when no reader library can be loaded is shown in each
// platform's way: notice_posix_test.cpp, notice_win32_test.cpp.

TEST(Connect, SuccessInitsWithCallerSettingsAndBeepsOnce) {
    vt::Recorder rec;
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_ConnectVelm40(3, 115200), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_init(3,115200)", "rf_beep(7,10)"}));
    EXPECT_EQ(last_error().code, 55);
    EXPECT_EQ(last_error().text, "earlier");
}

TEST(Connect, ArgumentsPassUnchanged) {
    vt::Recorder rec;
    EXPECT_EQ(Quen_ConnectVelm40(INT_MIN, INT_MAX), 0);
    EXPECT_EQ(rec.calls()[0], "rf_init(-2147483648,2147483647)");
}

TEST(Connect, NegativeInitIsRecordedAndReturned) {
    vt::Recorder rec;
    for (int handle : {-3, -1, INT_MIN}) {
        rec.reset();
        rec.script("rf_init", 0, handle);
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), handle);
        EXPECT_EQ(rec.calls(), (Calls{"rf_init(1,9600)"}));
        const vt::Record r = last_error();
        EXPECT_EQ(r.code, -1);
        EXPECT_EQ(r.text, vt::gbk_format("打开串口%d失败", handle));
    }
}

TEST(Connect, InitZeroSucceedsButTheBeepRecordsPortNotOpen) {
    vt::Recorder rec;
    rec.script("rf_init", 0, 0);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_init(1,9600)"}));
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, gbk("串口0未打开"));
}

TEST(Connect, SecondConnectReusesBindingAndOverwritesHandle) {
    vt::Recorder rec;
    rec.script("rf_init", 2, 9);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(Quen_ConnectVelm40(2, 19200), 0);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_init(1,9600)", "rf_beep(7,10)", "rf_init(2,19200)", "rf_beep(9,10)",
                                  "rf_exit(9)"}));
}

TEST(Buzzer, BeforeAnyConnectRecordsPortNotOpen) {
    EXPECT_EQ(Quen_ControlBuzzer(), -1);
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, gbk("串口0未打开"));
}

TEST(Buzzer, BeepsWithTenAndIgnoresItsStatus) {
    vt::Recorder rec;
    vt::connect_and_clear(rec);
    rec.script("rf_beep", 0, 99);
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_ControlBuzzer(), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_beep(7,10)"}));
    EXPECT_EQ(last_error().code, 55);
}

TEST(Buzzer, NegativeHandleOfFailedConnectStillBeeps) {
    vt::Recorder rec;
    rec.script("rf_init", 0, -3);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -3);
    rec.reset();
    EXPECT_EQ(Quen_ControlBuzzer(), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_beep(-3,10)"}));
}

TEST(Close, TwiceCallsExitTwiceWithSameHandle) {
    vt::Recorder rec;
    vt::connect_and_clear(rec);
    rec.script("rf_exit", 0, 5);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_exit(7)", "rf_exit(7)"}));
}

TEST(Close, ThenConnectAgainWorks) {
    vt::Recorder rec;
    vt::connect_and_clear(rec);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_exit(7)", "rf_init(1,9600)", "rf_beep(7,10)"}));
}

TEST(Record, FailureSurvivesLaterSuccesses) {
    vt::Recorder rec;
    vt::connect_and_clear(rec);
    rec.script("rf_halt", 1, 6);
    EXPECT_EQ(Quen_SleepCard(), -7);
    unsigned char serial[4], answer, data[16] = {};
    EXPECT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(Quen_Login_With_UserKey(1, data, 0), 0);
    EXPECT_EQ(Quen_ReadBlock(1, 1, data), 0);
    EXPECT_EQ(Quen_WriteBlock(1, 1, data), 0);
    EXPECT_EQ(Quen_SleepCard(), 0);
    EXPECT_EQ(Quen_ControlBuzzer(), 0);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.text, gbk("休眠失败!"));
}

// Every variant lacks one entry point; none of them may be bound or called.
class MissingEntry : public testing::TestWithParam<const char *> {};

TEST_P(MissingEntry, FailsWithMinusTwoCallsNothingAndBindsLaterLibrary) {
    SetLastErrMsg(55, "earlier");
    {
        vt::Recorder partial(std::string("missing_") + GetParam());
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
        EXPECT_TRUE(partial.calls().empty());
        // Still unbound: the operations call nothing.
        unsigned char data[16] = {};
        EXPECT_EQ(Quen_ReadBlock(0, 0, data), -1);
        EXPECT_EQ(Quen_CloseVelm40(), 0);
        EXPECT_TRUE(partial.calls().empty());
    }
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, gbk("串口0未打开"));

    vt::Recorder complete;
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(complete.calls(), (Calls{"rf_init(1,9600)", "rf_beep(7,10)"}));
}

INSTANTIATE_TEST_SUITE_P(EachName, MissingEntry,
                         testing::Values("rf_init", "rf_card", "rf_load_key", "rf_authentication", "rf_read",
                                         "rf_write", "rf_halt", "rf_exit", "rf_beep", "rf_anticoll", "rf_request",
                                         "rf_select"));

TEST(MissingEntryRecord, BindingFailureLeavesRecordUntouched) {
    vt::Recorder partial("missing_rf_card");
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
    EXPECT_EQ(last_error().code, 55);
    EXPECT_EQ(last_error().text, "earlier");
}

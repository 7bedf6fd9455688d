// Faults on purpose: RFSIM_FAULT through the rf_ entry points.
#include <gtest/gtest.h>

#include "sim_support.h"

using namespace st;

namespace {

int open_with_faults(const char *rules) {
    set_env("RFSIM_FAULT", rules);
    return rf().init(1, 9600);
}

}  // namespace

TEST(FaultSpec, MalformedSpecsRefuseToOpenWithOneMessage) {
    const char *bad[] = {
        "rf_read",           // no status
        "rf_read=",          // empty status
        "rf_read=x",         // not a number
        "rf_read=0",         // success is not a fault
        "rf_read=5x",        // trailing junk
        "rf_reed=5",         // no such entry point
        "read=5",            // names are the rf_ names
        "rf_read#0=5",       // calls count from 1
        "rf_read#-2=5",
        "rf_read#=5",
        "rf_read#two=5",
        "rf_init=3",         // rf_init fails with negative values only
        "rf_read=5,",        // empty item
        ",rf_read=5",
        "rf_read=5,,rf_halt=1",
        "rf_read=99999999999",  // beyond 32 bits
    };
    for (const char *rules : bad) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(open_with_faults(rules), RF_INIT_BAD_SETTING) << rules;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("rfsim: RFSIM_FAULT"), std::string::npos) << rules << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST(FaultSpec, WellFormedSpecsOpen) {
    const char *good[] = {"", "  ", "rf_read=5", " rf_read # 2 = 5 , rf_halt=-1 ", "rf_init#3=-4",
                          "rf_select=2147483647", "rf_select=-2147483648"};
    for (const char *rules : good) EXPECT_GT(open_with_faults(rules), 0) << rules;
}

TEST(FaultSpec, NthCallAndEveryCall) {
    const int h = open_with_faults("rf_beep#2=11,rf_beep#4=7,rf_halt=3");
    ASSERT_GT(h, 0);
    const int expected[] = {RF_OK, 11, RF_OK, 7, RF_OK, RF_OK};
    for (int want : expected) EXPECT_EQ(rf().beep(h, 10), want);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rf().halt(h), 3);
}

TEST(FaultSpec, NumberedCallWinsOverEveryCall) {
    const int h = open_with_faults("rf_beep=9,rf_beep#2=4");
    ASSERT_GT(h, 0);
    EXPECT_EQ(rf().beep(h, 10), 9);
    EXPECT_EQ(rf().beep(h, 10), 4);
    EXPECT_EQ(rf().beep(h, 10), 9);
}

// An injected failure does nothing else: the card stays where it was.
TEST(FaultSpec, FaultedCallHasNoEffect) {
    const int h = open_with_faults("rf_select#1=8,rf_exit#1=2");
    ASSERT_GT(h, 0);
    unsigned int type = 0, serial = 0;
    unsigned char sak = 0;
    ASSERT_EQ(rf().request(h, 1, &type), RF_OK);
    ASSERT_EQ(rf().anticoll(h, 0, &serial), RF_OK);
    EXPECT_EQ(rf().select(h, serial, &sak), 8);
    EXPECT_EQ(sak, 0);
    EXPECT_EQ(rf().select(h, serial, &sak), RF_OK);  // still ready, not active
    EXPECT_EQ(sak, 0x08);
    EXPECT_EQ(rf().exit(h), 2);
    EXPECT_EQ(rf().beep(h, 10), RF_OK);  // not closed
    EXPECT_EQ(rf().exit(h), RF_OK);
    EXPECT_EQ(rf().beep(h, 10), RF_ERR_HANDLE);
}

TEST(FaultSpec, InitFaultCountsOpens) {
    set_env("RFSIM_FAULT", "rf_init#2=-5");
    EXPECT_GT(rf().init(1, 9600), 0);
    EXPECT_EQ(rf().init(1, 9600), -5);
    EXPECT_GT(rf().init(1, 9600), 0);
}

// Counting goes on while the rule list stays the same and starts over when it
// changes.
TEST(FaultSpec, CountsRestartOnlyWhenTheSpecChanges) {
    int h = open_with_faults("rf_beep#2=6");
    EXPECT_EQ(rf().beep(h, 10), RF_OK);
    h = open_with_faults("rf_beep#2=6");
    EXPECT_EQ(rf().beep(h, 10), 6);
    h = open_with_faults("rf_beep#2=7");
    EXPECT_EQ(rf().beep(h, 10), RF_OK);
    EXPECT_EQ(rf().beep(h, 10), 7);
    // A bad rule list leaves the plan in force.
    testing::internal::CaptureStderr();
    EXPECT_EQ(open_with_faults("nonsense"), RF_INIT_BAD_SETTING);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(rf().beep(h, 10), RF_OK);
    EXPECT_EQ(open_with_faults(nullptr) > 0, true);
    EXPECT_EQ(rf().beep(rf().init(1, 9600), 10), RF_OK);
}

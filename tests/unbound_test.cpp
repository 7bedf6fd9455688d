// Card operations while no reader library is bound call nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "support/harness.h"

using vt::gbk;
using vt::last_error;

namespace {

struct Operation {
    const char *name;
    std::function<int()> call;
};

unsigned char g_buf[16];

const Operation kOperations[] = {
    {"MF_ReadSeriesNo", [] { return MF_ReadSeriesNo(g_buf); }},
    {"Quen_RequestCardExist", [] { return Quen_RequestCardExist(g_buf, g_buf + 4); }},
    {"Quen_Login_With_UserKey", [] { return Quen_Login_With_UserKey(1, g_buf, 0); }},
    {"Quen_ReadBlock", [] { return Quen_ReadBlock(1, 1, g_buf); }},
    {"Quen_WriteBlock", [] { return Quen_WriteBlock(1, 1, g_buf); }},
    {"Quen_SleepCard", [] { return Quen_SleepCard(); }},
    {"Quen_ControlBuzzer", [] { return Quen_ControlBuzzer(); }},
};

void expect_port_not_open(const Operation &op) {
    SetLastErrMsg(55, "earlier");
    std::memset(g_buf, 0xAA, sizeof g_buf);
    EXPECT_EQ(op.call(), -1) << op.name;
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1) << op.name;
    EXPECT_EQ(r.text, gbk("串口0未打开")) << op.name;
    EXPECT_EQ(vt::hex(g_buf, 16), std::string(32, 'A')) << op.name;
}

}  // namespace

TEST(Unbound, BeforeAnyConnect) {
    for (const Operation &op : kOperations) expect_port_not_open(op);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
}

TEST(Unbound, AfterLoadFailure) {
    {
        vt::QuietNotice quiet;
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -1);
    }
    for (const Operation &op : kOperations) expect_port_not_open(op);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
}

TEST(Unbound, AfterBindingFailureNothingReachesTheUnloadedLibrary) {
    vt::Recorder partial("missing_rf_select");
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
    for (const Operation &op : kOperations) expect_port_not_open(op);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_TRUE(partial.calls().empty());
}

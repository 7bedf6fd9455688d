// Block access and card halt.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "support/harness.h"

using Calls = std::vector<std::string>;
using vt::gbk;
using vt::last_error;

namespace {

class Blocks : public testing::Test {
  protected:
    void SetUp() override { vt::connect_and_clear(rec); }
    vt::Recorder rec;
};

const std::string kZero20(40, '0');

}  // namespace

TEST_F(Blocks, AddressIsSectorTimesFourPlusBlockModulo256) {
    const struct {
        int sector, block, address;
    } cases[] = {
        {1, 2, 6},     {15, 3, 63},         {0, 5, 5},          {70, 1, 25},        {64, 0, 0},
        {63, 3, 255},  {-1, 0, 252},        {0, -1, 255},       {INT_MIN, 0, 0},    {INT_MAX, INT_MAX, 251},
        {0, 256, 0},   {INT_MIN, INT_MIN, 0}, {255, 0, 252},     {256, 0, 0},
    };
    const unsigned char data[16] = {};
    for (const auto &c : cases) {
        rec.reset();
        unsigned char out[16];
        EXPECT_EQ(Quen_ReadBlock(c.sector, c.block, out), 0);
        EXPECT_EQ(Quen_WriteBlock(c.sector, c.block, data), 0);
        const std::string a = std::to_string(c.address);
        EXPECT_EQ(rec.calls(), (Calls{"rf_read(7," + a + "," + kZero20 + ")", "rf_write(7," + a + "," + kZero20 + ")"}))
            << c.sector << "/" << c.block;
    }
}

TEST_F(Blocks, ReadHandsBackFirstSixteenBytesOfZeroedBuffer) {
    unsigned char fill[20];
    for (int i = 0; i < 20; ++i) fill[i] = static_cast<unsigned char>(0xE0 + i);
    rec.read_data(fill);
    SetLastErrMsg(55, "earlier");
    unsigned char out[17];
    std::memset(out, 0x55, sizeof out);
    EXPECT_EQ(Quen_ReadBlock(1, 2, out), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_read(7,6," + kZero20 + ")"}));
    EXPECT_EQ(0, std::memcmp(out, fill, 16));
    EXPECT_EQ(out[16], 0x55);
    EXPECT_EQ(last_error().code, 55);
}

TEST_F(Blocks, FailedReadRecordsAndLeavesData) {
    for (int status : {1, -1, 255, INT_MIN, INT_MAX}) {
        rec.reset();
        rec.script("rf_read", 0, status);
        unsigned char out[16];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(Quen_ReadBlock(3, 1, out), -5);
        EXPECT_EQ(vt::hex(out, 16), std::string(32, 'A'));
        const vt::Record r = last_error();
        EXPECT_EQ(r.code, status);
        EXPECT_EQ(r.text, gbk("读卡内数据错!"));
    }
}

TEST_F(Blocks, ReadIntoNullSkipsTheCopy) {
    EXPECT_EQ(Quen_ReadBlock(1, 0, nullptr), 0);
    EXPECT_EQ(rec.calls().size(), 1u);
}

TEST_F(Blocks, WriteSendsSixteenBytesThenFourZeros) {
    unsigned char data[16];
    for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xF0 + i);
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_WriteBlock(1, 2, data), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_write(7,6,F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF00000000)"}));
    EXPECT_EQ(last_error().code, 55);
}

TEST_F(Blocks, FailedWriteReturnsMinusSixAndRecordsNothing) {
    rec.script("rf_write", 0, 5);
    SetLastErrMsg(55, "earlier");
    const unsigned char data[16] = {};
    EXPECT_EQ(Quen_WriteBlock(1, 2, data), -6);
    EXPECT_EQ(last_error().code, 55);
    EXPECT_EQ(last_error().text, "earlier");
}

TEST_F(Blocks, WriteOfNullFailsWithoutCallingTheReader) {
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_WriteBlock(1, 2, nullptr), -6);
    EXPECT_TRUE(rec.calls().empty());
    EXPECT_EQ(last_error().code, 55);
}

TEST_F(Blocks, SleepHaltsAndKeepsRecordOnSuccess) {
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_SleepCard(), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_halt(7)"}));
    EXPECT_EQ(last_error().code, 55);
}

TEST_F(Blocks, FailedSleepRecordsStatus) {
    rec.script("rf_halt", 0, 12);
    EXPECT_EQ(Quen_SleepCard(), -7);
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, 12);
    EXPECT_EQ(r.text, gbk("休眠失败!"));
}

// Card presence and serial number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/harness.h"

using Calls = std::vector<std::string>;
using vt::gbk;
using vt::last_error;

namespace {

class Card : public testing::Test {
  protected:
    void SetUp() override { vt::connect_and_clear(rec); }
    vt::Recorder rec;
};

struct ByteOrder {
    unsigned int value;
    unsigned char bytes[4];
};

}  // namespace

TEST_F(Card, SerialComesOutLeastSignificantByteFirst) {
    const ByteOrder cases[] = {
        {0x12345678u, {0x78, 0x56, 0x34, 0x12}},
        {0xC1D2E3F4u, {0xF4, 0xE3, 0xD2, 0xC1}},
        {0x00000001u, {0x01, 0x00, 0x00, 0x00}},
        {0xFF000000u, {0x00, 0x00, 0x00, 0xFF}},
    };
    for (const ByteOrder &c : cases) {
        rec.reset();
        rec.serial(0, c.value);
        unsigned char serial[4] = {};
        EXPECT_EQ(MF_ReadSeriesNo(serial), 0);
        EXPECT_EQ(0, std::memcmp(serial, c.bytes, 4)) << std::hex << c.value;
        unsigned char answer = 0;
        std::memset(serial, 0, 4);
        EXPECT_EQ(Quen_RequestCardExist(serial, &answer), 0);
        EXPECT_EQ(0, std::memcmp(serial, c.bytes, 4)) << std::hex << c.value;
    }
}

TEST_F(Card, ReadSeriesNoRequestsAllCardsThenAnticollidesFromZero) {
    unsigned char serial[4];
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(MF_ReadSeriesNo(serial), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_request(7,1)", "rf_anticoll(7,0,0x00000000)"}));
    EXPECT_EQ(last_error().code, 55);
}

TEST_F(Card, RequestCardExistHandsOutFirstSerialAndSelectsSecond) {
    rec.serial(1, 0x11223344u);
    rec.serial(2, 0xAABBCCDDu);
    rec.answer(0x18);
    SetLastErrMsg(55, "earlier");
    unsigned char serial[4] = {};
    unsigned char answer = 0;
    EXPECT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_request(7,1)", "rf_anticoll(7,0,0x00000000)", "rf_anticoll(7,0,0x00000000)",
                                  "rf_select(7,0xAABBCCDD)"}));
    EXPECT_EQ(vt::hex(serial, 4), "44332211");
    EXPECT_EQ(answer, 0x18);
    EXPECT_EQ(last_error().code, 55);
    EXPECT_EQ(last_error().text, "earlier");
}

TEST_F(Card, NullOutputsAreSkippedButTheCallsAreMade) {
    EXPECT_EQ(MF_ReadSeriesNo(nullptr), 0);
    EXPECT_EQ(Quen_RequestCardExist(nullptr, nullptr), 0);
    unsigned char serial[4] = {};
    EXPECT_EQ(Quen_RequestCardExist(serial, nullptr), 0);
    unsigned char answer = 0;
    EXPECT_EQ(Quen_RequestCardExist(nullptr, &answer), 0);
    EXPECT_EQ(answer, 0x08);
    EXPECT_EQ(rec.calls().size(), 2u + 3 * 4u);
}

namespace {

struct Failure {
    const char *entry;
    int nth;
    int status;
    int returned;
    bool records;
    const char *text;  // UTF-8
    size_t calls;      // calls made, the failing one included
};

}  // namespace

TEST_F(Card, ReadSeriesNoFailuresRecordNothingAndLeaveSerial) {
    const Failure cases[] = {
        {"rf_request", 1, 1, -2, false, "", 1},
        {"rf_request", 1, -9, -2, false, "", 1},
        {"rf_anticoll", 1, 5, 5, false, "", 2},
        {"rf_anticoll", 1, -4, -4, false, "", 2},
    };
    for (const Failure &c : cases) {
        rec.reset();
        rec.script(c.entry, c.nth, c.status);
        SetLastErrMsg(55, "earlier");
        unsigned char serial[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(MF_ReadSeriesNo(serial), c.returned) << c.entry;
        EXPECT_EQ(vt::hex(serial, 4), "AAAAAAAA") << c.entry;
        EXPECT_EQ(rec.calls().size(), c.calls) << c.entry;
        EXPECT_EQ(last_error().code, 55);
        EXPECT_EQ(last_error().text, "earlier");
    }
}

TEST_F(Card, RequestCardExistFailuresRecordAndLeaveOutputs) {
    const Failure cases[] = {
        {"rf_request", 1, 1, -2, true, "读取卡序列号失败", 1},
        {"rf_anticoll", 1, 5, 5, true, "读取卡序列号失败", 2},
        {"rf_anticoll", 2, 6, -2, true, "读卡器感应区没有卡", 3},
        {"rf_select", 1, 3, 3, true, "选卡失败!", 4},
        {"rf_select", 1, -8, -8, true, "选卡失败!", 4},
    };
    for (const Failure &c : cases) {
        rec.reset();
        rec.script(c.entry, c.nth, c.status);
        unsigned char serial[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        unsigned char answer = 0xAA;
        EXPECT_EQ(Quen_RequestCardExist(serial, &answer), c.returned) << c.entry << c.nth;
        EXPECT_EQ(vt::hex(serial, 4), "AAAAAAAA") << c.entry << c.nth;
        EXPECT_EQ(answer, 0xAA) << c.entry << c.nth;
        EXPECT_EQ(rec.calls().size(), c.calls) << c.entry << c.nth;
        const vt::Record r = last_error();
        // The request failure records MF_ReadSeriesNo's -2, the second
        // anticollision its own status; the rest record the status.
        const int recorded = std::string(c.entry) == "rf_request" ? -2 : c.status;
        EXPECT_EQ(r.code, recorded) << c.entry << c.nth;
        EXPECT_EQ(r.text, gbk(c.text)) << c.entry << c.nth;
    }
}

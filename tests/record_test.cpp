// The last-error record and the MF status word.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "support/harness.h"

using vt::gbk;
using vt::last_error;

TEST(Record, StartsAsMinusOneWithEmptyText) {
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, "");
}

TEST(Record, SetLastErrMsgReturnsCodeAndRecordsIt) {
    for (int code : {INT_MIN, -7, -1, 0, 3, INT_MAX}) {
        EXPECT_EQ(SetLastErrMsg(code, "host %d/%s", 42, "x"), code);
        const vt::Record r = last_error();
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(r.text, "host 42/x");
    }
}

TEST(Record, ShorterSecondTextShowsNothingOfTheFirst) {
    SetLastErrMsg(1, "a rather long first message");
    SetLastErrMsg(2, "short");
    EXPECT_EQ(last_error().code, 2);
    char text[VESK_MESSAGE_SIZE];
    std::memset(text, 'Z', sizeof text);
    int code = 0;
    Quen_GetLastErr(&code, text);
    EXPECT_STREQ(text, "short");
    // The terminator is copied, and nothing is written past it.
    EXPECT_EQ(text[6], 'Z');
}

TEST(Record, CatalogueFormatIsStoredAsGbkBytes) {
    SetLastErrMsg(-1, gbk("串口%d未打开").c_str(), 0);
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, gbk("串口0未打开"));
}

TEST(Record, NullFormatRecordsEmptyText) {
    SetLastErrMsg(9, "something");
    EXPECT_EQ(SetLastErrMsg(4, nullptr), 4);
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.text, "");
}

TEST(Record, TextOverBufferIsCutTo1023BytesAndTerminated) {
    for (size_t length : {1023u, 1024u, 1025u, 5000u}) {
        const std::string longer(length, 'q');
        SetLastErrMsg(3, "%s", longer.c_str());
        char text[VESK_MESSAGE_SIZE + 64];
        std::memset(text, 'Z', sizeof text);
        int code = 0;
        EXPECT_EQ(Quen_GetLastErr(&code, text), 0);
        EXPECT_EQ(code, 3);
        EXPECT_EQ(std::strlen(text), std::min<size_t>(length, 1023)) << length;
        for (size_t i = VESK_MESSAGE_SIZE; i < sizeof text; ++i) ASSERT_EQ(text[i], 'Z') << "overrun at " << i;
    }
}

TEST(Record, GetLastErrSkipsNullOutputs) {
    SetLastErrMsg(17, "seventeen");
    int code = 0;
    EXPECT_EQ(Quen_GetLastErr(&code, nullptr), 0);
    EXPECT_EQ(code, 17);
    char text[VESK_MESSAGE_SIZE] = {};
    EXPECT_EQ(Quen_GetLastErr(nullptr, text), 0);
    EXPECT_STREQ(text, "seventeen");
    EXPECT_EQ(Quen_GetLastErr(nullptr, nullptr), 0);
    EXPECT_EQ(last_error().code, 17);
}

TEST(Record, MfStatusStaysZero) {
    EXPECT_EQ(GetMFLastErr(), 0);
    SetLastErrMsg(5, "x");
    Quen_ControlBuzzer();
    MF_ReadSeriesNo(nullptr);
    EXPECT_EQ(GetMFLastErr(), 0);
}

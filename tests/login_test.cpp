// Sector login.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/harness.h"

using Calls = std::vector<std::string>;
using vt::gbk;
using vt::last_error;

namespace {

class Login : public testing::Test {
  protected:
    void SetUp() override { vt::connect_and_clear(rec); }

    std::string load_key_call(int mode, int sector) const {
        char line[160];
        std::snprintf(line, sizeof line, "rf_load_key(7,%d,%d,%p)", mode, sector, static_cast<const void *>(key));
        return line;
    }

    vt::Recorder rec;
    const unsigned char key[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
};

}  // namespace

TEST_F(Login, SuccessMakesFiveCallsAndKeepsRecord) {
    rec.serial(0, 0xCAFEF00Du);
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_Login_With_UserKey(5, key, 0), 0);
    EXPECT_EQ(rec.calls(), (Calls{"rf_request(7,1)", "rf_anticoll(7,0,0x00000000)", "rf_select(7,0xCAFEF00D)",
                                  load_key_call(0, 5), "rf_authentication(7,0,5)"}));
    EXPECT_EQ(last_error().code, 55);
    EXPECT_EQ(last_error().text, "earlier");
}

TEST_F(Login, KeyTypeOneIsModeFourEverythingElseModeZero) {
    const struct {
        int key_type;
        int mode;
    } cases[] = {{1, 4}, {0, 0}, {2, 0}, {-1, 0}, {4, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
    for (const auto &c : cases) {
        rec.reset();
        EXPECT_EQ(Quen_Login_With_UserKey(9, key, c.key_type), 0);
        const Calls calls = rec.calls();
        ASSERT_EQ(calls.size(), 5u);
        EXPECT_EQ(calls[3], load_key_call(c.mode, 9)) << c.key_type;
        EXPECT_EQ(calls[4], "rf_authentication(7," + std::to_string(c.mode) + ",9)") << c.key_type;
    }
}

TEST_F(Login, SectorPassesUnchanged) {
    for (int sector : {0, 15, 39, 64, -1, INT_MIN, INT_MAX}) {
        rec.reset();
        EXPECT_EQ(Quen_Login_With_UserKey(sector, key, 1), 0);
        EXPECT_EQ(rec.calls()[3], load_key_call(4, sector));
        EXPECT_EQ(rec.calls()[4], "rf_authentication(7,4," + std::to_string(sector) + ")");
    }
}

TEST_F(Login, EachFailingStepRecordsAndStops) {
    const struct {
        const char *entry;
        int status;
        int returned;
        const char *text;
        size_t calls;
    } cases[] = {
        {"rf_request", 1, -2, "读卡器感应区没有卡", 1},
        {"rf_anticoll", 2, -2, "读卡器感应区没有卡", 2},
        {"rf_select", 4, 4, "选卡失败!", 3},
        {"rf_select", -4, -4, "选卡失败!", 3},
        {"rf_load_key", 9, -3, "装载密码失败!", 4},
        {"rf_authentication", 3, -4, "验证密钥失败!", 5},
    };
    for (const auto &c : cases) {
        rec.reset();
        rec.script(c.entry, 0, c.status);
        EXPECT_EQ(Quen_Login_With_UserKey(2, key, 0), c.returned) << c.entry;
        EXPECT_EQ(rec.calls().size(), c.calls) << c.entry;
        const vt::Record r = last_error();
        EXPECT_EQ(r.code, c.status) << c.entry;
        EXPECT_EQ(r.text, gbk(c.text)) << c.entry;
    }
}

TEST_F(Login, NullKeyFailsAtTheKeyStepWithoutReachingTheReader) {
    EXPECT_EQ(Quen_Login_With_UserKey(1, nullptr, 0), -3);
    EXPECT_EQ(rec.calls(), (Calls{"rf_request(7,1)", "rf_anticoll(7,0,0x00000000)", "rf_select(7,0x12345678)"}));
    const vt::Record r = last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, gbk("装载密码失败!"));
}

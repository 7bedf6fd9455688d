// End to end: a host application on Vesk_RD, driving the simulated reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Vesk_RD.h"
#include "sim_support.h"
#include "support/harness.h"

using namespace st;
using vt::gbk;
using vt::last_error;

namespace {

class Host : public testing::Test {
  protected:
    void SetUp() override {
        rf();  // the simulated reader, loaded by full path
        ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    }
    void TearDown() override { Quen_CloseVelm40(); }

    static Block read(int sector, int block, int expect = 0) {
        Block b{};
        EXPECT_EQ(Quen_ReadBlock(sector, block, b.data()), expect) << sector << "/" << block;
        return b;
    }
};

}  // namespace

TEST_F(Host, ConnectDetectLoginReadWriteSleepClose) {
    unsigned char serial[4] = {}, answer = 0;
    ASSERT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(vt::hex(serial, 4), "12345678");  // the UID in the card's own order
    EXPECT_EQ(answer, 0x08);
    unsigned char again[4] = {};
    ASSERT_EQ(MF_ReadSeriesNo(again), 0);
    EXPECT_EQ(0, std::memcmp(serial, again, 4));

    ASSERT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), 0);
    EXPECT_EQ(read(1, 0), Block{});
    const Block data = filled(0xA5);
    ASSERT_EQ(Quen_WriteBlock(1, 2, data.data()), 0);
    EXPECT_EQ(read(1, 2), data);
    // The trailer reads back with key A hidden and the factory key B visible.
    const Block t = read(1, 3);
    EXPECT_EQ(vt::hex(t.data(), 16), "000000000000FF078069FFFFFFFFFFFF");

    ASSERT_EQ(Quen_SleepCard(), 0);
    // Halted: nothing reads until the next login wakes the card.
    read(1, 2, VESK_E_READ);
    EXPECT_EQ(last_error().code, RF_ERR_HALTED);
    ASSERT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), 0);
    EXPECT_EQ(read(1, 2), data);
    EXPECT_EQ(Quen_SleepCard(), 0);
    EXPECT_EQ(Quen_SleepCard(), VESK_E_HALT);
    EXPECT_EQ(last_error().code, RF_ERR_HALTED);
    EXPECT_EQ(last_error().text, gbk("休眠失败!"));

    EXPECT_EQ(Quen_ControlBuzzer(), 0);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    // Closed: the handle is gone, so the reader refuses it.
    EXPECT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), VESK_E_BIND);
    EXPECT_EQ(last_error().code, RF_ERR_HANDLE);
}

TEST_F(Host, UnauthenticatedAndOtherSectorAccessFail) {
    read(1, 0, VESK_E_READ);
    EXPECT_EQ(last_error().code, RF_ERR_NOT_AUTH);
    EXPECT_EQ(last_error().text, gbk("读卡内数据错!"));
    ASSERT_EQ(Quen_Login_With_UserKey(2, kFactoryKey.data(), 0), 0);
    read(3, 0, VESK_E_READ);
    EXPECT_EQ(last_error().code, RF_ERR_NOT_AUTH);
    const Block data = filled(1);
    EXPECT_EQ(Quen_WriteBlock(3, 0, data.data()), VESK_E_WRITE);
    // Block 0 of sector 0 is never written.
    ASSERT_EQ(Quen_Login_With_UserKey(0, kFactoryKey.data(), 0), 0);
    EXPECT_EQ(Quen_WriteBlock(0, 0, data.data()), VESK_E_WRITE);
    EXPECT_EQ(vt::hex(read(0, 0).data(), 5), "1234567808");
}

TEST_F(Host, WrongKeyGivesMinusFour) {
    const Key wrong = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(Quen_Login_With_UserKey(4, wrong.data(), 0), VESK_E_AUTH);
    EXPECT_EQ(last_error().code, RF_ERR_AUTH);
    EXPECT_EQ(last_error().text, gbk("验证密钥失败!"));
    // The failed login opened nothing.
    read(4, 0, VESK_E_READ);
    // A sector the card lacks is refused at authentication too.
    EXPECT_EQ(Quen_Login_With_UserKey(16, kFactoryKey.data(), 0), VESK_E_AUTH);
    EXPECT_EQ(last_error().code, RF_ERR_ARG);
}

// The factory trailer makes key B readable, so key B logs in nowhere until
// the trailer is changed; afterwards only the new keys open the sector.
TEST_F(Host, KeyBLogin) {
    EXPECT_EQ(Quen_Login_With_UserKey(5, kFactoryKey.data(), 1), VESK_E_AUTH);
    EXPECT_EQ(last_error().code, RF_ERR_AUTH);

    ASSERT_EQ(Quen_Login_With_UserKey(5, kFactoryKey.data(), 0), 0);
    // Data: read A|B, write B (100); trailer: key B manages everything (011).
    const Block t = trailer(kKeyA, {4, 4, 4, 3}, kKeyB);
    ASSERT_EQ(Quen_WriteBlock(5, 3, t.data()), 0);

    EXPECT_EQ(Quen_Login_With_UserKey(5, kFactoryKey.data(), 0), VESK_E_AUTH);
    ASSERT_EQ(Quen_Login_With_UserKey(5, kKeyB.data(), 1), 0);
    const Block data = filled(0xB7);
    ASSERT_EQ(Quen_WriteBlock(5, 1, data.data()), 0);
    EXPECT_EQ(read(5, 1), data);
    // The trailer now hides key B too.
    EXPECT_EQ(vt::hex(read(5, 3).data(), 16), "000000000000" + vt::hex(t.data() + 6, 4) + "000000000000");

    ASSERT_EQ(Quen_Login_With_UserKey(5, kKeyA.data(), 0), 0);
    EXPECT_EQ(read(5, 1), data);
    EXPECT_EQ(Quen_WriteBlock(5, 1, filled(1).data()), VESK_E_WRITE);  // key A may not write
    EXPECT_EQ(read(5, 1), data);
    EXPECT_EQ(Quen_Login_With_UserKey(5, kKeyA.data(), 1), VESK_E_AUTH);  // key A is not key B
}

// Sectors 32..39 of a 4K card have 16 blocks from 128 + 16 * (sector - 32).
// Vesk_RD's (sector * 4 + block) mod 256 reaches each by absolute block.
TEST(Host4K, LargeSectorsByAbsoluteBlock) {
    TempDir dir;
    const std::string path = dir.file("card4k.mfd");
    write_file(path, factory_image(mifare::CardType::Classic4K));
    set_env("RFSIM_CARD", path.c_str());
    rf();
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    unsigned char serial[4], answer = 0;
    ASSERT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(answer, 0x18);

    const struct {
        int sector;
        int first_block;
    } large[] = {{32, 128}, {33, 144}, {38, 224}, {39, 240}};
    for (const auto &s : large) {
        SCOPED_TRACE(s.sector);
        ASSERT_EQ(Quen_Login_With_UserKey(s.sector, kFactoryKey.data(), 0), 0);
        for (int i = 0; i < 15; ++i) {
            const int block = s.first_block + i;
            const Block data = filled(static_cast<std::uint8_t>(block));
            ASSERT_EQ(Quen_WriteBlock(0, block, data.data()), 0) << block;
        }
        Block b{};
        ASSERT_EQ(Quen_ReadBlock(0, s.first_block + 15, b.data()), 0);  // the trailer
        EXPECT_EQ(vt::hex(b.data() + 6, 4), "FF078069");
        // Outside the authenticated sector on both sides.
        EXPECT_EQ(Quen_ReadBlock(0, s.first_block - 1, b.data()), VESK_E_READ);
        EXPECT_EQ(Quen_ReadBlock(0, (s.first_block + 16) % 256, b.data()), VESK_E_READ);
    }
    // Sector 31 is the last small one: blocks 124..127.
    ASSERT_EQ(Quen_Login_With_UserKey(31, kFactoryKey.data(), 0), 0);
    Block b{};
    EXPECT_EQ(Quen_ReadBlock(31, 3, b.data()), 0);
    EXPECT_EQ(Quen_ReadBlock(32, 0, b.data()), VESK_E_READ);
    // No card has a sector 40: the key is not even loaded.
    EXPECT_EQ(Quen_Login_With_UserKey(40, kFactoryKey.data(), 0), VESK_E_LOAD_KEY);
    EXPECT_EQ(last_error().code, RF_ERR_ARG);
    Quen_CloseVelm40();

    const Bytes image = read_file(path);
    ASSERT_EQ(image.size(), 4096u);
    for (const auto &s : large)
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(block_of(image, s.first_block + i), filled(static_cast<std::uint8_t>(s.first_block + i)));
}

TEST(HostEmptyField, EveryCardOperationSaysNoCard) {
    set_env("RFSIM_NO_CARD", "1");
    rf();
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    unsigned char serial[4] = {9, 9, 9, 9}, answer = 9;
    EXPECT_EQ(MF_ReadSeriesNo(serial), VESK_E_BIND);
    EXPECT_EQ(Quen_RequestCardExist(serial, &answer), VESK_E_BIND);
    EXPECT_EQ(last_error().code, VESK_E_BIND);
    EXPECT_EQ(last_error().text, gbk("读取卡序列号失败"));
    EXPECT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), VESK_E_BIND);
    EXPECT_EQ(last_error().code, RF_ERR_NO_CARD);
    EXPECT_EQ(last_error().text, gbk("读卡器感应区没有卡"));
    Block b{};
    EXPECT_EQ(Quen_ReadBlock(1, 0, b.data()), VESK_E_READ);
    EXPECT_EQ(last_error().code, RF_ERR_NO_CARD);
    EXPECT_EQ(Quen_WriteBlock(1, 0, b.data()), VESK_E_WRITE);
    EXPECT_EQ(Quen_SleepCard(), VESK_E_HALT);
    EXPECT_EQ(last_error().code, RF_ERR_NO_CARD);
    EXPECT_EQ(serial[0], 9);
    EXPECT_EQ(answer, 9);
    EXPECT_EQ(Quen_ControlBuzzer(), 0);
}

// Each injected fault surfaces as Vesk_RD's documented code, with the
// injected status in the record. Every connect reads RFSIM_FAULT anew.
TEST(HostFaults, InjectedStatusesSurfaceAsDocumentedCodes) {
    rf();
    enum Op { Detect, Serial, Login, Read, Write, Sleep };
    const struct {
        const char *rules;
        Op op;
        int returned;
        int recorded;
        const char *text;  // UTF-8; null: the record is not checked
    } cases[] = {
        {"rf_request=1", Detect, VESK_E_BIND, VESK_E_BIND, "读取卡序列号失败"},
        {"rf_anticoll#1=11", Detect, 11, 11, "读取卡序列号失败"},
        {"rf_anticoll#2=11", Detect, VESK_E_BIND, 11, "读卡器感应区没有卡"},
        {"rf_select=8", Detect, 8, 8, "选卡失败!"},
        {"rf_anticoll=12", Serial, 12, -1, nullptr},
        {"rf_request=1", Login, VESK_E_BIND, 1, "读卡器感应区没有卡"},
        {"rf_anticoll=11", Login, VESK_E_BIND, 11, "读卡器感应区没有卡"},
        {"rf_select=4", Login, 4, 4, "选卡失败!"},
        {"rf_load_key=7", Login, VESK_E_LOAD_KEY, 7, "装载密码失败!"},
        {"rf_authentication=3", Login, VESK_E_AUTH, 3, "验证密钥失败!"},
        {"rf_read=5", Read, VESK_E_READ, 5, "读卡内数据错!"},
        {"rf_write=10", Write, VESK_E_WRITE, -1, nullptr},
        {"rf_halt=12", Sleep, VESK_E_HALT, 12, "休眠失败!"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rules);
        set_env("RFSIM_FAULT", c.rules);
        ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
        // These rule lists leave the login's five calls alone.
        if (c.op == Read || c.op == Write || c.op == Sleep) {
            ASSERT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), 0);
        }
        SetLastErrMsg(-1, "before");
        unsigned char serial[4] = {}, answer = 0;
        Block b{};
        int got = 0;
        switch (c.op) {
        case Detect: got = Quen_RequestCardExist(serial, &answer); break;
        case Serial: got = MF_ReadSeriesNo(serial); break;
        case Login: got = Quen_Login_With_UserKey(1, kFactoryKey.data(), 0); break;
        case Read: got = Quen_ReadBlock(1, 0, b.data()); break;
        case Write: got = Quen_WriteBlock(1, 0, b.data()); break;
        case Sleep: got = Quen_SleepCard(); break;
        }
        EXPECT_EQ(got, c.returned);
        if (c.text) {
            EXPECT_EQ(last_error().code, c.recorded);
            EXPECT_EQ(last_error().text, gbk(c.text));
        } else {
            EXPECT_EQ(last_error().text, "before");
        }
    }
}

TEST(HostFaults, ConnectFaultsAndBadSpec) {
    rf();
    set_env("RFSIM_FAULT", "rf_init=-4");
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -4);
    EXPECT_EQ(last_error().code, -1);
    EXPECT_EQ(last_error().text, vt::gbk_format("打开串口%d失败", -4));

    set_env("RFSIM_FAULT", "rf_beep=oops");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), RF_INIT_BAD_SETTING);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("RFSIM_FAULT"), std::string::npos);
    EXPECT_EQ(last_error().text, vt::gbk_format("打开串口%d失败", RF_INIT_BAD_SETTING));

    set_env("RFSIM_FAULT", nullptr);
    EXPECT_EQ(Quen_ConnectVelm40(0, 4800), RF_INIT_BAD_BAUD);
    EXPECT_EQ(Quen_ConnectVelm40(256, 9600), RF_INIT_BAD_PORT);
    EXPECT_EQ(Quen_ConnectVelm40(0, 9600), 0);
}

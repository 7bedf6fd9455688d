// Vesk_RD end to end over the PC/SC reader library, pcscd, vpcd and our
// virtual card.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vesk_RD.h"
#include "mifare/card.h"
#include "pcsc_fixture.h"
#include "rf_status.h"
#include "support/harness.h"

namespace {

const unsigned char kFactoryKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const unsigned char kWrongKey[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};

// Loaded by its full path first, so Vesk_RD's bare-name load finds this very
// object by its SONAME.
void *load_pcsc_reader()
{
    void *lib = dlopen(VESK_PCSC_READER_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        throw std::runtime_error(dlerror());
    return lib;
}

// UID 04 A1 B2 C3, every data block b filled with the byte b.
std::vector<unsigned char> numbered_image()
{
    const std::uint8_t uid[4] = {0x04, 0xA1, 0xB2, 0xC3};
    mifare::Card card(mifare::CardType::Classic1K, uid);
    std::vector<unsigned char> image(mifare::IMAGE_SIZE_1K);
    card.export_image(image.data(), image.size());
    for (int b = 1; b < 64; ++b)
        if (!mifare::is_trailer(mifare::CardType::Classic1K, b))
            for (int i = 0; i < 16; ++i) image[b * 16 + i] = static_cast<unsigned char>(b);
    return image;
}

class VeskRdPcsc : public pt::PcscTest {
  protected:
    void SetUp() override
    {
        pt::PcscTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        lib_ = load_pcsc_reader();
        insert_card({"--image", write_image("card.mfd", numbered_image())});
        ASSERT_EQ(Quen_ConnectVelm40(reader_port(), 9600), 0);
    }
    void TearDown() override
    {
        Quen_CloseVelm40();
        pt::PcscTest::TearDown();
    }
    void *lib_ = nullptr;
};

}  // namespace

TEST_F(VeskRdPcsc, ConnectRequestLoginReadWriteSleep)
{
    unsigned char serial[4] = {}, answer = 0;
    ASSERT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(pt::hex(serial, 4), "04A1B2C3") << "the UID in the card's own order";
    EXPECT_EQ(answer, 0x08);
    ASSERT_EQ(MF_ReadSeriesNo(serial), 0);
    EXPECT_EQ(pt::hex(serial, 4), "04A1B2C3");

    ASSERT_EQ(Quen_Login_With_UserKey(3, kFactoryKey, 0), 0);
    unsigned char block[16] = {};
    ASSERT_EQ(Quen_ReadBlock(3, 1, block), 0);
    EXPECT_EQ(pt::hex(block, 16), "0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D");
    const unsigned char data[16] = {'v', 'e', 's', 'k', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFE, 0xFF};
    ASSERT_EQ(Quen_WriteBlock(3, 2, data), 0);
    ASSERT_EQ(Quen_ReadBlock(3, 2, block), 0);
    EXPECT_EQ(pt::hex(block, 16), pt::hex(data, 16));
    ASSERT_EQ(Quen_SleepCard(), 0);
    EXPECT_EQ(Quen_ReadBlock(3, 2, block), -5) << "the session ended with the halt";
    EXPECT_EQ(vt::last_error().code, RF_ERR_NO_CARD);

    // A new login finds the written block.
    ASSERT_EQ(Quen_Login_With_UserKey(3, kFactoryKey, 0), 0);
    ASSERT_EQ(Quen_ReadBlock(3, 2, block), 0);
    EXPECT_EQ(pt::hex(block, 16), pt::hex(data, 16));
    EXPECT_EQ(Quen_CloseVelm40(), 0);
}

TEST_F(VeskRdPcsc, WrongKeyIsMinusFourWithTheAuthStatus)
{
    EXPECT_EQ(Quen_Login_With_UserKey(1, kWrongKey, 0), -4);
    const vt::Record r = vt::last_error();
    EXPECT_EQ(r.code, RF_ERR_AUTH);
    EXPECT_EQ(r.text, vt::gbk("验证密钥失败!"));
    EXPECT_EQ(Quen_Login_With_UserKey(1, kFactoryKey, 0), 0) << "the right key still works";
}

TEST_F(VeskRdPcsc, DumpCountsOneLoadKeysPerSessionAndOneCommandPerBlock)
{
    const long before = card_.count("apdus");
    for (int sector = 0; sector < 16; ++sector) {
        ASSERT_EQ(Quen_Login_With_UserKey(sector, kFactoryKey, 0), 0) << sector;
        for (int b = 0; b < 4; ++b) {
            unsigned char block[16];
            ASSERT_EQ(Quen_ReadBlock(sector, b, block), 0) << sector << "/" << b;
        }
    }
    EXPECT_EQ(card_.count("get_uid"), 16);
    EXPECT_EQ(card_.count("load_keys"), 1);
    EXPECT_EQ(card_.count("authenticate"), 16);
    EXPECT_EQ(card_.count("read_binary"), 64);
    EXPECT_EQ(card_.count("apdus") - before, 16 + 1 + 16 + 64);
}

TEST_F(VeskRdPcsc, CardRemovedMidDumpGivesCleanCodesWithoutHanging)
{
    remove_card();
    // 22 answers: sectors 0-2 (Get UID, General Authenticate, four reads;
    // one Load Keys in all), then Get UID, General Authenticate and one read
    // of sector 3; it hangs up on the second read there.
    insert_card({"--image", write_image("card.mfd", numbered_image()), "--disconnect-after", "22"});
    const auto start = std::chrono::steady_clock::now();
    int sector = 0;
    int read_ok = 0;
    for (; sector < 16; ++sector) {
        const int login = Quen_Login_With_UserKey(sector, kFactoryKey, 0);
        if (login != 0) {
            EXPECT_TRUE(login == -2 || login == -4) << login;
            const int code = vt::last_error().code;
            EXPECT_TRUE(code == RF_ERR_NO_CARD || code == RF_ERR_COMM) << code;
            break;
        }
        for (int b = 0; b < 4; ++b) {
            unsigned char block[16] = {0x77};
            const int rc = Quen_ReadBlock(sector, b, block);
            if (rc == 0) {
                ++read_ok;
                continue;
            }
            EXPECT_EQ(rc, -5);
            const int code = vt::last_error().code;
            EXPECT_TRUE(code == RF_ERR_NO_CARD || code == RF_ERR_COMM) << code;
            EXPECT_EQ(block[0], 0x77) << "untouched on failure";
        }
    }
    EXPECT_EQ(read_ok, 13);
    EXPECT_EQ(sector, 4);
    unsigned char serial[4];
    // -2 once pcscd has seen the card go; rf_anticoll's status while it still
    // believes the card is there.
    const int exist = Quen_RequestCardExist(serial, nullptr);
    EXPECT_TRUE(exist == -2 || exist == RF_ERR_COMM) << exist;
    EXPECT_EQ(Quen_SleepCard(), -7);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count(), 15);
}

TEST(VeskRdPcscService, ConnectWithoutPcscdFailsWithARecord)
{
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
    void *lib = load_pcsc_reader();
    EXPECT_EQ(Quen_ConnectVelm40(0, 9600), RF_INIT_NO_SERVICE);
    const vt::Record r = vt::last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, vt::gbk_format("打开串口%d失败", RF_INIT_NO_SERVICE));
    dlclose(lib);
}

using VeskRdEmptyReaderList = pt::EmptyReaderListTest;

TEST_F(VeskRdEmptyReaderList, ConnectFailsWithARecord)
{
    void *lib = load_pcsc_reader();
    EXPECT_EQ(Quen_ConnectVelm40(0, 9600), RF_INIT_NO_READER);
    const vt::Record r = vt::last_error();
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, vt::gbk_format("打开串口%d失败", RF_INIT_NO_READER));
    dlclose(lib);
}

// The PC/SC reader library's entry points against the real pcscd, the vpcd
// reader and our virtual card. Command counts come from the virtual card.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/rf_api.h"
#include "mifare/card.h"
#include "pcsc_fixture.h"
#include "rf_status.h"

namespace {

const unsigned char kFactoryKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const unsigned char kOtherKey[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};

// The reader library's twelve entry points, by its full path.
struct Rf {
    Rf()
    {
        lib = dlopen(VESK_PCSC_READER_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            throw std::runtime_error(dlerror());
        init = sym<rf_init_fn>("rf_init");
        card = sym<rf_card_fn>("rf_card");
        load_key = sym<rf_load_key_fn>("rf_load_key");
        authentication = sym<rf_authentication_fn>("rf_authentication");
        read = sym<rf_read_fn>("rf_read");
        write = sym<rf_write_fn>("rf_write");
        halt = sym<rf_halt_fn>("rf_halt");
        exit = sym<rf_exit_fn>("rf_exit");
        beep = sym<rf_beep_fn>("rf_beep");
        anticoll = sym<rf_anticoll_fn>("rf_anticoll");
        request = sym<rf_request_fn>("rf_request");
        select = sym<rf_select_fn>("rf_select");
    }
    template <typename Fn>
    Fn sym(const char *name)
    {
        void *p = dlsym(lib, name);
        if (!p)
            throw std::runtime_error(std::string("no ") + name);
        return reinterpret_cast<Fn>(p);
    }
    void *lib;
    rf_init_fn init;
    rf_card_fn card;
    rf_load_key_fn load_key;
    rf_authentication_fn authentication;
    rf_read_fn read;
    rf_write_fn write;
    rf_halt_fn halt;
    rf_exit_fn exit;
    rf_beep_fn beep;
    rf_anticoll_fn anticoll;
    rf_request_fn request;
    rf_select_fn select;
};

long elapsed_ms(std::chrono::steady_clock::time_point since)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

// A 1K image: UID 11 22 33 44, block 4 = 00..0F, sector 2 keyed with kOtherKey.
std::vector<unsigned char> sample_image()
{
    const std::uint8_t uid[4] = {0x11, 0x22, 0x33, 0x44};
    mifare::Card card(mifare::CardType::Classic1K, uid);
    std::vector<unsigned char> image(mifare::IMAGE_SIZE_1K);
    card.export_image(image.data(), image.size());
    for (int i = 0; i < 16; ++i) image[4 * 16 + i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 6; ++i) image[11 * 16 + i] = kOtherKey[i];
    return image;
}

class ReaderTest : public pt::PcscTest {
  protected:
    // Every handle a test opens is closed, so no PC/SC context outlives it.
    void TearDown() override
    {
        for (int h : handles_) rf.exit(h);
        pt::PcscTest::TearDown();
    }
    int open()
    {
        const int handle = rf.init(reader_port(), 9600);
        EXPECT_GT(handle, 0);
        handles_.push_back(handle);
        return handle;
    }
    // request + anticoll + select on the inserted card.
    void select_card(int h, unsigned int *serial = nullptr)
    {
        unsigned int type = 0, value = 0;
        unsigned char answer = 0;
        ASSERT_EQ(rf.request(h, 1, &type), RF_OK);
        ASSERT_EQ(rf.anticoll(h, 0, &value), RF_OK);
        ASSERT_EQ(rf.select(h, value, &answer), RF_OK);
        if (serial)
            *serial = value;
    }
    void login(int h, int sector, const unsigned char *key = kFactoryKey, unsigned char mode = 0)
    {
        ASSERT_EQ(rf.load_key(h, mode, sector, key), RF_OK);
        ASSERT_EQ(rf.authentication(h, mode, sector), RF_OK);
    }
    Rf rf;
    std::vector<int> handles_;
};

}  // namespace

TEST_F(ReaderTest, InitTakesTheReaderIndexAndIgnoresBaud)
{
    const int h = rf.init(reader_port(), 0);
    EXPECT_GT(h, 0);
    handles_.push_back(h);
    const int second = rf.init(reader_port(), -5);
    handles_.push_back(second);
    EXPECT_GT(second, 0);
    EXPECT_NE(second, h) << "each init is a handle of its own";
    EXPECT_EQ(rf.init(-1, 9600), RF_INIT_BAD_PORT);
    EXPECT_EQ(rf.init(100, 9600), RF_INIT_BAD_PORT);
    EXPECT_EQ(rf.beep(h, 10), RF_OK);
    EXPECT_EQ(rf.exit(h), RF_OK);
    EXPECT_EQ(rf.exit(h), RF_ERR_HANDLE);
    EXPECT_EQ(rf.beep(h, 10), RF_ERR_HANDLE);
    EXPECT_EQ(rf.request(h, 1, nullptr), RF_ERR_HANDLE);
    EXPECT_EQ(rf.exit(second), RF_OK);
    EXPECT_EQ(rf.request(0, 1, nullptr), RF_ERR_HANDLE);
}

TEST_F(ReaderTest, EachEntryPointSendsOnlyTheCommandsItNeeds)
{
    insert_card({"--image", write_image("card.mfd", sample_image())});
    const int h = open();
    unsigned int type = 0;
    ASSERT_EQ(rf.request(h, 1, &type), RF_OK);
    EXPECT_EQ(type, 0x0004u) << "ATQA of a 1K";
    EXPECT_EQ(card_.count("apdus"), 0);

    unsigned int serial = 0;
    ASSERT_EQ(rf.anticoll(h, 0, &serial), RF_OK);
    EXPECT_EQ(serial, 0x44332211u) << "uid[0] is the low byte";
    EXPECT_EQ(card_.count("get_uid"), 1);
    EXPECT_EQ(card_.count("apdus"), 1);

    unsigned char answer = 0;
    EXPECT_EQ(rf.select(h, serial + 1, &answer), RF_ERR_SELECT);
    ASSERT_EQ(rf.select(h, serial, &answer), RF_OK);
    EXPECT_EQ(answer, 0x08);
    EXPECT_EQ(rf.load_key(h, 0, 1, kFactoryKey), RF_OK);
    EXPECT_EQ(rf.beep(h, 10), RF_OK);
    EXPECT_EQ(card_.count("apdus"), 1) << "select, load_key and beep send nothing";

    ASSERT_EQ(rf.authentication(h, 0, 1), RF_OK);
    EXPECT_EQ(card_.count("load_keys"), 1);
    EXPECT_EQ(card_.count("authenticate"), 1);

    unsigned char data[RF_TRANSFER_SIZE] = {};
    ASSERT_EQ(rf.read(h, 4, data), RF_OK);
    EXPECT_EQ(pt::hex(data, 16), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(pt::hex(data + 16, 4), "00000000") << "the 4 bytes past the block stay as they were";
    EXPECT_EQ(card_.count("read_binary"), 1);

    unsigned char block[RF_TRANSFER_SIZE] = {0xA5, 0x5A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    ASSERT_EQ(rf.write(h, 5, block), RF_OK);
    EXPECT_EQ(card_.count("update_binary"), 1);
    ASSERT_EQ(rf.read(h, 5, data), RF_OK);
    EXPECT_EQ(pt::hex(data, 16), pt::hex(block, 16));

    // The next login with the same key: no second Load Keys.
    ASSERT_EQ(rf.request(h, 1, &type), RF_OK);
    ASSERT_EQ(rf.anticoll(h, 0, &serial), RF_OK);
    ASSERT_EQ(rf.select(h, serial, &answer), RF_OK);
    login(h, 3);
    EXPECT_EQ(card_.count("load_keys"), 1);
    EXPECT_EQ(card_.count("authenticate"), 2);
    EXPECT_EQ(card_.count("get_uid"), 2);
    EXPECT_EQ(card_.count("apdus"), 8);
    EXPECT_EQ(card_.count("other"), 0);
    EXPECT_EQ(rf.exit(h), RF_OK);
}

TEST_F(ReaderTest, KeyBUsesItsOwnSlotAndChangedKeysAreLoadedAgain)
{
    insert_card({"--image", write_image("card.mfd", sample_image())});
    const int h = open();
    select_card(h);
    login(h, 2, kOtherKey, 0);
    // Key B of a factory trailer is readable, so the card refuses it: the
    // slot is reloaded on the next try.
    EXPECT_EQ(rf.load_key(h, 4, 1, kFactoryKey), RF_OK);
    EXPECT_EQ(rf.authentication(h, 4, 1), RF_ERR_AUTH);
    EXPECT_EQ(card_.count("load_keys"), 2);
    select_card(h);
    login(h, 1);  // key A, factory key: slot 0 held kOtherKey
    EXPECT_EQ(card_.count("load_keys"), 3);
    login(h, 1);
    EXPECT_EQ(card_.count("load_keys"), 3);
}

TEST_F(ReaderTest, FourKCardIsTypedAndReachedUpToItsLastBlock)
{
    insert_card({"--4k", "--uid", "0A0B0C0D"});
    const int h = open();
    unsigned int type = 0, serial = 0;
    unsigned char answer = 0;
    ASSERT_EQ(rf.request(h, 1, &type), RF_OK);
    EXPECT_EQ(type, 0x0002u);
    ASSERT_EQ(rf.anticoll(h, 0, &serial), RF_OK);
    EXPECT_EQ(serial, 0x0D0C0B0Au);
    ASSERT_EQ(rf.select(h, serial, &answer), RF_OK);
    EXPECT_EQ(answer, 0x18);
    login(h, 39);
    unsigned char data[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf.read(h, 240, data), RF_OK) << "sector 39 starts at block 240";
    EXPECT_EQ(rf.read(h, 255, data), RF_OK);
    EXPECT_EQ(pt::hex(data, 16), "000000000000FF078069FFFFFFFFFFFF");
    EXPECT_EQ(rf.read(h, 239, data), RF_ERR_NOT_AUTH);
    EXPECT_EQ(rf.authentication(h, 0, 40), RF_ERR_ARG);
}

TEST_F(ReaderTest, FailuresMapOntoTheStatusTable)
{
    insert_card({"--image", write_image("card.mfd", sample_image())});
    const int h = open();
    unsigned char data[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf.anticoll(h, 0, nullptr), RF_ERR_NO_CARD) << "no request yet";
    EXPECT_EQ(rf.read(h, 4, data), RF_ERR_NO_CARD);
    EXPECT_EQ(rf.halt(h), RF_ERR_NO_CARD);
    EXPECT_EQ(rf.request(h, 2, nullptr), RF_ERR_ARG);
    ASSERT_EQ(rf.request(h, 1, nullptr), RF_OK);
    EXPECT_EQ(rf.select(h, 0x44332211u, nullptr), RF_ERR_SELECT) << "no anticollision yet";
    EXPECT_EQ(rf.load_key(h, 0, 1, kFactoryKey), RF_OK);
    EXPECT_EQ(rf.authentication(h, 0, 1), RF_ERR_SELECT) << "not selected";
    const long before = card_.count("apdus");
    select_card(h);

    struct Case {
        const char *what;
        int status;
        int expected;
    };
    const Case cases[] = {
        {"read, sector not authenticated", rf.read(h, 4, data), RF_ERR_NOT_AUTH},
        {"key mode 1", rf.load_key(h, 1, 1, kFactoryKey), RF_ERR_ARG},
        {"null key", rf.load_key(h, 0, 1, nullptr), RF_ERR_ARG},
        {"sector 40", rf.load_key(h, 0, 40, kFactoryKey), RF_ERR_ARG},
        {"sector 16 of a 1K", rf.authentication(h, 0, 16), RF_ERR_ARG},
        {"no key for key B", rf.authentication(h, 4, 1), RF_ERR_NO_KEY},
        {"no key for sector 5", rf.authentication(h, 0, 5), RF_ERR_NO_KEY},
        {"wrong key", (rf.load_key(h, 0, 2, kFactoryKey), rf.authentication(h, 0, 2)), RF_ERR_AUTH},
    };
    for (const Case &c : cases) EXPECT_EQ(c.status, c.expected) << c.what;

    select_card(h);
    login(h, 0);
    const Case authenticated[] = {
        {"block 0 is read-only", rf.write(h, 0, data), RF_ERR_ACCESS},
        {"read block 64 of a 1K", rf.read(h, 64, data), RF_ERR_ARG},
        {"null read buffer", rf.read(h, 1, nullptr), RF_ERR_ARG},
        {"null write data", rf.write(h, 1, nullptr), RF_ERR_ARG},
        {"read other sector", rf.read(h, 4, data), RF_ERR_NOT_AUTH},
    };
    for (const Case &c : authenticated) EXPECT_EQ(c.status, c.expected) << c.what;
    // Get UID x2, Load Keys x2 (slot 0 again after the wrong key), General
    // Authenticate x2, Read Binary x2, Update Binary x1: the calls refused
    // here sent nothing.
    EXPECT_EQ(card_.count("apdus") - before, 9);
}

TEST_F(ReaderTest, RightKeyWorksAfterAWrongOne)
{
    insert_card({"--image", write_image("card.mfd", sample_image())});
    const int h = open();
    select_card(h);
    EXPECT_EQ(rf.load_key(h, 0, 2, kFactoryKey), RF_OK);
    EXPECT_EQ(rf.authentication(h, 0, 2), RF_ERR_AUTH);
    const long resets = card_.count("reset");
    select_card(h);
    EXPECT_EQ(card_.count("reset"), resets + 1) << "a refused card is activated anew";
    login(h, 2, kOtherKey);
    unsigned char data[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf.read(h, 8, data), RF_OK);
}

TEST_F(ReaderTest, HaltEndsTheSessionAndTheNextRequestStartsAnew)
{
    insert_card({"--image", write_image("card.mfd", sample_image())});
    const int h = open();
    select_card(h);
    login(h, 1);
    const long apdus = card_.count("apdus");
    ASSERT_EQ(rf.halt(h), RF_OK);
    EXPECT_EQ(card_.count("apdus"), apdus) << "halt sends no command";
    unsigned char data[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf.read(h, 4, data), RF_ERR_NO_CARD);
    EXPECT_EQ(rf.halt(h), RF_ERR_NO_CARD);
    for (unsigned char mode : {0, 1}) {
        select_card(h);
        EXPECT_EQ(rf.read(h, 4, data), RF_ERR_NOT_AUTH) << "the card was reset; mode " << int(mode);
        ASSERT_EQ(rf.halt(h), RF_OK);
    }
    unsigned int serial = 0;
    ASSERT_EQ(rf.card(h, 1, &serial), RF_OK);
    EXPECT_EQ(serial, 0x44332211u);
    EXPECT_EQ(rf.authentication(h, 0, 1), RF_OK) << "rf_card selects; the key is kept";
    EXPECT_EQ(card_.count("load_keys"), 2) << "a new session loads the key again";
}

TEST_F(ReaderTest, RequestWithoutCardGivesUpInBoundedTime)
{
    const int h = open();
    const auto start = std::chrono::steady_clock::now();
    unsigned int serial = 0;
    EXPECT_EQ(rf.request(h, 1, nullptr), RF_ERR_NO_CARD);
    EXPECT_EQ(rf.card(h, 1, &serial), RF_ERR_NO_CARD);
    EXPECT_LT(elapsed_ms(start), 5000);
    // A card laid down afterwards is found.
    insert_card();
    unsigned int type = 0;
    EXPECT_EQ(rf.request(h, 1, &type), RF_OK);
}

TEST_F(ReaderTest, CardOfAnotherKindIsRefused)
{
    struct Case {
        const char *what;
        const char *atr;
    };
    const Case cases[] = {
        {"Mifare Ultralight storage card", "3B8F8001804F0CA0000003060300030000000068"},
        {"ISO 14443-4 card", "3B8180018080"},
    };
    for (const Case &c : cases) {
        insert_card({"--atr", c.atr});
        const int h = open();
        EXPECT_EQ(rf.request(h, 1, nullptr), RF_ERR_CARD_TYPE) << c.what;
        EXPECT_EQ(rf.anticoll(h, 0, nullptr), RF_ERR_NO_CARD) << c.what;
        EXPECT_EQ(card_.count("apdus"), 0) << c.what;
        rf.exit(h);
        remove_card();
    }
}

TEST_F(ReaderTest, CardRemovedMidCommandGivesCleanStatusesWithoutHanging)
{
    // Answers Get UID, Load Keys, General Authenticate; hangs up on the read.
    insert_card({"--image", write_image("card.mfd", sample_image()), "--disconnect-after", "3"});
    const int h = open();
    select_card(h);
    login(h, 1);
    const auto start = std::chrono::steady_clock::now();
    unsigned char data[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf.read(h, 4, data), RF_ERR_COMM);
    EXPECT_EQ(pt::hex(data, 20), std::string(40, '0')) << "nothing written on failure";
    EXPECT_EQ(rf.read(h, 5, data), RF_ERR_NO_CARD) << "the session ended";
    EXPECT_EQ(rf.write(h, 5, data), RF_ERR_NO_CARD);
    EXPECT_EQ(rf.authentication(h, 0, 1), RF_ERR_NO_CARD);
    ASSERT_TRUE(card_.wait_exit(5000));
    ASSERT_TRUE(pt::wait_card(pt::kVpcdReader, false, 5000));
    EXPECT_EQ(rf.request(h, 1, nullptr), RF_ERR_NO_CARD);
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_EQ(rf.exit(h), RF_OK);
}

TEST(ReaderService, InitWithoutPcscdIsNoService)
{
    // pcsc-lite looks for pcscd at this socket: nothing listens there.
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
    Rf rf;
    EXPECT_EQ(rf.init(0, 9600), RF_INIT_NO_SERVICE);
}

using EmptyReaderList = pt::EmptyReaderListTest;

TEST_F(EmptyReaderList, InitIsNoReader)
{
    Rf rf;
    EXPECT_EQ(rf.init(0, 9600), RF_INIT_NO_READER);
}

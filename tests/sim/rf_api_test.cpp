// The simulated reader through its own rf_ entry points.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "sim_support.h"

using namespace st;

namespace {

class Reader : public testing::Test {
  protected:
    void SetUp() override {
        handle = rf().init(1, 9600);
        ASSERT_GT(handle, 0);
    }

    // Request for all, anticollision, select: the card is active.
    void activate() {
        unsigned int type = 0, serial = 0;
        unsigned char sak = 0;
        ASSERT_EQ(rf().request(handle, 1, &type), RF_OK);
        ASSERT_EQ(rf().anticoll(handle, 0, &serial), RF_OK);
        ASSERT_EQ(rf().select(handle, serial, &sak), RF_OK);
    }

    int login(unsigned char mode, int sector, const Key &key) {
        activate();
        const int st = rf().load_key(handle, mode, sector, key.data());
        return st != RF_OK ? st : rf().authentication(handle, mode, sector);
    }

    int handle = 0;
};

}  // namespace

TEST(ReaderInit, PortAndBaudChecked) {
    const struct {
        int port, baud, expected;  // expected 1: a positive handle
    } cases[] = {
        {0, 9600, 1},    {255, 115200, 1}, {1, 19200, 1},   {1, 38400, 1},     {1, 57600, 1},
        {-1, 9600, RF_INIT_BAD_PORT},      {256, 9600, RF_INIT_BAD_PORT},      {INT_MIN, 9600, RF_INIT_BAD_PORT},
        {1, 0, RF_INIT_BAD_BAUD},          {1, 9601, RF_INIT_BAD_BAUD},        {1, -9600, RF_INIT_BAD_BAUD},
        {1, 4800, RF_INIT_BAD_BAUD},       {1, 230400, RF_INIT_BAD_BAUD},
    };
    for (const auto &c : cases) {
        const int got = rf().init(c.port, c.baud);
        if (c.expected == 1) EXPECT_GT(got, 0) << c.port << "/" << c.baud;
        else EXPECT_EQ(got, c.expected) << c.port << "/" << c.baud;
    }
}

TEST(ReaderInit, HandlesPerPortAndReopenReplaces) {
    const int a = rf().init(1, 9600), b = rf().init(2, 9600);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    // Reopening port 1 without closing (as Vesk_RD's reconnect does) gives a
    // new handle and retires the old one; port 2 stays open.
    const int a2 = rf().init(1, 115200);
    ASSERT_GT(a2, 0);
    EXPECT_NE(a2, a);
    EXPECT_EQ(rf().beep(a, 10), RF_ERR_HANDLE);
    EXPECT_EQ(rf().beep(a2, 10), RF_OK);
    EXPECT_EQ(rf().beep(b, 10), RF_OK);
    // Reconnecting over and over never runs out of handles.
    for (int i = 0; i < 1000; ++i) ASSERT_GT(rf().init(3, 9600), 0);
}

TEST(ReaderInit, EveryPortCanBeOpenAtOnceUntilHandlesRunOut) {
    int opened = 0, busy = 0;
    for (int port = 0; port <= 255; ++port) {
        const int h = rf().init(port, 9600);
        if (h > 0) ++opened;
        else if (h == RF_INIT_BUSY) ++busy;
        else ADD_FAILURE() << "port " << port << ": " << h;
    }
    EXPECT_GT(opened, 0);
    EXPECT_EQ(opened + busy, 256);
    // Closing one frees a handle for another port.
    if (busy > 0) {
        const int h = rf().init(0, 9600);  // reopen port 0, then close it
        ASSERT_GT(h, 0);
        ASSERT_EQ(rf().exit(h), RF_OK);
        EXPECT_GT(rf().init(255, 9600), 0);
    }
}

// Every entry point but rf_init refuses a handle it did not hand out or that
// is closed, before touching anything.
TEST(ReaderHandles, UnknownAndClosedHandlesRefused) {
    const int open = rf().init(4, 9600);
    ASSERT_GT(open, 0);
    const int closed = rf().init(5, 9600);
    ASSERT_GT(closed, 0);
    ASSERT_EQ(rf().exit(closed), RF_OK);

    unsigned int u = 0;
    unsigned char b = 0;
    unsigned char buf[RF_TRANSFER_SIZE] = {};
    const std::uint8_t *key = kFactoryKey.data();
    for (int h : {0, -1, -3, INT_MAX, INT_MIN, closed, open + 1000}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(rf().exit(h), RF_ERR_HANDLE);
        EXPECT_EQ(rf().beep(h, 10), RF_ERR_HANDLE);
        EXPECT_EQ(rf().request(h, 1, &u), RF_ERR_HANDLE);
        EXPECT_EQ(rf().anticoll(h, 0, &u), RF_ERR_HANDLE);
        EXPECT_EQ(rf().select(h, kSimSerial, &b), RF_ERR_HANDLE);
        EXPECT_EQ(rf().card(h, 1, &u), RF_ERR_HANDLE);
        EXPECT_EQ(rf().load_key(h, 0, 0, key), RF_ERR_HANDLE);
        EXPECT_EQ(rf().authentication(h, 0, 0), RF_ERR_HANDLE);
        EXPECT_EQ(rf().read(h, 1, buf), RF_ERR_HANDLE);
        EXPECT_EQ(rf().write(h, 1, buf), RF_ERR_HANDLE);
        EXPECT_EQ(rf().halt(h), RF_ERR_HANDLE);
    }
    EXPECT_EQ(rf().beep(open, 10), RF_OK);
}

TEST_F(Reader, NullPointersAreBadArguments) {
    activate();
    EXPECT_EQ(rf().request(handle, 1, nullptr), RF_ERR_ARG);
    EXPECT_EQ(rf().anticoll(handle, 0, nullptr), RF_ERR_ARG);
    EXPECT_EQ(rf().select(handle, kSimSerial, nullptr), RF_ERR_ARG);
    EXPECT_EQ(rf().card(handle, 1, nullptr), RF_ERR_ARG);
    EXPECT_EQ(rf().load_key(handle, 0, 1, nullptr), RF_ERR_ARG);
    ASSERT_EQ(login(0, 1, kFactoryKey), RF_OK);
    EXPECT_EQ(rf().read(handle, 4, nullptr), RF_ERR_ARG);
    EXPECT_EQ(rf().write(handle, 4, nullptr), RF_ERR_ARG);
    // The session survives bad calls.
    unsigned char buf[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf().read(handle, 4, buf), RF_OK);
}

TEST_F(Reader, SelectionAnswersCardTypeSerialAndSak) {
    unsigned int type = 0xFFFFFFFF, serial = 0;
    unsigned char sak = 0;
    ASSERT_EQ(rf().request(handle, 1, &type), RF_OK);
    EXPECT_EQ(type, 0x0004u);  // ATQA 04 00 of a 1K card
    ASSERT_EQ(rf().anticoll(handle, 0, &serial), RF_OK);
    EXPECT_EQ(serial, kSimSerial);
    // Vesk_RD's MF_ReadSeriesNo calls anticollision twice; both answer.
    serial = 0;
    ASSERT_EQ(rf().anticoll(handle, 0, &serial), RF_OK);
    EXPECT_EQ(serial, kSimSerial);
    EXPECT_EQ(rf().select(handle, serial ^ 1u, &sak), RF_ERR_SELECT);
    EXPECT_EQ(sak, 0);
    ASSERT_EQ(rf().select(handle, serial, &sak), RF_OK);
    EXPECT_EQ(sak, 0x08);
}

TEST_F(Reader, OrderOfSelectionEnforced) {
    unsigned int serial = 0;
    unsigned char sak = 0;
    EXPECT_EQ(rf().anticoll(handle, 0, &serial), RF_ERR_NO_CARD);  // no request yet
    EXPECT_EQ(rf().select(handle, kSimSerial, &sak), RF_ERR_SELECT);
    EXPECT_EQ(rf().halt(handle), RF_ERR_SELECT);
    unsigned int type = 0;
    EXPECT_EQ(rf().request(handle, 2, &type), RF_ERR_ARG);
    ASSERT_EQ(rf().request(handle, 0, &type), RF_OK);
    EXPECT_EQ(rf().anticoll(handle, 1, &serial), RF_ERR_ARG);  // only full anticollision
}

TEST_F(Reader, CardCallIsRequestAnticollisionSelect) {
    unsigned int serial = 0;
    ASSERT_EQ(rf().card(handle, 1, &serial), RF_OK);
    EXPECT_EQ(serial, kSimSerial);
    ASSERT_EQ(rf().load_key(handle, 0, 2, kFactoryKey.data()), RF_OK);
    EXPECT_EQ(rf().authentication(handle, 0, 2), RF_OK);
    EXPECT_EQ(rf().card(handle, 7, &serial), RF_ERR_ARG);
}

TEST_F(Reader, HaltedCardWakesOnlyOnRequestForAll) {
    activate();
    ASSERT_EQ(rf().halt(handle), RF_OK);
    unsigned int type = 0, serial = 0;
    unsigned char buf[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf().request(handle, 0, &type), RF_ERR_HALTED);
    EXPECT_EQ(rf().card(handle, 0, &serial), RF_ERR_HALTED);
    EXPECT_EQ(rf().read(handle, 4, buf), RF_ERR_HALTED);
    EXPECT_EQ(rf().request(handle, 1, &type), RF_OK);
    EXPECT_EQ(rf().anticoll(handle, 0, &serial), RF_OK);
}

TEST_F(Reader, KeyModesAndSectors) {
    activate();
    for (unsigned char mode : {1, 2, 3, 5, 0x60, 0xFF})
        EXPECT_EQ(rf().load_key(handle, mode, 1, kFactoryKey.data()), RF_ERR_ARG) << int(mode);
    for (int sector : {-1, 40, INT_MAX, INT_MIN})
        EXPECT_EQ(rf().load_key(handle, 0, sector, kFactoryKey.data()), RF_ERR_ARG) << sector;
    EXPECT_EQ(rf().authentication(handle, 1, 1), RF_ERR_ARG);
    // Nothing loaded for this mode and sector yet.
    EXPECT_EQ(rf().authentication(handle, 0, 3), RF_ERR_NO_KEY);
    ASSERT_EQ(rf().load_key(handle, 0, 3, kFactoryKey.data()), RF_OK);
    EXPECT_EQ(rf().authentication(handle, 4, 3), RF_ERR_NO_KEY);
    EXPECT_EQ(rf().authentication(handle, 0, 4), RF_ERR_NO_KEY);
    EXPECT_EQ(rf().authentication(handle, 0, 3), RF_OK);
    // Sectors a 1K card lacks: the key loads (the reader keeps 40 per mode),
    // authentication refuses them.
    ASSERT_EQ(rf().load_key(handle, 0, 16, kFactoryKey.data()), RF_OK);
    EXPECT_EQ(rf().authentication(handle, 0, 16), RF_ERR_ARG);
    // Keys belong to the handle: another handle has none.
    const int other = rf().init(9, 9600);
    ASSERT_GT(other, 0);
    EXPECT_EQ(rf().authentication(other, 0, 3), RF_ERR_NO_KEY);
}

TEST_F(Reader, LoadedKeyIsCopied) {
    activate();
    Key key = kFactoryKey;
    ASSERT_EQ(rf().load_key(handle, 0, 1, key.data()), RF_OK);
    key.fill(0);
    EXPECT_EQ(rf().authentication(handle, 0, 1), RF_OK);
}

// The reader hands the card model's verdicts out unchanged; key mode 4 is
// key B and a block address is absolute. Sector 2 gets key A A0.., key B
// B0.., data block 8 readable by both and writable by key B only (100),
// block 9 key-B only (011), block 10 read-only (010), trailer 011.
TEST_F(Reader, AccessRulesThroughTheReader) {
    ASSERT_EQ(login(0, 2, kFactoryKey), RF_OK);
    const Block t = trailer(kKeyA, {4, 3, 2, 3}, kKeyB);
    unsigned char buf[RF_TRANSFER_SIZE] = {};
    std::memcpy(buf, t.data(), 16);
    ASSERT_EQ(rf().write(handle, 11, buf), RF_OK);

    const struct {
        unsigned char mode;
        int block;
        int read, write;
    } rows[] = {
        {0, 8, RF_OK, RF_ERR_ACCESS},          {4, 8, RF_OK, RF_OK},
        {0, 9, RF_ERR_ACCESS, RF_ERR_ACCESS},  {4, 9, RF_OK, RF_OK},
        {0, 10, RF_OK, RF_ERR_ACCESS},         {4, 10, RF_OK, RF_ERR_ACCESS},
        {0, 4, RF_ERR_NOT_AUTH, RF_ERR_NOT_AUTH}, {4, 12, RF_ERR_NOT_AUTH, RF_ERR_NOT_AUTH},
        {4, 64, RF_ERR_ARG, RF_ERR_ARG},       {4, 255, RF_ERR_ARG, RF_ERR_ARG},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << int(r.mode) << " block " << r.block);
        ASSERT_EQ(login(r.mode, 2, r.mode == 0 ? kKeyA : kKeyB), RF_OK);
        unsigned char out[RF_TRANSFER_SIZE] = {};
        EXPECT_EQ(rf().read(handle, static_cast<unsigned char>(r.block), out), r.read);
        unsigned char in[RF_TRANSFER_SIZE] = {};
        std::memset(in, 0x5A, 16);
        EXPECT_EQ(rf().write(handle, static_cast<unsigned char>(r.block), in), r.write);
    }
    // The old factory key no longer opens the sector.
    EXPECT_EQ(login(0, 2, kFactoryKey), RF_ERR_AUTH);
    unsigned char out[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf().read(handle, 8, out), RF_ERR_NOT_AUTH);
}

TEST_F(Reader, ReadFillsSixteenBytesAndLeavesTheRest) {
    ASSERT_EQ(login(0, 0, kFactoryKey), RF_OK);
    unsigned char buf[RF_TRANSFER_SIZE];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(rf().read(handle, 0, buf), RF_OK);
    EXPECT_EQ(0, std::memcmp(buf, kSimUid, 4));
    EXPECT_EQ(buf[4], 0x12 ^ 0x34 ^ 0x56 ^ 0x78);
    for (int i = 16; i < RF_TRANSFER_SIZE; ++i) EXPECT_EQ(buf[i], 0xEE);
    // Block 0 stays the manufacturer's.
    unsigned char in[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf().write(handle, 0, in), RF_ERR_ACCESS);
}

TEST_F(Reader, MemoryCardOutlivesCloseAndReopen) {
    ASSERT_EQ(login(0, 1, kFactoryKey), RF_OK);
    unsigned char in[RF_TRANSFER_SIZE] = {};
    std::memset(in, 0x42, 16);
    ASSERT_EQ(rf().write(handle, 5, in), RF_OK);
    ASSERT_EQ(rf().exit(handle), RF_OK);
    handle = rf().init(1, 9600);
    ASSERT_GT(handle, 0);
    ASSERT_EQ(login(0, 1, kFactoryKey), RF_OK);
    unsigned char out[RF_TRANSFER_SIZE] = {};
    ASSERT_EQ(rf().read(handle, 5, out), RF_OK);
    EXPECT_EQ(0, std::memcmp(in, out, 16));
}

TEST(EmptyField, NoCardAnswersButTheReaderWorks) {
    set_env("RFSIM_NO_CARD", "1");
    const int h = rf().init(1, 9600);
    ASSERT_GT(h, 0);
    unsigned int u = 0;
    unsigned char b = 0, buf[RF_TRANSFER_SIZE] = {};
    EXPECT_EQ(rf().beep(h, 10), RF_OK);
    EXPECT_EQ(rf().load_key(h, 0, 1, kFactoryKey.data()), RF_OK);
    EXPECT_EQ(rf().request(h, 1, &u), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().anticoll(h, 0, &u), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().select(h, kSimSerial, &b), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().card(h, 1, &u), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().authentication(h, 0, 1), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().read(h, 4, buf), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().write(h, 4, buf), RF_ERR_NO_CARD);
    EXPECT_EQ(rf().halt(h), RF_ERR_NO_CARD);
    EXPECT_EQ(u, 0u);
    // The card comes back at the next open once the setting is gone.
    set_env("RFSIM_NO_CARD", "0");
    const int h2 = rf().init(1, 9600);
    ASSERT_GT(h2, 0);
    EXPECT_EQ(rf().request(h2, 1, &u), RF_OK);
}

TEST(EmptyField, BadSettingRefusesToOpen) {
    for (const char *value : {"yes", "2", "true", " 1"}) {
        set_env("RFSIM_NO_CARD", value);
        testing::internal::CaptureStderr();
        EXPECT_EQ(rf().init(1, 9600), RF_INIT_BAD_SETTING) << value;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("RFSIM_NO_CARD"), std::string::npos) << err;
    }
}

// The card file (RFSIM_CARD) across processes: creation, refusal of bad
// files, durability against a killed writer, and concurrent writers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "Vesk_RD.h"
#include "sim_support.h"
#include "support/harness.h"

using namespace st;

namespace {

class CardFile : public testing::Test {
  protected:
    void SetUp() override {
        rf();  // loaded by full path before any connect, in parent and children alike
        path = dir.file("card.mfd");
        set_env("RFSIM_CARD", path.c_str());
    }

    TempDir dir;
    std::string path;
};

// Connects, logs in to the block's sector and writes it; 0 or the first
// failing code (as a small positive exit status).
int write_through_vesk(int block, const Block &data) {
    if (Quen_ConnectVelm40(1, 9600) != 0) return 1;
    if (Quen_Login_With_UserKey(block / 4, kFactoryKey.data(), 0) != 0) return 2;
    if (Quen_WriteBlock(0, block, data.data()) != 0) return 3;
    Quen_CloseVelm40();
    return 0;
}

bool is_data_block(int block) { return block != 0 && block % 4 != 3; }

}  // namespace

TEST_F(CardFile, MissingFileIsCreatedAsFactory1K) {
    ASSERT_FALSE(exists(path));
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(read_file(path), factory_image(mifare::CardType::Classic1K));
    unsigned char serial[4], answer = 0;
    ASSERT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(vt::hex(serial, 4), "12345678");
    EXPECT_EQ(answer, 0x08);
    EXPECT_TRUE(exists(path + ".lock"));
    EXPECT_FALSE(exists(path + ".tmp"));
}

TEST_F(CardFile, UidAndTypeComeFromTheFile) {
    Bytes image = factory_image(mifare::CardType::Classic4K);
    const std::uint8_t uid[4] = {0xC1, 0xD2, 0xE3, 0xF4};
    std::memcpy(image.data(), uid, 4);
    write_file(path, image);
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    unsigned char serial[4], answer = 0;
    ASSERT_EQ(Quen_RequestCardExist(serial, &answer), 0);
    EXPECT_EQ(vt::hex(serial, 4), "C1D2E3F4");
    EXPECT_EQ(answer, 0x18);
}

TEST_F(CardFile, WriteInOneProcessReadBackInAnother) {
    const Block data = filled(0x3C);
    ASSERT_EQ(run_in_child([&] { return write_through_vesk(9, data); }), 0);
    const int read_back = run_in_child([&] {
        if (Quen_ConnectVelm40(1, 9600) != 0) return 1;
        if (Quen_Login_With_UserKey(2, kFactoryKey.data(), 0) != 0) return 2;
        Block b{};
        if (Quen_ReadBlock(2, 1, b.data()) != 0) return 3;
        return b == data ? 0 : 4;
    });
    EXPECT_EQ(read_back, 0);
    Bytes expected = factory_image(mifare::CardType::Classic1K);
    std::copy(data.begin(), data.end(), expected.begin() + 9 * 16);
    EXPECT_EQ(read_file(path), expected);
}

// A process that is already connected sees another's write at its next
// login, which starts with a request.
TEST_F(CardFile, OpenReaderSeesOtherWritesAtTheNextRequest) {
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    ASSERT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), 0);
    Block b{};
    ASSERT_EQ(Quen_ReadBlock(1, 0, b.data()), 0);
    EXPECT_EQ(b, Block{});

    const Block theirs = filled(0x77);
    ASSERT_EQ(run_in_child([&] { return write_through_vesk(4, theirs); }), 0);

    ASSERT_EQ(Quen_ReadBlock(1, 0, b.data()), 0);
    EXPECT_EQ(b, Block{}) << "the session keeps the card it selected";
    // Our own write to another block keeps theirs.
    const Block mine = filled(0x11);
    ASSERT_EQ(Quen_WriteBlock(1, 1, mine.data()), 0);
    ASSERT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), 0);
    ASSERT_EQ(Quen_ReadBlock(1, 0, b.data()), 0);
    EXPECT_EQ(b, theirs);
    ASSERT_EQ(Quen_ReadBlock(1, 1, b.data()), 0);
    EXPECT_EQ(b, mine);
}

TEST_F(CardFile, WrongSizeOrUnreadableIsRefusedAndLeftUntouched) {
    for (std::size_t size : {0, 1, 16, 1023, 1025, 2048, 4095, 4097, 8192}) {
        SCOPED_TRACE(size);
        Bytes junk(size);
        for (std::size_t i = 0; i < size; ++i) junk[i] = static_cast<std::uint8_t>(i * 31 + 7);
        write_file(path, junk);
        struct stat before;
        ASSERT_EQ(stat(path.c_str(), &before), 0);

        testing::internal::CaptureStderr();
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), RF_INIT_CARD_FILE);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(path), std::string::npos) << err;
        EXPECT_NE(err.find(std::to_string(size) + " bytes"), std::string::npos) << err;

        EXPECT_EQ(read_file(path), junk);
        struct stat after;
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_FALSE(exists(path + ".tmp"));
    }
    // A good file afterwards opens.
    write_file(path, factory_image(mifare::CardType::Classic1K));
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
}

TEST_F(CardFile, FolderOrMissingFolderIsRefused) {
    const struct {
        std::string path;
        const char *says;
    } cases[] = {{dir.path(), "not a regular file"}, {dir.file("no/such/card.mfd"), "no/such"}};
    for (const auto &c : cases) {
        set_env("RFSIM_CARD", c.path.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), RF_INIT_CARD_FILE) << c.path;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
    }
    EXPECT_FALSE(exists(dir.file("no")));
}

TEST_F(CardFile, UnreadableFileIsRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    write_file(path, factory_image(mifare::CardType::Classic1K));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), RF_INIT_CARD_FILE);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open"), std::string::npos);
}

// A card file swapped for another card while a session is open: that card
// has left the field, so the write fails and the new file is kept as is.
TEST_F(CardFile, WriteRefusedWhenTheFileNowHoldsAnotherCard) {
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    ASSERT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), 0);
    const Bytes other_cards[] = {
        [] {
            Bytes b = factory_image(mifare::CardType::Classic1K);
            b[0] ^= 0xFF;
            return b;
        }(),
        factory_image(mifare::CardType::Classic4K),
    };
    for (const Bytes &other : other_cards) {
        write_file(path, other);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Quen_WriteBlock(1, 0, filled(1).data()), VESK_E_WRITE);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("no longer holds this card"), std::string::npos);
        EXPECT_EQ(read_file(path), other);
    }
    // A file that became unreadable makes the next request fail.
    write_file(path, Bytes(100));
    testing::internal::CaptureStderr();
    EXPECT_EQ(Quen_Login_With_UserKey(1, kFactoryKey.data(), 0), VESK_E_BIND);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(vt::last_error().code, RF_ERR_IO);
}

// Killed after the temporary file is complete and before the rename: the
// card file is still the old one, whole, and the next writer goes on.
TEST_F(CardFile, WriterKilledBeforeRenameLeavesTheOldFile) {
    write_file(path, factory_image(mifare::CardType::Classic1K));
    const Bytes old_image = read_file(path);
    const std::string marker = dir.file("stalled");

    const pid_t writer = spawn([&] {
        set_env("RFSIM_TEST_STALL_BEFORE_RENAME", marker.c_str());
        return write_through_vesk(6, filled(0xEE));
    });
    for (int i = 0; i < 2000 && !exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(exists(marker)) << "writer never reached the rename";
    // The new image is complete beside the card file, the card file unchanged.
    const Bytes temp = read_file(path + ".tmp");
    ASSERT_EQ(temp.size(), 1024u);
    EXPECT_EQ(block_of(temp, 6), filled(0xEE));
    kill(writer, SIGKILL);
    EXPECT_EQ(wait_for(writer), -1000 - SIGKILL);

    EXPECT_EQ(read_file(path), old_image);
    // The lock died with the writer; the next write lands.
    ASSERT_EQ(run_in_child([&] { return write_through_vesk(6, filled(0x61)); }), 0);
    EXPECT_EQ(block_of(read_file(path), 6), filled(0x61));
}

// Killed at random moments while writing in a loop: the file always loads
// as a whole card, every block as one of the values written to it.
TEST_F(CardFile, WriterKilledAtRandomMomentsLeavesAWholeFile) {
    write_file(path, factory_image(mifare::CardType::Classic1K));
    const Bytes factory = read_file(path);
    Bytes last = factory;
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> delay_us(0, 3000);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        const pid_t writer = spawn([&] {
            if (Quen_ConnectVelm40(1, 9600) != 0) return 1;
            for (unsigned v = 1;; ++v)
                for (int sector = 1; sector < 16; ++sector) {
                    if (Quen_Login_With_UserKey(sector, kFactoryKey.data(), 0) != 0) return 2;
                    for (int b = 0; b < 3; ++b) {
                        const Block data = filled(static_cast<std::uint8_t>(v));
                        if (Quen_WriteBlock(sector, b, data.data()) != 0) return 3;
                    }
                }
        });
        // Strike while writes are going on: once the file has moved on.
        for (int i = 0; i < 5000 && read_file(path) == last; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(rng)));
        kill(writer, SIGKILL);
        ASSERT_EQ(wait_for(writer), -1000 - SIGKILL);

        const Bytes image = read_file(path);
        ASSERT_EQ(image.size(), 1024u);
        EXPECT_NE(image, last) << "the writer made no progress before the kill";
        last = image;
        for (int block = 0; block < 64; ++block) {
            const Block b = block_of(image, block);
            if (is_data_block(block)) EXPECT_EQ(b, filled(b[0])) << "block " << block;
            else EXPECT_EQ(b, block_of(factory, block)) << "block " << block;
        }
    }
    // And the file still works for the next process.
    ASSERT_EQ(run_in_child([&] { return write_through_vesk(4, filled(0xAB)); }), 0);
    EXPECT_EQ(block_of(read_file(path), 4), filled(0xAB));
}

// Two processes write different blocks of one card file at the same time:
// one blocks 0 and 2 of every sector, the other block 1. Each works in its
// own sessions with a stale view of the other's blocks, yet every last
// write of both ends up in the file.
TEST_F(CardFile, ConcurrentWritersLoseNothing) {
    write_file(path, factory_image(mifare::CardType::Classic1K));
    constexpr int kRounds = 6;
    auto content = [](std::uint8_t tag, int round, int block) {
        Block data = filled(tag);
        data[1] = static_cast<std::uint8_t>(round);
        data[2] = static_cast<std::uint8_t>(block);
        return data;
    };
    auto writer = [&](std::uint8_t tag, std::vector<int> offsets) {
        return [=] {
            if (Quen_ConnectVelm40(1, 9600) != 0) return 1;
            for (int round = 1; round <= kRounds; ++round)
                for (int sector = 1; sector < 16; ++sector) {
                    if (Quen_Login_With_UserKey(sector, kFactoryKey.data(), 0) != 0) return 2;
                    for (int b : offsets)
                        if (Quen_WriteBlock(sector, b, content(tag, round, sector * 4 + b).data()) != 0) return 3;
                }
            return 0;
        };
    };
    const pid_t first = spawn(writer(0xA0, {0, 2}));
    const pid_t second = spawn(writer(0xB0, {1}));
    ASSERT_EQ(wait_for(first), 0);
    ASSERT_EQ(wait_for(second), 0);

    const Bytes image = read_file(path);
    ASSERT_EQ(image.size(), 1024u);
    for (int sector = 1; sector < 16; ++sector)
        for (int b = 0; b < 3; ++b) {
            const int block = sector * 4 + b;
            EXPECT_EQ(block_of(image, block), content(b == 1 ? 0xB0 : 0xA0, kRounds, block)) << "block " << block;
        }
}

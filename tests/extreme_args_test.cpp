// Arguments at the edges of their types: every pairing of extreme sectors and
// blocks, and key types that share their low byte with 1.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/harness.h"

using Calls = std::vector<std::string>;

namespace {

const int kExtremes[] = {INT_MIN, -1, 0, 64, 255, 256, INT_MAX};

class Extreme : public testing::Test {
  protected:
    void SetUp() override { vt::connect_and_clear(rec); }
    vt::Recorder rec;
};

// (sector * 4 + block) mod 256 in exact 64-bit arithmetic, as a mathematician
// would write it, independent of how the library avoids overflow.
int address_of(int sector, int block) {
    const int64_t exact = static_cast<int64_t>(sector) * 4 + block;
    return static_cast<int>(((exact % 256) + 256) % 256);
}

}  // namespace

TEST_F(Extreme, EveryPairOfExtremeSectorAndBlockWrapsToItsAddress) {
    const std::string zero20(40, '0');
    const unsigned char data[16] = {};
    for (int sector : kExtremes) {
        for (int block : kExtremes) {
            rec.reset();
            unsigned char out[16];
            EXPECT_EQ(Quen_ReadBlock(sector, block, out), 0);
            EXPECT_EQ(Quen_ReadBlock(sector, block, nullptr), 0);
            EXPECT_EQ(Quen_WriteBlock(sector, block, data), 0);
            EXPECT_EQ(Quen_WriteBlock(sector, block, nullptr), -6);
            const std::string a = std::to_string(address_of(sector, block));
            EXPECT_EQ(rec.calls(), (Calls{"rf_read(7," + a + "," + zero20 + ")", "rf_read(7," + a + "," + zero20 + ")",
                                          "rf_write(7," + a + "," + zero20 + ")"}))
                << sector << "/" << block;
        }
    }
}

TEST_F(Extreme, OnlyKeyTypeOneIsKeyBEvenWhenTheLowByteIsOne) {
    const unsigned char key[6] = {};
    // 257, 65537 and -255 all end in the byte 0x01; a narrowed comparison
    // would take them for key B.
    const int key_types[] = {INT_MIN, -255, -1, 2, 255, 256, 257, 65537, INT_MAX};
    for (int sector : kExtremes) {
        for (int key_type : key_types) {
            rec.reset();
            EXPECT_EQ(Quen_Login_With_UserKey(sector, key, key_type), 0);
            char load_key[160];
            std::snprintf(load_key, sizeof load_key, "rf_load_key(7,0,%d,%p)", sector, static_cast<const void *>(key));
            const Calls calls = rec.calls();
            ASSERT_EQ(calls.size(), 5u);
            EXPECT_EQ(calls[3], load_key) << sector << "/" << key_type;
            EXPECT_EQ(calls[4], "rf_authentication(7,0," + std::to_string(sector) + ")") << sector << "/" << key_type;
        }
        rec.reset();
        EXPECT_EQ(Quen_Login_With_UserKey(sector, key, 1), 0);
        EXPECT_EQ(rec.calls()[4], "rf_authentication(7,4," + std::to_string(sector) + ")") << sector;
    }
}

TEST(ExtremeRecord, FormattingErrorRecordsTheCodeWithAnEmptyText) {
    // In the C locale a wide character outside ASCII cannot be converted:
    // vsnprintf fails partway, and no half-formatted text is kept.
#ifdef _WIN32
    GTEST_SKIP() << "the Windows C runtime drops the character instead of failing";
#endif
    SetLastErrMsg(9, "a long earlier text");
    EXPECT_EQ(SetLastErrMsg(3, "abc%lsdef", L"\x4E2D"), 3);
    const vt::Record r = vt::last_error();
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.text, "");
}

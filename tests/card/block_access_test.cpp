// Access conditions as the card enforces them on read and write.
#include "card_fixture.h"

using namespace mifare;
using namespace card_test;

namespace {

constexpr KeyType BOTH_KEYS[] = {KeyType::A, KeyType::B};

std::uint8_t mask(KeyType k) { return k == KeyType::A ? KEYS_A : KEYS_B; }

rf_status expect_if(bool allowed) { return allowed ? RF_OK : RF_ERR_ACCESS; }

const Key& key_of(KeyType k) { return k == KeyType::A ? KEY_A : KEY_B; }

Block pattern(std::uint8_t seed)
{
    Block b;
    for (int i = 0; i < 16; ++i)
        b[i] = std::uint8_t(seed + i * 7);
    return b;
}

} // namespace

// Trailer condition 011 keeps key B usable, so both keys reach the data rows.
TEST(DataBlockAccess, EveryRowWithBothKeys)
{
    struct Row {
        std::uint8_t cond;
        std::uint8_t read, write;
    };
    const Row rows[] = {
        {0, KEYS_AB, KEYS_AB}, {1, KEYS_AB, KEYS_NONE}, {2, KEYS_AB, KEYS_NONE}, {3, KEYS_B, KEYS_B},
        {4, KEYS_AB, KEYS_B},  {5, KEYS_B, KEYS_NONE},  {6, KEYS_AB, KEYS_B},    {7, KEYS_NONE, KEYS_NONE},
    };
    for (const Row& r : rows)
        for (int group = 0; group < 3; ++group)
            for (KeyType k : BOTH_KEYS) {
                SCOPED_TRACE(testing::Message() << "cond " << int(r.cond) << " group " << group << " key " << key_name(k));
                std::array<std::uint8_t, 4> cond = {7, 7, 7, 3};
                cond[group] = r.cond;
                Card card = card_with_trailer(CardType::Classic1K, 1, trailer_bytes(KEY_A, cond, KEY_B));
                activate(card);
                const int block = 4 + group;
                ASSERT_EQ(card.authenticate(block, k, key_of(k).data()), RF_OK);

                Block out{};
                EXPECT_EQ(card.read_block(block, out.data()), expect_if(r.read & mask(k)));

                const bool writable = r.write & mask(k);
                Block data = pattern(0x30);
                EXPECT_EQ(card.write_block(block, data.data()), expect_if(writable));
                EXPECT_EQ(stored_block(card, block), writable ? data : Block{});
            }
}

TEST(TrailerAccess, EveryRowWithBothKeys)
{
    struct Row {
        std::uint8_t cond;
        bool key_b_auth;
        std::uint8_t key_a_write, bits_read, bits_write, key_b_read, key_b_write;
    };
    const Row rows[] = {
        {0, false, KEYS_A, KEYS_A, KEYS_NONE, KEYS_A, KEYS_A},
        {1, false, KEYS_A, KEYS_A, KEYS_A, KEYS_A, KEYS_A},
        {2, false, KEYS_NONE, KEYS_A, KEYS_NONE, KEYS_A, KEYS_NONE},
        {3, true, KEYS_B, KEYS_AB, KEYS_B, KEYS_NONE, KEYS_B},
        {4, true, KEYS_B, KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_B},
        {5, true, KEYS_NONE, KEYS_AB, KEYS_B, KEYS_NONE, KEYS_NONE},
        {6, true, KEYS_NONE, KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_NONE},
        {7, true, KEYS_NONE, KEYS_AB, KEYS_NONE, KEYS_NONE, KEYS_NONE},
    };
    const Key new_a = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
    const Key new_b = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
    for (const Row& r : rows)
        for (KeyType k : BOTH_KEYS) {
            SCOPED_TRACE(testing::Message() << "trailer cond " << int(r.cond) << " key " << key_name(k));
            const Block before = trailer_bytes(KEY_A, {0, 0, 0, r.cond}, KEY_B, 0x69);
            Card card = card_with_trailer(CardType::Classic1K, 1, before);
            activate(card);
            if (k == KeyType::B && !r.key_b_auth) {
                EXPECT_EQ(card.authenticate(7, k, KEY_B.data()), RF_ERR_AUTH);
                EXPECT_EQ(card.authenticated_sector(), -1);
                continue;
            }
            ASSERT_EQ(card.authenticate(7, k, key_of(k).data()), RF_OK);

            Block out;
            out.fill(0xEE);
            ASSERT_EQ(card.read_block(7, out.data()), RF_OK);
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(out[i], 0) << "key A byte " << i;
            const bool bits_visible = r.bits_read & mask(k);
            for (int i = 6; i < 10; ++i)
                EXPECT_EQ(out[i], bits_visible ? before[i] : 0) << "access byte " << i;
            const bool b_visible = r.key_b_read & mask(k);
            for (int i = 10; i < 16; ++i)
                EXPECT_EQ(out[i], b_visible ? before[i] : 0) << "key B byte " << i;

            // Same trailer row, other data rows and GPB: a visible change that
            // keeps the session usable.
            const Block after = trailer_bytes(new_a, {2, 4, 6, r.cond}, new_b, 0x42);
            const bool wa = r.key_a_write & mask(k), wbits = r.bits_write & mask(k), wb = r.key_b_write & mask(k);
            EXPECT_EQ(card.write_block(7, after.data()), expect_if(wa || wbits || wb));
            const Block stored = stored_block(card, 7);
            for (int i = 0; i < 16; ++i) {
                bool changes = i < 6 ? wa : i < 10 ? wbits : wb;
                EXPECT_EQ(stored[i], changes ? after[i] : before[i]) << "byte " << i;
            }
        }
}

TEST(TrailerAccess, FactoryTrailerReadsBackWithKeyBVisible)
{
    Card card(CardType::Classic1K, UID);
    activate(card);
    ASSERT_EQ(card.authenticate(0, KeyType::A, FACTORY_KEY.data()), RF_OK);
    Block out;
    ASSERT_EQ(card.read_block(3, out.data()), RF_OK);
    const Block expected = {0, 0, 0, 0, 0, 0, 0xFF, 0x07, 0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(out, expected);
}

TEST(TrailerAccess, FactoryKeyBCannotAuthenticate)
{
    Card card(CardType::Classic4K, UID);
    activate(card);
    for (int block : {0, 3, 130, 255})
        EXPECT_EQ(card.authenticate(block, KeyType::B, FACTORY_KEY.data()), RF_ERR_AUTH) << block;
}

TEST(TrailerAccess, KeyBMadeReadableStopsTheCurrentKeyBSession)
{
    Card card = card_with_trailer(CardType::Classic1K, 1, trailer_bytes(KEY_A, {0, 0, 0, 3}, KEY_B));
    activate(card);
    ASSERT_EQ(card.authenticate(4, KeyType::B, KEY_B.data()), RF_OK);
    Block out;
    ASSERT_EQ(card.read_block(4, out.data()), RF_OK);
    Block readable_b = trailer_bytes(KEY_A, {0, 0, 0, 1}, KEY_B);
    ASSERT_EQ(card.write_block(7, readable_b.data()), RF_OK);
    EXPECT_EQ(card.read_block(4, out.data()), RF_ERR_ACCESS);
    EXPECT_EQ(card.write_block(5, out.data()), RF_ERR_ACCESS);
    EXPECT_EQ(card.authenticate(4, KeyType::B, KEY_B.data()), RF_ERR_AUTH);
    ASSERT_EQ(card.authenticate(4, KeyType::A, KEY_A.data()), RF_OK);
    EXPECT_EQ(card.read_block(4, out.data()), RF_OK);
}

TEST(ManufacturerBlock, NeverWritable)
{
    // Data row 000 on sector 0 would let either key write block 0 were it data.
    Card card = card_with_trailer(CardType::Classic1K, 0, trailer_bytes(KEY_A, {0, 0, 0, 3}, KEY_B));
    const Block block0 = stored_block(card, 0);
    activate(card);
    for (KeyType k : BOTH_KEYS) {
        SCOPED_TRACE(key_name(k));
        ASSERT_EQ(card.authenticate(0, k, key_of(k).data()), RF_OK);
        Block data = pattern(0x55);
        EXPECT_EQ(card.write_block(0, data.data()), RF_ERR_ACCESS);
        EXPECT_EQ(card.write_block(1, data.data()), RF_OK);
        Block out;
        ASSERT_EQ(card.read_block(0, out.data()), RF_OK);
        EXPECT_EQ(out, block0);
    }
    EXPECT_EQ(stored_block(card, 0), block0);
}

TEST(LargeSectors, GroupsOfFiveByAbsoluteBlock)
{
    // Group 0 read-only, group 1 read/write, group 2 closed.
    struct Range {
        int first, last;
        rf_status read, write;
    };
    const Range ranges[] = {
        {128, 132, RF_OK, RF_ERR_ACCESS}, {133, 137, RF_OK, RF_OK}, {138, 142, RF_ERR_ACCESS, RF_ERR_ACCESS},
        {240, 244, RF_OK, RF_ERR_ACCESS}, {245, 249, RF_OK, RF_OK}, {250, 254, RF_ERR_ACCESS, RF_ERR_ACCESS},
    };
    const Block trailer = trailer_bytes(KEY_A, {2, 0, 7, 1}, KEY_B);
    for (int sector : {32, 39}) {
        Card card = card_with_trailer(CardType::Classic4K, sector, trailer);
        activate(card);
        const int t = trailer_of_sector(CardType::Classic4K, sector);
        ASSERT_EQ(card.authenticate(t, KeyType::A, KEY_A.data()), RF_OK);
        for (const Range& r : ranges) {
            if (sector_of_block(CardType::Classic4K, r.first) != sector)
                continue;
            for (int block = r.first; block <= r.last; ++block) {
                SCOPED_TRACE(testing::Message() << "block " << block);
                Block out;
                EXPECT_EQ(card.read_block(block, out.data()), r.read);
                Block data = pattern(std::uint8_t(block));
                EXPECT_EQ(card.write_block(block, data.data()), r.write);
            }
        }
        Block out;
        ASSERT_EQ(card.read_block(t, out.data()), RF_OK);
        EXPECT_EQ(out[6], trailer[6]);
        EXPECT_EQ(out[10], trailer[10]); // key B readable under trailer row 001
    }
}

TEST(MalformedTrailer, AcceptedThenLocksTheSector)
{
    Card card(CardType::Classic1K, UID);
    activate(card);
    ASSERT_EQ(card.authenticate(4, KeyType::A, FACTORY_KEY.data()), RF_OK);
    Block bad = trailer_bytes(KEY_A, {0, 0, 0, 1}, KEY_B);
    bad[8] ^= 0x01;
    ASSERT_FALSE(access_bits_valid(bad.data() + 6));
    EXPECT_EQ(card.write_block(7, bad.data()), RF_OK);
    EXPECT_EQ(stored_block(card, 7), bad);

    Block out;
    EXPECT_EQ(card.read_block(4, out.data()), RF_ERR_ACCESS);
    EXPECT_EQ(card.authenticate(4, KeyType::A, KEY_A.data()), RF_ERR_AUTH);
    EXPECT_EQ(card.authenticate(7, KeyType::B, KEY_B.data()), RF_ERR_AUTH);
    card.reset();
    activate(card);
    EXPECT_EQ(card.authenticate(5, KeyType::A, KEY_A.data()), RF_ERR_AUTH);
    // Neighbours keep working.
    EXPECT_EQ(card.authenticate(8, KeyType::A, FACTORY_KEY.data()), RF_OK);
}

TEST(MalformedTrailer, LoadedFromImageLocksTheSector)
{
    Block bad = trailer_bytes(KEY_A, {0, 0, 0, 3}, KEY_B);
    bad[6] = 0x00;
    Card card = card_with_trailer(CardType::Classic4K, 35, bad);
    activate(card);
    for (KeyType k : BOTH_KEYS)
        EXPECT_EQ(card.authenticate(first_block_of_sector(CardType::Classic4K, 35), k, key_of(k).data()), RF_ERR_AUTH);
    EXPECT_EQ(card.authenticate(first_block_of_sector(CardType::Classic4K, 34), KeyType::A, FACTORY_KEY.data()), RF_OK);
}

TEST(BlockAccess, BadArguments)
{
    Card card(CardType::Classic1K, UID);
    activate(card);
    ASSERT_EQ(card.authenticate(60, KeyType::A, FACTORY_KEY.data()), RF_OK);
    Block out;
    for (int block : {-1, 64, 255}) {
        EXPECT_EQ(card.read_block(block, out.data()), RF_ERR_ARG) << block;
        EXPECT_EQ(card.write_block(block, out.data()), RF_ERR_ARG) << block;
        EXPECT_EQ(card.authenticate(block, KeyType::A, FACTORY_KEY.data()), RF_ERR_ARG) << block;
    }
    EXPECT_EQ(card.authenticated_sector(), 15);
    EXPECT_EQ(card.read_block(61, nullptr), RF_ERR_ARG);
    EXPECT_EQ(card.write_block(61, nullptr), RF_ERR_ARG);
    EXPECT_EQ(card.authenticate(61, KeyType::A, nullptr), RF_ERR_ARG);
    EXPECT_EQ(card.authenticate(61, static_cast<KeyType>(2), FACTORY_KEY.data()), RF_ERR_ARG);
}

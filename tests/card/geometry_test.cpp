#include "card_fixture.h"

using namespace mifare;

TEST(Geometry, SizesPerType)
{
    EXPECT_EQ(block_count(CardType::Classic1K), 64);
    EXPECT_EQ(sector_count(CardType::Classic1K), 16);
    EXPECT_EQ(image_size(CardType::Classic1K), 1024u);
    EXPECT_EQ(block_count(CardType::Classic4K), 256);
    EXPECT_EQ(sector_count(CardType::Classic4K), 40);
    EXPECT_EQ(image_size(CardType::Classic4K), 4096u);
}

TEST(Geometry, BlockPlacement)
{
    struct Case {
        CardType type;
        int block, sector, first, blocks, trailer, group;
    };
    const Case cases[] = {
        {CardType::Classic1K, 0, 0, 0, 4, 3, 0},
        {CardType::Classic1K, 3, 0, 0, 4, 3, 3},
        {CardType::Classic1K, 6, 1, 4, 4, 7, 2},
        {CardType::Classic1K, 63, 15, 60, 4, 63, 3},
        {CardType::Classic4K, 63, 15, 60, 4, 63, 3},
        {CardType::Classic4K, 127, 31, 124, 4, 127, 3},
        {CardType::Classic4K, 128, 32, 128, 16, 143, 0},
        {CardType::Classic4K, 132, 32, 128, 16, 143, 0},
        {CardType::Classic4K, 133, 32, 128, 16, 143, 1},
        {CardType::Classic4K, 137, 32, 128, 16, 143, 1},
        {CardType::Classic4K, 138, 32, 128, 16, 143, 2},
        {CardType::Classic4K, 142, 32, 128, 16, 143, 2},
        {CardType::Classic4K, 143, 32, 128, 16, 143, 3},
        {CardType::Classic4K, 144, 33, 144, 16, 159, 0},
        {CardType::Classic4K, 250, 39, 240, 16, 255, 2},
        {CardType::Classic4K, 255, 39, 240, 16, 255, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "block " << c.block << (c.type == CardType::Classic4K ? " 4K" : " 1K"));
        EXPECT_TRUE(valid_block(c.type, c.block));
        EXPECT_EQ(sector_of_block(c.type, c.block), c.sector);
        EXPECT_EQ(first_block_of_sector(c.type, c.sector), c.first);
        EXPECT_EQ(blocks_in_sector(c.type, c.sector), c.blocks);
        EXPECT_EQ(trailer_of_sector(c.type, c.sector), c.trailer);
        EXPECT_EQ(is_trailer(c.type, c.block), c.block == c.trailer);
        EXPECT_EQ(access_group_of_block(c.type, c.block), c.group);
    }
}

TEST(Geometry, SectorsTileTheCard)
{
    for (CardType type : {CardType::Classic1K, CardType::Classic4K}) {
        int next = 0;
        for (int s = 0; s < sector_count(type); ++s) {
            EXPECT_EQ(first_block_of_sector(type, s), next) << "sector " << s;
            next += blocks_in_sector(type, s);
        }
        EXPECT_EQ(next, block_count(type));
    }
}

TEST(Geometry, OutOfRangeIsInvalid)
{
    struct Case {
        CardType type;
        int block;
        int sector;
    };
    const Case cases[] = {
        {CardType::Classic1K, -1, -1},
        {CardType::Classic1K, 64, 16},
        {CardType::Classic4K, -1, -1},
        {CardType::Classic4K, 256, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "block " << c.block << " sector " << c.sector);
        EXPECT_FALSE(valid_block(c.type, c.block));
        EXPECT_EQ(sector_of_block(c.type, c.block), -1);
        EXPECT_EQ(access_group_of_block(c.type, c.block), -1);
        EXPECT_FALSE(is_trailer(c.type, c.block));
        EXPECT_FALSE(valid_sector(c.type, c.sector));
        EXPECT_EQ(first_block_of_sector(c.type, c.sector), -1);
        EXPECT_EQ(blocks_in_sector(c.type, c.sector), -1);
        EXPECT_EQ(trailer_of_sector(c.type, c.sector), -1);
    }
}

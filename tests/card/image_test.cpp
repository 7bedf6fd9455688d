#include "card_fixture.h"

using namespace mifare;
using namespace card_test;

TEST(CardImage, SizeDecidesTheType)
{
    struct Case {
        std::size_t size;
        rf_status status;
        CardType type;
    };
    const Case cases[] = {
        {1024, RF_OK, CardType::Classic1K}, {4096, RF_OK, CardType::Classic4K},
        {0, RF_ERR_ARG, {}},                {16, RF_ERR_ARG, {}},
        {1023, RF_ERR_ARG, {}},             {1025, RF_ERR_ARG, {}},
        {2048, RF_ERR_ARG, {}},             {4095, RF_ERR_ARG, {}},
        {4097, RF_ERR_ARG, {}},             {8192, RF_ERR_ARG, {}},
    };
    std::vector<std::uint8_t> buf(8192, 0x5A);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        Card card(CardType::Classic1K, UID);
        const auto before = image_of(card);
        EXPECT_EQ(Card::from_image(buf.data(), c.size, &card), c.status);
        if (c.status == RF_OK)
            EXPECT_EQ(card.type(), c.type);
        else
            EXPECT_EQ(image_of(card), before); // untouched on rejection
    }
    Card card(CardType::Classic1K, UID);
    EXPECT_EQ(Card::from_image(nullptr, 1024, &card), RF_ERR_ARG);
    EXPECT_EQ(Card::from_image(buf.data(), 1024, nullptr), RF_ERR_ARG);
}

TEST(CardImage, ArbitraryBytesRoundTripUnchanged)
{
    // Includes malformed trailers and a wrong BCC: the image is stored, not judged.
    for (std::size_t size : {IMAGE_SIZE_1K, IMAGE_SIZE_4K}) {
        std::vector<std::uint8_t> img(size);
        for (std::size_t i = 0; i < size; ++i)
            img[i] = std::uint8_t(i * 31 + 7);
        Card card(CardType::Classic1K, UID);
        ASSERT_EQ(Card::from_image(img.data(), img.size(), &card), RF_OK);
        EXPECT_EQ(image_of(card), img);
        EXPECT_TRUE(std::equal(img.begin(), img.begin() + 4, card.uid()));
        EXPECT_EQ(card.state(), CardState::Idle);
    }
}

TEST(CardImage, WritesAndKeysSurviveExportAndLoad)
{
    Card card(CardType::Classic4K, UID);
    activate(card);
    ASSERT_EQ(card.authenticate(200, KeyType::A, FACTORY_KEY.data()), RF_OK);
    Block data;
    data.fill(0xC3);
    ASSERT_EQ(card.write_block(200, data.data()), RF_OK);
    const Block trailer = trailer_bytes(KEY_A, {0, 4, 0, 3}, KEY_B);
    ASSERT_EQ(card.write_block(207, trailer.data()), RF_OK);

    const auto img = image_of(card);
    // The image holds the keys, unlike a read of the trailer.
    EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(), img.begin() + 207 * 16));

    Card loaded(CardType::Classic1K, UID);
    ASSERT_EQ(Card::from_image(img.data(), img.size(), &loaded), RF_OK);
    EXPECT_EQ(loaded.type(), CardType::Classic4K);
    EXPECT_EQ(image_of(loaded), img);
    activate(loaded);
    ASSERT_EQ(loaded.authenticate(200, KeyType::B, KEY_B.data()), RF_OK);
    Block out;
    ASSERT_EQ(loaded.read_block(200, out.data()), RF_OK);
    EXPECT_EQ(out, data);
}

TEST(CardImage, ExportNeedsRoom)
{
    Card card(CardType::Classic4K, UID);
    std::vector<std::uint8_t> small(4095);
    EXPECT_EQ(card.export_image(small.data(), small.size()), RF_ERR_ARG);
    EXPECT_EQ(card.export_image(nullptr, 4096), RF_ERR_ARG);
}

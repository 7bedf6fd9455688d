// Card states and the authentication session.
#include <functional>

#include "card_fixture.h"

using namespace mifare;
using namespace card_test;

TEST(ManufacturerBlock, UidBccSakAtqaPerType)
{
    struct Case {
        CardType type;
        std::uint8_t uid[4];
        std::uint8_t bcc, sak, atqa0, atqa1;
    };
    const Case cases[] = {
        {CardType::Classic1K, {0xDE, 0xAD, 0xBE, 0xEF}, 0xDE ^ 0xAD ^ 0xBE ^ 0xEF, 0x08, 0x04, 0x00},
        {CardType::Classic4K, {0x01, 0x02, 0x04, 0x80}, 0x87, 0x18, 0x02, 0x00},
        {CardType::Classic1K, {0x00, 0x00, 0x00, 0x00}, 0x00, 0x08, 0x04, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "sak " << int(c.sak) << " uid0 " << int(c.uid[0]));
        Card card(c.type, c.uid);
        Block b0 = stored_block(card, 0);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(b0[i], c.uid[i]);
        EXPECT_EQ(b0[4], c.bcc);
        EXPECT_EQ(b0[5], c.sak);
        EXPECT_EQ(b0[6], c.atqa0);
        EXPECT_EQ(b0[7], c.atqa1);

        std::uint8_t atqa[2] = {0xEE, 0xEE}, uid[4], sak = 0;
        ASSERT_EQ(card.request(REQUEST_IDLE, atqa), RF_OK);
        EXPECT_EQ(atqa[0], c.atqa0);
        EXPECT_EQ(atqa[1], c.atqa1);
        ASSERT_EQ(card.anticollision(uid), RF_OK);
        EXPECT_TRUE(std::equal(uid, uid + 4, c.uid));
        ASSERT_EQ(card.select(uid, &sak), RF_OK);
        EXPECT_EQ(sak, c.sak);
        EXPECT_EQ(card.state(), CardState::Active);
    }
}

TEST(FactoryCard, TrailersAndZeroData)
{
    const Block trailer = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07,
                           0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (CardType type : {CardType::Classic1K, CardType::Classic4K}) {
        Card card(type, UID);
        for (int block = 1; block < block_count(type); ++block)
            EXPECT_EQ(stored_block(card, block), is_trailer(type, block) ? trailer : Block{}) << block;
        EXPECT_EQ(card.state(), CardState::Idle);
        EXPECT_EQ(card.authenticated_sector(), -1);
    }
}

TEST(CardState, SelectionSequence)
{
    Card card(CardType::Classic1K, UID);
    std::uint8_t uid[4];
    const std::uint8_t other[4] = {0xDE, 0xAD, 0xBE, 0xEE};
    EXPECT_EQ(card.anticollision(uid), RF_ERR_NO_CARD);
    EXPECT_EQ(card.select(UID), RF_ERR_SELECT);
    EXPECT_EQ(card.halt(), RF_ERR_SELECT);
    EXPECT_EQ(card.authenticate(4, KeyType::A, FACTORY_KEY.data()), RF_ERR_SELECT);
    EXPECT_EQ(card.request(2), RF_ERR_ARG);
    EXPECT_EQ(card.state(), CardState::Idle);

    ASSERT_EQ(card.request(REQUEST_IDLE), RF_OK);
    EXPECT_EQ(card.state(), CardState::Ready);
    EXPECT_EQ(card.authenticate(4, KeyType::A, FACTORY_KEY.data()), RF_ERR_SELECT);
    EXPECT_EQ(card.select(other), RF_ERR_SELECT);
    EXPECT_EQ(card.state(), CardState::Ready);
    ASSERT_EQ(card.anticollision(uid), RF_OK);
    ASSERT_EQ(card.select(uid), RF_OK);
    EXPECT_EQ(card.state(), CardState::Active);
    EXPECT_EQ(card.select(uid), RF_ERR_SELECT);
    EXPECT_EQ(card.anticollision(uid), RF_ERR_NO_CARD);

    card.reset();
    EXPECT_EQ(card.state(), CardState::Idle);
}

TEST(CardState, HaltedCardAnswersOnlyRequestForAll)
{
    Card card(CardType::Classic4K, UID);
    activate(card);
    ASSERT_EQ(card.halt(), RF_OK);
    EXPECT_EQ(card.state(), CardState::Halt);
    std::uint8_t uid[4];
    Block out;
    // Twice: a refused request must not wake it either.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(card.request(REQUEST_IDLE), RF_ERR_HALTED);
        EXPECT_EQ(card.anticollision(uid), RF_ERR_HALTED);
        EXPECT_EQ(card.select(UID), RF_ERR_HALTED);
        EXPECT_EQ(card.authenticate(4, KeyType::A, FACTORY_KEY.data()), RF_ERR_HALTED);
        EXPECT_EQ(card.read_block(4, out.data()), RF_ERR_HALTED);
        EXPECT_EQ(card.write_block(4, out.data()), RF_ERR_HALTED);
        EXPECT_EQ(card.halt(), RF_ERR_HALTED);
        EXPECT_EQ(card.state(), CardState::Halt);
    }
    std::uint8_t atqa[2];
    ASSERT_EQ(card.request(REQUEST_ALL, atqa), RF_OK);
    EXPECT_EQ(atqa[0], 0x02);
    EXPECT_EQ(card.state(), CardState::Ready);
    ASSERT_EQ(card.anticollision(uid), RF_OK);
    EXPECT_EQ(card.select(uid), RF_OK);
}

TEST(CardState, RequestForAllAlsoWakesIdleCard)
{
    Card card(CardType::Classic1K, UID);
    EXPECT_EQ(card.request(REQUEST_ALL), RF_OK);
    EXPECT_EQ(card.state(), CardState::Ready);
}

TEST(AuthSession, OnlyTheAuthenticatedSectorIsOpen)
{
    Card card(CardType::Classic4K, UID);
    activate(card);
    Block out;
    EXPECT_EQ(card.read_block(4, out.data()), RF_ERR_NOT_AUTH);
    ASSERT_EQ(card.authenticate(5, KeyType::A, FACTORY_KEY.data()), RF_OK);
    EXPECT_EQ(card.authenticated_sector(), 1);
    EXPECT_EQ(card.authenticated_key(), KeyType::A);
    for (int block : {4, 5, 6, 7})
        EXPECT_EQ(card.read_block(block, out.data()), RF_OK) << block;
    for (int block : {3, 8, 0, 130}) {
        EXPECT_EQ(card.read_block(block, out.data()), RF_ERR_NOT_AUTH) << block;
        EXPECT_EQ(card.write_block(block, out.data()), RF_ERR_NOT_AUTH) << block;
    }
    // Authenticating elsewhere moves the session.
    ASSERT_EQ(card.authenticate(135, KeyType::A, FACTORY_KEY.data()), RF_OK);
    EXPECT_EQ(card.authenticated_sector(), 32);
    EXPECT_EQ(card.read_block(4, out.data()), RF_ERR_NOT_AUTH);
    EXPECT_EQ(card.read_block(143, out.data()), RF_OK);
}

TEST(AuthSession, DroppedByFailedAuthHaltAndNewSelection)
{
    const Key wrong = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    struct Case {
        const char* name;
        std::function<void(Card&)> disrupt;
    };
    const Case cases[] = {
        {"wrong key A", [&](Card& c) { EXPECT_EQ(c.authenticate(4, KeyType::A, wrong.data()), RF_ERR_AUTH); }},
        {"wrong key on other sector",
         [&](Card& c) { EXPECT_EQ(c.authenticate(8, KeyType::A, wrong.data()), RF_ERR_AUTH); }},
        {"unusable key B", [&](Card& c) { EXPECT_EQ(c.authenticate(4, KeyType::B, FACTORY_KEY.data()), RF_ERR_AUTH); }},
        {"halt and wake",
         [](Card& c) {
             EXPECT_EQ(c.halt(), RF_OK);
             activate(c);
         }},
        {"new selection", [](Card& c) { activate(c); }},
        {"request only", [](Card& c) { EXPECT_EQ(c.request(REQUEST_IDLE), RF_OK); }},
        {"field reset",
         [](Card& c) {
             c.reset();
             activate(c);
         }},
    };
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.name);
        Card card(CardType::Classic1K, UID);
        activate(card);
        ASSERT_EQ(card.authenticate(4, KeyType::A, FACTORY_KEY.data()), RF_OK);
        cs.disrupt(card);
        EXPECT_EQ(card.authenticated_sector(), -1);
        Block out;
        EXPECT_EQ(card.read_block(4, out.data()), RF_ERR_NOT_AUTH);
        EXPECT_EQ(card.write_block(5, out.data()), RF_ERR_NOT_AUTH);
    }
}

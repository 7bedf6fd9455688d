// The storage-card ATR and the virtual card's APDU handler, without pcscd.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../card/card_fixture.h"
#include "storage_card.h"
#include "virtual_card.h"

using Bytes = std::vector<std::uint8_t>;
using card_test::FACTORY_KEY;
using card_test::KEY_A;
using card_test::KEY_B;

namespace {

Bytes atr_of(mifare::CardType type)
{
    Bytes atr(pcsc::ATR_SIZE);
    pcsc::build_atr(type, atr.data());
    return atr;
}

struct Session {
    explicit Session(const mifare::Card &card) : vc(card)
    {
        std::uint8_t atr[vcard::RESPONSE_MAX];
        vc.control(vcard::CTRL_POWER_ON, atr);
    }
    // Response bytes, status word included.
    Bytes send(const Bytes &apdu)
    {
        std::uint8_t out[vcard::RESPONSE_MAX];
        const std::size_t n = vc.apdu(apdu.empty() ? nullptr : apdu.data(), apdu.size(), out);
        return Bytes(out, out + n);
    }
    std::uint16_t sw(const Bytes &apdu)
    {
        const Bytes r = send(apdu);
        return static_cast<std::uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
    }
    vcard::VirtualCard vc;
};

Bytes load_keys(int slot, const card_test::Key &key)
{
    Bytes a(5 + key.size());
    a[0] = 0xFF;
    a[1] = 0x82;
    a[3] = static_cast<std::uint8_t>(slot);
    a[4] = 0x06;
    std::copy(key.begin(), key.end(), a.begin() + 5);
    return a;
}

Bytes authenticate(int block, std::uint8_t type, int slot)
{
    return {0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, static_cast<std::uint8_t>(block >> 8),
            static_cast<std::uint8_t>(block), type, static_cast<std::uint8_t>(slot)};
}

Bytes read_binary(int block) { return {0xFF, 0xB0, 0x00, static_cast<std::uint8_t>(block), 0x10}; }

Bytes update_binary(int block, std::uint8_t fill)
{
    Bytes a(5 + 16, fill);
    a[0] = 0xFF;
    a[1] = 0xD6;
    a[2] = 0x00;
    a[3] = static_cast<std::uint8_t>(block);
    a[4] = 0x10;
    return a;
}

mifare::Card fresh(mifare::CardType type = mifare::CardType::Classic1K)
{
    return mifare::Card(type, card_test::UID);
}

}  // namespace

TEST(StorageAtr, BuiltAtrIsRecognisedWithItsType)
{
    for (mifare::CardType type : {mifare::CardType::Classic1K, mifare::CardType::Classic4K}) {
        const Bytes atr = atr_of(type);
        mifare::CardType found = type == mifare::CardType::Classic1K ? mifare::CardType::Classic4K
                                                                     : mifare::CardType::Classic1K;
        EXPECT_TRUE(pcsc::classic_type_from_atr(atr.data(), atr.size(), &found));
        EXPECT_EQ(found, type);
        std::uint8_t tck = 0;
        for (std::size_t i = 1; i < atr.size(); ++i) tck ^= atr[i];
        EXPECT_EQ(tck, 0) << "TCK makes the XOR of T0..TCK zero";
    }
    const Bytes known = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06,
                         0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x6A};
    EXPECT_EQ(atr_of(mifare::CardType::Classic1K), known);
}

TEST(StorageAtr, OtherCardsAndMalformedAtrsAreRejected)
{
    struct Case {
        const char *what;
        int index;  // byte to change in the 1K ATR, -1: use `bytes`
        std::uint8_t value;
        Bytes bytes;
    };
    const Case cases[] = {
        {"Ultralight card name 00 03", 14, 0x03, {}},
        {"card name high byte", 13, 0x01, {}},
        {"standard ISO 14443 A part 4", 12, 0x11, {}},
        {"other RID", 11, 0x07, {}},
        {"no application identifier tag", 5, 0x4E, {}},
        {"category byte", 4, 0x00, {}},
        {"TS", 0, 0x00, {}},
        {"too few historical bytes", 1, 0x88, {}},
        {"empty", -1, 0, {}},
        {"T0 only", -1, 0, {0x3B, 0x8F}},
        {"TD chain runs past the end", -1, 0, {0x3B, 0x80, 0x80, 0x80, 0x80}},
        {"truncated", -1, 0, {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00}},
        {"DESFire-like ATR", -1, 0, {0x3B, 0x81, 0x80, 0x01, 0x80, 0x80}},
    };
    for (const Case &c : cases) {
        Bytes atr = c.bytes;
        if (c.index >= 0) {
            atr = atr_of(mifare::CardType::Classic1K);
            atr[static_cast<std::size_t>(c.index)] = c.value;
        }
        mifare::CardType type;
        EXPECT_FALSE(pcsc::classic_type_from_atr(atr.empty() ? nullptr : atr.data(), atr.size(), &type)) << c.what;
    }
}

TEST(VirtualCard, AnswersControlsAndPresentsOwnOrGivenAtr)
{
    vcard::VirtualCard vc(fresh(mifare::CardType::Classic4K));
    std::uint8_t out[vcard::RESPONSE_MAX];
    EXPECT_EQ(vc.control(vcard::CTRL_POWER_ON, out), 0u);
    ASSERT_EQ(vc.control(vcard::CTRL_GET_ATR, out), pcsc::ATR_SIZE);
    EXPECT_EQ(Bytes(out, out + pcsc::ATR_SIZE), atr_of(mifare::CardType::Classic4K));
    EXPECT_EQ(vc.control(vcard::CTRL_RESET, out), 0u);
    EXPECT_EQ(vc.control(vcard::CTRL_POWER_OFF, out), 0u);
    EXPECT_EQ(vc.control(9, out), 0u);

    const Bytes other = {0x3B, 0x02, 0x14, 0x50};
    EXPECT_FALSE(vc.set_atr(other.data(), 0));
    ASSERT_TRUE(vc.set_atr(other.data(), other.size()));
    ASSERT_EQ(vc.control(vcard::CTRL_GET_ATR, out), other.size());
    EXPECT_EQ(Bytes(out, out + other.size()), other);

    const vcard::Counts &c = vc.counts();
    EXPECT_EQ(c.power_on, 1u);
    EXPECT_EQ(c.reset, 1u);
    EXPECT_EQ(c.power_off, 1u);
    EXPECT_EQ(c.get_atr, 2u);
}

TEST(VirtualCard, GetUidAnswersTheUidInCardOrder)
{
    Session s(fresh());
    EXPECT_EQ(s.send({0xFF, 0xCA, 0x00, 0x00, 0x00}), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x90, 0x00}));
    EXPECT_EQ(s.send({0xFF, 0xCA, 0x00, 0x00}), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x90, 0x00}));
    EXPECT_EQ(s.sw({0xFF, 0xCA, 0x00, 0x00, 0x02}), 0x6C04);
    EXPECT_EQ(s.sw({0xFF, 0xCA, 0x01, 0x00, 0x00}), 0x6A81);
}

TEST(VirtualCard, AuthenticateReadUpdateFollowTheCardRules)
{
    Session s(fresh());
    EXPECT_EQ(s.sw(read_binary(4)), 0x6982) << "not authenticated";
    EXPECT_EQ(s.sw(authenticate(4, 0x60, 0)), 0x6986) << "slot never loaded";
    EXPECT_EQ(s.sw(load_keys(0, KEY_A)), 0x9000);
    EXPECT_EQ(s.sw(authenticate(4, 0x60, 0)), 0x6300) << "wrong key";
    EXPECT_EQ(s.sw(load_keys(1, FACTORY_KEY)), 0x9000);
    EXPECT_EQ(s.sw(authenticate(4, 0x60, 1)), 0x9000);
    EXPECT_EQ(s.sw(update_binary(5, 0x5A)), 0x9000);
    Bytes expected(16, 0x5A);
    expected.push_back(0x90);
    expected.push_back(0x00);
    EXPECT_EQ(s.send(read_binary(5)), expected);
    EXPECT_EQ(s.sw(read_binary(8)), 0x6982) << "other sector";
    // A factory trailer hides key A and shows the access bits and key B.
    EXPECT_EQ(s.send(read_binary(7)), (Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0x07, 0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0x90, 0x00}));
    EXPECT_EQ(s.sw(authenticate(0, 0x60, 1)), 0x9000);
    EXPECT_EQ(s.sw(update_binary(0, 0x00)), 0x6986) << "the manufacturer block is read-only";
    EXPECT_EQ(s.sw(read_binary(64)), 0x6A82) << "a 1K has 64 blocks";
    EXPECT_EQ(s.sw(authenticate(64, 0x60, 1)), 0x6A82);
}

TEST(VirtualCard, FourKBlocksAboveTheFirst128AreReachable)
{
    Session s(fresh(mifare::CardType::Classic4K));
    EXPECT_EQ(s.sw(load_keys(0, FACTORY_KEY)), 0x9000);
    EXPECT_EQ(s.sw(authenticate(240, 0x61, 0)), 0x6300) << "key B is readable, so it opens nothing";
    EXPECT_EQ(s.sw(authenticate(240, 0x60, 0)), 0x9000);
    EXPECT_EQ(s.sw(update_binary(254, 0x11)), 0x9000);
    EXPECT_EQ(s.send(read_binary(254)).size(), 18u);
    EXPECT_EQ(s.sw(read_binary(239)), 0x6982);
}

TEST(VirtualCard, ReaderForgetsNoKeyOnReset)
{
    Session s(fresh());
    EXPECT_EQ(s.sw(load_keys(0, FACTORY_KEY)), 0x9000);
    EXPECT_EQ(s.sw(authenticate(4, 0x60, 0)), 0x9000);
    std::uint8_t out[vcard::RESPONSE_MAX];
    s.vc.control(vcard::CTRL_RESET, out);
    EXPECT_EQ(s.sw(read_binary(4)), 0x6982) << "a reset ends the authentication";
    EXPECT_EQ(s.sw(authenticate(4, 0x60, 0)), 0x9000) << "the key slot is reader memory";
}

TEST(VirtualCard, MalformedCommandsGetStatusWordsAndChangeNothing)
{
    struct Case {
        const char *what;
        Bytes apdu;
        std::uint16_t sw;
    };
    Bytes long_read = read_binary(4);
    long_read.push_back(0);
    Bytes short_update = update_binary(4, 1);
    short_update.pop_back();
    Bytes wrong_lc_update = update_binary(4, 1);
    wrong_lc_update[4] = 0x0F;
    Bytes auth_version = authenticate(4, 0x60, 0);
    auth_version[5] = 0x02;
    Bytes auth_lc = authenticate(4, 0x60, 0);
    auth_lc[4] = 0x04;
    const Case cases[] = {
        {"empty", {}, 0x6700},
        {"three bytes", {0xFF, 0xB0, 0x00}, 0x6700},
        {"ISO class", {0x00, 0xB0, 0x00, 0x04, 0x10}, 0x6E00},
        {"unknown instruction", {0xFF, 0x00, 0x00, 0x00, 0x00}, 0x6D00},
        {"Get UID with data", {0xFF, 0xCA, 0x00, 0x00, 0x01, 0x00}, 0x6700},
        {"Get UID P2", {0xFF, 0xCA, 0x00, 0x01, 0x00}, 0x6B00},
        {"Load Keys slot 2", load_keys(2, FACTORY_KEY), 0x6B00},
        {"Load Keys non-volatile", {0xFF, 0x82, 0x20, 0x00, 0x06, 1, 2, 3, 4, 5, 6}, 0x6B00},
        {"Load Keys 5-byte key", {0xFF, 0x82, 0x00, 0x00, 0x05, 1, 2, 3, 4, 5}, 0x6700},
        {"General Authenticate version", auth_version, 0x6A80},
        {"General Authenticate key type", authenticate(4, 0x62, 0), 0x6A80},
        {"General Authenticate Lc", auth_lc, 0x6700},
        {"General Authenticate slot 5", authenticate(4, 0x60, 5), 0x6986},
        {"Read Binary Le 8", {0xFF, 0xB0, 0x00, 0x04, 0x08}, 0x6C10},
        {"Read Binary with data", long_read, 0x6700},
        {"Update Binary short", short_update, 0x6700},
        {"Update Binary Lc 15", wrong_lc_update, 0x6700},
    };
    Session s(fresh());
    ASSERT_EQ(s.sw(load_keys(0, FACTORY_KEY)), 0x9000);
    ASSERT_EQ(s.sw(authenticate(4, 0x60, 0)), 0x9000);
    for (const Case &c : cases) {
        const Bytes r = s.send(c.apdu);
        ASSERT_EQ(r.size(), 2u) << c.what;
        EXPECT_EQ(r[0] << 8 | r[1], c.sw) << c.what;
    }
    EXPECT_EQ(s.send(read_binary(4)).size(), 18u) << "still authenticated";
    Bytes zeros(16, 0);
    zeros.push_back(0x90);
    zeros.push_back(0x00);
    EXPECT_EQ(s.send(read_binary(4)), zeros) << "nothing written";
}

TEST(VirtualCard, CountsEveryCommandByKind)
{
    Session s(fresh());
    s.send({0xFF, 0xCA, 0x00, 0x00, 0x00});
    s.send(load_keys(0, FACTORY_KEY));
    s.send(authenticate(4, 0x60, 0));
    s.send(read_binary(4));
    s.send(read_binary(5));
    s.send(update_binary(5, 1));
    s.send({0x00, 0xA4, 0x04, 0x00});
    s.send({});
    const vcard::Counts &c = s.vc.counts();
    EXPECT_EQ(c.apdus, 8u);
    EXPECT_EQ(c.get_uid, 1u);
    EXPECT_EQ(c.load_keys, 1u);
    EXPECT_EQ(c.authenticate, 1u);
    EXPECT_EQ(c.read_binary, 2u);
    EXPECT_EQ(c.update_binary, 1u);
    EXPECT_EQ(c.other, 2u);
    EXPECT_EQ(vcard::format_counts(c),
              "apdus=8\nget_uid=1\nload_keys=1\nauthenticate=1\nread_binary=2\nupdate_binary=1\nother=2\n"
              "power_on=1\npower_off=0\nreset=0\nget_atr=0\n");
}

// vesk through pcscd and the virtual card gives what vesk through the
// simulated reader gives, for the same card content: same output, same exit
// status, same card afterwards.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mifare/card.h"
#include "pcsc_fixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void set_trailer(Bytes &image, mifare::CardType type, int sector, const std::uint8_t cond[4], const Bytes &key_a)
{
    unsigned char *t = image.data() + mifare::trailer_of_sector(type, sector) * 16;
    std::copy(key_a.begin(), key_a.end(), t);
    mifare::encode_access_bits(cond, t + 6);
}

// Patterned data; sector 2 keyed with another key A; block 13 unreadable
// with key A; on a 4K, sector 35 (16-block) keyed too.
Bytes card_image(mifare::CardType type)
{
    const std::uint8_t uid[4] = {0x5E, 0x6F, 0x70, 0x81};
    mifare::Card card(type, uid);
    Bytes image(card.image_size());
    card.export_image(image.data(), image.size());
    for (int b = 1; b < mifare::block_count(type); ++b)
        if (!mifare::is_trailer(type, b))
            for (int i = 0; i < 16; ++i) image[b * 16 + i] = static_cast<unsigned char>(b * 7 + i);
    const std::uint8_t transport[4] = {0, 0, 0, 1};
    const std::uint8_t hidden_block_1[4] = {0, 7, 0, 1};
    set_trailer(image, type, 2, transport, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5});
    set_trailer(image, type, 3, hidden_block_1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    if (type == mifare::CardType::Classic4K)
        set_trailer(image, type, 35, transport, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5});
    return image;
}

class VeskOverPcsc : public pt::PcscTest {
  protected:
    // Lays the image on both readers: the simulated reader's card file and
    // the virtual card, which saves its card on exit.
    void use_card(const Bytes &image)
    {
        sim_card_ = write_image("sim.mfd", image);
        pcsc_saved_ = work_dir() + "/pcsc-saved.mfd";
        insert_card({"--image", write_image("pcsc.mfd", image), "--save", pcsc_saved_});
    }
    pt::RunResult vesk(const std::string &reader, std::vector<std::string> args)
    {
        std::vector<std::string> argv = {VESK_EXE, "--reader", reader, "--port", std::to_string(reader_port())};
        argv.insert(argv.end(), args.begin(), args.end());
        return pt::run(argv, {"RFSIM_CARD=" + sim_card_}, work_dir());
    }
    // Runs args on both readers and expects the same answer.
    void same(const std::vector<std::string> &args)
    {
        std::string what;
        for (const std::string &a : args) what += a + " ";
        const pt::RunResult sim = vesk("sim", args);
        const pt::RunResult pcsc = vesk("pcsc", args);
        EXPECT_EQ(pcsc.status, sim.status) << what << "\n" << pcsc.err << sim.err;
        EXPECT_EQ(pcsc.out, sim.out) << what;
        EXPECT_EQ(pcsc.err, sim.err) << what;
    }
    // The card content after the commands, on both sides.
    void same_card()
    {
        card_.stop();
        EXPECT_EQ(pt::hex(read_file(pcsc_saved_).data(), static_cast<int>(read_file(pcsc_saved_).size())),
                  pt::hex(read_file(sim_card_).data(), static_cast<int>(read_file(sim_card_).size())));
    }
    std::string sim_card_, pcsc_saved_;
};

}  // namespace

TEST_F(VeskOverPcsc, InfoDumpReadMatchTheSimulatedReader)
{
    use_card(card_image(mifare::CardType::Classic1K));
    same({"info"});
    same({"info", "--json"});
    const pt::RunResult dump = vesk("pcsc", {"dump"});
    EXPECT_NE(dump.out.find("block  12"), std::string::npos) << dump.out << dump.err;
    same({"dump"});
    same({"dump", "--json"});
    same({"dump", "--key", "A0A1A2A3A4A5", "--sectors", "2"});
    same({"read", "1", "2"});
    same({"read", "3", "1"});
    same({"read", "2", "0"});
    same({"read", "2", "0", "--key", "A0A1A2A3A4A5", "--json"});
    same({"read", "0", "3", "--key-type", "b"});
}

TEST_F(VeskOverPcsc, WritesLeaveTheSameCard)
{
    use_card(card_image(mifare::CardType::Classic1K));
    same({"write", "1", "1", "00112233445566778899AABBCCDDEEFF"});
    same({"write", "2", "2", "FFEEDDCCBBAA99887766554433221100", "--key", "A0A1A2A3A4A5"});
    same({"write", "0", "0", "00112233445566778899AABBCCDDEEFF"});
    same({"write", "2", "1", "00112233445566778899AABBCCDDEEFF"});
    same({"read", "1", "1"});
    same_card();
}

TEST_F(VeskOverPcsc, FourKDumpMatches)
{
    use_card(card_image(mifare::CardType::Classic4K));
    same({"info"});
    same({"dump"});
    same({"read", "35", "15", "--key", "A0A1A2A3A4A5"});
    same({"write", "39", "14", "0102030405060708090A0B0C0D0E0F10"});
    same_card();
}

TEST_F(VeskOverPcsc, RestoreWritesTheSameBlocks)
{
    use_card(card_image(mifare::CardType::Classic1K));
    Bytes dump = card_image(mifare::CardType::Classic1K);
    for (std::size_t i = 16; i < dump.size(); ++i) dump[i] ^= 0x3C;
    const std::string file = write_image("restore.mfd", dump);
    same({"restore", file});
    same_card();
}

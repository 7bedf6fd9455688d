// The vesk command, run as a child process against the simulated reader
// with a card file (RFSIM_CARD) the test prepares and inspects.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mifare/card.h"

extern char **environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using mifare::CardType;

struct Result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes read_bytes(const std::string &path) {
    std::string s = slurp(path);
    return Bytes(s.begin(), s.end());
}

void write_bytes(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

const std::uint8_t kUid[4] = {0x1A, 0x2B, 0x3C, 0x4D};

Bytes factory(CardType type) {
    mifare::Card card(type, kUid);
    Bytes image(card.image_size());
    card.export_image(image.data(), image.size());
    return image;
}

void set_block(Bytes &image, int block, const Bytes &data) {
    std::copy(data.begin(), data.end(), image.begin() + block * 16);
}

Bytes block_of(const Bytes &image, int block) {
    return Bytes(image.begin() + block * 16, image.begin() + block * 16 + 16);
}

Bytes pattern(int seed) {
    Bytes b(16);
    for (int i = 0; i < 16; ++i) b[i] = static_cast<std::uint8_t>(seed * 16 + i);
    return b;
}

// A trailer from its parts: conditions for groups 0..3, keys A and B.
Bytes trailer(const std::uint8_t cond[4], const Bytes &key_a, const Bytes &key_b, std::uint8_t gpb = 0x69) {
    Bytes t(16);
    std::copy(key_a.begin(), key_a.end(), t.begin());
    mifare::encode_access_bits(cond, t.data() + 6);
    t[9] = gpb;
    std::copy(key_b.begin(), key_b.end(), t.begin() + 10);
    return t;
}

const Bytes kFF(6, 0xFF);
const std::string kHexPattern = "00112233445566778899AABBCCDDEEFF";

std::string hexs(const Bytes &b) {
    std::string s;
    char buf[3];
    for (auto v : b) {
        std::snprintf(buf, sizeof buf, "%02X", v);
        s += buf;
    }
    return s;
}

class VeskCli : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vesk-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        card_ = dir_ + "/card.mfd";
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    // vesk with the test's card file and any extra environment.
    Result vesk(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
        std::vector<std::string> full_env = {"RFSIM_CARD=" + card_};
        full_env.insert(full_env.end(), env.begin(), env.end());
        return run(args, full_env);
    }

    Result run(const std::vector<std::string> &args, const std::vector<std::string> &extra) {
        std::string out_path = dir_ + "/stdout", err_path = dir_ + "/stderr";
        std::vector<std::string> env;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "RFSIM_", 6) != 0) env.emplace_back(*e);
        env.insert(env.end(), extra.begin(), extra.end());
        std::vector<std::string> argv = {VESK_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> cargv, cenv;
        for (auto &a : argv) cargv.push_back(a.data());
        for (auto &e : env) cenv.push_back(e.data());
        cargv.push_back(nullptr);
        cenv.push_back(nullptr);

        pid_t pid = fork();
        if (pid == 0) {
            int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, 1);
            dup2(e, 2);
            execve(cargv[0], cargv.data(), cenv.data());
            _exit(127);
        }
        Result r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = slurp(out_path);
        r.err = slurp(err_path);
        return r;
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    std::string dir_, card_;
};

#define EXPECT_HAS(haystack, needle) EXPECT_NE((haystack).find(needle), std::string::npos) << (haystack)

// ---- info

TEST_F(VeskCli, InfoPrintsSerialAnswerAndTypeOfBothCardSizes) {
    struct Case {
        CardType type;
        const char *answer, *name;
    } cases[] = {{CardType::Classic1K, "answer  08", "Mifare Classic 1K, 16 sectors, 64 blocks"},
                 {CardType::Classic4K, "answer  18", "Mifare Classic 4K, 40 sectors, 256 blocks"}};
    for (const auto &c : cases) {
        write_bytes(card_, factory(c.type));
        Result r = vesk({"info"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_HAS(r.out, "serial  1A2B3C4D");
        EXPECT_HAS(r.out, c.answer);
        EXPECT_HAS(r.out, c.name);
    }
}

TEST_F(VeskCli, JsonOutputsParseAndCarryTheCard) {
    Bytes image = factory(CardType::Classic1K);
    set_block(image, 6, pattern(6));
    write_bytes(card_, image);

    Result info = vesk({"info", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    auto j = nlohmann::json::parse(info.out);
    EXPECT_EQ(j["serial"], "1A2B3C4D");
    EXPECT_EQ(j["answer"], "08");
    EXPECT_EQ(j["type"], "Mifare Classic 1K");
    EXPECT_EQ(j["sectors"], 16);

    Result read = vesk({"--json", "read", "1", "2"});
    ASSERT_EQ(read.status, 0) << read.err;
    j = nlohmann::json::parse(read.out);
    EXPECT_EQ(j["block"], 6);
    EXPECT_EQ(j["data"], hexs(pattern(6)));

    Result trailer = vesk({"read", "1", "3", "--json"});
    ASSERT_EQ(trailer.status, 0) << trailer.err;
    j = nlohmann::json::parse(trailer.out);
    EXPECT_EQ(j["access"]["valid"], true);
    EXPECT_EQ(j["access"]["bits"], "FF0780");

    Result dump = vesk({"dump", "--json"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    j = nlohmann::json::parse(dump.out);
    ASSERT_EQ(j["sectors"].size(), 16u);
    EXPECT_EQ(j["blocks_read"], 64);
    EXPECT_EQ(j["sectors"][1]["blocks"][2]["data"], hexs(pattern(6)));
    EXPECT_EQ(j["sectors"][15]["access"]["conditions"].back()["condition"], "001");
}

// ---- dump

TEST_F(VeskCli, DumpOfAFactoryCardPrintsEveryBlockAndDecodesTrailers) {
    write_bytes(card_, factory(CardType::Classic1K));
    Result r = vesk({"dump"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_HAS(r.out, "Mifare Classic 1K, serial 1A2B3C4D, answer 08, sectors 0-15, key A FFFFFFFFFFFF");
    for (int b = 0; b < 64; ++b) EXPECT_HAS(r.out, "  block " + std::string(b < 10 ? "  " : " ") + std::to_string(b) + "  ");
    EXPECT_HAS(r.out, "  block   7  00 00 00 00 00 00 FF 07 80 69 FF FF FF FF FF FF  |.........i......|");
    EXPECT_HAS(r.out, "blocks 4-6   000  read A|B, write A|B, increment A|B, decrement A|B");
    EXPECT_HAS(r.out, "trailer      001  key A: write A; access bits: read A, write A; key B: read A, write A");
    EXPECT_HAS(r.out, "64 of 64 blocks read");
    // Not a terminal: no progress line.
    EXPECT_EQ(r.err, "");
}

TEST_F(VeskCli, DumpFileEqualsTheCardFile) {
    for (CardType type : {CardType::Classic1K, CardType::Classic4K}) {
        Bytes image = factory(type);
        for (int b = 1; b < mifare::block_count(type); ++b)
            if (!mifare::is_trailer(type, b)) set_block(image, b, pattern(b));
        write_bytes(card_, image);
        std::string out = path("dump.mfd");
        Result r = vesk({"dump", "-o", out});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_HAS(r.out, "wrote " + out + " (" + std::to_string(image.size()) + " bytes)");
        EXPECT_EQ(read_bytes(out), image);
        EXPECT_EQ(read_bytes(card_), image);
    }
}

TEST_F(VeskCli, DumpMarksWhatItCannotReadAndGoesOn) {
    Bytes image = factory(CardType::Classic1K);
    // Sector 2 opens with another key A; block 13 (sector 3, block 1) is
    // never readable.
    std::uint8_t factory_cond[4] = {0, 0, 0, 1};
    set_block(image, 11, trailer(factory_cond, Bytes(6, 0x12), kFF));
    std::uint8_t never[4] = {0, 7, 0, 1};
    set_block(image, 15, trailer(never, kFF, kFF));
    set_block(image, 14, pattern(14));
    write_bytes(card_, image);

    std::string out = path("partial.mfd");
    Result r = vesk({"dump", "-o", out});
    EXPECT_EQ(r.status, 3);
    EXPECT_HAS(r.out, "sector 2\n  UNREADABLE: logging in to sector 2 failed: return code -4");
    EXPECT_HAS(r.out, "record 3 \"验证密钥失败!\"");
    EXPECT_HAS(r.out, "  block  13  UNREADABLE: reading block 13 failed: return code -5");
    EXPECT_HAS(r.out, "读卡内数据错!");
    EXPECT_HAS(r.out, "  block  14  " + std::string("E0 E1 E2"));
    EXPECT_HAS(r.out, "block 13     111  read never, write never");
    EXPECT_HAS(r.out, "59 of 64 blocks read");
    EXPECT_HAS(r.err, "5 of 64 blocks could not be read");

    Bytes dumped = read_bytes(out);
    ASSERT_EQ(dumped.size(), 1024u);
    for (int b = 8; b < 12; ++b) EXPECT_EQ(block_of(dumped, b), Bytes(16, 0)) << b;
    EXPECT_EQ(block_of(dumped, 13), Bytes(16, 0));
    EXPECT_EQ(block_of(dumped, 14), pattern(14));
    EXPECT_EQ(block_of(dumped, 15), block_of(image, 15));
}

TEST_F(VeskCli, DumpOfSomeSectorsOfA4KCardReachesTheLargeSectors) {
    Bytes image = factory(CardType::Classic4K);
    // Sector 39: blocks 240..255.
    for (int i = 0; i < 15; ++i) set_block(image, 240 + i, pattern(i));
    write_bytes(card_, image);
    Result r = vesk({"dump", "--sectors", "38-39"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_HAS(r.out, "sectors 38-39");
    EXPECT_HAS(r.out, "  block 254  E0 E1 E2 E3");
    EXPECT_HAS(r.out, "  block 255  00 00 00 00 00 00 FF 07 80 69");
    EXPECT_HAS(r.out, "blocks 240-254 000  read A|B");
    EXPECT_HAS(r.out, "32 of 32 blocks read");
    EXPECT_EQ(r.out.find("block 223 "), std::string::npos);
}

// ---- read and write

TEST_F(VeskCli, ReadAddressesBlocksOfSmallAndLargeSectors) {
    Bytes image = factory(CardType::Classic4K);
    set_block(image, 6, pattern(1));
    set_block(image, 128 + 16 * 3 + 9, pattern(2));  // sector 35, block 9
    set_block(image, 127, trailer(std::array<std::uint8_t, 4>{0, 0, 0, 1}.data(), kFF, kFF));
    write_bytes(card_, image);

    Result small = vesk({"read", "1", "2"});
    EXPECT_EQ(small.status, 0) << small.err;
    EXPECT_HAS(small.out, "sector 1 block 2 (block 6)\n  block   6  10 11 12");
    Result large = vesk({"read", "35", "9"});
    EXPECT_EQ(large.status, 0) << large.err;
    EXPECT_HAS(large.out, "sector 35 block 9 (block 185)\n  block 185  20 21 22");
}

TEST_F(VeskCli, WritesSurviveAcrossProcesses) {
    write_bytes(card_, factory(CardType::Classic4K));
    Result w = vesk({"write", "1", "2", kHexPattern});
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_HAS(w.out, "wrote sector 1 block 2 (block 6): 00 11 22 33");
    Result w2 = vesk({"write", "33", "14", "--key", "ffffffffffff", kHexPattern});
    EXPECT_EQ(w2.status, 0) << w2.err;

    Result r = vesk({"read", "1", "2", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["data"], kHexPattern);
    Bytes image = read_bytes(card_);
    EXPECT_EQ(hexs(block_of(image, 6)), kHexPattern);
    EXPECT_EQ(hexs(block_of(image, 128 + 16 + 14)), kHexPattern);
}

TEST_F(VeskCli, KeyBLoginOpensASectorWhoseKeyBIsSecret) {
    Bytes image = factory(CardType::Classic1K);
    // Condition 011 for the trailer: key B is not readable and so usable;
    // data blocks 100: read A|B, write B.
    std::uint8_t cond[4] = {4, 4, 4, 3};
    Bytes key_b = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
    set_block(image, 7, trailer(cond, kFF, key_b));
    write_bytes(card_, image);

    Result a = vesk({"write", "1", "0", kHexPattern});
    EXPECT_EQ(a.status, 1);
    EXPECT_HAS(a.err, "writing block 4 failed: return code -6");
    Result b = vesk({"write", "1", "0", kHexPattern, "--key-type", "b", "--key", "B0B1B2B3B4B5"});
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(hexs(block_of(read_bytes(card_), 4)), kHexPattern);
}

// ---- failures

TEST_F(VeskCli, FailuresPrintReturnCodeAndRecord) {
    write_bytes(card_, factory(CardType::Classic1K));
    struct Case {
        std::vector<std::string> args, env;
        std::vector<std::string> expected;
    } cases[] = {
        {{"info"}, {"RFSIM_NO_CARD=1"}, {"detecting the card failed: return code", "\"读取卡序列号失败\""}},
        {{"read", "1", "0", "--key", "010203040506"}, {},
         {"logging in to sector 1 failed: return code -4 (the key was not accepted); record 3 \"验证密钥失败!\""}},
        {{"read", "1", "0"}, {"RFSIM_FAULT=rf_read=5"},
         {"reading block 4 failed: return code -5 (reading the block failed); record 5 \"读卡内数据错!\""}},
        {{"write", "1", "0", kHexPattern}, {"RFSIM_FAULT=rf_write=10"},
         {"writing block 4 failed: return code -6 (writing the block failed); nothing recorded"}},
        {{"info", "--baud", "1234"}, {},
         {"connecting to the reader (port 1, 1234 baud) failed: return code -2", "record -1 \"打开串口-2失败\""}},
        {{"dump"}, {"RFSIM_FAULT=rf_load_key=6"}, {"logging in to sector 0 failed: return code -3", "装载密码失败!"}},
        {{"info", "--reader", VESK_RECORDER_DIR_MISSING}, {}, {"connecting to the reader", "return code -2"}},
    };
    for (const auto &c : cases) {
        Result r = vesk(c.args, c.env);
        EXPECT_NE(r.status, 0) << c.args[0];
        std::string text = r.out + r.err;
        for (const auto &e : c.expected) EXPECT_HAS(text, e);
    }
}

TEST_F(VeskCli, ArgumentErrorsStopBeforeAnyLibraryCall) {
    // The card file does not exist: the simulated reader would create it on
    // its first call, so its absence proves nothing was called.
    std::string sector_msg = "no card has sector 40";
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"read", "40", "0"}, sector_msg},
        {{"read", "1", "4"}, "sector 1 has blocks 0-3, not 4"},
        {{"read", "32", "16"}, "sector 32 has blocks 0-15, not 16"},
        {{"write", "1", "0", "0011"}, "HEX: expected 32 hex digits, got 4 characters"},
        {{"write", "1", "0", "00112233445566778899AABBCCDDEEFG"}, "'G' at position 32 is not a hex digit"},
        {{"write", "0", "0", kHexPattern}, "block 0 is the manufacturer block"},
        {{"write", "1", "3", "FFFFFFFFFFFFFF0781FFFFFFFFFFFFFF"}, "refusing to write trailer access bits FF 07 81"},
        {{"info", "--key", "FFFFFFFFFF"}, "--key: expected 12 hex digits, got 10 characters"},
        {{"info", "--key-type", "c"}, "--key-type: 'c' is neither a nor b"},
        {{"dump", "--sectors", "3-1"}, "runs backwards"},
        {{"dump", "--sectors", "x"}, "is not a sector or a range"},
        {{"dump", "--sectors", "0-40"}, sector_msg},
        {{"dump", "--sectors", "0-1", "-o", "x.mfd"}, "--sectors excludes --output"},
        {{"write", "1", "0", kHexPattern, "--json"}, "--json is for info, read and dump"},
        {{"restore", "/nonexistent/dump.mfd"}, "No such file or directory"},
        {{"frobnicate"}, ""},
        {{}, "A subcommand is required"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--reader", path("no-such-reader.so")});
        Result r = vesk(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_HAS(r.err, c.expected);
        EXPECT_EQ(r.err.find("reader library"), std::string::npos) << r.err;
        EXPECT_FALSE(exists(card_));
    }
}

TEST_F(VeskCli, SectorTheCardLacksIsRefusedBeforeLogin) {
    write_bytes(card_, factory(CardType::Classic1K));
    Result r = vesk({"read", "20", "0"}, {"RFSIM_FAULT=rf_load_key=6"});
    EXPECT_EQ(r.status, 2);
    EXPECT_HAS(r.err, "this card (Mifare Classic 1K) has sectors 0-15, not 20");
    Result d = vesk({"dump", "--sectors", "10-16"}, {"RFSIM_FAULT=rf_load_key=6"});
    EXPECT_EQ(d.status, 2);
    EXPECT_HAS(d.err, "has sectors 0-15, not 16");
}

// ---- restore

TEST_F(VeskCli, RestoreWritesDataBlocksNeverBlockZeroAndTrailersOnlyWhenAsked) {
    Bytes card = factory(CardType::Classic1K);
    write_bytes(card_, card);
    Bytes dump = card;
    set_block(dump, 0, pattern(9));  // a different manufacturer block
    for (int b = 1; b < 64; ++b)
        if (!mifare::is_trailer(CardType::Classic1K, b)) set_block(dump, b, pattern(b));
    std::uint8_t cond[4] = {0, 0, 0, 1};
    Bytes new_key = {1, 2, 3, 4, 5, 6};
    set_block(dump, 7, trailer(cond, new_key, kFF));
    std::string file = path("dump.mfd");
    write_bytes(file, dump);

    Result r = vesk({"restore", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_HAS(r.out, "restored 47 of 47 blocks");
    Bytes after = read_bytes(card_);
    EXPECT_EQ(block_of(after, 0), block_of(card, 0));
    EXPECT_EQ(block_of(after, 7), block_of(card, 7));
    for (int b = 1; b < 64; ++b) {
        if (!mifare::is_trailer(CardType::Classic1K, b)) {
            EXPECT_EQ(block_of(after, b), pattern(b)) << b;
        }
    }

    Result t = vesk({"restore", "--trailers", file});
    EXPECT_EQ(t.status, 0) << t.err;
    EXPECT_HAS(t.out, "restored 63 of 63 blocks");
    after = read_bytes(card_);
    EXPECT_EQ(block_of(after, 0), block_of(card, 0));
    EXPECT_EQ(block_of(after, 7), block_of(dump, 7));
    // Sector 1 now opens with the restored key only.
    EXPECT_EQ(vesk({"read", "1", "0", "--key", "010203040506"}).status, 0);
}

TEST_F(VeskCli, RestoreRefusesMalformedTrailersBeforeWritingAnything) {
    Bytes card = factory(CardType::Classic1K);
    write_bytes(card_, card);
    Bytes dump = card;
    for (int b = 1; b < 64; ++b)
        if (!mifare::is_trailer(CardType::Classic1K, b)) set_block(dump, b, pattern(b));
    dump[63 * 16 + 8] ^= 0x01;  // sector 15's access bits no longer match
    std::string file = path("bad.mfd");
    write_bytes(file, dump);

    Result r = vesk({"restore", "--trailers", file});
    EXPECT_EQ(r.status, 2);
    EXPECT_HAS(r.err, "malformed access bits would lock these sectors for good: 15 (FF 07 81)");
    EXPECT_HAS(r.err, "nothing was written");
    EXPECT_EQ(read_bytes(card_), card);
}

TEST_F(VeskCli, RestoreRefusesADumpOfTheOtherCardSizeOrLength) {
    Bytes card = factory(CardType::Classic1K);
    write_bytes(card_, card);
    std::string big = path("4k.mfd"), odd = path("odd.mfd");
    write_bytes(big, factory(CardType::Classic4K));
    write_bytes(odd, Bytes(1000, 0));

    Result r = vesk({"restore", big});
    EXPECT_EQ(r.status, 1);
    EXPECT_HAS(r.err, "is a Mifare Classic 4K dump but the card is a Mifare Classic 1K; nothing was written");
    Result o = vesk({"restore", odd});
    EXPECT_EQ(o.status, 2);
    EXPECT_HAS(o.err, "1000 bytes; a dump is 1024 (1K card) or 4096 (4K card) bytes");
    EXPECT_EQ(read_bytes(card_), card);
}

}  // namespace

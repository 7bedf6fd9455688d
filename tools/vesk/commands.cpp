#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "os.h"
#include "vesk.h"

namespace vesk::tool {

namespace {

using mifare::CardType;

void usage_error(const std::string &text) { std::fprintf(stderr, "vesk: %s\n", text.c_str()); }

// Sector and block numbers any card could have: 4-block sectors 0..31,
// 16-block sectors 32..39. Whether this card has the sector is checked once
// it has answered.
bool check_address(int sector, int block, std::string *error) {
    if (!mifare::valid_sector(CardType::Classic4K, sector)) {
        *error = "no card has sector " + std::to_string(sector) + " (a 1K card has sectors 0-15, a 4K card 0-39)";
        return false;
    }
    int blocks = mifare::blocks_in_sector(CardType::Classic4K, sector);
    if (block < 0 || block >= blocks) {
        *error = "sector " + std::to_string(sector) + " has blocks 0-" + std::to_string(blocks - 1) + ", not " +
                 std::to_string(block);
        return false;
    }
    return true;
}

bool card_has_sector(const CardInfo &card, int sector) {
    if (mifare::valid_sector(card.type, sector)) return true;
    usage_error(std::string("this card (") + card_type_name(card.type) + ") has sectors 0-" +
                std::to_string(mifare::sector_count(card.type) - 1) + ", not " + std::to_string(sector));
    return false;
}

bool require_classic(const CardInfo &card) {
    if (card.classic) return true;
    char sak[8];
    std::snprintf(sak, sizeof sak, "%02X", card.answer);
    std::fprintf(stderr, "vesk: the card answered %s, which is not a Mifare Classic 1K (08) or 4K (18)\n", sak);
    return false;
}

std::string condition_digits(std::uint8_t c) {
    return std::string{char('0' + ((c >> 2) & 1)), char('0' + ((c >> 1) & 1)), char('0' + (c & 1))};
}

struct AccessLine {
    std::string blocks;  // "blocks 4-6", "block 8", "trailer"
    std::uint8_t condition;
    const char *text;
};

struct AccessInfo {
    bool valid = false;
    std::vector<AccessLine> lines;
};

// The trailer's conditions in words, adjacent data blocks with the same
// condition on one line.
AccessInfo describe_access(CardType type, int sector, const std::uint8_t trailer[16]) {
    AccessInfo info;
    mifare::SectorConditions sc{};
    if (mifare::decode_sector(type, sector, trailer, &sc) != RF_OK) return info;
    info.valid = sc.valid;
    int first = mifare::first_block_of_sector(type, sector);
    int i = 0;
    while (i < sc.blocks - 1) {
        int j = i;
        while (j + 1 < sc.blocks - 1 && sc.condition[j + 1] == sc.condition[i]) ++j;
        std::string label = i == j ? "block " + std::to_string(first + i)
                                   : "blocks " + std::to_string(first + i) + "-" + std::to_string(first + j);
        info.lines.push_back({label, sc.condition[i], sc.description[i]});
        i = j + 1;
    }
    info.lines.push_back({"trailer", sc.condition[sc.blocks - 1], sc.description[sc.blocks - 1]});
    return info;
}

void print_block_line(int absolute, const std::uint8_t data[16]) {
    std::printf("  block %3d  %s  |%s|\n", absolute, hex(data, 16, " ").c_str(), ascii(data, 16).c_str());
}

void print_access(const std::uint8_t trailer[16], const AccessInfo &access) {
    std::printf("  access bits %s, GPB %s: %s\n", hex(trailer + 6, 3, " ").c_str(), hex(trailer + 9, 1).c_str(),
                access.valid ? "valid" : "MALFORMED (the inverted copies do not match; the sector is locked)");
    if (!access.valid) return;
    for (const auto &line : access.lines)
        std::printf("    %-12s %s  %s\n", line.blocks.c_str(), condition_digits(line.condition).c_str(), line.text);
}

std::string access_json(const std::uint8_t trailer[16], const AccessInfo &access) {
    std::string out = "{\"bits\":\"" + hex(trailer + 6, 3) + "\",\"gpb\":\"" + hex(trailer + 9, 1) +
                      "\",\"valid\":" + (access.valid ? "true" : "false") + ",\"conditions\":[";
    if (access.valid) {
        for (std::size_t i = 0; i < access.lines.size(); ++i) {
            const auto &l = access.lines[i];
            out += std::string(i ? "," : "") + "{\"blocks\":" + json_string(l.blocks) + ",\"condition\":\"" +
                   condition_digits(l.condition) + "\",\"text\":" + json_string(l.text) + "}";
        }
    }
    return out + "]}";
}

std::string block_json(int sector, int absolute, const std::uint8_t data[16]) {
    return "{\"sector\":" + std::to_string(sector) + ",\"block\":" + std::to_string(absolute) + ",\"data\":\"" +
           hex(data, 16) + "\",\"ascii\":" + json_string(ascii(data, 16)) + "}";
}

bool write_file_atomically(const std::string &path, const std::vector<std::uint8_t> &bytes, std::string *error) {
    std::string temp = path + ".tmp";
    std::FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        *error = temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int saved = errno;
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    *error = path + ": " + std::strerror(ok ? errno : saved);
    std::remove(temp.c_str());
    return false;
}

bool read_image(const std::string &path, std::vector<std::uint8_t> *image, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    image->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    if (image->size() != mifare::IMAGE_SIZE_1K && image->size() != mifare::IMAGE_SIZE_4K) {
        *error = path + ": " + std::to_string(image->size()) +
                 " bytes; a dump is 1024 (1K card) or 4096 (4K card) bytes";
        return false;
    }
    return true;
}

// ---- dump

struct BlockResult {
    int absolute;
    bool ok = false;
    std::uint8_t data[16] = {};
    Failure failure;
};

struct SectorResult {
    int sector;
    bool login_ok = false;
    Failure login_failure;
    std::vector<BlockResult> blocks;
    bool has_access = false;
    AccessInfo access;
};

SectorResult dump_sector(Session &session, CardType type, int sector) {
    SectorResult r;
    r.sector = sector;
    int first = mifare::first_block_of_sector(type, sector);
    int count = mifare::blocks_in_sector(type, sector);
    r.login_ok = session.login(sector, &r.login_failure) == 0;
    if (!r.login_ok) return r;
    // A real card drops its authentication after a refused command; log in
    // again before the next block.
    bool need_login = false;
    for (int i = 0; i < count; ++i) {
        BlockResult b;
        b.absolute = first + i;
        if (need_login && session.login(sector, &b.failure) != 0) {
            r.blocks.push_back(b);
            continue;
        }
        b.ok = session.read(b.absolute, b.data, &b.failure) == 0;
        need_login = !b.ok;
        r.blocks.push_back(b);
    }
    const BlockResult &trailer = r.blocks.back();
    if (trailer.ok) {
        r.has_access = true;
        r.access = describe_access(type, sector, trailer.data);
    }
    return r;
}

}  // namespace

// ---- info

int cmd_info(const Options &options) {
    Session session(options);
    CardInfo card;
    if (!session.open(&card)) return EXIT_FAILED;
    unsigned long value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | card.serial[i];
    std::string type = card.classic ? card_type_name(card.type) : "unknown";
    char answer[3];
    std::snprintf(answer, sizeof answer, "%02X", card.answer);
    if (options.json) {
        std::printf("{\"serial\":\"%s\",\"serial_value\":%lu,\"answer\":\"%s\",\"type\":%s", hex(card.serial, 4).c_str(),
                    value, answer, card.classic ? json_string(type).c_str() : "null");
        if (card.classic)
            std::printf(",\"sectors\":%d,\"blocks\":%d", mifare::sector_count(card.type), mifare::block_count(card.type));
        std::printf("}\n");
    } else {
        std::printf("serial  %s (value 0x%08lX, least significant byte first)\n", hex(card.serial, 4).c_str(), value);
        std::printf("answer  %s\n", answer);
        if (card.classic)
            std::printf("type    %s, %d sectors, %d blocks\n", type.c_str(), mifare::sector_count(card.type),
                        mifare::block_count(card.type));
        else
            std::printf("type    unknown (not a Mifare Classic 1K or 4K)\n");
    }
    return EXIT_OK;
}

// ---- read / write

int cmd_read(const Options &options, int sector, int block) {
    std::string error;
    if (!check_address(sector, block, &error)) return usage_error(error), EXIT_USAGE;
    Session session(options);
    CardInfo card;
    if (!session.open(&card) || !require_classic(card)) return EXIT_FAILED;
    if (!card_has_sector(card, sector)) return EXIT_USAGE;
    int absolute = mifare::first_block_of_sector(card.type, sector) + block;
    Failure failure;
    std::uint8_t data[16] = {};
    if (session.login(sector, &failure) != 0 || session.read(absolute, data, &failure) != 0) {
        print_failure(failure);
        return EXIT_FAILED;
    }
    bool trailer = mifare::is_trailer(card.type, absolute);
    AccessInfo access;
    if (trailer) access = describe_access(card.type, sector, data);
    if (options.json) {
        std::string out = block_json(sector, absolute, data);
        out.pop_back();
        out += ",\"sector_block\":" + std::to_string(block);
        if (trailer) out += ",\"access\":" + access_json(data, access);
        std::printf("%s}\n", out.c_str());
    } else {
        std::printf("sector %d block %d (block %d)\n", sector, block, absolute);
        print_block_line(absolute, data);
        if (trailer) print_access(data, access);
    }
    return EXIT_OK;
}

int cmd_write(const Options &options, int sector, int block, const std::string &text) {
    std::string error;
    std::vector<std::uint8_t> data;
    if (!check_address(sector, block, &error)) return usage_error(error), EXIT_USAGE;
    if (!parse_hex(text, 16, &data, &error)) return usage_error("HEX: " + error), EXIT_USAGE;
    if (sector == 0 && block == 0)
        return usage_error("block 0 is the manufacturer block and cannot be written"), EXIT_USAGE;
    // Trailer position does not depend on the card type for any valid sector.
    bool trailer = block == mifare::blocks_in_sector(CardType::Classic4K, sector) - 1;
    if (trailer && !mifare::access_bits_valid(data.data() + 6))
        return usage_error("refusing to write trailer access bits " + hex(data.data() + 6, 3, " ") +
                           ": their inverted copies do not match, which would lock sector " + std::to_string(sector) +
                           " for good"),
               EXIT_USAGE;
    Session session(options);
    CardInfo card;
    if (!session.open(&card) || !require_classic(card)) return EXIT_FAILED;
    if (!card_has_sector(card, sector)) return EXIT_USAGE;
    int absolute = mifare::first_block_of_sector(card.type, sector) + block;
    Failure failure;
    if (session.login(sector, &failure) != 0 || session.write(absolute, data.data(), &failure) != 0) {
        print_failure(failure);
        return EXIT_FAILED;
    }
    std::printf("wrote sector %d block %d (block %d): %s\n", sector, block, absolute, hex(data.data(), 16, " ").c_str());
    return EXIT_OK;
}

// ---- dump

int cmd_dump(const Options &options, const std::string &sectors, const std::string &output) {
    int first = 0, last = 39;
    bool all = sectors.empty();
    std::string error;
    if (!all && !parse_sector_range(sectors, &first, &last, &error)) return usage_error(error), EXIT_USAGE;

    Session session(options);
    CardInfo card;
    if (!session.open(&card) || !require_classic(card)) return EXIT_FAILED;
    if (all)
        last = mifare::sector_count(card.type) - 1;
    else if (!card_has_sector(card, last))
        return EXIT_USAGE;

    bool progress = os::stderr_is_terminal();
    std::vector<SectorResult> results;
    for (int s = first; s <= last; ++s) {
        if (progress) std::fprintf(stderr, "\rdumping sector %d of %d-%d ", s, first, last);
        results.push_back(dump_sector(session, card.type, s));
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
    session.finish();

    int total = 0, read = 0;
    for (const auto &r : results) {
        total += mifare::blocks_in_sector(card.type, r.sector);
        for (const auto &b : r.blocks) read += b.ok;
    }

    char answer[3];
    std::snprintf(answer, sizeof answer, "%02X", card.answer);
    const char *key_name = options.key_type_code == 1 ? "B" : "A";
    if (options.json) {
        std::string out = "{\"card\":{\"serial\":\"" + hex(card.serial, 4) + "\",\"answer\":\"" + answer +
                          "\",\"type\":" + json_string(card_type_name(card.type)) + "},\"key_type\":\"" + key_name +
                          "\",\"blocks_total\":" + std::to_string(total) + ",\"blocks_read\":" + std::to_string(read) +
                          ",\"sectors\":[";
        for (std::size_t i = 0; i < results.size(); ++i) {
            const auto &r = results[i];
            out += std::string(i ? "," : "") + "{\"sector\":" + std::to_string(r.sector);
            if (!r.login_ok) {
                out += ",\"error\":" + r.login_failure.json() + ",\"blocks\":[]}";
                continue;
            }
            out += ",\"blocks\":[";
            for (std::size_t j = 0; j < r.blocks.size(); ++j) {
                const auto &b = r.blocks[j];
                std::string item = b.ok ? block_json(r.sector, b.absolute, b.data)
                                        : "{\"sector\":" + std::to_string(r.sector) + ",\"block\":" +
                                              std::to_string(b.absolute) + ",\"error\":" + b.failure.json() + "}";
                out += std::string(j ? "," : "") + item;
            }
            out += "]";
            if (r.has_access) out += ",\"access\":" + access_json(r.blocks.back().data, r.access);
            out += "}";
        }
        std::printf("%s]}\n", out.c_str());
    } else {
        std::printf("%s, serial %s, answer %s, sectors %d-%d, key %s %s\n", card_type_name(card.type),
                    hex(card.serial, 4).c_str(), answer, first, last, key_name, hex(options.key, 6).c_str());
        for (const auto &r : results) {
            std::printf("\nsector %d\n", r.sector);
            if (!r.login_ok) {
                std::printf("  UNREADABLE: %s\n", r.login_failure.message().c_str());
                continue;
            }
            for (const auto &b : r.blocks) {
                if (b.ok)
                    print_block_line(b.absolute, b.data);
                else
                    std::printf("  block %3d  UNREADABLE: %s\n", b.absolute, b.failure.message().c_str());
            }
            if (r.has_access) print_access(r.blocks.back().data, r.access);
        }
        std::printf("\n%d of %d blocks read\n", read, total);
    }
    std::fflush(stdout);

    if (!output.empty()) {
        if (read == 0) {
            std::fprintf(stderr, "vesk: no block could be read; %s not written\n", output.c_str());
            return EXIT_FAILED;
        }
        // Unread blocks stay zero. Trailers read back with the login key
        // hidden as zeros; the key that opened the sector goes in its place,
        // so a factory card dumps to exactly its own image.
        std::vector<std::uint8_t> image(mifare::image_size(card.type), 0);
        for (const auto &r : results) {
            for (const auto &b : r.blocks) {
                if (!b.ok) continue;
                std::memcpy(&image[b.absolute * 16], b.data, 16);
                if (mifare::is_trailer(card.type, b.absolute))
                    std::memcpy(&image[b.absolute * 16 + (options.key_type_code == 1 ? 10 : 0)], options.key, 6);
            }
        }
        if (!write_file_atomically(output, image, &error)) {
            std::fprintf(stderr, "vesk: cannot write the dump: %s\n", error.c_str());
            return EXIT_FAILED;
        }
        if (read < total)
            std::fprintf(stderr,
                         "vesk: %d unreadable blocks are zeros in %s; restoring it with a key that may write them "
                         "would write zeros there\n",
                         total - read, output.c_str());
        if (!options.json)
            std::printf("wrote %s (%zu bytes)\n", output.c_str(), image.size());
    }
    if (read == total) return EXIT_OK;
    std::fprintf(stderr, "vesk: %d of %d blocks could not be read\n", total - read, total);
    return read ? EXIT_PARTIAL : EXIT_FAILED;
}

// ---- restore

int cmd_restore(const Options &options, const std::string &file, bool trailers) {
    std::string error;
    std::vector<std::uint8_t> image;
    if (!read_image(file, &image, &error)) return usage_error(error), EXIT_USAGE;
    CardType type = image.size() == mifare::IMAGE_SIZE_4K ? CardType::Classic4K : CardType::Classic1K;
    int sectors = mifare::sector_count(type);
    if (trailers) {
        // All or nothing: one bad trailer stops the restore before any write.
        std::string bad;
        for (int s = 0; s < sectors; ++s) {
            const std::uint8_t *t = &image[mifare::trailer_of_sector(type, s) * 16];
            if (!mifare::access_bits_valid(t + 6))
                bad += (bad.empty() ? "" : ", ") + std::to_string(s) + " (" + hex(t + 6, 3, " ") + ")";
        }
        if (!bad.empty())
            return usage_error("refusing to restore " + file +
                               ": malformed access bits would lock these sectors for good: " + bad +
                               "; nothing was written"),
                   EXIT_USAGE;
    }

    Session session(options);
    CardInfo card;
    if (!session.open(&card) || !require_classic(card)) return EXIT_FAILED;
    if (card.type != type) {
        std::fprintf(stderr, "vesk: %s is a %s dump but the card is a %s; nothing was written\n", file.c_str(),
                     card_type_name(type), card_type_name(card.type));
        return EXIT_FAILED;
    }

    int attempted = 0, written = 0;
    for (int s = 0; s < sectors; ++s) {
        int first = mifare::first_block_of_sector(type, s);
        int trailer = mifare::trailer_of_sector(type, s);
        bool need_login = true;
        // Data blocks first: a trailer write may change the key.
        for (int b = first; b <= trailer; ++b) {
            if (b == 0 || (b == trailer && !trailers)) continue;
            ++attempted;
            Failure failure;
            if (need_login && session.login(s, &failure) != 0) {
                print_failure(failure);
                // The rest of this sector counts as not written.
                attempted += trailer - b - (trailers ? 0 : 1);
                break;
            }
            need_login = session.write(b, &image[b * 16], &failure) != 0;
            if (need_login)
                print_failure(failure);
            else
                ++written;
        }
    }
    std::printf("restored %d of %d blocks from %s (block 0 never; trailers %s)\n", written, attempted, file.c_str(),
                trailers ? "included" : "left alone");
    if (written == attempted) return EXIT_OK;
    return written ? EXIT_PARTIAL : EXIT_FAILED;
}

}  // namespace vesk::tool

// vesk: a command-line host of Vesk_RD. Card work goes through the twelve
// exports only; see README.md for the commands and exit statuses.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "vesk.h"

namespace vesk::tool {

bool validate_common(Options *o, std::string *error) {
    std::vector<std::uint8_t> key;
    if (!parse_hex(o->key_hex, mifare::KEY_SIZE, &key, error)) {
        *error = "--key: " + *error;
        return false;
    }
    std::copy(key.begin(), key.end(), o->key);
    if (o->key_type == "a" || o->key_type == "A") {
        o->key_type_code = 0;
    } else if (o->key_type == "b" || o->key_type == "B") {
        o->key_type_code = 1;
    } else {
        *error = "--key-type: '" + o->key_type + "' is neither a nor b";
        return false;
    }
    return true;
}

}  // namespace vesk::tool

int main(int argc, char **argv) {
    using namespace vesk::tool;
    Options options;
    CLI::App app{"vesk: Mifare Classic cards through Vesk_RD", "vesk"};
    app.require_subcommand(1);
    // Options of the main command are accepted after the subcommand too.
    app.fallthrough();
    app.add_option("--reader", options.reader, "reader library: sim, pcsc or the path of a libRfReader.so")
        ->capture_default_str();
    app.add_option("--port", options.port, "reader port")->capture_default_str();
    app.add_option("--baud", options.baud, "baud rate")->capture_default_str();
    app.add_option("--key", options.key_hex, "login key, 12 hex digits")->capture_default_str();
    app.add_option("--key-type", options.key_type, "log in with key a or key b")->capture_default_str();
    app.add_flag("--json", options.json, "print JSON (info, read, dump)");

    auto *info = app.add_subcommand("info", "show the card's serial number, answer byte and type");

    std::string sectors, output;
    auto *dump = app.add_subcommand("dump", "print every block of the card, trailers decoded");
    auto *sectors_opt = dump->add_option("--sectors", sectors, "sector or range A-B (default: all)");
    dump->add_option("-o,--output", output, "also write a raw .mfd dump of the whole card")->excludes(sectors_opt);

    int sector = 0, block = 0;
    std::string data;
    auto *read = app.add_subcommand("read", "print one block");
    read->add_option("SECTOR", sector, "sector number")->required();
    read->add_option("BLOCK", block, "block within the sector")->required();

    auto *write = app.add_subcommand("write", "write one block");
    write->add_option("SECTOR", sector, "sector number")->required();
    write->add_option("BLOCK", block, "block within the sector")->required();
    write->add_option("HEX", data, "the 16 bytes as 32 hex digits")->required();

    std::string file;
    bool trailers = false;
    auto *restore = app.add_subcommand("restore", "write a dump's data blocks back to the card (never block 0)");
    restore->add_option("FILE", file, "a .mfd dump of 1024 or 4096 bytes")->required();
    restore->add_flag("--trailers", trailers, "also write the sector trailers (keys and access bits)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? EXIT_OK : EXIT_USAGE;
    }

    std::string error;
    if (options.json && (write->parsed() || restore->parsed())) error = "--json is for info, read and dump";
    if (error.empty()) validate_common(&options, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "vesk: %s\n", error.c_str());
        return EXIT_USAGE;
    }

    if (info->parsed()) return cmd_info(options);
    if (dump->parsed()) return cmd_dump(options, sectors, output);
    if (read->parsed()) return cmd_read(options, sector, block);
    if (write->parsed()) return cmd_write(options, sector, block, data);
    return cmd_restore(options, file, trailers);
}

// vesk-vcard: lays a virtual Mifare Classic card on the vpcd virtual reader.
// It connects to vpcd's TCP port and answers its messages (2-byte big-endian
// length, then that many bytes) until vpcd hangs up or SIGTERM/SIGINT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "virtual_card.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

struct Options {
    std::string host = "127.0.0.1";
    int port = 35963;
    std::string image;
    bool four_k = false;
    std::uint8_t uid[mifare::UID_SIZE] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::string report;
    std::string save;
    long disconnect_after = -1;
    std::vector<std::uint8_t> atr;
    long connect_timeout_ms = 10000;
};

void usage()
{
    std::fprintf(stderr,
                 "usage: vesk-vcard [options]\n"
                 "  --host ADDR             vpcd address (127.0.0.1)\n"
                 "  --port N                vpcd port (35963: the first vpcd reader)\n"
                 "  --image FILE            card image, 1024 (1K) or 4096 (4K) bytes\n"
                 "  --4k                    factory-fresh 4K card instead of 1K (no --image)\n"
                 "  --uid HEX8              UID of a factory-fresh card (DEADBEEF)\n"
                 "  --atr HEX               present this ATR instead (a card of another kind)\n"
                 "  --report FILE           command counts, rewritten before every answer\n"
                 "  --save FILE             card image written on exit\n"
                 "  --disconnect-after N    answer N APDUs, then hang up on the next (card removed)\n"
                 "  --connect-timeout MS    how long to retry reaching vpcd (10000)\n");
}

bool parse_hex(const char *text, std::vector<std::uint8_t> *bytes)
{
    const std::size_t length = std::strlen(text);
    if (length == 0 || length % 2 != 0)
        return false;
    bytes->clear();
    for (std::size_t i = 0; i < length; i += 2) {
        char byte[3] = {text[i], text[i + 1], 0};
        char *end = nullptr;
        const unsigned long v = std::strtoul(byte, &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(byte[0])))
            return false;
        bytes->push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool parse(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--4k") {
            o->four_k = true;
        } else if (!has_value) {
            return false;
        } else if (arg == "--host") {
            o->host = argv[++i];
        } else if (arg == "--port") {
            o->port = std::atoi(argv[++i]);
        } else if (arg == "--image") {
            o->image = argv[++i];
        } else if (arg == "--uid") {
            std::vector<std::uint8_t> uid;
            if (!parse_hex(argv[++i], &uid) || uid.size() != mifare::UID_SIZE)
                return false;
            std::memcpy(o->uid, uid.data(), mifare::UID_SIZE);
        } else if (arg == "--atr") {
            if (!parse_hex(argv[++i], &o->atr))
                return false;
        } else if (arg == "--report") {
            o->report = argv[++i];
        } else if (arg == "--save") {
            o->save = argv[++i];
        } else if (arg == "--disconnect-after") {
            o->disconnect_after = std::atol(argv[++i]);
        } else if (arg == "--connect-timeout") {
            o->connect_timeout_ms = std::atol(argv[++i]);
        } else {
            return false;
        }
    }
    return o->port > 0 && o->port < 65536;
}

bool load_card(const Options &o, mifare::Card *card)
{
    if (o.image.empty()) {
        *card = mifare::Card(o.four_k ? mifare::CardType::Classic4K : mifare::CardType::Classic1K, o.uid);
        return true;
    }
    std::ifstream in(o.image, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && !in.good())
        return false;
    return mifare::Card::from_image(bytes.data(), bytes.size(), card) == RF_OK;
}

bool write_file(const std::string &path, const void *data, std::size_t size)
{
    // Through a temporary name, so a reader of the file never sees half of it.
    const std::string temporary = path + ".tmp";
    std::FILE *f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok)
        return false;
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

void report(const Options &o, const vcard::VirtualCard &card)
{
    if (o.report.empty())
        return;
    const std::string text = vcard::format_counts(card.counts());
    if (!write_file(o.report, text.data(), text.size()))
        std::fprintf(stderr, "vesk-vcard: cannot write %s\n", o.report.c_str());
}

int connect_to(const Options &o)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (inet_pton(AF_INET, o.host.c_str(), &address.sin_addr) != 1)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.connect_timeout_ms);
    while (!g_stop) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return -1;
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

// False on end of stream, error or stop signal.
bool read_exactly(int fd, std::uint8_t *buffer, std::size_t size)
{
    while (size > 0) {
        // vpcd writes a message's length and its bytes separately; acknowledging
        // at once keeps Nagle on its side from holding the bytes back ~40 ms.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        // A stop signal may land outside recv; look at the flag regularly.
        pollfd readable = {fd, POLLIN, 0};
        const int ready = poll(&readable, 1, 100);
        if (g_stop)
            return false;
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        const ssize_t n = recv(fd, buffer, size, 0);
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EINTR && !g_stop)
                continue;
            return false;
        }
        buffer += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool send_message(int fd, const std::uint8_t *data, std::size_t size)
{
    std::uint8_t frame[2 + vcard::RESPONSE_MAX];
    frame[0] = static_cast<std::uint8_t>(size >> 8);
    frame[1] = static_cast<std::uint8_t>(size);
    std::memcpy(frame + 2, data, size);
    std::size_t left = size + 2;
    const std::uint8_t *p = frame;
    while (left > 0) {
        const ssize_t n = send(fd, p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR && !g_stop)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

void serve(int fd, const Options &o, vcard::VirtualCard &card)
{
    std::vector<std::uint8_t> message;
    std::uint8_t response[vcard::RESPONSE_MAX];
    long answered = 0;
    for (;;) {
        std::uint8_t header[2];
        if (!read_exactly(fd, header, sizeof header))
            return;
        const std::size_t size = static_cast<std::size_t>(header[0] << 8 | header[1]);
        message.resize(size);
        if (size > 0 && !read_exactly(fd, message.data(), size))
            return;
        if (size == 1) {
            const std::size_t n = card.control(message[0], response);
            report(o, card);
            if (n > 0 && !send_message(fd, response, n))
                return;
            continue;
        }
        if (o.disconnect_after >= 0 && answered >= o.disconnect_after)
            return;  // the card leaves the field in the middle of a command
        const std::size_t n = card.apdu(message.data(), size, response);
        ++answered;
        report(o, card);
        if (!send_message(fd, response, n))
            return;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, &options)) {
        usage();
        return 2;
    }
    const std::uint8_t zero_uid[mifare::UID_SIZE] = {};
    mifare::Card initial(mifare::CardType::Classic1K, zero_uid);
    if (!load_card(options, &initial)) {
        std::fprintf(stderr, "vesk-vcard: %s is not a 1024- or 4096-byte card image\n", options.image.c_str());
        return 2;
    }
    vcard::VirtualCard card(initial);
    if (!options.atr.empty() && !card.set_atr(options.atr.data(), options.atr.size())) {
        std::fprintf(stderr, "vesk-vcard: an ATR has 1 to 33 bytes\n");
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = on_signal;  // no SA_RESTART: a blocked recv returns
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    report(options, card);
    const int fd = connect_to(options);
    if (fd < 0) {
        std::fprintf(stderr, "vesk-vcard: no vpcd at %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    serve(fd, options, card);
    close(fd);
    report(options, card);

    if (!options.save.empty()) {
        std::uint8_t image[mifare::IMAGE_SIZE_4K];
        card.card().export_image(image, sizeof image);
        if (!write_file(options.save, image, card.card().image_size())) {
            std::fprintf(stderr, "vesk-vcard: cannot write %s\n", options.save.c_str());
            return 1;
        }
    }
    return 0;
}

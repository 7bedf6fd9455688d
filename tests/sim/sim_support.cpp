#include "sim_support.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace st {

namespace {

template <typename Fn>
Fn must(void *lib, const char *name) {
    void *p = dlsym(lib, name);
    if (!p) throw std::runtime_error(std::string("simulated reader lacks ") + name);
    return reinterpret_cast<Fn>(p);
}

Rf load() {
    void *lib = dlopen(RFSIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(dlerror());
    return Rf{must<rf_init_fn>(lib, "rf_init"),
              must<rf_card_fn>(lib, "rf_card"),
              must<rf_load_key_fn>(lib, "rf_load_key"),
              must<rf_authentication_fn>(lib, "rf_authentication"),
              must<rf_read_fn>(lib, "rf_read"),
              must<rf_write_fn>(lib, "rf_write"),
              must<rf_halt_fn>(lib, "rf_halt"),
              must<rf_exit_fn>(lib, "rf_exit"),
              must<rf_beep_fn>(lib, "rf_beep"),
              must<rf_anticoll_fn>(lib, "rf_anticoll"),
              must<rf_request_fn>(lib, "rf_request"),
              must<rf_select_fn>(lib, "rf_select")};
}

}  // namespace

const Rf &rf() {
    static const Rf entries = load();
    return entries;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rfsim-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool exists(const std::string &path) { return std::filesystem::exists(path); }

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes factory_image(mifare::CardType type) {
    const mifare::Card card(type, kSimUid);
    Bytes image(card.image_size());
    card.export_image(image.data(), image.size());
    return image;
}

Block trailer(const Key &a, std::array<std::uint8_t, 4> conditions, const Key &b) {
    Block t{};
    std::copy(a.begin(), a.end(), t.begin());
    mifare::encode_access_bits(conditions.data(), t.data() + 6);
    t[9] = 0x69;
    std::copy(b.begin(), b.end(), t.begin() + 10);
    return t;
}

Block filled(std::uint8_t value) {
    Block b;
    b.fill(value);
    return b;
}

Block block_of(const Bytes &image, int block) {
    Block b;
    std::copy(image.begin() + block * 16, image.begin() + block * 16 + 16, b.begin());
    return b;
}

pid_t spawn(const std::function<int()> &body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int rc = 100;
        try {
            rc = body();
        } catch (...) {
            rc = 101;
        }
        std::fflush(nullptr);
        _exit(rc);
    }
    return pid;
}

int wait_for(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -2000;
    if (WIFSIGNALED(status)) return -1000 - WTERMSIG(status);
    return WEXITSTATUS(status);
}

int run_in_child(const std::function<int()> &body) { return wait_for(spawn(body)); }

void set_env(const char *name, const char *value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

}  // namespace st

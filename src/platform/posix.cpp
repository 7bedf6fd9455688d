#include <dlfcn.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>

#include "platform.h"

namespace vesk::platform {

Module load_reader_library() noexcept {
    // Bare name: the loader's usual search, which includes libVesk_RD.so's
    // own RUNPATH ($ORIGIN), and an already loaded object with this SONAME.
    return dlopen("libRfReader.so", RTLD_NOW | RTLD_LOCAL);
}

void *find_symbol(Module module, const char *name) noexcept { return dlsym(module, name); }

void unload(Module module) noexcept { dlclose(module); }

void notify_load_failure() noexcept {
    static constexpr char kText[] = ": \xE5\x8A\xA8\xE6\x80\x81\xE5\xBA\x93\xE5\x8A\xA0\xE8\xBD\xBD\xE5\xA4\xB1\xE8\xB4\xA5!\n";  // 动态库加载失败!
    static constexpr char kUnknown[] = "(unknown executable)";
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    iovec parts[2];
    if (n > 0 && static_cast<size_t>(n) < sizeof path) {
        parts[0] = {path, static_cast<size_t>(n)};
    } else {
        parts[0] = {const_cast<char *>(kUnknown), sizeof kUnknown - 1};
    }
    parts[1] = {const_cast<char *>(kText), sizeof kText - 1};
    // One writev keeps the line whole even when other threads write stderr.
    if (writev(STDERR_FILENO, parts, 2) < 0) {
        // Nowhere left to tell anyone.
    }
}

}  // namespace vesk::platform

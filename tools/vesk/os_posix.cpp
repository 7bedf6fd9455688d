#include <dlfcn.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "os.h"

namespace vesk::tool::os {

const char *const kReaderFileName = "libRfReader.so";

std::string executable_dir() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string full(path, static_cast<size_t>(n));
    auto slash = full.rfind('/');
    return slash == std::string::npos ? "" : full.substr(0, slash);
}

bool is_regular_file(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool preload_reader(const std::string &path, std::string *error) {
    // Kept loaded for the life of the process; Vesk_RD's dlopen of the bare
    // name then matches it by SONAME instead of searching.
    // A name without a slash would send dlopen searching instead.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    if (dlopen(file.c_str(), RTLD_NOW | RTLD_GLOBAL) != nullptr) return true;
    const char *why = dlerror();
    if (error) *error = why ? why : "unknown loader error";
    return false;
}

namespace {
std::string escaped(const std::string &bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}
}  // namespace

std::string gbk_to_utf8(const std::string &gbk) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return escaped(gbk);
    std::string in = gbk;
    std::string out(in.size() * 3 + 4, '\0');
    char *src = in.data();
    size_t src_left = in.size();
    char *dst = out.data();
    size_t dst_left = out.size();
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return escaped(gbk);
    out.resize(out.size() - dst_left);
    return out;
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace vesk::tool::os

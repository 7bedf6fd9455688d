#include <dlfcn.h>
#include <iconv.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "harness.h"
#include "os.h"

namespace vt {

std::string gbk(const std::string &utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no GBK");
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char *src = in.data();
    size_t src_left = in.size();
    char *dst = out.data();
    size_t dst_left = out.size();
    const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) throw std::runtime_error("not convertible to GBK: " + utf8);
    out.resize(out.size() - dst_left);
    return out;
}

std::string executable_path() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

QuietNotice::QuietNotice() : state_(nullptr) { testing::internal::CaptureStderr(); }

QuietNotice::~QuietNotice() { testing::internal::GetCapturedStderr(); }

namespace os {

const char *const kReaderFileName = "libRfReader.so";

std::string recorder_dir() { return VESK_RECORDER_DIR; }

void *load_library(const std::string &path) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(dlerror());
    return handle;
}

void *find_symbol(void *library, const char *name) { return dlsym(library, name); }

void unload_library(void *library) { dlclose(library); }

}  // namespace os
}  // namespace vt

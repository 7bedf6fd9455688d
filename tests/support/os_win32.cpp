#include <windows.h>

#include <stdexcept>

#include "harness.h"
#include "os.h"
#include "win32_imports.h"

namespace vt {

std::string gbk(const std::string &utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int wide_n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (wide_n <= 0) throw std::runtime_error("not UTF-8: " + utf8);
    std::wstring wide(static_cast<size_t>(wide_n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), wide_n);
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wide_n, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) throw std::runtime_error("not convertible to GBK: " + utf8);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wide_n, out.data(), n, nullptr, &lossy);
    return out;
}

std::string executable_path() {
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

QuietNotice::QuietNotice() : state_(new win32::MessageBoxSpy(GetModuleHandleA("Vesk_RD.dll"))) {}

QuietNotice::~QuietNotice() { delete static_cast<win32::MessageBoxSpy *>(state_); }

namespace os {

const char *const kReaderFileName = "RfReader.dll";

// The recorder folder is given relative to the test programs, which lie
// beside Vesk_RD.dll as a host's executable would.
std::string recorder_dir() {
    std::string path = executable_path();
    path.resize(path.find_last_of("\\/") + 1);
    return path + VESK_RECORDER_DIR;
}

void *load_library(const std::string &path) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr)
        throw std::runtime_error("LoadLibraryEx " + path + " failed: " + std::to_string(GetLastError()));
    return module;
}

void *find_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void unload_library(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace os
}  // namespace vt

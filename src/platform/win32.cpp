#include <windows.h>

#include "frame/messages.h"
#include "platform.h"

namespace vesk::platform {
namespace {

constexpr wchar_t kReaderName[] = L"RfReader.dll";
// Long enough for any folder a host is installed in; a longer path is
// refused rather than cut, since a cut path names another folder.
constexpr DWORD kPathSize = 1024;

// Writes "<folder of path>\RfReader.dll" into `out`. Returns false when the
// path has no folder or the result does not fit.
bool beside(const wchar_t *path, wchar_t (&out)[kPathSize]) noexcept {
    DWORD slash = 0;
    bool found = false;
    DWORD n = 0;
    for (; path[n] != L'\0'; ++n) {
        if (path[n] == L'\\' || path[n] == L'/') {
            slash = n;
            found = true;
        }
    }
    constexpr DWORD kNameLength = sizeof kReaderName / sizeof kReaderName[0];  // NUL included
    if (!found || slash + 1 + kNameLength > kPathSize) return false;
    for (DWORD i = 0; i <= slash; ++i) out[i] = path[i];
    for (DWORD i = 0; i < kNameLength; ++i) out[slash + 1 + i] = kReaderName[i];
    return true;
}

// Full path of a module; false if the system cut it.
bool module_path(HMODULE module, wchar_t (&out)[kPathSize]) noexcept {
    const DWORD n = GetModuleFileNameW(module, out, kPathSize);
    return n > 0 && n < kPathSize;
}

// Full path only, so the search of the loader (and its current-directory
// step) never runs. Altered search order: the reader's own dependencies
// resolve beside it.
HMODULE load_full_path(const wchar_t *path) noexcept {
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE load_beside(HMODULE module) noexcept {
    wchar_t path[kPathSize];
    wchar_t candidate[kPathSize];
    if (!module_path(module, path) || !beside(path, candidate)) return nullptr;
    return load_full_path(candidate);
}

HMODULE load_from_system_folders() noexcept {
    HMODULE reader = LoadLibraryExW(kReaderName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (reader != nullptr) return reader;
    // Systems without the LOAD_LIBRARY_SEARCH_* flags refuse the call as an
    // invalid parameter; there the full paths do the same job.
    wchar_t folder[kPathSize];
    wchar_t candidate[kPathSize];
    if (GetLastError() == ERROR_INVALID_PARAMETER) {
        const UINT n = GetSystemDirectoryW(folder, kPathSize - 1);
        if (n > 0 && n < kPathSize - 1) {
            folder[n] = L'\\';
            folder[n + 1] = L'\0';
            if (beside(folder, candidate) && (reader = load_full_path(candidate)) != nullptr) return reader;
        }
    }
    const UINT n = GetWindowsDirectoryW(folder, kPathSize - 1);
    if (n == 0 || n >= kPathSize - 1) return nullptr;
    folder[n] = L'\\';
    folder[n + 1] = L'\0';
    return beside(folder, candidate) ? load_full_path(candidate) : nullptr;
}

HMODULE this_module() noexcept {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &self);
    return self;
}

}  // namespace

Module load_reader_library() noexcept {
    // A reader the host has loaded already (by whatever path it chose) is
    // the one it means; take a reference of our own, as a load would.
    HMODULE reader = nullptr;
    if (GetModuleHandleExW(0, kReaderName, &reader)) return reader;
    // Never the current working directory: a DLL planted there must not run.
    if ((reader = load_beside(nullptr)) != nullptr) return reader;
    const HMODULE self = this_module();
    if (self != nullptr && (reader = load_beside(self)) != nullptr) return reader;
    return load_from_system_folders();
}

void *find_symbol(Module module, const char *name) noexcept {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unload(Module module) noexcept { FreeLibrary(static_cast<HMODULE>(module)); }

void notify_load_failure() noexcept {
    char caption[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, caption, sizeof caption);
    if (n == 0 || n >= sizeof caption) caption[0] = '\0';
    MessageBoxA(nullptr, msg::kLoadLibraryFailed, caption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace vesk::platform

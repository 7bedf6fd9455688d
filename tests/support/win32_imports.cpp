#include "win32_imports.h"

#include <cstring>

namespace vt::win32 {

void *patch_import(HMODULE module, const char *dll, const char *function, void *replacement) {
    auto *base = reinterpret_cast<unsigned char *>(module);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto *desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); desc->Name != 0;
         ++desc) {
        if (_stricmp(reinterpret_cast<const char *>(base + desc->Name), dll) != 0 || desc->OriginalFirstThunk == 0)
            continue;
        auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + desc->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto *by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(by_name->Name), function) != 0) continue;
            DWORD old_protect = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old_protect))
                return nullptr;
            void *previous = reinterpret_cast<void *>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old_protect, &old_protect);
            return previous;
        }
    }
    return nullptr;
}

namespace {

std::vector<Notice> g_notices;

int WINAPI capture_message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
    g_notices.push_back({owner != nullptr, text != nullptr ? text : "(null)", caption != nullptr ? caption : "(null)",
                         flags});
    return IDOK;
}

}  // namespace

MessageBoxSpy::MessageBoxSpy(HMODULE module)
    : module_(module),
      original_(patch_import(module, "user32.dll", "MessageBoxA", reinterpret_cast<void *>(&capture_message_box))) {
    g_notices.clear();
}

MessageBoxSpy::~MessageBoxSpy() {
    if (original_ != nullptr) patch_import(module_, "user32.dll", "MessageBoxA", original_);
}

const std::vector<Notice> &MessageBoxSpy::notices() const { return g_notices; }

}  // namespace vt::win32

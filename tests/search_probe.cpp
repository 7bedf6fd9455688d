// A host application for the search tests: loads Vesk_RD.dll from the full
// path it is given, connects once, and writes what happened to a file:
//   search_probe <Vesk_RD.dll> <result file>
// Message boxes are caught in Vesk_RD.dll's import table, never shown.
#include <windows.h>

#include <cstdio>

#include "frame/rf_api.h"
#include "support/win32_imports.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    HMODULE vesk = LoadLibraryExA(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (vesk == nullptr) return 3;
    using connect_fn = int(VESK_CALL *)(int, int);
    auto connect = reinterpret_cast<connect_fn>(reinterpret_cast<void *>(GetProcAddress(vesk, "Quen_ConnectVelm40")));
    if (connect == nullptr) return 4;

    vt::win32::MessageBoxSpy spy(vesk);
    if (!spy.attached()) return 5;
    const int result = connect(1, 9600);

    char reader[MAX_PATH * 4] = "";
    if (HMODULE loaded = GetModuleHandleA("RfReader.dll")) GetModuleFileNameA(loaded, reader, sizeof reader);

    FILE *out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 6;
    std::fprintf(out, "connect=%d\nreader=%s\nnotices=%u\n", result, reader,
                 static_cast<unsigned>(spy.notices().size()));
    for (const vt::win32::Notice &n : spy.notices())
        std::fprintf(out, "owner=%d\nflags=%u\ncaption=%s\ntext=%s\n", n.has_owner ? 1 : 0, n.flags,
                     n.caption.c_str(), n.text.c_str());
    std::fclose(out);
    return 0;
}

// No export allocates from the heap once the reader library is bound.
// Vesk_RD.dll carries its runtime inside, so every way it has to the heap is
// an import: the C runtime's allocation functions and the Win32 heap calls.
// Each one it imports is counted through its slot in the import table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <string>

#include "support/harness.h"
#include "support/win32_imports.h"

namespace {

bool g_counting = false;
long g_allocations = 0;
void note() {
    if (g_counting) ++g_allocations;
}

// One saved original per hooked import.
enum Slot { kMalloc, kCalloc, kRealloc, kAlignedMalloc, kStrdup, kHeapAlloc, kHeapReAlloc, kLocalAlloc,
            kGlobalAlloc, kVirtualAlloc, kSlotCount };
void *g_original[kSlotCount];

template <typename Fn>
Fn original(Slot s) {
    return reinterpret_cast<Fn>(g_original[s]);
}

void *__cdecl h_malloc(size_t n) {
    note();
    return original<decltype(&h_malloc)>(kMalloc)(n);
}
void *__cdecl h_calloc(size_t n, size_t m) {
    note();
    return original<decltype(&h_calloc)>(kCalloc)(n, m);
}
void *__cdecl h_realloc(void *p, size_t n) {
    note();
    return original<decltype(&h_realloc)>(kRealloc)(p, n);
}
void *__cdecl h_aligned_malloc(size_t n, size_t a) {
    note();
    return original<decltype(&h_aligned_malloc)>(kAlignedMalloc)(n, a);
}
char *__cdecl h_strdup(const char *s) {
    note();
    return original<decltype(&h_strdup)>(kStrdup)(s);
}
LPVOID WINAPI h_heap_alloc(HANDLE heap, DWORD flags, SIZE_T n) {
    note();
    return original<decltype(&h_heap_alloc)>(kHeapAlloc)(heap, flags, n);
}
LPVOID WINAPI h_heap_realloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
    note();
    return original<decltype(&h_heap_realloc)>(kHeapReAlloc)(heap, flags, p, n);
}
HLOCAL WINAPI h_local_alloc(UINT flags, SIZE_T n) {
    note();
    return original<decltype(&h_local_alloc)>(kLocalAlloc)(flags, n);
}
HGLOBAL WINAPI h_global_alloc(UINT flags, SIZE_T n) {
    note();
    return original<decltype(&h_global_alloc)>(kGlobalAlloc)(flags, n);
}
LPVOID WINAPI h_virtual_alloc(LPVOID p, SIZE_T n, DWORD type, DWORD protect) {
    note();
    return original<decltype(&h_virtual_alloc)>(kVirtualAlloc)(p, n, type, protect);
}

struct Hook {
    Slot slot;
    const char *dll;
    const char *name;
    void *replacement;
};

const Hook kHooks[] = {
    {kMalloc, "msvcrt.dll", "malloc", reinterpret_cast<void *>(&h_malloc)},
    {kCalloc, "msvcrt.dll", "calloc", reinterpret_cast<void *>(&h_calloc)},
    {kRealloc, "msvcrt.dll", "realloc", reinterpret_cast<void *>(&h_realloc)},
    {kAlignedMalloc, "msvcrt.dll", "_aligned_malloc", reinterpret_cast<void *>(&h_aligned_malloc)},
    {kStrdup, "msvcrt.dll", "_strdup", reinterpret_cast<void *>(&h_strdup)},
    {kHeapAlloc, "kernel32.dll", "HeapAlloc", reinterpret_cast<void *>(&h_heap_alloc)},
    {kHeapReAlloc, "kernel32.dll", "HeapReAlloc", reinterpret_cast<void *>(&h_heap_realloc)},
    {kLocalAlloc, "kernel32.dll", "LocalAlloc", reinterpret_cast<void *>(&h_local_alloc)},
    {kGlobalAlloc, "kernel32.dll", "GlobalAlloc", reinterpret_cast<void *>(&h_global_alloc)},
    {kVirtualAlloc, "kernel32.dll", "VirtualAlloc", reinterpret_cast<void *>(&h_virtual_alloc)},
};

}  // namespace

TEST(Heap, NoExportAllocatesOnceBound) {
    vt::Recorder rec;
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    rec.script("rf_read", 2, 5);
    rec.script("rf_halt", 2, 5);

    HMODULE vesk = GetModuleHandleA("Vesk_RD.dll");
    std::string hooked;
    for (const Hook &h : kHooks) {
        g_original[h.slot] = vt::win32::patch_import(vesk, h.dll, h.name, h.replacement);
        if (g_original[h.slot] != nullptr) hooked += std::string(" ") + h.name;
    }
    // Probe: the runtime inside Vesk_RD.dll reaches the heap through malloc,
    // so at least that slot is counted.
    ASSERT_NE(g_original[kMalloc], nullptr) << "hooked:" << hooked;

    unsigned char serial[4], answer, data[16] = {}, key[6] = {};
    char text[VESK_MESSAGE_SIZE];
    int code;
    g_counting = true;
    for (int i = 0; i < 2; ++i) {
        Quen_ConnectVelm40(1, 9600);
        Quen_ControlBuzzer();
        MF_ReadSeriesNo(serial);
        Quen_RequestCardExist(serial, &answer);
        Quen_Login_With_UserKey(1, key, 0);
        Quen_ReadBlock(1, 1, data);
        Quen_WriteBlock(1, 1, data);
        Quen_SleepCard();
        SetLastErrMsg(-1, "%d %s", 5, "text");
        Quen_GetLastErr(&code, text);
        GetMFLastErr();
        Quen_CloseVelm40();
    }
    g_counting = false;
    EXPECT_EQ(g_allocations, 0) << "hooked:" << hooked;
}

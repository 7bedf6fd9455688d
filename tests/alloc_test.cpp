// No export allocates from the heap once the reader library is bound.
// malloc and friends are interposed here, so this test has its own program.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>

#include "support/harness.h"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

#if !defined(__SANITIZE_ADDRESS__)
namespace {
bool g_counting = false;
long g_allocations = 0;
void note() {
    if (g_counting) ++g_allocations;
}
}  // namespace

extern "C" {
void *malloc(size_t n) {
    note();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t m) {
    note();
    return __libc_calloc(n, m);
}
void *realloc(void *p, size_t n) {
    note();
    return __libc_realloc(p, n);
}
void *memalign(size_t a, size_t n) {
    note();
    return __libc_memalign(a, n);
}
void *aligned_alloc(size_t a, size_t n) {
    note();
    return __libc_memalign(a, n);
}
int posix_memalign(void **out, size_t a, size_t n) {
    note();
    *out = __libc_memalign(a, n);
    return *out != nullptr ? 0 : 12;
}
void free(void *p) { __libc_free(p); }
}
#endif

TEST(Heap, NoExportAllocatesOnceBound) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer owns malloc; counted in the plain build";
#else
    vt::Recorder rec;
    ASSERT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    rec.script("rf_read", 2, 5);
    rec.script("rf_halt", 2, 5);
    unsigned char serial[4], answer, data[16] = {}, key[6] = {};
    char text[VESK_MESSAGE_SIZE];
    int code;
    {
        // Probe: the counter sees allocations at all.
        g_counting = true;
        void *p = malloc(8);
        g_counting = false;
        free(p);
        ASSERT_EQ(g_allocations, 1);
        g_allocations = 0;
    }
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
    EXPECT_EQ(g_allocations, 0);
#endif
}

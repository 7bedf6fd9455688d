// The reader library is loaded once per process and then kept. dlopen is
// interposed here to count Vesk_RD's loads, so this test has its own program.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/harness.h"

namespace {
int g_bare_loads = 0;
}

extern "C" void *dlopen(const char *file, int mode) {
    using real_fn = void *(*)(const char *, int);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "dlopen"));
    if (file != nullptr && std::strcmp(file, "libRfReader.so") == 0) ++g_bare_loads;
    return real(file, mode);
}

TEST(Binding, ConnectCloseConnectLoadsOnce) {
    vt::Recorder rec;
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(g_bare_loads, 1);
}

TEST(Binding, FailedBindingIsRetriedOnNextConnect) {
    {
        vt::Recorder partial("missing_rf_halt");
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
    }
    EXPECT_EQ(g_bare_loads, 2);
    vt::Recorder complete;
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(g_bare_loads, 3);
}

// The reader library is loaded once per process and then kept. Every load
// attempt of Vesk_RD.dll starts by asking for an RfReader.dll the process
// already holds; that import is counted here.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/harness.h"
#include "support/win32_imports.h"

namespace {

int g_attempts = 0;
void *g_original = nullptr;

BOOL WINAPI counting_get_module_handle_ex(DWORD flags, LPCWSTR name, HMODULE *module) {
    if (name != nullptr && (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0 && _wcsicmp(name, L"RfReader.dll") == 0)
        ++g_attempts;
    return reinterpret_cast<decltype(&GetModuleHandleExW)>(g_original)(flags, name, module);
}

class Binding : public testing::Test {
  protected:
    void SetUp() override {
        g_original = vt::win32::patch_import(GetModuleHandleA("Vesk_RD.dll"), "kernel32.dll", "GetModuleHandleExW",
                                             reinterpret_cast<void *>(&counting_get_module_handle_ex));
        ASSERT_NE(g_original, nullptr) << "Vesk_RD.dll does not import GetModuleHandleExW";
    }
};

}  // namespace

TEST_F(Binding, ConnectCloseConnectLoadsOnce) {
    vt::Recorder rec;
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(Quen_CloseVelm40(), 0);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(g_attempts, 1);
}

TEST_F(Binding, FailedBindingIsRetriedOnNextConnect) {
    {
        vt::Recorder partial("missing_rf_halt");
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -2);
    }
    EXPECT_EQ(g_attempts, 2);
    // Vesk_RD let go of the partial library: it is gone from the process.
    EXPECT_EQ(GetModuleHandleA("RfReader.dll"), nullptr);
    vt::Recorder complete;
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), 0);
    EXPECT_EQ(g_attempts, 3);
}

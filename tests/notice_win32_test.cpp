// Without a reader library, connect shows a message box. The spy takes the
// place of MessageBoxA in Vesk_RD.dll's import table, so the test sees the
// very arguments the library hands to user32.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/harness.h"
#include "support/win32_imports.h"

TEST(Connect, WithoutReaderLibraryShowsMessageBoxEveryTimeAndKeepsRecord) {
    vt::win32::MessageBoxSpy spy(GetModuleHandleA("Vesk_RD.dll"));
    ASSERT_TRUE(spy.attached()) << "Vesk_RD.dll does not import MessageBoxA";
    SetLastErrMsg(55, "earlier");
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -1);
    EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -1);
    ASSERT_EQ(spy.notices().size(), 2u);
    for (const vt::win32::Notice &n : spy.notices()) {
        EXPECT_FALSE(n.has_owner);
        EXPECT_EQ(n.text, vt::gbk("动态库加载失败!"));
        EXPECT_EQ(n.caption, vt::executable_path());
        EXPECT_EQ(n.flags, static_cast<unsigned>(MB_OK | MB_ICONEXCLAMATION));
    }
    const vt::Record r = vt::last_error();
    EXPECT_EQ(r.code, 55);
    EXPECT_EQ(r.text, "earlier");
}

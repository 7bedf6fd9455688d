// Without a reader library, connect tells the user on stderr.
#include <gtest/gtest.h>

#include "support/harness.h"

TEST(Connect, WithoutReaderLibraryPrintsNoticeEveryTimeAndKeepsRecord) {
    SetLastErrMsg(55, "earlier");
    const std::string expected = vt::executable_path() + ": 动态库加载失败!\n";
    for (int attempt = 0; attempt < 2; ++attempt) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(Quen_ConnectVelm40(1, 9600), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    }
    const vt::Record r = vt::last_error();
    EXPECT_EQ(r.code, 55);
    EXPECT_EQ(r.text, "earlier");
}

#include <gtest/gtest.h>

extern "C" int c_header_roundtrip(void);

TEST(Header, UsableFromC) { EXPECT_EQ(c_header_roundtrip(), 1); }

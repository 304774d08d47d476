#include <gtest/gtest.h>

#include "app/ansi_text.h"

TEST(AnsiTextSmoke, KeepsAscii) { EXPECT_STREQ(AnsiText("abc").c_str(), "abc"); }

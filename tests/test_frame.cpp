#include <gtest/gtest.h>
#include "zufack9/zuf_core.h"
TEST(Frame, Version) { EXPECT_EQ(zufacGetLibVersion()->versionMajor, 5); }

#include <gtest/gtest.h>
#include "compose/line_composer.h"
TEST(Composer, Smoke) { std::string s; bspp::compose("HELLO", false, s, nullptr); EXPECT_EQ(s, "HELL\x1B\x32\r\n\f"); }

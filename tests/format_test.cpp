// Number and field formatting.
#include <gtest/gtest.h>

#include "format/format.h"

TEST(Format, DecimalPlain)
{
    char b[21];
    EXPECT_STREQ(format_decimal(0, b), "0");
    EXPECT_STREQ(format_decimal64(18446744073709551615ull, b), "18446744073709551615");
}

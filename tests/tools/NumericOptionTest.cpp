#include <gtest/gtest.h>

#include <cstdint>

#include "tools/tarnwick/NumericOption.hpp"

using tarnwick::cli::parseDecimal;

TEST(NumericOption, DecimalDigitsWithinTheRangeOnly) {
    EXPECT_EQ(parseDecimal("0", 0, 10), 0u);
    EXPECT_EQ(parseDecimal("010", 0, 100), 10u) << "leading zeros are decimal, not octal";
    EXPECT_EQ(parseDecimal("18446744073709551615", 0, UINT64_MAX), UINT64_MAX);
    for (const char* bad : {"", "-1", "+1", " 1", "1 ", "1.0", "1e3", "0x10", "ten", "\xd9\xa1"})
        EXPECT_FALSE(parseDecimal(bad, 0, UINT64_MAX)) << bad;
    EXPECT_FALSE(parseDecimal("18446744073709551616", 0, UINT64_MAX)) << "past 64 bits";
    EXPECT_FALSE(parseDecimal("99999999999999999999", 0, UINT64_MAX));
    EXPECT_FALSE(parseDecimal("11", 0, 10));
    EXPECT_FALSE(parseDecimal("0", 1, 10));
}

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "Tarnwick/play/DecimalText.hpp"

using namespace tarnwick;

namespace {

// Doubles where shortest texts go wrong: powers of two (the gap below is half the gap above),
// their neighbours, subnormals, extremes, and a seeded spread of random bit patterns.
std::vector<double> awkwardDoubles() {
    std::vector<double> values{0.0,
                               0.1,
                               0.3,
                               1.0 / 3,
                               2.0 / 3,
                               5e-324,
                               2.2250738585072014e-308,
                               std::numeric_limits<double>::max(),
                               9007199254740993.0,
                               123456789012345680.0,
                               0.5,
                               1e23,
                               4.35,
                               2.675};
    for (int e = -1074; e <= 1023; e += 7) {
        const double p = std::ldexp(1.0, e);
        values.insert(values.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY)});
    }
    std::mt19937_64 random(2026);
    for (int i = 0; i < 20000; ++i) {
        const double d = std::bit_cast<double>(random());
        if (std::isfinite(d)) values.push_back(d);
    }
    for (int i = 0; i < 5000; ++i)
        values.push_back(std::uniform_real_distribution<double>(-100, 100)(random));
    return values;
}

std::string viaCharconv(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    return std::string(buffer, result.ptr);
}

} // namespace

#if defined(__cpp_lib_to_chars)
TEST(DecimalText, FallbackWritesWhatCharconvWrites) {
    int mismatches = 0;
    for (const double value : awkwardDoubles()) {
        const auto expected = viaCharconv(value);
        const auto actual = decimal_fallback::shortestScientific(value);
        if (actual != expected && ++mismatches <= 5)
            ADD_FAILURE() << std::hexfloat << value << ": " << actual << " instead of " << expected;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(DecimalText, FallbackReadsWhatCharconvReads) {
    for (const double value : awkwardDoubles()) {
        const auto text = viaCharconv(value);
        EXPECT_EQ(decimal_fallback::parse<double>(text), parseDecimal<double>(text)) << text;
        const auto asFloat = parseDecimal<float>(text);
        if (asFloat) {
            EXPECT_EQ(decimal_fallback::parse<float>(text), asFloat) << text;
        }
    }
}
#endif

TEST(DecimalText, ReadingRefusesWhatIsNotAPlainNumber) {
    for (const char* text : {"", " 1", "+1", "1 ", "1e", "abc", "0x10", "1.5e+400"}) {
        EXPECT_FALSE(decimal_fallback::parse<double>(text)) << '"' << text << '"';
        EXPECT_FALSE(parseDecimal<double>(text)) << '"' << text << '"';
    }
    // strtod reads all three; <charconv> reads inf and nan, which rounding refuses as not finite.
    for (const char* text : {"inf", "nan", "0x1p3"})
        EXPECT_FALSE(decimal_fallback::parse<double>(text)) << '"' << text << '"';
    EXPECT_FALSE(decimal_fallback::parse<float>("1e39"));
    EXPECT_EQ(decimal_fallback::parse<double>("-2.5e-01"), -0.25);
    EXPECT_EQ(decimal_fallback::parse<long double>("125e-2"), 1.25L);
}

TEST(DecimalText, ShortestTextsReadBack) {
    for (const double value : awkwardDoubles()) {
        const auto text = shortestScientific(value);
        EXPECT_EQ(parseDecimal<double>(text), value) << text;
    }
    EXPECT_EQ(shortestScientific(0.1), "1e-01");
    EXPECT_EQ(shortestScientific(-1234.5), "-1.2345e+03");
}

#include "core/base/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

namespace zentrowe {
namespace {

TEST(NumberText, FixedDecimalsRoundTheExactValueAndPadAfterTheSign)
{
    struct Case {
        double value;
        int decimals;
        int width;
        const char* text;
    };
    // As the C library writes "%0{width}.{decimals}f": 0.125 and 2.675 are a tie and just below
    // one in binary, so they round to even and down; the header tempo is "%06.2f".
    const Case cases[] = {
        {120, 2, 6, "120.00"},
        {7.5, 2, 6, "007.50"},
        {-1.5, 2, 6, "-01.50"},
        {1234.5, 2, 6, "1234.50"},
        {0.125, 2, 0, "0.12"},
        {2.675, 2, 0, "2.67"},
        {-14, 6, 0, "-14.000000"},
        {0.05, 1, 0, "0.1"},
        {-0.04, 1, 0, "-0.0"},
        {99.95, 1, 0, "100.0"},
        {1e20, 0, 0, "100000000000000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(fixedText(c.value, c.decimals, c.width), c.text);
    }
}

TEST(NumberText, GeneralShortestPaddedAndHexAsTheCLibraryWritesThem)
{
    const std::pair<std::string, const char*> cases[] = {
        {generalText(0.0001, 6), "0.0001"},
        {generalText(0.00001, 6), "1e-05"},
        {generalText(123456789, 6), "1.23457e+08"},
        {generalText(2.5, 6), "2.5"},
        {shortestText(0.75), "0.75"},
        {shortestText(0.1), "0.1"},
        {shortestText(1.0 / 3), "0.3333333333333333"},
        {paddedText(7, 3), "007"},
        {paddedText(-7, 3), "-07"},
        {paddedText(1234, 3), "1234"},
        {hexText(0x1A, 4, true), "001A"},
        {hexText(0xFFFE, 4, true), "FFFE"},
        {hexText(0xBEEF, 8, false), "0000beef"},
    };
    for (const auto& [written, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(written, expected);
    }
}

TEST(NumberText, ParsesOnlyAWholeFiniteDecimalNumber)
{
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"120", 120},           {"-14.5", -14.5},      {"+3", 3},
        {"1e3", 1000},          {".5", 0.5},           {"0.000001", 0.000001},
        {"", std::nullopt},     {"1,5", std::nullopt}, {" 1", std::nullopt},
        {"1 ", std::nullopt},   {"+", std::nullopt},   {"+-1", std::nullopt},
        {"nan", std::nullopt},  {"inf", std::nullopt}, {"1e999", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseDecimal(text), value);
    }
}

// The window runs under the user's locale: where that writes a decimal comma, the text stays.
TEST(NumberText, ADecimalCommaLocaleLeavesTheTextAlone)
{
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr && std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr) {
        GTEST_SKIP() << "no decimal-comma locale installed (scripts/install-deps test generates de_DE and fr_FR)";
    }
    char commaText[16];
    std::snprintf(commaText, sizeof commaText, "%.2f", 120.0);
    const std::string inLocale = commaText;
    const std::string fixed = fixedText(120, 2, 6);
    const auto parsed = parseDecimal("-14.5");
    const auto commaParsed = parseDecimal("-14,5");
    std::setlocale(LC_NUMERIC, before.c_str());
    EXPECT_EQ(inLocale, "120,00");  // the locale is in effect
    EXPECT_EQ(fixed, "120.00");
    EXPECT_EQ(parsed, -14.5);
    EXPECT_EQ(commaParsed, std::nullopt);
}

}  // namespace
}  // namespace zentrowe

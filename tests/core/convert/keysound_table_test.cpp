#include "core/convert/keysound_table.h"

#include <gtest/gtest.h>

namespace zentrowe::convert {
namespace {

TEST(Base36, EncodesTheDocumentedExamples)
{
    struct Case {
        int value;
        std::string code;
    };
    for (const auto& c : std::vector<Case>{{0, "00"}, {1, "01"}, {35, "0Z"}, {36, "10"}, {71, "1Z"}, {1295, "ZZ"}}) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(encodeBase36(c.value), c.code);
        EXPECT_EQ(decodeBase36(c.code), c.value);
    }
}

TEST(Base36, EveryCodeRoundTripsInAnyCase)
{
    for (int value = 0; value <= kLargestCode; ++value) {
        const std::string code = encodeBase36(value);
        ASSERT_EQ(code.size(), 2u);
        EXPECT_EQ(decodeBase36(code), value) << code;
        std::string lower = code;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(decodeBase36(lower), value) << lower;
    }
}

TEST(Base36, DecodeRefusesWhatIsNotTwoBase36Characters)
{
    for (const std::string text : {"", "7", "000", "[0", "0@", "-1", " 1", "1 "}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decodeBase36(text).has_value());
    }
}

TEST(KeysoundTable, KeepsFirstUseOrderAndFindsByIdentity)
{
    KeysoundTable table(10);
    EXPECT_EQ(table.findOrAdd(60, 480, 100, 0), 0u);
    EXPECT_EQ(table.findOrAdd(64, 480, 100, 480), 1u);
    EXPECT_EQ(table.findOrAdd(60, 480, 100, 960), 0u);
    EXPECT_EQ(table.findOrAdd(60, 481, 100, 1000), 2u);
    EXPECT_EQ(table.findOrAdd(60, 480, 101, 1000), 3u);
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[0], (KeysoundEntry{60, 480, "0B", 0, 100}));
    EXPECT_EQ(table[1].code, "0C");
    EXPECT_EQ(table[3].code, "0E");
}

TEST(KeysoundTable, DurationsThatDifferOnlyInHighBitsAreDifferentKeysounds)
{
    // A song can hold notes held for more than 2^48 ticks (a few megabytes of long deltas).
    KeysoundTable table(0);
    const std::int64_t huge = std::int64_t{1} << 48;
    EXPECT_EQ(table.findOrAdd(60, 480, 100, 0), 0u);
    EXPECT_EQ(table.findOrAdd(60, 480 + huge, 100, 0), 1u);
    EXPECT_EQ(table.findOrAdd(60, 480 + 4 * huge, 100, 0), 2u);
    EXPECT_EQ(table.findOrAdd(60, 480 + huge, 100, 0), 1u);
}

TEST(KeysoundTable, RefusesACodePastZZAndStaysUnchanged)
{
    KeysoundTable table(1294);  // "ZY": one code left
    EXPECT_EQ(table.findOrAdd(60, 1, 1, 0), 0u);
    EXPECT_EQ(table[0].code, "ZZ");
    EXPECT_FALSE(table.findOrAdd(61, 1, 1, 0).has_value());
    EXPECT_EQ(table.findOrAdd(60, 1, 1, 5), 0u);
    EXPECT_EQ(table.size(), 1u);
}

TEST(KeysoundStem, NameNoteLengthInSlotsAndVelocity)
{
    struct Case {
        std::string name;
        KeysoundEntry entry;
        std::int32_t ticksPerMeasure;
        std::string stem;
    };
    for (const auto& c : std::vector<Case>{{"A", {60, 480, "01", 0, 100}, 1920, "A60-48-100"},
                                           {"", {60, 480, "01", 0, 100}, 1920, "60-48-100"},
                                           {"Piano", {1, 5, "01", 0, 1}, 1920, "Piano1-0-1"},
                                           {"A", {126, 15, "01", 0, 127}, 1920, "A126-2-127"},
                                           {"A", {60, 25, "01", 0, 90}, 1920, "A60-2-90"},
                                           {"A", {60, 100, "01", 0, 90}, 1920, "A60-10-90"},
                                           {"A", {60, 3840, "01", 0, 90}, 384, "A60-1920-90"}}) {
        SCOPED_TRACE(c.stem);
        EXPECT_EQ(keysoundStem(c.name, c.entry, c.ticksPerMeasure), c.stem);
    }
}

}  // namespace
}  // namespace zentrowe::convert

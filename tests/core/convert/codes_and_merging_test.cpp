// Base-62 codes, keysound merging, and the refusal that says what would fit.

#include <gtest/gtest.h>

#include <set>

#include "convert_test_support.h"

namespace zentrowe::testing {
namespace {

using convert::ConversionSettings;

// `count` keysounds, one note each, 120 ticks long (12 units at division 480), one every 240
// ticks: keysound k is note 30 + k mod 60 at velocity 1 + k / 60.
Bytes distinctKeysounds(int count)
{
    std::vector<TimedEvent> events;
    for (int k = 0; k < count; ++k) {
        const std::int64_t start = 240LL * k;
        events.push_back(on(start, 30 + k % 60, 1 + k / 60));
        events.push_back(off(start + 120, 30 + k % 60));
    }
    return oneTrackSong(events);
}

ConversionSettings base62Settings()
{
    ConversionSettings settings;
    settings.base62 = true;
    return settings;
}

TEST(Base62Codes, CodesRunToLowerCaseZzAfterABaseLine)
{
    const auto chart = chartOf(distinctKeysounds(3843), base62Settings());
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    ASSERT_EQ(chart->keysounds.size(), 3843u);
    EXPECT_EQ(chart->text.rfind("#BASE 62\r\n#LNTYPE 01\r\n", 0), 0u);
    // Digits 0-9 are values 0-9, A-Z 10-35 and a-z 36-61.
    struct Case {
        std::size_t index;
        std::string code;
    };
    for (const auto& c : std::vector<Case>{{0, "01"}, {34, "0Z"}, {35, "0a"}, {60, "0z"}, {61, "10"}, {3842, "zz"}}) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(chart->keysounds[c.index].code, c.code);
    }
    // Code 36 ("0a", keysound 35: note 65) and code 10 ("0A", keysound 9: note 39) are two
    // definitions.
    EXPECT_NE(chart->text.find("#WAV0a A65-12-1.OGG\r\n"), std::string::npos);
    EXPECT_NE(chart->text.find("#WAV0A A39-12-1.OGG\r\n"), std::string::npos);
}

TEST(Base62Codes, StartCodeIsReadInTheSameAlphabet)
{
    const Bytes song = oneTrackSong({on(0, 60), off(10, 60), on(20, 61), off(30, 61)});
    convert::SettingsTexts texts;
    texts.startCode = "0a";
    const auto base36 = convert::parseSettings(texts);
    texts.base62 = true;
    const auto base62 = convert::parseSettings(texts);
    ASSERT_TRUE(base36.ok() && base62.ok());
    const auto in36 = chartOf(song, *base36);
    const auto in62 = chartOf(song, *base62);
    ASSERT_TRUE(in36.ok() && in62.ok());
    EXPECT_EQ(in36->keysounds[0].code, "0B");  // "0a" is 10 in base 36
    EXPECT_EQ(in62->keysounds[0].code, "0b");  // and 36 in base 62
}

TEST(CodesExhausted, RefusalCountsTheKeysoundsAndNamesWhatWouldFit)
{
    {
        SCOPED_TRACE("3844 keysounds in base 62: one too many; velocities a step of 8 apart leave 60 notes x 9");
        const auto chart = chartOf(distinctKeysounds(3844), base62Settings());
        ASSERT_FALSE(chart.ok());
        EXPECT_EQ(chart.error().code, ErrorCode::CodesExhausted);
        EXPECT_EQ(chart.error().number, 3844);
        const std::string& message = chart.error().message;
        EXPECT_NE(message.find("the track has 3844 keysounds"), std::string::npos) << message;
        EXPECT_NE(message.find("up to zz"), std::string::npos) << message;
        EXPECT_NE(message.find("bmson"), std::string::npos) << message;
        EXPECT_EQ(message.find("--codes 62"), std::string::npos) << message;
        EXPECT_NE(message.find("--velocity-step 8 (540 keysounds)"), std::string::npos) << message;
    }
    {
        SCOPED_TRACE("1400 keysounds in base 36 from start code 10: base 62 fits");
        ConversionSettings settings;
        settings.startValue = 36;
        const auto chart = chartOf(distinctKeysounds(1400), settings);
        ASSERT_FALSE(chart.ok());
        const std::string& message = chart.error().message;
        EXPECT_NE(message.find("the track has 1400 keysounds"), std::string::npos) << message;
        EXPECT_NE(message.find("after start code 10 up to ZZ"), std::string::npos) << message;
        EXPECT_NE(message.find("--codes 62"), std::string::npos) << message;
    }
}

TEST(KeysoundMerging, VelocityCurveKeepsOneKeysoundPerStep)
{
    // A crescendo on one key: velocities 20 to 119, each struck once.
    std::vector<TimedEvent> events;
    for (int velocity = 20; velocity < 120; ++velocity) {
        const std::int64_t start = 240LL * (velocity - 20);
        events.push_back(on(start, 60, velocity));
        events.push_back(off(start + 120, 60));
    }
    const Bytes song = oneTrackSong(events);
    ConversionSettings settings;
    settings.merge.velocityStep = 10;
    const auto chart = chartOf(song, settings);
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    // Nearest multiples of 10, ties up: 20-24 -> 20, 25-34 -> 30, ..., 115-119 -> 120.
    ASSERT_EQ(chart->keysounds.size(), 11u);
    EXPECT_EQ(chart->keysounds.mergedAway(), 89u);
    for (std::size_t k = 0; k < 11; ++k) {
        EXPECT_EQ(chart->keysounds[k].velocity, 20 + 10 * k);
    }
    EXPECT_NE(chart->text.find("#WAV0B A60-12-120.OGG\r\n\r\n"), std::string::npos);
    // Velocity 25 (the sixth note, at tick 1200 = slot 120 of measure 0) plays keysound 30.
    EXPECT_NE(chart->text.find(channelLine("000", "14", {{0, "01"}, {24, "01"}, {48, "01"}, {72, "01"}, {96, "01"},
                                                         {120, "02"}, {144, "02"}, {168, "02"}})),
              std::string::npos);

    const auto unmerged = chartOf(song);
    ASSERT_TRUE(unmerged.ok());
    EXPECT_EQ(unmerged->keysounds.size(), 100u);
    EXPECT_EQ(unmerged->keysounds.mergedAway(), 0u);

    SCOPED_TRACE("velocities stay within 1..127 and never round to nothing");
    struct Coarse {
        int step;
        int velocity;
        int merged;
    };
    for (const auto& c : std::vector<Coarse>{
             {50, 3, 12},     // 3 rounds to 0: a quarter step stands for the quiet end
             {50, 127, 127},  // 127 rounds to 150
             {64, 31, 16},    // under half a step
             {64, 32, 64},    // a tie goes up
             {4, 1, 1},       // a quarter of 4 is 1
             {2, 1, 2},       // a tie goes up; a quarter of 2 would be 0
         }) {
        SCOPED_TRACE("velocity " + std::to_string(c.velocity) + " step " + std::to_string(c.step));
        settings.merge.velocityStep = c.step;
        const auto coarse = chartOf(oneTrackSong({on(0, 60, c.velocity), off(10, 60)}), settings);
        ASSERT_TRUE(coarse.ok());
        ASSERT_EQ(coarse->keysounds.size(), 1u);
        EXPECT_EQ(coarse->keysounds[0].velocity, c.merged);
    }
}

TEST(KeysoundMerging, LengthStepMakesTheNameTheIdentity)
{
    struct Case {
        const char* what;
        std::uint16_t division;
        std::vector<std::int64_t> lengths;  // ticks
        std::int64_t step;
        std::vector<std::int64_t> units;    // the keysounds' lengths in 1/192 measure, in order
    };
    for (const auto& c : std::vector<Case>{
             // 10 ticks a unit: 118, 120 and 122 ticks all read 12 units.
             {"three lengths of one name", 480, {118, 120, 122}, 1, {12}},
             // 400-tick measures: 25 and 26 ticks are 12 and 12.48 units.
             {"units of 2.08 ticks", 100, {25, 26, 27}, 1, {12, 13}},
             // 12 -> 12, 13 -> 12, 14 -> 16 (a tie goes up); a 1-tick note takes a quarter step.
             {"step of 4", 480, {120, 130, 140, 1}, 4, {12, 16, 1}},
             // A staccato under half a step stays short: 3 and 20 units take 12, 30 takes 48.
             {"step of 48", 480, {30, 200, 300}, 48, {12, 48}},
         }) {
        SCOPED_TRACE(c.what);
        std::vector<TimedEvent> events;
        std::int64_t time = 0;
        for (const auto length : c.lengths) {
            events.push_back(on(time, 60));
            events.push_back(off(time + length, 60));
            time += 4 * c.division;
        }
        ConversionSettings settings;
        settings.merge.lengthStep = c.step;
        const Bytes song = oneTrackSong(events, c.division);
        const auto chart = chartOf(song, settings);
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        ASSERT_EQ(chart->keysounds.size(), c.units.size());
        EXPECT_EQ(chart->keysounds.mergedAway(), c.lengths.size() - c.units.size());
        const std::int32_t measure = 4 * c.division;
        std::set<std::string> stems;
        for (std::size_t k = 0; k < c.units.size(); ++k) {
            const auto& entry = chart->keysounds[k];
            EXPECT_EQ(convert::keysoundLengthSlots(entry.duration, measure), c.units[k]);
            const auto stem = convert::keysoundStem("A", entry, measure);
            EXPECT_EQ(stem, "A60-" + std::to_string(c.units[k]) + "-100");
            EXPECT_TRUE(stems.insert(stem).second) << stem << " names two keysounds";
        }
    }
    SCOPED_TRACE("percussion keysounds all last 100 ticks: a length step leaves them alone");
    ConversionSettings percussion;
    percussion.percussion = true;
    percussion.merge.lengthStep = 48;
    const auto chart = chartOf(oneTrackSong({on(0, 36), off(7, 36), on(100, 38), off(900, 38)}), percussion);
    ASSERT_TRUE(chart.ok());
    ASSERT_EQ(chart->keysounds.size(), 2u);
    EXPECT_EQ(chart->keysounds[0].duration, 100);
    EXPECT_EQ(chart->keysounds.mergedAway(), 0u);
}

TEST(KeysoundMerging, StepsAreWholeNumbersInRange)
{
    struct Case {
        std::string velocity;
        std::string length;
        std::optional<convert::SettingsField> bad;
    };
    for (const auto& c : std::vector<Case>{{"1", "0", std::nullopt},
                                           {"127", "1000000", std::nullopt},
                                           {"128", "0", convert::SettingsField::VelocityStep},
                                           {"2.5", "0", convert::SettingsField::VelocityStep},
                                           {"", "0", convert::SettingsField::VelocityStep},
                                           {"8", "-1", convert::SettingsField::LengthStep},
                                           {"8", "1000001", convert::SettingsField::LengthStep},
                                           {"8", "4 ", convert::SettingsField::LengthStep}}) {
        SCOPED_TRACE(c.velocity + " / " + c.length);
        convert::SettingsTexts texts;
        texts.velocityStep = c.velocity;
        texts.lengthStep = c.length;
        EXPECT_EQ(convert::firstInvalidField(texts), c.bad);
        const auto settings = convert::parseSettings(texts);
        EXPECT_EQ(settings.ok(), !c.bad);
        if (c.bad) {
            EXPECT_EQ(settings.error().code, ErrorCode::InvalidSetting);
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing

#include "core/convert/settings.h"

#include <gtest/gtest.h>

#include <limits>

namespace zentrowe::convert {
namespace {

TEST(Settings, DefaultsOfTheDialog)
{
    const auto settings = parseSettings(SettingsTexts{});
    ASSERT_TRUE(settings.ok());
    EXPECT_EQ(settings->startValue, 0);
    EXPECT_EQ(settings->keysoundName, "A");
    EXPECT_EQ(settings->longNoteThreshold, 23);
    EXPECT_EQ(settings->keysoundGap, 100);
    EXPECT_FALSE(settings->useCustomTempo);
    EXPECT_EQ(settings->mode(), ConversionMode::Plain);
}

TEST(Settings, ModeFollowsTheTicksWithPercussionFirst)
{
    struct Case {
        bool longNotes;
        bool percussion;
        ConversionMode mode;
    };
    for (const auto& c : std::vector<Case>{{false, false, ConversionMode::Plain},
                                           {true, false, ConversionMode::LongNotes},
                                           {false, true, ConversionMode::Percussion},
                                           {true, true, ConversionMode::Percussion}}) {
        SCOPED_TRACE(std::to_string(c.longNotes) + std::to_string(c.percussion));
        SettingsTexts texts;
        texts.longNotes = c.longNotes;
        texts.percussion = c.percussion;
        const auto settings = parseSettings(texts);
        ASSERT_TRUE(settings.ok());
        EXPECT_EQ(settings->mode(), c.mode);
    }
}

TEST(Settings, StartCodeIsExactlyTwoBase36Characters)
{
    struct Case {
        std::string text;
        std::optional<int> value;
    };
    for (const auto& c : std::vector<Case>{{"00", 0},     {"0A", 10},         {"0a", 10},          {"1z", 71},
                                           {"ZY", 1294},  {"ZZ", 1295},       {"0", std::nullopt}, {"000", std::nullopt},
                                           {"", std::nullopt}, {"0-", std::nullopt}, {" 1", std::nullopt},
                                           {"[0", std::nullopt}, {"\xE4\xB8", std::nullopt}}) {
        SCOPED_TRACE(c.text);
        SettingsTexts texts;
        texts.startCode = c.text;
        const auto settings = parseSettings(texts);
        ASSERT_EQ(settings.ok(), c.value.has_value());
        if (c.value) {
            EXPECT_EQ(settings->startValue, *c.value);
        } else {
            EXPECT_EQ(settings.error().code, ErrorCode::InvalidSetting);
            EXPECT_NE(settings.error().message.find("start code"), std::string::npos);
            EXPECT_EQ(firstInvalidField(texts), SettingsField::StartCode);
        }
    }
}

TEST(Settings, NumberBoxesRoundTheExactDecimalHalfToEven)
{
    struct Case {
        std::string text;
        std::optional<std::int32_t> gap;
    };
    for (const auto& c : std::vector<Case>{
             {"100", 100}, {"+7", 7}, {"0", 0}, {"-0", 0}, {"2.5", 2}, {"3.5", 4}, {"2.51", 3}, {"2.4999", 2},
             {".5", 0}, {"1.5", 2}, {"5.", 5}, {"0.50000000000000000001", 1}, {"99999999999", std::nullopt},
             // a gap is a delta time of the keysound MIDI file: four bytes of seven bits at most
             {"268435455", 268435455}, {"268435455.4", 268435455}, {"268435455.5", std::nullopt},
             {"268435456", std::nullopt}, {"2147483647", std::nullopt},
             {"-1", std::nullopt}, {"-0.5", 0}, {"-0.6", std::nullopt}, {"", std::nullopt}, {".", std::nullopt},
             {" 1", std::nullopt}, {"1 ", std::nullopt}, {"1e2", std::nullopt}, {"0x10", std::nullopt},
             {"1,5", std::nullopt}, {"+-1", std::nullopt}, {"1.2.3", std::nullopt}}) {
        SCOPED_TRACE(c.text);
        SettingsTexts texts;
        texts.gap = c.text;
        const auto settings = parseSettings(texts);
        ASSERT_EQ(settings.ok(), c.gap.has_value());
        if (c.gap) {
            EXPECT_EQ(settings->keysoundGap, *c.gap);
        } else {
            EXPECT_EQ(firstInvalidField(texts), SettingsField::Gap);
            EXPECT_NE(settings.error().message.find("gap"), std::string::npos);
        }
    }
}

TEST(Settings, LongNoteThresholdIsTheMinimumLessOne)
{
    struct Case {
        std::string text;
        std::optional<std::int32_t> threshold;
    };
    for (const auto& c : std::vector<Case>{{"24", 23}, {"1", 0}, {"0", -1}, {"-5", -6}, {"23.5", 23}, {"24.5", 23},
                                           {"-2147483648", std::nullopt}, {"-2147483647", -2147483647 - 1},
                                           {"abc", std::nullopt}}) {
        SCOPED_TRACE(c.text);
        SettingsTexts texts;
        texts.longNoteMinimum = c.text;
        const auto settings = parseSettings(texts);
        ASSERT_EQ(settings.ok(), c.threshold.has_value());
        if (c.threshold) {
            EXPECT_EQ(settings->longNoteThreshold, *c.threshold);
        } else {
            EXPECT_EQ(firstInvalidField(texts), SettingsField::LongNoteMinimum);
        }
    }
}

TEST(Settings, CustomTempoMustFitASetTempoEvent)
{
    struct Case {
        std::string text;
        std::optional<std::int32_t> micros;
    };
    for (const auto& c : std::vector<Case>{{"120", 500000}, {"140", 428571}, {"60", 1000000}, {"+90.5", 662983},
                                           {"3.6", 16666667}, {"3.5", std::nullopt},
                                           {"60000000", 1}, {"119999999", 1}, {"120000000", std::nullopt},
                                           {"0", std::nullopt}, {"-120", std::nullopt}, {"", std::nullopt},
                                           {"1e2", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt}}) {
        SCOPED_TRACE(c.text);
        SettingsTexts texts;
        texts.useCustomTempo = true;
        texts.tempo = c.text;
        const auto settings = parseSettings(texts);
        ASSERT_EQ(settings.ok(), c.micros.has_value());
        if (c.micros) {
            EXPECT_EQ(settings->customTempo, *c.micros);
        } else {
            EXPECT_EQ(firstInvalidField(texts), SettingsField::Tempo);
        }
    }
}

TEST(Settings, UntickedCustomTempoKeepsThePreviousValueAndIgnoresTheBox)
{
    SettingsTexts texts;
    texts.useCustomTempo = true;
    texts.tempo = "120";
    const auto first = parseSettings(texts);
    ASSERT_TRUE(first.ok());
    texts.useCustomTempo = false;
    texts.tempo = "not a number";
    const auto second = parseSettings(texts, *first);
    ASSERT_TRUE(second.ok());
    EXPECT_FALSE(second->useCustomTempo);
    EXPECT_EQ(second->customTempo, 500000);
}

TEST(Settings, KeysoundNameIsPrintableAsciiWithoutPathCharacters)
{
    struct Case {
        std::string text;
        bool accepted;
    };
    for (const auto& c : std::vector<Case>{{"A", true}, {"", true}, {"piano 1_(soft)", true}, {"~!@#$%^&", true},
                                           {"...", true}, {".", false}, {"..", false}, {"a/b", false},
                                           {"a\\b", false}, {"a:b", false}, {"a*", false}, {"a?", false},
                                           {"\"a\"", false}, {"<a>", false}, {"a|b", false}, {"\xE9\x92\xA2", false},
                                           {"tab\there", false}, {std::string("nul\0x", 5), false}}) {
        SCOPED_TRACE(c.text);
        SettingsTexts texts;
        texts.keysoundName = c.text;
        const auto settings = parseSettings(texts);
        EXPECT_EQ(settings.ok(), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(firstInvalidField(texts), SettingsField::KeysoundName);
        }
    }
}

}  // namespace
}  // namespace zentrowe::convert

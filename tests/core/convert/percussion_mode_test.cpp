#include <gtest/gtest.h>

#include "convert_test_support.h"

namespace zentrowe::testing {
namespace {

using convert::ConversionSettings;

constexpr std::int64_t kMeasure = 1920;  // at 480 ticks per quarter

ConversionSettings percussion()
{
    ConversionSettings settings;
    settings.percussion = true;
    settings.longNotes = true;  // percussion wins
    return settings;
}

TEST(PercussionChart, StrikesAreToldApartByNoteAndVelocityOnly)
{
    const auto chart = chartOf(oneTrackSong({on(0, 36), off(50, 36), on(480, 36), on(960, 36, 90), off(1400, 36),
                                             on(1440, 38)}),
                               percussion());
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(chart->keysounds.entries(),
              (std::vector<convert::KeysoundEntry>{{36, 100, "01", 0, 100}, {36, 100, "02", 960, 90},
                                                   {38, 100, "03", 1440, 100}}));
    // 100 ticks of a 1920-tick measure are 10 slots.
    EXPECT_NE(chart->text.find("#WAV01 A36-10-100.OGG\r\n#WAV02 A36-10-90.OGG\r\n#WAV03 A38-10-100.OGG\r\n"),
              std::string::npos);
    // 36 and 38: lanes 2 and 4; the strike struck again while sounding is charted too.
    EXPECT_EQ(channelLinesOf(chart->text),
              sevenLines("000", {{"11", {{0, "01"}, {48, "01"}, {96, "02"}}}, {"13", {{144, "03"}}}}) +
                  kTempoLine000);
}

TEST(PercussionChart, EdgeCases)
{
    struct Case {
        std::string name;
        std::vector<TimedEvent> events;
        std::string lines;
    };
    std::vector<TimedEvent> eight;
    for (int note = 35; note <= 42; ++note) {
        eight.push_back(on(0, note));
    }
    const std::vector<Case> cases{
        {"note-ons of velocity 0 strike nothing", {on(0, 36, 0), on(480, 38, 0)}, sevenLines("000")},
        {"the later of two strikes in one lane goes to the highest free lane",
         {on(0, 36), on(0, 43)},
         sevenLines("000", {{"11", {{0, "01"}}}, {"18", {{0, "02"}}}})},
        {"eight simultaneous strikes: the eighth plays from the background channel",
         eight,
         sevenLines("000", {{"16", {{0, "01"}}}, {"11", {{0, "02"}}}, {"12", {{0, "03"}}}, {"13", {{0, "04"}}},
                            {"14", {{0, "05"}}}, {"15", {{0, "06"}}}, {"18", {{0, "07"}}}}) +
             channelLine("000", "01", {{0, "08"}}, true)},
        {"strikes in later measures flush the earlier ones once",
         {on(0, 36), on(kMeasure, 36), on(3 * kMeasure, 36)},
         channelLine("000", "11", {{0, "01"}}) + channelLine("001", "11", {{0, "01"}}) +
             sevenLines("003", {{"11", {{0, "01"}}}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto chart = chartOf(oneTrackSong(c.events), percussion());
        ASSERT_TRUE(chart.ok());
        EXPECT_EQ(channelLinesOf(chart->text), c.lines + kTempoLine000);
    }
}

}  // namespace
}  // namespace zentrowe::testing

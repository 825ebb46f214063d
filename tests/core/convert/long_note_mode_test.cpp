#include <gtest/gtest.h>

#include "convert_test_support.h"

namespace zentrowe::testing {
namespace {

using convert::ConversionSettings;

// At 480 ticks per quarter a measure is 1920 ticks and a slot 10.
constexpr std::int64_t kSlot = 10;
constexpr std::int64_t kMeasure = 1920;

ConversionSettings longNotes(std::int32_t threshold = 23)
{
    ConversionSettings settings;
    settings.longNotes = true;
    settings.longNoteThreshold = threshold;
    return settings;
}

std::string linesOf(const std::vector<TimedEvent>& events, const ConversionSettings& settings = longNotes())
{
    const auto chart = chartOf(oneTrackSong(events), settings);
    EXPECT_TRUE(chart.ok()) << (chart.ok() ? "" : chart.error().message);
    return chart.ok() ? channelLinesOf(chart->text) : std::string();
}

TEST(LongNoteChart, EdgeCasesOfPlacement)
{
    struct Case {
        std::string name;
        std::vector<TimedEvent> events;
        std::string lines;
        std::int32_t threshold = 23;
    };
    const std::vector<Case> cases{
        {"held 22 slots is a normal note",
         {on(0, 60), off(22 * kSlot, 60)},
         fourteenLines("000", {{"14", {{0, "01"}}}}) + kTempoLine000},
        {"held 23 slots is a long note",
         {on(0, 60), off(23 * kSlot, 60)},
         fourteenLines("000", {{"54", {{0, "01"}, {23, "01"}}}}) + kTempoLine000},
        {"start at slot 150 of measure 3 held 40 ends in the same line",
         {on(3 * kMeasure + 150 * kSlot, 60), off(3 * kMeasure + 190 * kSlot, 60)},
         fourteenLines("003", {{"54", {{150, "01"}, {190, "01"}}}}) + kTempoLine000},
        {"held 100 from slot 150 ends at slot 58 of the next measure, written at once",
         {on(3 * kMeasure + 150 * kSlot, 60), off(3 * kMeasure + 250 * kSlot, 60)},
         channelLine("004", "54", {{58, "01"}}, true) + fourteenLines("003", {{"54", {{150, "01"}}}}) +
             kTempoLine000},
        {"held exactly to the bar line ends at slot 0 of the next measure",
         {on(96 * kSlot, 60), off(kMeasure, 60)},
         channelLine("001", "54", {{0, "01"}}, true) + fourteenLines("000", {{"54", {{96, "01"}}}}) + kTempoLine000},
        {"held across several measures",
         {on(96 * kSlot, 60), off(596 * kSlot, 60)},
         channelLine("003", "54", {{20, "01"}}, true) + fourteenLines("000", {{"54", {{96, "01"}}}}) +
             kTempoLine000},
        {"threshold 0: a note held one slot is long",
         {on(0, 60), off(kSlot, 60)},
         fourteenLines("000", {{"54", {{0, "01"}, {1, "01"}}}}) + kTempoLine000, 0},
        {"threshold 0: a note held 0 slots stays a normal note",
         {on(0, 60), off(kSlot - 1, 60)},
         fourteenLines("000", {{"14", {{0, "01"}}}}) + kTempoLine000, 0},
        {"negative threshold: a note held 0 slots stays a normal note",
         {on(0, 60), off(0, 60)},
         fourteenLines("000", {{"14", {{0, "01"}}}}) + kTempoLine000, -5},
        {"overlapping notes of one lane: the later end goes to the highest free lane",
         {on(0, 60), on(24 * kSlot, 67), off(48 * kSlot, 67), off(96 * kSlot, 60)},
         fourteenLines("000", {{"54", {{24, "01"}, {48, "01"}}}, {"58", {{0, "02"}, {96, "02"}}}}) + kTempoLine000},
        {"a note starting where the last one of its lane ends is moved",
         {on(0, 60), off(10 * kSlot, 60), on(10 * kSlot, 67), off(20 * kSlot, 67)},
         fourteenLines("000", {{"14", {{0, "01"}}}, {"18", {{10, "02"}}}}) + kTempoLine000},
        {"a long note whose slot holds a short note of its lane is moved",
         {on(0, 60), on(5, 67), off(9 * kSlot, 67), off(48 * kSlot, 60)},
         fourteenLines("000", {{"14", {{0, "01"}}}, {"58", {{0, "02"}, {48, "02"}}}}) + kTempoLine000},
        {"a flushed measure with only long-note lines has no empty line unless 58 is among them",
         {on(0, 60), off(30 * kSlot, 60), on(kMeasure, 61), off(kMeasure + 30 * kSlot, 61)},
         channelLine("000", "54", {{0, "01"}, {30, "01"}}) +
             fourteenLines("001", {{"55", {{0, "02"}, {30, "02"}}}}) + kTempoLine000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(linesOf(c.events, longNotes(c.threshold)), c.lines);
    }
}

TEST(LongNoteChart, NoteWithoutAFreeLanePlaysFromTheBackgroundChannel)
{
    // Eight notes held together: seven fill the lanes, the eighth finds none free and plays
    // from the background channel as a single code at its start, long or not.
    std::vector<TimedEvent> events;
    for (int note = 60; note <= 67; ++note) {
        events.push_back(on(0, note));
    }
    for (int note = 60; note <= 67; ++note) {
        events.push_back(off(96 * kSlot, note));
    }
    auto at = [](const std::vector<int>& slots, const std::string& code) {
        std::map<int, std::string> codes;
        for (const int slot : slots) {
            codes[slot] = code;
        }
        return codes;
    };
    struct Case {
        std::string name;
        std::int32_t threshold;
        std::vector<std::string> channels;
        std::vector<int> slots;
    };
    for (const auto& c : std::vector<Case>{
             {"long notes", 23, {"54", "55", "58", "56", "51", "52", "53"}, {0, 96}},
             {"normal notes", 200, {"14", "15", "18", "16", "11", "12", "13"}, {0}}}) {
        SCOPED_TRACE(c.name);
        std::map<std::string, std::map<int, std::string>> codes;
        for (std::size_t k = 0; k < c.channels.size(); ++k) {
            codes[c.channels[k]] = at(c.slots, "0" + std::to_string(k + 1));
        }
        EXPECT_EQ(linesOf(events, longNotes(c.threshold)),
                  channelLine("000", "01", {{0, "08"}}, true) + fourteenLines("000", codes) + kTempoLine000);
    }
}

TEST(LongNoteChart, MeasureCollectedAgainKeepsItsWrittenSlotsAndLongEnds)
{
    // 67 (lane 5) ends first; 61 in measure 1 flushes measure 0; 60 (lane 5 too) ends two
    // measures later and restarts measure 0: its own lane's slot is in the chart already.
    EXPECT_EQ(linesOf({on(0, 60), on(0, 67), off(10 * kSlot, 67), on(kMeasure, 61), off(kMeasure + 10 * kSlot, 61),
                       off(2 * kMeasure, 60)}),
              channelLine("000", "14", {{0, "01"}}) + channelLine("001", "15", {{0, "02"}}) +
                  channelLine("002", "58", {{0, "03"}}, true) + fourteenLines("000", {{"58", {{0, "03"}}}}) +
                  kTempoLine000);

    // A late end marker written for measure 1 keeps its slot when measure 1 is collected: 60
    // (lane 5) struck at the slot where 67's end marker lies moves to the highest free lane.
    EXPECT_EQ(linesOf({on(0, 67), off(kMeasure + 20 * kSlot, 67), on(kMeasure + 20 * kSlot + 5, 60),
                       off(kMeasure + 25 * kSlot, 60)}),
              channelLine("001", "54", {{20, "01"}}, true) + channelLine("000", "54", {{0, "01"}}) + fourteenLines("001", {{"18", {{20, "02"}}}}) +
                  kTempoLine000);
}

TEST(LongNoteChart, LongNoteEndPastMeasure999RefusesTheConversion)
{
    const auto chart = chartOf(oneTrackSong({on(999 * kMeasure, 60), off(1000 * kMeasure, 60)}), longNotes());
    ASSERT_FALSE(chart.ok());
    EXPECT_EQ(chart.error().code, ErrorCode::MeasureOutOfRange);
}

TEST(LongNoteChart, PairsNotesPerChannelOldestFirst)
{
    // A doubled note-off must not make a second, zero-length note.
    EXPECT_EQ(linesOf({on(0, 60), off(30 * kSlot, 60), off(30 * kSlot, 60)}),
              fourteenLines("000", {{"54", {{0, "01"}, {30, "01"}}}}) + kTempoLine000);
}

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
         channelLine("000", "01", {{0, "08"}}, true) +
             sevenLines("000", {{"16", {{0, "01"}}}, {"11", {{0, "02"}}}, {"12", {{0, "03"}}}, {"13", {{0, "04"}}},
                                {"14", {{0, "05"}}}, {"15", {{0, "06"}}}, {"18", {{0, "07"}}}})},
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

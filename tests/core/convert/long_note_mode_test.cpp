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
    // from the background channel as a single code at its start, long or not, on a line after
    // the measure's lane lines.
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
                  fourteenLines("000", codes) + channelLine("000", "01", {{0, "08"}}, true) + kTempoLine000);
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

TEST(LongNoteChart, NotesStillSoundingEndWithTheTrack)
{
    // 62 ends at slot 30, where the track ends; 60 struck at 0 and 64 struck at slot 30 are still
    // sounding: 60 becomes a long note to slot 30, 64 a note of length 0, a normal note.
    const auto chart = chartOf(oneTrackSong({on(0, 60), on(0, 62), off(30 * kSlot, 62), on(30 * kSlot, 64)}),
                               longNotes());
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(chart->keysounds.entries(),
              (std::vector<convert::KeysoundEntry>{
                  {62, 30 * kSlot, "01", 0, 100}, {60, 30 * kSlot, "02", 0, 100}, {64, 0, "03", 30 * kSlot, 100}}));
    EXPECT_EQ(channelLinesOf(chart->text),
              fourteenLines("000", {{"11", {{30, "03"}}}, {"54", {{0, "02"}, {30, "02"}}}, {"58", {{0, "01"}, {30, "01"}}}}) +
                  kTempoLine000);
}

TEST(LongNoteChart, TempoChangesAfterTheLastLongNoteEndAreLeftOut)
{
    // 60 held from measure 0 to measure 2; tempo changes at measure 1 (while it sounds), at its
    // end and one tick later.
    Bytes track = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0x90, 60, 100});
    for (const auto& change : {bytes({0x8F, 0x00, 0xFF, 0x51, 0x03, 0x06, 0x1A, 0x80}),     // 1920: 400000
                               bytes({0x8F, 0x00, 0xFF, 0x51, 0x03, 0x04, 0x93, 0xE0}),     // 3840: 300000
                               bytes({0x00, 0x80, 60, 0}),
                               bytes({0x01, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90})}) {        // 3841: 250000
        append(track, change);
    }
    append(track, kEndOfTrack);
    const auto chart = chartOf(midiFile(0, 480, {track}), longNotes());
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    EXPECT_TRUE(chart->text.starts_with(
        "#LNTYPE 01\r\n\r\n\r\n#BPM01 120.00\r\n#BPM02 150.00\r\n#BPM03 200.00\r\n\r\n\r\n"));
    EXPECT_EQ(channelLinesOf(chart->text), channelLine("002", "54", {{0, "01"}}, true) +
                                               fourteenLines("000", {{"54", {{0, "01"}}}}) + kTempoLine000 +
                                               channelLine("001", "08", {{0, "02"}}, true) +
                                               channelLine("002", "08", {{0, "03"}}, true));
}

}  // namespace
}  // namespace zentrowe::testing

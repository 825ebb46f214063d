#include "core/convert/chart_generator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <tuple>

#include "core/base/file_reading.h"
#include "core/chart/bms_writer.h"
#include "core/convert/exact_chart.h"
#include "core/song/part_notes.h"

#include "convert_test_support.h"

namespace zentrowe::testing {
namespace {

using convert::ConversionSettings;

const std::string kHeader120 = "#LNTYPE 01\r\n\r\n\r\n#BPM01 120.00\r\n\r\n\r\n";

TEST(PlainChart, WorkedExampleByteForByte)
{
    const Bytes song = oneTrackSong({
        on(0, 60),
        off(480, 60),
        on(480, 64),
        off(960, 64),
        on(960, 60),
        off(1440, 60),
        on(1920, 67, 90),
        off(2400, 67),
    });
    const auto chart = chartOf(song);
    ASSERT_TRUE(chart.ok()) << chart.error().message;

    const std::string expected =
        kHeader120 + "#WAV01 A60-48-100.OGG\r\n#WAV02 A64-48-100.OGG\r\n#WAV03 A67-48-90.OGG\r\n\r\n\r\n" +
        channelLine("000", "11", {{48, "02"}}) + channelLine("000", "14", {{0, "01"}, {96, "01"}}) +
        sevenLines("001", {{"14", {{0, "03"}}}}) + kTempoLine000 + "\r\n";
    EXPECT_EQ(chart->text, expected);
    ASSERT_EQ(chart->keysounds.size(), 3u);
    EXPECT_EQ(chart->keysounds[2], (convert::KeysoundEntry{67, 480, "03", 1920, 90}));
}

TEST(PlainChart, LaneAndSlotFollowNoteNumberAndStartTick)
{
    struct Case {
        int note;
        std::int64_t start;
        std::string measure;
        std::string channel;
        int slot;
    };
    for (const auto& c : std::vector<Case>{
             {60, 0, "000", "14", 0},
             {56, 0, "000", "16", 0},
             {63, 0, "000", "16", 0},
             {70, 0, "000", "16", 0},
             {57, 10, "000", "11", 1},
             {62, 1930, "001", "18", 1},
             {61, 1919, "000", "15", 191},
             {59, 960, "000", "13", 96},
             {58, 960, "000", "12", 96},
         }) {
        SCOPED_TRACE("note " + std::to_string(c.note) + " at " + std::to_string(c.start));
        const auto chart = chartOf(oneTrackSong({on(c.start, c.note), off(c.start + 100, c.note)}));
        ASSERT_TRUE(chart.ok());
        EXPECT_NE(chart->text.find(channelLine(c.measure, c.channel, {{c.slot, "01"}})), std::string::npos);
    }
}

TEST(PlainChart, ChordInOneLaneTakesTheHighestFreeLanes)
{
    // 57, 64 and 71 all fall into lane 2 ("11").
    const auto chart =
        chartOf(oneTrackSong({on(0, 57), on(0, 64), on(0, 71), off(480, 57), off(480, 64), off(480, 71)}));
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(channelLinesOf(chart->text),
              sevenLines("000", {{"11", {{0, "01"}}}, {"18", {{0, "02"}}}, {"15", {{0, "03"}}}}) + kTempoLine000);
}

TEST(PlainChart, NotesWithoutAFreeLanePackIntoTheMeasuresBackgroundLines)
{
    // Nine notes at slot 0 and eight at slot 1 of measure 0, then one note in measure 1.
    std::vector<TimedEvent> events;
    for (int note = 60; note <= 68; ++note) {
        events.push_back(on(0, note));
    }
    for (int note = 70; note <= 77; ++note) {
        events.push_back(on(10, note));
    }
    for (int note = 60; note <= 68; ++note) {
        events.push_back(off(480, note));
    }
    for (int note = 70; note <= 77; ++note) {
        events.push_back(off(490, note));
    }
    events.push_back(on(1920, 60));
    events.push_back(off(2400, 60));
    const auto chart = chartOf(oneTrackSong(events));
    ASSERT_TRUE(chart.ok());
    // 60..66 fill lanes 5, 6, 7, 1, 2, 3, 4 at slot 0, 67 and 68 find none free: the first and a
    // second background line. 70..76 fill lanes 1 to 7 at slot 1; 77 goes to the first background
    // line, whose slot 1 is free. The background lines follow their measure's lane lines.
    EXPECT_EQ(channelLinesOf(chart->text), sevenLines("000", {{"14", {{0, "01"}, {1, "0E"}}},
                                                              {"15", {{0, "02"}, {1, "0F"}}},
                                                              {"18", {{0, "03"}, {1, "0G"}}},
                                                              {"16", {{0, "04"}, {1, "0A"}}},
                                                              {"11", {{0, "05"}, {1, "0B"}}},
                                                              {"12", {{0, "06"}, {1, "0C"}}},
                                                              {"13", {{0, "07"}, {1, "0D"}}}}) +
                                               channelLine("000", "01", {{0, "08"}, {1, "0H"}}, true) +
                                               channelLine("000", "01", {{0, "09"}}, true) +
                                               sevenLines("001", {{"14", {{0, "01"}}}}) + kTempoLine000);
    EXPECT_EQ(chart->keysounds.size(), 17u);
}

TEST(PlainChart, NoteStartsAndEndsPairPerChannelAndNoteOldestFirst)
{
    struct Case {
        std::string name;
        std::vector<TimedEvent> events;
        std::vector<convert::KeysoundEntry> keysounds;
        std::string lines;
    };
    const std::vector<Case> cases{
        {"a doubled note-off ends the note once",
         {on(0, 60), off(480, 60), off(480, 60)},
         {{60, 480, "01", 0, 100}},
         sevenLines("000", {{"14", {{0, "01"}}}})},
        {"a key struck again while it sounds keeps both strokes",
         {on(0, 60), on(240, 60), off(480, 60), off(720, 60)},
         {{60, 480, "01", 0, 100}},
         sevenLines("000", {{"14", {{0, "01"}, {24, "01"}}}})},
        {"the same note on two channels pairs within each channel",
         {on(0, 60, 100, 0), on(240, 60, 90, 1), off(480, 60, 1), off(960, 60, 0)},
         {{60, 240, "01", 240, 90}, {60, 960, "02", 0, 100}},
         sevenLines("000", {{"14", {{24, "01"}, {0, "02"}}}})},
        {"an end with nothing pending makes no note; a start at the track's last event lasts 0 ticks",
         {off(0, 61), on(0, 60), off(480, 60), on(960, 62)},
         {{60, 480, "01", 0, 100}, {62, 0, "02", 960, 100}},
         sevenLines("000", {{"14", {{0, "01"}}}, {"18", {{96, "02"}}}})},
        {"a Note On of velocity 0 ends the note",
         {on(0, 60), on(480, 60, 0)},
         {{60, 480, "01", 0, 100}},
         sevenLines("000", {{"14", {{0, "01"}}}})},
        {"notes 0 and 127 are never charted",
         {on(0, 0), on(0, 127), off(480, 0), off(480, 127)},
         {},
         sevenLines("000")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto chart = chartOf(oneTrackSong(c.events));
        ASSERT_TRUE(chart.ok());
        EXPECT_EQ(chart->keysounds.entries(), c.keysounds);
        EXPECT_EQ(channelLinesOf(chart->text), c.lines + kTempoLine000);
    }
}

TEST(PlainChart, KeysoundIdentityIsNoteDurationAndVelocity)
{
    const auto chart = chartOf(oneTrackSong({
        on(0, 60), off(480, 60),          // 01
        on(1920, 60), off(2400, 60),      // same: 01
        on(3840, 60, 99), off(4320, 60),  // other velocity: 02
        on(5760, 60), off(6241, 60),      // one tick longer: 03
    }));
    ASSERT_TRUE(chart.ok());
    ASSERT_EQ(chart->keysounds.size(), 3u);
    EXPECT_EQ(chart->keysounds[1].velocity, 99);
    EXPECT_EQ(chart->keysounds[2].duration, 481);
    EXPECT_NE(chart->text.find(channelLine("001", "14", {{0, "01"}})), std::string::npos);
}

TEST(PlainChart, CodesCountOnFromTheStartCode)
{
    const Bytes song = oneTrackSong({on(0, 60), off(10, 60), on(0 + 20, 61), off(30, 61), on(40, 62), off(50, 62)});
    struct Case {
        int startValue;
        std::vector<std::string> codes;
    };
    for (const auto& c :
         std::vector<Case>{{0, {"01", "02", "03"}}, {10, {"0B", "0C", "0D"}}, {1292, {"ZX", "ZY", "ZZ"}}}) {
        SCOPED_TRACE(c.startValue);
        ConversionSettings settings;
        settings.startValue = c.startValue;
        const auto chart = chartOf(song, settings);
        ASSERT_TRUE(chart.ok());
        ASSERT_EQ(chart->keysounds.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(chart->keysounds[i].code, c.codes[i]);
        }
    }
}

TEST(PlainChart, KeysoundCodesPastZZRefuseTheConversion)
{
    ConversionSettings settings;
    settings.startValue = 1293;  // "ZX": room for two keysounds
    const auto chart =
        chartOf(oneTrackSong({on(0, 60), off(10, 60), on(20, 61), off(30, 61), on(40, 62), off(50, 62)}), settings);
    ASSERT_FALSE(chart.ok());
    EXPECT_EQ(chart.error().code, ErrorCode::CodesExhausted);
    EXPECT_NE(chart.error().message.find("ZX"), std::string::npos);
}

Bytes tempoEvent(std::uint32_t delta, std::uint32_t micros)
{
    Bytes out = varLen(delta);
    append(out, bytes({0xFF, 0x51, 0x03, static_cast<int>(micros >> 16), static_cast<int>((micros >> 8) & 0xFF),
                       static_cast<int>(micros & 0xFF)}));
    return out;
}

// A note struck and ended at the tick of the event before it: tempo changes up to there count.
const Bytes kNoteHere = bytes({0x00, 0x90, 60, 100, 0x00, 0x80, 60, 0});

TEST(PlainChart, ChartStartsAtTheStandardTempoWhenTheSongSetsNoneAtTickZero)
{
    {
        SCOPED_TRACE("no Set Tempo at all");
        const auto chart = chartOf(oneTrackSong({on(0, 60), off(480, 60)}, 480, 0));
        ASSERT_TRUE(chart.ok());
        EXPECT_EQ(chart->text.substr(0, kHeader120.size()), kHeader120);
        EXPECT_NE(chart->text.find(kTempoLine000), std::string::npos);
    }
    {
        SCOPED_TRACE("first Set Tempo at tick 960");
        Bytes track = tempoEvent(960, 1000000);
        append(track, kNoteHere);
        append(track, kEndOfTrack);
        const auto chart = chartOf(midiFile(0, 480, {track}));
        ASSERT_TRUE(chart.ok());
        EXPECT_TRUE(chart->text.starts_with("#LNTYPE 01\r\n\r\n\r\n#BPM01 120.00\r\n#BPM02 060.00\r\n\r\n\r\n"));
        EXPECT_NE(chart->text.find(kTempoLine000 + channelLine("000", "08", {{96, "02"}}, true)), std::string::npos);
    }
}

TEST(PlainChart, BpmDefinitionsHaveThreeIntegerDigitsAndTwoDecimals)
{
    struct Case {
        std::uint32_t micros;
        std::string bpm;
    };
    for (const auto& c : std::vector<Case>{{1000000, "060.00"},
                                           {461538, "130.00"},
                                           {500000, "120.00"},
                                           {628272, "095.50"},
                                           {6144, "9765.62"},
                                           {250000, "240.00"}}) {
        SCOPED_TRACE(c.micros);
        const auto chart = chartOf(oneTrackSong({}, 480, c.micros));
        ASSERT_TRUE(chart.ok());
        EXPECT_NE(chart->text.find("#BPM01 " + c.bpm + "\r\n"), std::string::npos);
    }
}

TEST(PlainChart, ManyTempoChangesShareCodesByTempo)
{
    // A ramp of 1300 changes over two tempos: more than two-character codes can number one by
    // one, so equal tempos share a code in order of first use.
    Bytes ramp;
    for (int k = 0; k < 1300; ++k) {
        append(ramp, tempoEvent(k == 0 ? 0 : 10, k % 2 == 0 ? 500000 : 400000));
    }
    append(ramp, kNoteHere);
    append(ramp, kEndOfTrack);
    const auto chart = chartOf(midiFile(0, 480, {ramp}));
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    EXPECT_TRUE(chart->text.starts_with("#LNTYPE 01\r\n\r\n\r\n#BPM01 120.00\r\n#BPM02 150.00\r\n\r\n\r\n"));
    EXPECT_NE(chart->text.find(channelLine("000", "08", {{0, "01"}}, true) +
                               channelLine("000", "08", {{1, "02"}}, true) +
                               channelLine("000", "08", {{2, "01"}}, true)),
              std::string::npos);

    Bytes distinct;
    for (int k = 0; k < 1296; ++k) {
        append(distinct, tempoEvent(k == 0 ? 0 : 10, static_cast<std::uint32_t>(400000 + k)));
    }
    append(distinct, kNoteHere);
    append(distinct, kEndOfTrack);
    const auto refused = chartOf(midiFile(0, 480, {distinct}));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::CodesExhausted);
}

TEST(PlainChart, MeasuresPast999RefuseTheConversion)
{
    constexpr std::int64_t kMeasure = 1920;
    {
        SCOPED_TRACE("a note in measure 999 is the last that fits");
        const auto chart = chartOf(oneTrackSong({on(999 * kMeasure, 60), off(999 * kMeasure + 480, 60)}));
        ASSERT_TRUE(chart.ok());
        EXPECT_NE(chart->text.find(channelLine("999", "14", {{0, "01"}})), std::string::npos);
    }
    {
        SCOPED_TRACE("a note in measure 1000");
        const auto chart = chartOf(oneTrackSong({on(1000 * kMeasure, 60), off(1000 * kMeasure + 480, 60)}));
        ASSERT_FALSE(chart.ok());
        EXPECT_EQ(chart.error().code, ErrorCode::MeasureOutOfRange);
    }
}

TEST(PlainChart, TempoChangesAfterTheLastNoteAreLeftOut)
{
    // Tempo changes at the last note's tick (measure 2) and in measures 5 and 1000; the track's
    // one note starts at measure 2 and sounds on past them.
    constexpr int kMeasure = 1920;
    Bytes track = tempoEvent(0, 500000);
    append(track, tempoEvent(2 * kMeasure, 400000));
    append(track, bytes({0x00, 0x90, 60, 100}));
    append(track, tempoEvent(3 * kMeasure, 300000));
    append(track, tempoEvent(995 * kMeasure, 250000));
    append(track, bytes({0x00, 0x80, 60, 0}));
    append(track, kEndOfTrack);
    const auto chart = chartOf(midiFile(0, 480, {track}));
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    EXPECT_TRUE(chart->text.starts_with("#LNTYPE 01\r\n\r\n\r\n#BPM01 120.00\r\n#BPM02 150.00\r\n\r\n\r\n"));
    EXPECT_TRUE(chart->text.ends_with(kTempoLine000 + channelLine("002", "08", {{0, "02"}}, true) + "\r\n"));
}

TEST(PlainChart, MeasureCollectedAgainKeepsSlotsAlreadyWritten)
{
    // 60 and 67 share lane 5. 60 ends first and goes to measure 0; 61 ends in measure 1 and
    // flushes measure 0; 67 then restarts measure 0 from empty buffers, but its slot on lane 5
    // is in the chart already, so it moves to the highest free lane.
    const auto chart =
        chartOf(oneTrackSong({on(0, 60), on(0, 67), off(480, 60), on(1920, 61), off(2400, 61), off(3840, 67)}));
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(channelLinesOf(chart->text), channelLine("000", "14", {{0, "01"}}) +
                                               channelLine("001", "15", {{0, "02"}}) +
                                               sevenLines("000", {{"18", {{0, "03"}}}}) + kTempoLine000);
}

TEST(PlainChart, TrackWithoutNotesWritesSevenEmptyLinesAndTheTempo)
{
    const auto chart = chartOf(oneTrackSong({}));
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(chart->text, kHeader120 + "\r\n\r\n" + sevenLines("000") + kTempoLine000 + "\r\n");
    EXPECT_TRUE(chart->keysounds.empty());
}

TEST(PlainChart, KeysoundLengthIsRoundedToEvenSlots)
{
    struct Case {
        std::int64_t duration;
        std::string wav;
    };
    for (const auto& c :
         std::vector<Case>{{5, "A60-0-100"}, {15, "A60-2-100"}, {25, "A60-2-100"}, {480, "A60-48-100"}}) {
        SCOPED_TRACE(c.duration);
        const auto chart = chartOf(oneTrackSong({on(0, 60), off(c.duration, 60)}));
        ASSERT_TRUE(chart.ok());
        EXPECT_NE(chart->text.find("#WAV01 " + c.wav + ".OGG\r\n"), std::string::npos);
    }
}

TEST(PlainChart, RefusesAMissingTrackAndADivisionOfZero)
{
    const Bytes song = oneTrackSong({on(0, 60), off(480, 60)});
    for (const int track : {0, 2, -1}) {
        SCOPED_TRACE(track);
        const auto chart = chartOf(song, {}, track);
        ASSERT_FALSE(chart.ok());
        EXPECT_EQ(chart.error().code, ErrorCode::TrackOutOfRange);
    }
    const auto chart = chartOf(oneTrackSong({on(0, 60), off(480, 60)}, 0));
    ASSERT_FALSE(chart.ok());
    EXPECT_EQ(chart.error().code, ErrorCode::UnsupportedDivision);
}

TEST(PlainChart, VelocitiesOf0x80AndAboveAreClippedTo127)
{
    // Note On bytes as some writers leave them: velocity 0xCC (204), and a note number of 0x80.
    Bytes track = bytes(
        {0x00, 0x90, 0x3C, 0xCC, 0x83, 0x60, 0x80, 0x3C, 0x40, 0x00, 0x90, 0x80, 0x64, 0x83, 0x60, 0x80, 0x80, 0x40});
    append(track, kEndOfTrack);
    const auto chart = chartOf(midiFile(0, 480, {track}));
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(chart->keysounds.entries(), (std::vector<convert::KeysoundEntry>{{60, 480, "01", 0, 127}}));
    EXPECT_NE(chart->text.find("#WAV01 A60-48-127.OGG\r\n\r\n\r\n"), std::string::npos);
    EXPECT_EQ(channelLinesOf(chart->text), sevenLines("000", {{"14", {{0, "01"}}}}) + kTempoLine000);
}

TEST(PlainChart, NotesStillSoundingEndWithTheTrack)
{
    // A strum with no note-off at all: 60 and 64 struck at 0, the end of track 480 ticks later.
    Bytes track = bytes({0x00, 0x90, 60, 100, 0x00, 0x90, 64, 90, 0x83, 0x60, 0xFF, 0x2F, 0x00});
    const auto chart = chartOf(midiFile(0, 480, {track}));
    ASSERT_TRUE(chart.ok());
    EXPECT_EQ(chart->keysounds.entries(),
              (std::vector<convert::KeysoundEntry>{{60, 480, "01", 0, 100}, {64, 480, "02", 0, 90}}));
    EXPECT_NE(chart->text.find("#WAV01 A60-48-100.OGG\r\n#WAV02 A64-48-90.OGG\r\n"), std::string::npos);
    EXPECT_EQ(channelLinesOf(chart->text),
              sevenLines("000", {{"14", {{0, "01"}}}, {"11", {{0, "02"}}}}) + kTempoLine000);
}

TEST(PlainChart, NoteLasting2To40TicksIsNamedByItsExactLength)
{
    // 60 struck at 0 and ended 4096 of the longest deltas (2^28 - 1) and 4096 ticks later, 2^40
    // ticks: at 1920 ticks a measure that is 2^40 / 10 slots, 109951162777.6, rounded to
    // 109951162778.
    Bytes track = bytes({0x00, 0x90, 60, 100});
    for (int k = 0; k < 4096; ++k) {
        append(track, bytes({0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00}));  // an empty text event
    }
    append(track, bytes({0xA0, 0x00, 0x80, 60, 0}));
    append(track, kEndOfTrack);
    const Bytes song = midiFile(0, 480, {track});
    const auto chart = chartOf(song);
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    EXPECT_NE(chart->text.find("#WAV01 A60-109951162778-100.OGG\r\n"), std::string::npos);
    EXPECT_EQ(chart->keysounds[0].duration, std::int64_t{1} << 40);

    ConversionSettings longNotes;
    longNotes.longNotes = true;
    const auto refused = chartOf(song, longNotes);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::MeasureOutOfRange);
}

TEST(PlainChart, LinesKeepOnlyTheirObjectsAndAreWrittenInBoundedBlocks)
{
    // Notes 56 to 62 (lanes 1 to 7) at the start of each of 999 measures: 6993 lines of 395
    // bytes, far more than one block holds.
    std::vector<TimedEvent> events;
    std::string expected;
    for (int measure = 0; measure < 999; ++measure) {
        for (int note = 56; note <= 62; ++note) {
            events.push_back(on(measure * 1920, note));
        }
        for (int note = 56; note <= 62; ++note) {
            events.push_back(off(measure * 1920 + 480, note));
        }
        std::string digits = std::to_string(measure);
        digits.insert(0, 3 - digits.size(), '0');
        expected += sevenLines(digits, {{"16", {{0, "01"}}},
                                        {"11", {{0, "02"}}},
                                        {"12", {{0, "03"}}},
                                        {"13", {{0, "04"}}},
                                        {"14", {{0, "05"}}},
                                        {"15", {{0, "06"}}},
                                        {"18", {{0, "07"}}}});
    }
    const Bytes song = oneTrackSong(events);
    NullProgress quiet;
    const auto chart = convert::generateChart(song, summaryOf(song), 1, {}, quiet);
    ASSERT_TRUE(chart.ok());
    // One object a note and one for the tempo, not 192 slots a line.
    EXPECT_EQ(chart->chart.objects.size(), 6994U);
    EXPECT_EQ(chart->chart.lines.size(), 6994U);

    std::string text;
    int blocks = 0;
    std::size_t largestBlock = 0;
    const auto written = chart::writeBms(chart->chart, [&](std::string_view block) -> Status {
        text += block;
        ++blocks;
        largestBlock = std::max(largestBlock, block.size());
        return {};
    });
    ASSERT_TRUE(written.ok());
    EXPECT_TRUE(text.ends_with(expected + kTempoLine000 + "\r\n"));
    EXPECT_GE(blocks, 3);
    EXPECT_LE(largestBlock, std::size_t{1} << 20);

    // A full disk after the first block: nothing more is handed over, and the failure is returned.
    int tries = 0;
    const auto refused = chart::writeBms(chart->chart, [&](std::string_view) -> Status {
        if (++tries == 1) {
            return {};
        }
        return Error{ErrorCode::WriteFailed, "song.bms: cannot write: No space left on device"};
    });
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(tries, 2);
}

class StopAtOnce final : public ProgressSink {
public:
    void advance(std::int64_t, std::int64_t) override { }
    bool stopRequested() const override { return true; }
};

TEST(PlainChart, StopsWhenAskedTo)
{
    const Bytes song = oneTrackSong({on(0, 60), off(480, 60)});
    StopAtOnce stop;
    const auto chart = chartOf(song, {}, 1, &stop);
    ASSERT_FALSE(chart.ok());
    EXPECT_EQ(chart.error().code, ErrorCode::Cancelled);
}

}  // namespace
}  // namespace zentrowe::testing

namespace zentrowe::convert {
namespace {

// Track 1 plays note 60 on channel 1 and note 72 on channel 3; track 2 note 48 on channel 2.
// Each keysound remembers the part (its index in the list) and channel its first note came from.
TEST(PartsChart, KeysoundsComeFromTheNamedPartsAndSayWhichPart)
{
    using testing::off;
    using testing::on;
    const auto file =
        testing::midiFile(1, 480,
                          {testing::eventTrack({on(0, 60), on(0, 72, 100, 2), off(480, 60), off(480, 72, 2)}),
                           testing::eventTrack({on(240, 48, 100, 1), off(720, 48, 1)}, 0)});
    const auto song = testing::summaryOf(file);
    struct Case {
        std::vector<song::TrackPart> parts;
        std::vector<std::tuple<int, std::uint16_t, std::uint8_t>> expected;  // note, part, channel index
    };
    const Case cases[] = {
        {{{1, 0}}, {{60, 0, 0}, {72, 0, 2}}},
        {{{1, 3}}, {{72, 0, 2}}},
        {{{2, 0}, {1, 1}}, {{60, 1, 0}, {48, 0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parts.size());
        NullProgress quiet;
        const auto chart = generateChart(file, song, c.parts, ConversionSettings{}, quiet);
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        std::vector<std::tuple<int, std::uint16_t, std::uint8_t>> found;
        for (std::size_t k = 0; k < chart->keysounds.size(); ++k) {
            const auto source = chart->keysounds.source(k);
            found.emplace_back(chart->keysounds[k].note, source.part, source.channel);
        }
        EXPECT_EQ(found, c.expected);
    }
}

TEST(PartsChart, AWholeTrackAsAPartChartsAsTheTrackNumberDoes)
{
    using testing::off;
    using testing::on;
    const auto file = testing::oneTrackSong({on(0, 60), on(100, 64, 90, 3), off(480, 60), off(700, 64, 3)});
    const auto song = testing::summaryOf(file);
    NullProgress quiet;
    const song::TrackPart whole{1, 0};
    const auto byNumber = generateChart(file, song, 1, ConversionSettings{}, quiet);
    const auto byPart =
        generateChart(file, song, std::span<const song::TrackPart>(&whole, 1), ConversionSettings{}, quiet);
    ASSERT_TRUE(byNumber.ok() && byPart.ok());
    EXPECT_EQ(chart::bmsText(byNumber->chart).value(), chart::bmsText(byPart->chart).value());
}

}  // namespace
}  // namespace zentrowe::convert

namespace zentrowe::convert {
namespace {

TEST(PartsChart, RunningOutOfCodesNamesTheParts)
{
    // 40 distinct keysounds, 20 in each track, and 36 codes left after start code "YZ": the
    // refusal counts the keysounds of the parts it names.
    std::vector<testing::TimedEvent> first;
    std::vector<testing::TimedEvent> second;
    for (int k = 0; k < 20; ++k) {
        first.push_back(testing::on(k * 480, 40 + k));
        first.push_back(testing::off(k * 480 + 240, 40 + k));
        second.push_back(testing::on(k * 480, 70 + k, 100, 1));
        second.push_back(testing::off(k * 480 + 240, 70 + k, 1));
    }
    const auto file = testing::midiFile(1, 480, {testing::eventTrack(first), testing::eventTrack(second, 0)});
    ConversionSettings settings;
    settings.startCode = "YZ";
    settings.startValue = 34 * 36 + 35;  // "YZ": codes "Z0" to "ZZ" are left
    const std::vector<song::TrackPart> parts{{2, 2}, {1, 0}};
    NullProgress quiet;
    const auto chart = generateChart(file, testing::summaryOf(file), parts, settings, quiet);
    ASSERT_FALSE(chart.ok());
    EXPECT_EQ(chart.error().code, ErrorCode::CodesExhausted);
    EXPECT_EQ(chart.error().message.rfind("tracks 2:2 and 1 have 40 keysounds, more than the codes", 0), 0u)
        << chart.error().message;
}

}  // namespace
}  // namespace zentrowe::convert

namespace zentrowe::convert {
namespace {

// What a conversion into placed notes gives: each note as placed, then each keysound with its
// source, and the last tick placed.
using PlacedFields = std::tuple<std::vector<std::tuple<std::int64_t, std::optional<int>, std::size_t, std::int64_t>>,
                                std::vector<std::pair<KeysoundEntry, KeysoundSource>>, std::int64_t>;

PlacedFields placedFields(const Result<GeneratedChart>& chart, ExactNoteCollector& placed)
{
    PlacedFields fields;
    for (const PlacedNote& note : placed.notes()) {
        std::get<0>(fields).emplace_back(note.startTick, note.lane, note.keysound, note.heldTicks);
    }
    for (std::size_t k = 0; k < chart->keysounds.size(); ++k) {
        std::get<1>(fields).emplace_back(chart->keysounds[k], chart->keysounds.source(k));
    }
    std::get<2>(fields) = chart->lastPlacedTick;
    return fields;
}

TEST(PlacedNotes, FromNotesReadBeforehandAsFromTheBytesInEveryMode)
{
    const auto demo = std::filesystem::path(ZENTROWE_TEST_DATA) / ".." / ".." / "data" / "demo" / "ode-to-joy.mid";
    const auto read = readFileBytes(demo);
    ASSERT_TRUE(read.ok()) << read.error().message;
    const testing::Bytes file(read->bytes().begin(), read->bytes().end());
    const auto song = testing::summaryOf(file);
    const std::vector<std::vector<song::TrackPart>> partLists = {{{2, 0}}, {{4, 0}, {3, 0}, {2, 0}}};
    for (const ConversionMode mode : {ConversionMode::Plain, ConversionMode::LongNotes, ConversionMode::Percussion}) {
        ConversionSettings settings;
        settings.longNotes = mode == ConversionMode::LongNotes;
        settings.percussion = mode == ConversionMode::Percussion;
        for (const auto& parts : partLists) {
            SCOPED_TRACE(static_cast<int>(mode));
            SCOPED_TRACE(song::partsName(parts));
            NullProgress quiet;
            ExactNoteCollector fromBytes;
            const auto bytesChart = generatePlacedNotes(file, song, parts, settings, fromBytes, quiet);
            ExactNoteCollector fromNotes;
            const auto notesChart =
                generatePlacedNotes(song::readPartNotes(file, song, parts), song, parts, settings, fromNotes, quiet);
            ASSERT_TRUE(bytesChart.ok() && notesChart.ok());
            EXPECT_GT(fromBytes.notes().size(), 20u);
            EXPECT_EQ(placedFields(notesChart, fromNotes), placedFields(bytesChart, fromBytes));
        }
    }
}

}  // namespace
}  // namespace zentrowe::convert

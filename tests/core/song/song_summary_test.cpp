#include "core/song/song_summary.h"

#include <gtest/gtest.h>

#include "song_test_support.h"

namespace zentrowe::song {
namespace {

using namespace test;
using testing::append;
using testing::appendText;
using testing::appendU32be;
using testing::kEndOfTrack;
using testing::midiFile;
using testing::midiHeader;
using testing::trackChunk;

Bytes withEnd(Bytes events)
{
    append(events, kEndOfTrack);
    return events;
}

Bytes setTempo(std::uint32_t delta, std::uint32_t micros)
{
    Bytes out = testing::varLen(delta);
    append(out, bytes({0xFF, 0x51, 0x03, static_cast<int>(micros >> 16), static_cast<int>((micros >> 8) & 0xFF),
                       static_cast<int>(micros & 0xFF)}));
    return out;
}

TEST(SongSummary, HeaderChecks)
{
    const Bytes track = withEnd(bytes({0x00, 0x90, 0x3C, 0x40}));
    Bytes longHeader;
    appendText(longHeader, "MThd");
    appendU32be(longHeader, 7);
    append(longHeader, bytes({0, 1, 0, 1, 0x01, 0xE0, 0}));
    append(longHeader, trackChunk(track));
    Bytes shortHeader = midiHeader(0, 0, 480);
    shortHeader.pop_back();
    Bytes wrongMagic = midiFile(1, 480, {track});
    wrongMagic[3] = 'h';

    struct Case {
        const char* what;
        Bytes file;
        ErrorCode code;
    };
    const Case cases[] = {
        {"empty file", {}, ErrorCode::NotMidi},
        {"13 bytes", shortHeader, ErrorCode::NotMidi},
        {"wrong magic", wrongMagic, ErrorCode::NotMidi},
        {"header length 7", longHeader, ErrorCode::NotMidi},
        {"format 0 with two tracks", midiFile(0, 480, {track, track}), ErrorCode::NotMidi},
        {"0x8000 tracks", midiHeader(1, 0x8000, 480), ErrorCode::NotMidi},
        {"0xFFFF tracks", midiHeader(1, 0xFFFF, 480), ErrorCode::NotMidi},
        {"SMPTE division 25 fps", midiHeader(1, 1, 0xE728), ErrorCode::UnsupportedDivision},
        {"division 0x8000", midiHeader(1, 1, 0x8000), ErrorCode::UnsupportedDivision},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto result = summarize(c.file);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code, c.code);
        EXPECT_EQ(result.error().message.rfind("test.mid: ", 0), 0u) << result.error().message;
    }
}

TEST(SongSummary, HeadersThatAreRead)
{
    const Bytes track = withEnd(bytes({0x00, 0x90, 0x3C, 0x40}));
    struct Case {
        const char* what;
        Bytes file;
        std::size_t rows;
    };
    const Case cases[] = {
        {"format 0, one track", midiFile(0, 480, {track}), 1},
        {"format 1, three tracks", midiFile(1, 96, {track, track, track}), 3},
        {"format 2", midiFile(2, 96, {track, track}), 2},
        {"format 0x8000 is read like format 1", [&] {
             auto f = midiFile(1, 96, {track, track});
             f[8] = 0x80;
             return f;
         }(), 2},
        {"no tracks announced", midiHeader(1, 0, 480), 0},
        {"format 0 announcing no track", midiHeader(0, 0, 480), 0},
        {"division 0x7FFF", midiFile(1, 0x7FFF, {track}), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto song = summary(c.file);
        EXPECT_EQ(song.tracks.size(), c.rows);
        EXPECT_FALSE(song.warning.has_value());
    }
    const auto song = summary(midiFile(1, 0x7FFF, {track}));
    EXPECT_EQ(song.ticksPerQuarter, 0x7FFF);
    EXPECT_EQ(song.ticksPerMeasure, 4 * 0x7FFF);
}

TEST(SongSummary, TrackRowsHaveTwoDigitLabelsAndLocations)
{
    const Bytes track = withEnd(bytes({0x00, 0x90, 0x3C, 0x40}));
    std::vector<Bytes> tracks(100, track);
    const auto song = summary(midiFile(1, 480, tracks));
    ASSERT_EQ(song.tracks.size(), 100u);
    EXPECT_EQ(song.tracks[0].label, "音轨 01");
    EXPECT_EQ(song.tracks[8].label, "音轨 09");
    EXPECT_EQ(song.tracks[9].label, "音轨 10");
    EXPECT_EQ(song.tracks[11].label, "音轨 12");
    EXPECT_EQ(song.tracks[99].label, "音轨 100");
    // The first track's events start after the 14-byte header and the 8-byte chunk header.
    EXPECT_EQ(song.tracks[0].location.dataStart, 22u);
    EXPECT_EQ(song.tracks[0].location.dataLength, 8u);
    EXPECT_EQ(song.tracks[1].location.dataStart, 22u + 8u + 8u);
}

TEST(SongSummary, NoteCountsAndFirstNoteTime)
{
    struct Case {
        const char* what;
        Bytes events;
        std::int32_t notes;
        std::optional<std::int64_t> firstNote;
    };
    const Case cases[] = {
        {"running status counts two notes", bytes({0x00, 0x90, 0x3C, 0x40, 0x10, 0x3E, 0x40}), 2, 0},
        {"velocity 0 is no note but is the first Note On", bytes({0x60, 0x90, 0x3C, 0x00, 0x10, 0x3C, 0x00}), 0, 0x60},
        {"first Note On of any velocity sets the time", bytes({0x20, 0x91, 0x3C, 0x00, 0x20, 0x3C, 0x40}), 1, 0x20},
        {"Note Off, pressure and controllers are not notes",
         bytes({0x00, 0x80, 0x3C, 0x40, 0x00, 0xA0, 0x3C, 0x40, 0x00, 0xB0, 0x07, 0x40, 0x05, 0x9F, 0x23, 0x7F}), 1, 5},
        {"no Note On at all", bytes({0x00, 0xC0, 0x00, 0x00, 0x80, 0x3C, 0x40}), 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto song = summarizeTrack(withEnd(c.events));
        ASSERT_EQ(song.tracks.size(), 1u);
        EXPECT_EQ(song.tracks[0].noteCount, c.notes);
        EXPECT_EQ(song.firstNoteTime, c.firstNote);
    }
}

TEST(SongSummary, FirstNoteTimeIsTheEarliestOverAllTracks)
{
    const auto song = summary(midiFile(1, 480, {
        withEnd(bytes({0x83, 0x60, 0x90, 0x3C, 0x40})),  // first note at 480
        withEnd(bytes({0x00, 0xFF, 0x03, 0x00})),        // no note
        withEnd(bytes({0x81, 0x70, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3C, 0x40})),  // at 240
    }));
    EXPECT_EQ(song.firstNoteTime, 240);
}

TEST(SongSummary, ProgramChangesNameTheInstrument)
{
    struct Case {
        Bytes events;
        std::string family;
        std::string instrument;
    };
    const Case cases[] = {
        {bytes({0x00, 0xC9, 0x00}), "打击乐器", "Drums 鼓"},
        {bytes({0x00, 0xC9, 0x30}), "打击乐器", "Drums 鼓"},
        {bytes({0x00, 0xC0, 0x18}), "吉他 ", "Acoustic Guitar (nylon) 尼龙弦吉他 "},
        {bytes({0x00, 0xC0, 0x00}), "钢琴 ", "Acoustic Grand Piano 大钢琴（声学钢琴） "},
        {bytes({0x00, 0xCF, 0x7F}), "Sound Effects 声音效果", "Gunshot 枪声 "},
        {bytes({0x00, 0xC0, 0x00, 0x00, 0xC1, 0x28}), "弦乐 ", "Violin 小提琴 "},  // the last one counts
        {bytes({0x00, 0xC0, 0x28, 0x00, 0xC9, 0x05}), "打击乐器", "Drums 鼓"},
        {bytes({}), "", ""},
        // A malformed program byte of 128 or more names nothing: the texts stay as they were.
        {bytes({0x00, 0xC0, 0x28, 0x00, 0xC0, 0x80}), "弦乐 ", "Violin 小提琴 "},
        {bytes({0x00, 0xC0, 0xFF}), "", ""},
        {bytes({0x00, 0xC9, 0xFF}), "打击乐器", "Drums 鼓"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.instrument);
        const auto song = summarizeTrack(withEnd(c.events));
        ASSERT_EQ(song.tracks.size(), 1u);
        EXPECT_EQ(song.tracks[0].family, c.family);
        EXPECT_EQ(song.tracks[0].instrument, c.instrument);
    }
}

TEST(SongSummary, TrackNamesAreDecodedAndTheLastOneCounts)
{
    struct Case {
        Bytes events;
        std::string name;
    };
    const Case cases[] = {
        {bytes({0x00, 0xFF, 0x03, 0x05, 'P', 'i', 'a', 'n', 'o'}), "Piano"},
        {bytes({0x00, 0xFF, 0x03, 0x06, 0xD6, 0xF7, 0xD0, 0xFD, 0xC2, 0xC9}), "主旋律"},
        {bytes({0x00, 0xFF, 0x03, 0x06, 0xE4, 0xBD, 0x8E, 0xE9, 0x9F, 0xB3}), "低音"},
        // Shift_JIS, as Japanese songs write it: decoded by detection, as chart headers are.
        {bytes({0x00, 0xFF, 0x03, 0x0E, 0x96, 0xE9, 0x96, 0xBE, 0x82, 0xAF, 0x82, 0xCC, 0x83, 0x65, 0x81, 0x5B, 0x83,
                0x7D}),
         "夜明けのテーマ"},
        {bytes({0x00, 0xFF, 0x03, 0x01, 'A', 0x00, 0xFF, 0x03, 0x01, 'B'}), "B"},
        {bytes({0x00, 0xFF, 0x03, 0x01, 'A', 0x00, 0xFF, 0x03, 0x00}), ""},
        {bytes({0x00, 0xFF, 0x01, 0x01, 'A', 0x00, 0xFF, 0x04, 0x01, 'B'}), ""},  // other text types
        {bytes({0x00, 0xFF, 0x03, 0x03, 'a', '\t', 'b'}), "a\tb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto song = summarizeTrack(withEnd(c.events));
        ASSERT_EQ(song.tracks.size(), 1u);
        EXPECT_EQ(song.tracks[0].name, c.name);
    }
    // A track name does not carry over to the next track.
    const auto song = summary(midiFile(1, 480, {withEnd(bytes({0x00, 0xFF, 0x03, 0x01, 'A'})), kEndOfTrack}));
    ASSERT_EQ(song.tracks.size(), 2u);
    EXPECT_EQ(song.tracks[1].name, "");
}

TEST(SongSummary, TempoMapIsSortedByTimeAndKeepsFileOrderOnTies)
{
    Bytes first = setTempo(960, 600000);
    append(first, setTempo(0, 400000));  // also at 960
    Bytes second = setTempo(0, 1000000);
    append(second, setTempo(960, 300000));  // at 960, after both of track 1
    const auto song = summary(midiFile(1, 480, {withEnd(first), withEnd(second)}));
    const std::vector<TempoChange> expected = {{1000000, 0}, {600000, 960}, {400000, 960}, {300000, 960}};
    EXPECT_EQ(song.tempoMap, expected);
    // The last Set Tempo met in file order, not in time order.
    EXPECT_EQ(song.tempoMicros, 300000u);
    EXPECT_EQ(song.tempoBytes, (std::array<std::uint8_t, 3>{0x04, 0x93, 0xE0}));
}

TEST(SongSummary, SongWithoutTempoHasTheStandardDefault)
{
    const auto song = summarizeTrack(withEnd(bytes({0x00, 0x90, 0x3C, 0x40})));
    EXPECT_TRUE(song.tempoMap.empty());
    EXPECT_EQ(song.tempoMicros, 500000u);
    EXPECT_EQ(song.tempoBytes, (std::array<std::uint8_t, 3>{0x07, 0xA1, 0x20}));
}

TEST(SongSummary, TempoOfZeroIsNotRecorded)
{
    Bytes events = setTempo(0, 600000);
    append(events, setTempo(10, 0));
    const auto song = summarizeTrack(withEnd(events));
    EXPECT_EQ(song.tempoMap, (std::vector<TempoChange>{{600000, 0}}));
    EXPECT_EQ(song.tempoMicros, 600000u);
    EXPECT_EQ(song.tempoBytes, (std::array<std::uint8_t, 3>{0x09, 0x27, 0xC0}));

    const auto onlyZero = summarizeTrack(withEnd(setTempo(0, 0)));
    EXPECT_TRUE(onlyZero.tempoMap.empty());
    EXPECT_EQ(onlyZero.tempoMicros, 500000u);
}

TEST(SongSummary, SetTempoWithAnOddLengthByteIsStillRecorded)
{
    // FF 51 02: described and recorded from three bytes (07 A1 20); the walk resumes after the
    // two declared ones, so 0x20 is the next event's delta and a Note On follows at tick 32.
    const auto song = summarizeTrack(withEnd(bytes({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1, 0x20, 0x90, 0x3C, 0x40})));
    EXPECT_EQ(song.tempoMap, (std::vector<TempoChange>{{500000, 0}}));
    ASSERT_EQ(song.tracks.size(), 1u);
    EXPECT_EQ(song.tracks[0].noteCount, 1);
    EXPECT_EQ(song.firstNoteTime, 32);
}

TEST(SongSummary, MoreThanAThousandTempoChangesAreAllKept)
{
    Bytes events;
    for (std::uint32_t i = 0; i < 2500; ++i) {
        append(events, setTempo(1, 400000 + i));
    }
    const auto song = summarizeTrack(withEnd(events));
    ASSERT_EQ(song.tempoMap.size(), 2500u);
    EXPECT_EQ(song.tempoMap.back(), (TempoChange{402499, 2500}));
}

TEST(SongSummary, ChunksOfOtherTypesAreSkippedByTheirLength)
{
    Bytes file = midiHeader(1, 2, 480);
    appendText(file, "XFIH");
    appendU32be(file, 5);
    appendText(file, "MTrk!");  // a foreign chunk's data that looks like a track
    append(file, trackChunk(withEnd(bytes({0x00, 0x90, 0x3C, 0x40}))));
    appendText(file, "XFKM");
    appendU32be(file, 0);
    append(file, trackChunk(withEnd(bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3E, 0x40}))));
    const auto song = summary(file);
    ASSERT_EQ(song.tracks.size(), 2u);
    EXPECT_EQ(song.tracks[0].label, "音轨 01");
    EXPECT_EQ(song.tracks[0].noteCount, 1);
    EXPECT_EQ(song.tracks[1].label, "音轨 02");
    EXPECT_EQ(song.tracks[1].noteCount, 2);
    EXPECT_FALSE(song.warning.has_value());
}

TEST(SongSummary, NextChunkStartsAfterTheDeclaredLengthEvenIfTheEventsOverrun)
{
    // Track 1 declares 3 bytes, but its Note On takes its velocity from the next chunk's first
    // byte ('M' = 0x4D). The next chunk is still looked for right after the 3 declared bytes.
    Bytes file = midiHeader(1, 2, 480);
    appendText(file, "MTrk");
    appendU32be(file, 3);
    append(file, bytes({0x00, 0x90, 0x3C}));
    append(file, trackChunk(withEnd(bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3E, 0x40}))));
    const auto song = summary(file);
    ASSERT_EQ(song.tracks.size(), 2u);
    EXPECT_EQ(song.tracks[0].noteCount, 1);
    EXPECT_EQ(song.tracks[1].noteCount, 2);
    EXPECT_FALSE(song.warning.has_value());
}

TEST(SongSummary, AnnouncedTracksMissingFromTheFileGiveAWarning)
{
    const Bytes track = withEnd(bytes({0x00, 0x90, 0x3C, 0x40}));
    Bytes file = midiHeader(1, 3, 480);
    append(file, trackChunk(track));
    append(file, trackChunk(track));
    const auto song = summary(file);
    ASSERT_EQ(song.tracks.size(), 2u);
    ASSERT_TRUE(song.warning.has_value());
    EXPECT_EQ(*song.warning, "test.mid: the header announces 3 tracks, but only 2 could be read");

    // A chunk header cut short ends the pass the same way.
    Bytes cut = file;
    appendText(cut, "MTr");
    EXPECT_EQ(summary(cut).tracks.size(), 2u);
}

TEST(SongSummary, TrackLongerThanTheFileEndsAtTheFileEnd)
{
    for (const std::uint32_t length : {100u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        Bytes file = midiHeader(0, 1, 480);
        appendText(file, "MTrk");
        appendU32be(file, length);
        append(file, bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3E, 0x40, 0x00, 0xFF, 0x2F, 0x00}));
        const auto song = summary(file);
        ASSERT_EQ(song.tracks.size(), 1u);
        EXPECT_EQ(song.tracks[0].location.dataLength, length) << "taken as the unsigned value";
        EXPECT_EQ(song.tracks[0].noteCount, 2);
        EXPECT_FALSE(song.warning.has_value());
    }
}

TEST(SongSummary, EventCutShortByTheFileEndIsDroppedWhole)
{
    struct Case {
        const char* what;
        Bytes tail;  // after one complete note
    };
    const Case cases[] = {
        {"delta cut short", bytes({0x81})},
        {"Note On without its velocity", bytes({0x00, 0x90, 0x3E})},
        {"running status without its velocity", bytes({0x00, 0x3E})},
        {"Set Tempo data cut short", bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1})},
        {"Set Tempo whose length byte says 2 with two bytes left", bytes({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1})},
        {"Set Tempo declaring more than it describes", bytes({0x00, 0xFF, 0x51, 0x05, 0x07, 0xA1, 0x20, 0x00})},
        {"sysex data cut short", bytes({0x00, 0xF0, 0x05, 0x7E, 0x7F})},
        {"text cut short", bytes({0x00, 0xFF, 0x03, 0x05, 'P', 'i'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes events = bytes({0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0, 0x00, 0x90, 0x3C, 0x40});
        append(events, c.tail);
        // The header announces two tracks; the second is missing.
        Bytes file = midiHeader(1, 2, 480);
        append(file, trackChunk(events));
        const auto song = summary(file);
        ASSERT_EQ(song.tracks.size(), 1u);
        EXPECT_EQ(song.tracks[0].noteCount, 1);
        EXPECT_EQ(song.tempoMap, (std::vector<TempoChange>{{600000, 0}}));
        EXPECT_EQ(song.tracks[0].name, "");
        EXPECT_TRUE(song.warning.has_value());
    }
}

// Every prefix of a valid file is read without a fault: an error for a short header, otherwise
// the tracks read so far, and never more notes than the whole file holds.
TEST(SongSummary, EveryPrefixOfAValidFileIsReadSafely)
{
    Bytes conductor = bytes({0x00, 0xFF, 0x03, 0x04, 0xBB, 0xB6, 0xC0, 0xD6, 0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18,
                             0x08});
    append(conductor, setTempo(0, 500000));
    append(conductor, setTempo(1920, 454545));
    Bytes melody = bytes({0x00, 0xC0, 0x49, 0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00, 0x90, 0x3C, 0x64,
                          0x83, 0x60, 0x3C, 0x00, 0x00, 0x3E, 0x64, 0x83, 0x60, 0x80, 0x3E, 0x40, 0x00, 0xA0, 0x3E,
                          0x10, 0x00, 0xE0, 0x00, 0x40, 0x00, 0xFF, 0x7F, 0x02, 0x00, 0x41});
    Bytes drums = bytes({0x00, 0xC9, 0x00, 0x00, 0x99, 0x24, 0x64, 0x81, 0x70, 0x26, 0x64});
    const Bytes file = midiFile(1, 480, {withEnd(conductor), withEnd(melody), withEnd(drums)});
    const auto whole = summary(file);
    ASSERT_EQ(whole.tracks.size(), 3u);

    for (std::size_t size = 0; size <= file.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        const auto result = summarize(prefix);
        if (size < 14) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().code, ErrorCode::NotMidi);
            continue;
        }
        ASSERT_TRUE(result.ok());
        EXPECT_LE(result->tracks.size(), 3u);
        // A prefix ending inside the last track lists it and says it is cut short.
        EXPECT_EQ(result->warning.has_value(), size < file.size());
        for (std::size_t t = 0; t < result->tracks.size(); ++t) {
            EXPECT_LE(result->tracks[t].noteCount, whole.tracks[t].noteCount);
            EXPECT_EQ(result->tracks[t].label, whole.tracks[t].label);
        }
        for (int track = 1; track <= static_cast<int>(result->tracks.size()); ++track) {
            CollectRows rows;
            NullProgress quiet;
            EXPECT_TRUE(listTrackEvents(prefix, *result, track, rows, quiet).ok());
        }
    }
}

class StopAfter final : public ProgressSink {
public:
    explicit StopAfter(int calls) : m_left(calls) {}
    void advance(std::int64_t, std::int64_t) override { --m_left; }
    bool stopRequested() const override { return m_left <= 0; }

private:
    int m_left;
};

TEST(SongSummary, StopRequestCancelsThePass)
{
    Bytes events;
    for (int i = 0; i < 100000; ++i) {
        append(events, bytes({0x00, 0x90, 0x3C, 0x40}));
    }
    const Bytes file = midiFile(0, 480, {withEnd(events)});
    StopAfter stop(1);
    const auto result = summarizeSong(file, "big.mid", stop);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, ErrorCode::Cancelled);
}

TEST(SongSummary, ReadingFromDiskNamesTheFileInErrors)
{
    testing::TempDir dir;
    NullProgress quiet;
    const auto missing = readSongSummary(dir / "missing.mid", quiet);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ErrorCode::CannotOpen);
    EXPECT_NE(missing.error().message.find("missing.mid"), std::string::npos);

    testing::writeFile(dir / "notes.txt", std::string_view("these are not the droids"));
    const auto text = readSongSummary(dir / "notes.txt", quiet);
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().code, ErrorCode::NotMidi);
    EXPECT_EQ(text.error().message.rfind((dir / "notes.txt").string() + ": not a MIDI file", 0), 0u)
        << text.error().message;

}

}  // namespace
}  // namespace zentrowe::song

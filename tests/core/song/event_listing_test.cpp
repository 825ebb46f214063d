#include "core/song/event_listing.h"

#include <gtest/gtest.h>

#include "song_test_support.h"

namespace zentrowe::song {
namespace {

using namespace test;
using testing::append;
using testing::kEndOfTrack;
using testing::midiFile;

const Row kEnd{"0", "FF", "End of track "};

TEST(EventListing, ChannelEventRows)
{
    const auto rows = listTrack(bytes({
        0x00, 0x90, 0x3C, 0x64,  // Note On C4
        0x60, 0x81, 0x3D, 0x40,  // Note Off C#4 on channel 1
        0x00, 0xA2, 0x45, 0x11,  // polyphonic key pressure
        0x00, 0xB3, 0x07, 0x64,  // Control Change
        0x00, 0xC4, 0x18,        // Program Change
        0x00, 0xD5, 0x30,        // Channel Pressure
        0x00, 0xEF, 0x00, 0x40,  // Pitch Bend on channel 15
        0x00, 0x9F, 0x00, 0x7F,  // lowest note
        0x00, 0x7F, 0x01,        // running status: highest note
        0x00, 0xFF, 0x2F, 0x00,
    }));
    const std::vector<Row> expected = {
        {"0", "Note on", "Cannel=0 Num=60 C4 Vol=100"},
        {"96", "Note off", "Cannel=1 Num=61 C#4 Vol=64"},
        {"0", "Key Pressure", "Num=69 Value=17"},
        {"0", "Control Change ", "Num=7 Value=100"},
        {"0", "Program Change", "Num=24"},
        {"0", "Chan Press", "48"},
        {"0", "Pitch bend", "Hig=0 Low=64"},
        {"0", "Note on", "Cannel=15 Num=0 C-1 Vol=127"},
        {"0", "Note on", "Cannel=15 Num=127 G9 Vol=1"},
        kEnd,
    };
    EXPECT_EQ(rows, expected);
}

// A delta of 16256 to 16383 ticks is written FF 00 to FF 7F; the first byte is not a meta event.
TEST(EventListing, EveryEventStartsWithADeltaEvenWhenItsFirstByteIsFF)
{
    const auto rows = listTrack(bytes({
        0x00, 0x90, 0x3C, 0x64,
        0xFF, 0x00, 0x80, 0x3C, 0x40,        // delta 16256
        0xFF, 0x7F, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // delta 16383, then a meta event
        0x00, 0xFF, 0x2F, 0x00,
    }));
    const std::vector<Row> expected = {
        {"0", "Note on", "Cannel=0 Num=60 C4 Vol=100"},
        {"16256", "Note off", "Cannel=0 Num=60 C4 Vol=64"},
        {"16383", "FF", "Tempo  120.00 BPM  500000"},
        kEnd,
    };
    EXPECT_EQ(rows, expected);
    const auto song = summarizeTrack(bytes({0xFF, 0x7F, 0x90, 0x3C, 0x64}));
    EXPECT_EQ(song.firstNoteTime, 16383);
    EXPECT_EQ(song.tracks[0].noteCount, 1);
}

TEST(EventListing, MetaAndSysExEventsLeaveTheRunningStatusAlone)
{
    const auto rows = listTrack(bytes({
        0x00, 0x91, 0x3C, 0x64,
        0x10, 0xFF, 0x01, 0x02, 'h', 'i',
        0x10, 0x3E, 0x64,                       // still Note On, channel 1
        0x00, 0xF0, 0x03, 0x43, 0x12, 0xF7,
        0x10, 0x40, 0x00,                       // still Note On, channel 1
        0x00, 0xF7, 0x01, 0xF7,
        0x00, 0x41, 0x00,
        0x00, 0xFF, 0x2F, 0x00,
    }));
    const std::vector<Row> expected = {
        {"0", "Note on", "Cannel=1 Num=60 C4 Vol=100"},
        {"16", "FF", "hi"},
        {"16", "Note on", "Cannel=1 Num=62 D4 Vol=100"},
        {"0", "FF", "SysE - len: 3"},
        {"16", "Note on", "Cannel=1 Num=64 E4 Vol=0"},
        {"0", "FF", "SysE - len: 1"},
        {"0", "Note on", "Cannel=1 Num=65 F4 Vol=0"},
        kEnd,
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(summarizeTrack(bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x3E, 0x40})).tracks[0].noteCount,
              2);
}

TEST(EventListing, SysExAndEscapeSkipTheirDeclaredLength)
{
    const auto rows = listTrack(bytes({
        0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // GM reset: length 5
        0x00, 0xF7, 0x03, 0x90, 0x3C, 0x40,              // escape: its bytes are data, not events
        0x00, 0xF0, 0x81, 0x00,                          // length 128 ...
    }));
    ASSERT_EQ(rows.size(), 2u);  // ... whose data is missing: dropped
    EXPECT_EQ(rows[0], (Row{"0", "FF", "SysE - len: 5"}));
    EXPECT_EQ(rows[1], (Row{"0", "FF", "SysE - len: 3"}));
}

TEST(EventListing, StatusesThatCarryNothingArePassedOver)
{
    // A data byte before any status, and system statuses other than F0, F7 and FF, consume
    // nothing after themselves: the next byte is read as the next delta.
    const auto rows = listTrack(bytes({
        0x00, 0x3C,              // data byte with no running status yet; 0x3C is then a delta
        0x90, 0x3C, 0x40,        // ... of this Note On
        0x00, 0xF1, 0x05,        // MIDI time code quarter frame: 0x05 becomes the next delta
        0x80, 0x3C, 0x40,
        0x00, 0xFE,              // active sensing
        0x00, 0xFF, 0x2F, 0x00,
    }));
    const std::vector<Row> expected = {
        {"60", "Note on", "Cannel=0 Num=60 C4 Vol=64"},
        {"5", "Note off", "Cannel=0 Num=60 C4 Vol=64"},
        kEnd,
    };
    EXPECT_EQ(rows, expected);
}

TEST(EventListing, MetaEventDescriptions)
{
    struct Case {
        Bytes event;  // after the delta
        std::string description;
    };
    const Case cases[] = {
        {bytes({0xFF, 0x00, 0x00}), "Seqnr"},
        {bytes({0xFF, 0x00, 0x02, 0x00, 0x07}), "    7"},
        {bytes({0xFF, 0x00, 0x02, 0x01, 0x02}), "    258"},
        {bytes({0xFF, 0x01, 0x05, 'P', 'i', 'a', 'n', 'o'}), "Piano"},
        {bytes({0xFF, 0x03, 0x00}), ""},
        {bytes({0xFF, 0x05, 0x04, 0xC4, 0xE3, 0xBA, 0xC3}), "你好"},
        // Text is decoded by detection, as chart headers are: Shift_JIS reads as Japanese, not
        // as the GBK characters the same bytes would also make.
        {bytes({0xFF, 0x01, 0x10, 0x81, 0x79, 0x83, 0x54, 0x83, 0x43, 0x83, 0x67, 0x96, 0xBC, 0x81, 0x7A, 0x20, 0x55,
                0x52, 0x4C}),
         "【サイト名】 URL"},
        {bytes({0xFF, 0x03, 0x0E, 0x96, 0xE9, 0x96, 0xBE, 0x82, 0xAF, 0x82, 0xCC, 0x83, 0x65, 0x81, 0x5B, 0x83, 0x7D}),
         "夜明けのテーマ"},
        {bytes({0xFF, 0x06, 0x03, 'a', '\r', '\n'}), "a\r\n"},
        {bytes({0xFF, 0x20, 0x01, 0x09}), "Midi Chan   09"},
        {bytes({0xFF, 0x21, 0x01, 0x0A}), "Midi Port    0A"},
        {bytes({0xFF, 0x21, 0x02, 0x00, 0x00}), "Midi Port    ???len00"},
        {bytes({0xFF, 0x2F, 0x00}), "End of track "},
        {bytes({0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}), "Tempo  120.00 BPM  500000"},
        {bytes({0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0}), "Tempo  100.00 BPM  600000"},
        {bytes({0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}), "Tempo  240.00 BPM  250000"},
        {bytes({0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}), "Tempo  060.00 BPM  1000000"},
        {bytes({0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF}), "Tempo  003.58 BPM  16777215"},
        {bytes({0xFF, 0x51, 0x03, 0x00, 0x00, 0x01}), "Tempo  60000000.00 BPM  1"},
        {bytes({0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}), "Tempo  000.00 BPM  0"},
        {bytes({0xFF, 0x51, 0x04, 0x00, 0x00, 0x00, 0x00}), "Tempo   ???Len 000.00 BPM  0"},
        {bytes({0xFF, 0x51, 0x04, 0x07, 0xA1, 0x20, 0x00}), "Tempo   ???Len 120.00 BPM  500000"},
        {bytes({0xFF, 0x54, 0x05, 0x60, 0x01, 0x02, 0x03, 0x04}), "SMPTE Offs   6001020304"},
        {bytes({0xFF, 0x54, 0x02, 0xAB, 0xCD}), "SMPTE Offs    ???LenABCD"},
        {bytes({0xFF, 0x58, 0x04, 0x06, 0x03, 0x18, 0x08}), "Time Sign    6/8 - 24 clocks- 8 32 "},
        {bytes({0xFF, 0x58, 0x04, 0x04, 0x00, 0x18, 0x08}), "Time Sign    4/1 - 24 clocks- 8 32 "},
        {bytes({0xFF, 0x58, 0x04, 0x04, 0x40, 0x18, 0x08}), "Time Sign    4/18446744073709551616 - 24 clocks- 8 32 "},
        {bytes({0xFF, 0x58, 0x04, 0x04, 0xFF, 0x18, 0x08}),
         "Time Sign    4/"
         "57896044618658097711785492504343953926634992332820282019728792003956564819968"
         " - 24 clocks- 8 32 "},
        // L = 3: the fourth byte described is the next event's delta, where the walk resumes.
        {bytes({0xFF, 0x58, 0x03, 0x02, 0x02, 0x18}), "Time Sign     ???Len 2/4 - 24 clocks- 0 32 "},
        {bytes({0xFF, 0x59, 0x02, 0xFD, 0x01}), "Key Sign     FD 01 "},
        {bytes({0xFF, 0x59, 0x01, 0x00}), "Key Sign      ???len00 "},
        {bytes({0xFF, 0x59, 0x00}), "Key Sign      ???len"},
        {bytes({0xFF, 0x7F, 0x03, 0x00, 0x00, 0x41}), "propr.- len  3"},
        {bytes({0xFF, 0x7F, 0x00}), "propr.- len  0"},
        {bytes({0xFF, 0x4B, 0x02, 0x01, 0x02}), ""},  // a type this program does not describe
        {bytes({0xFF, 0x09, 0x81, 0x00}), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Bytes events = bytes({0x00});
        append(events, c.event);
        if (c.event[1] == 0x09) {
            events.insert(events.end(), 128, 0x55);  // the 128 declared data bytes
        }
        append(events, bytes({0x00, 0x90, 0x3C, 0x40}));
        const auto rows = listTrack(events);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0], (Row{"0", "FF", c.description}));
        EXPECT_EQ(rows[1], (Row{"0", "Note on", "Cannel=0 Num=60 C4 Vol=64"}))
            << "the walk resumes right after the event's declared data";
    }
}

// The types of fixed size have a one-byte length; whatever it says, the description reads the
// standard count and the walk goes on after the declared count.
TEST(EventListing, WalkResumesAfterTheDeclaredLengthOfAMetaEvent)
{
    struct Case {
        Bytes event;
        std::string description;
    };
    const Case cases[] = {
        // FF 20 00: description reads one byte (the next delta), walk resumes at it.
        {bytes({0xFF, 0x20, 0x00}), "Midi Chan   ???len00"},
        // FF 00 01 with two bytes described; one declared.
        {bytes({0xFF, 0x00, 0x01, 0x00}), "    0"},
        // End of track with a length: its data is skipped.
        {bytes({0xFF, 0x2F, 0x02, 0x90, 0x90}), "End of track "},
        // Set Tempo with L = 5: two bytes beyond the tempo are skipped.
        {bytes({0xFF, 0x51, 0x05, 0x07, 0xA1, 0x20, 0x90, 0x90}), "Tempo   ???Len 120.00 BPM  500000"},
        // Time signature with L = 6.
        {bytes({0xFF, 0x58, 0x06, 0x03, 0x02, 0x18, 0x08, 0x90, 0x90}), "Time Sign     ???Len 3/4 - 24 clocks- 8 32 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Bytes events = bytes({0x00});
        append(events, c.event);
        append(events, bytes({0x00, 0x90, 0x3C, 0x40}));
        const auto rows = listTrack(events);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0], (Row{"0", "FF", c.description}));
        EXPECT_EQ(rows[1], (Row{"0", "Note on", "Cannel=0 Num=60 C4 Vol=64"}));
    }
}

TEST(EventListing, EndOfTrackDoesNotStopTheWalkButTheLengthDoes)
{
    const auto rows = listTrack(bytes({0x00, 0xFF, 0x2F, 0x00, 0x05, 0x90, 0x3C, 0x40}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (Row{"5", "Note on", "Cannel=0 Num=60 C4 Vol=64"}));

    // Two tracks: the first ends by its length although it has no end of track.
    const Bytes file = midiFile(1, 480, {bytes({0x00, 0x90, 0x3C, 0x40}), bytes({0x00, 0x80, 0x3C, 0x40})});
    EXPECT_EQ(listRows(file, 1), (std::vector<Row>{{"0", "Note on", "Cannel=0 Num=60 C4 Vol=64"}}));
    EXPECT_EQ(listRows(file, 2), (std::vector<Row>{{"0", "Note off", "Cannel=0 Num=60 C4 Vol=64"}}));
}

TEST(EventListing, EventCutShortByTheFileEndGivesNoRow)
{
    Bytes file = midiFile(0, 480, {bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18})});
    const auto song = summary(file);
    // The time signature lacks its last byte: the file ends inside it.
    ASSERT_EQ(song.tracks.size(), 1u);
    CollectRows rows;
    NullProgress quiet;
    ASSERT_TRUE(listTrackEvents(file, song, 1, rows, quiet).ok());
    EXPECT_EQ(rows.rows, (std::vector<Row>{{"0", "Note on", "Cannel=0 Num=60 C4 Vol=64"}}));
}

TEST(EventListing, TrackNumbersOutsideTheTracksReadAreRefused)
{
    const auto song = summary(midiFile(1, 480, {kEndOfTrack, kEndOfTrack}));
    CollectRows rows;
    NullProgress quiet;
    for (const int track : {0, -1, 3, 32767}) {
        SCOPED_TRACE(track);
        const auto listed = listTrackEvents(Bytes{}, song, track, rows, quiet);
        ASSERT_FALSE(listed.ok());
        EXPECT_EQ(listed.error().code, ErrorCode::TrackOutOfRange);
    }
    const auto named = checkTrackNumber(song, 3, "song.mid");
    ASSERT_FALSE(named.ok());
    EXPECT_EQ(named.error().message, "song.mid: track 3 does not exist (tracks are numbered 1 to 2)");
    EXPECT_TRUE(rows.rows.empty());
}

TEST(EventListing, ReadsTheFileAgainFromDisk)
{
    testing::TempDir dir;
    const Bytes file = midiFile(0, 480, {bytes({0x00, 0x90, 0x3C, 0x40})});
    testing::writeFile(dir / "song.mid", file);
    NullProgress quiet;
    const auto song = readSongSummary(dir / "song.mid", quiet);
    ASSERT_TRUE(song.ok());
    CollectRows rows;
    ASSERT_TRUE(listTrackEvents(dir / "song.mid", *song, 1, rows, quiet).ok());
    EXPECT_EQ(rows.rows.size(), 1u);

    std::filesystem::remove(dir / "song.mid");
    const auto gone = listTrackEvents(dir / "song.mid", *song, 1, rows, quiet);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error().code, ErrorCode::CannotOpen);
}

class StopAtOnce final : public ProgressSink {
public:
    void advance(std::int64_t, std::int64_t) override {}
    bool stopRequested() const override { return true; }
};

TEST(EventListing, StopRequestCancelsTheListing)
{
    const Bytes file = midiFile(0, 480, {bytes({0x00, 0x90, 0x3C, 0x40})});
    const auto song = summary(file);
    CollectRows rows;
    StopAtOnce stop;
    const auto listed = listTrackEvents(file, song, 1, rows, stop);
    ASSERT_FALSE(listed.ok());
    EXPECT_EQ(listed.error().code, ErrorCode::Cancelled);
}

}  // namespace
}  // namespace zentrowe::song

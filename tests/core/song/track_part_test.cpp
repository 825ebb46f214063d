#include "core/song/track_part.h"

#include <gtest/gtest.h>

#include "../convert/convert_test_support.h"
#include "core/song/instrument_names.h"

namespace zentrowe::song {
namespace {

using testing::eventTrack;
using testing::off;
using testing::on;

// Track 1 sets the tempo only; track 2 plays a piano on channel 1 and pizzicato on channel 2 (a
// program change to 45 first); track 3 plays drums on channel 10.
testing::Bytes threeTrackSong()
{
    return testing::midiFile(1, 480,
                             {eventTrack({}),
                              eventTrack({{0, 0xC1, 45, 0}, on(0, 60), on(0, 67, 90, 1), off(240, 60), off(240, 67, 1),
                                          on(480, 62), off(720, 62)},
                                         0),
                              eventTrack({on(120, 36, 110, 9), off(130, 36, 9), on(480, 38, 100, 9), off(490, 38, 9)},
                                         0)});
}

TEST(TrackPart, ParsesWhatTheTrackOptionTakes)
{
    const SongSummary song = testing::summaryOf(threeTrackSong());
    struct Case {
        const char* typed;
        std::vector<TrackPart> parts;  // empty: refused
        ErrorCode code = ErrorCode::InvalidSetting;
    };
    const Case cases[] = {
        {"2", {{2, 0}}},
        {"2:1", {{2, 1}}},
        {"02:16", {{2, 16}}},
        {"2,3", {{2, 0}, {3, 0}}},
        {"3,2:2,2:1", {{3, 0}, {2, 2}, {2, 1}}},
        {"2,2", {}},
        {"2:1,2", {}},
        {"2:1,2:1", {}},
        {"1:17", {}},
        {"1:0", {}},
        {"1:", {}},
        {":2", {}},
        {"2,,3", {}},
        {"2,", {}},
        {"2:1:1", {}},
        {"4", {}, ErrorCode::TrackOutOfRange},
        {"2,4:1", {}, ErrorCode::TrackOutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto parts = parseTrackParts(song, c.typed, "song.mid");
        if (c.parts.empty()) {
            ASSERT_FALSE(parts.ok());
            EXPECT_EQ(parts.error().code, c.code);
            // A refused list is quoted whole, as typed.
            const std::string named =
                c.code == ErrorCode::InvalidSetting ? "--track " + std::string(c.typed) + ": " : "song.mid";
            EXPECT_NE(parts.error().message.find(named), std::string::npos) << parts.error().message;
        } else {
            ASSERT_TRUE(parts.ok()) << parts.error().message;
            EXPECT_EQ(*parts, c.parts);
        }
    }
}

TEST(TrackPart, ListsEachChannelThatPlaysNotesWithItsInstrument)
{
    const auto file = threeTrackSong();
    const auto rows = listChannelParts(file, testing::summaryOf(file));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].part, (TrackPart{2, 1}));
    EXPECT_EQ(rows[0].noteCount, 2);
    EXPECT_NE(rows[0].instrument.find("Acoustic Grand Piano"), std::string::npos);
    EXPECT_EQ(rows[1].part, (TrackPart{2, 2}));
    EXPECT_EQ(rows[1].noteCount, 1);
    EXPECT_NE(rows[1].instrument.find("Pizzicato Strings"), std::string::npos);  // program 45
    EXPECT_EQ(rows[2].part, (TrackPart{3, 10}));
    EXPECT_EQ(rows[2].instrument, kDrumInstrument);
}

// Records the notes a walk meets: (tick, part, note).
struct NoteLog {
    std::vector<std::tuple<std::int64_t, std::size_t, int>> notes;
    std::size_t part = 0;

    void onEvent(std::int64_t time, std::uint32_t, const ChannelEvent& event)
    {
        if (event.kind() == 0x90 && event.data2 != 0) {
            notes.emplace_back(time, part, event.data1);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }
};

TEST(TrackPart, WalksSeveralPartsAsOneTrackInTimeOrder)
{
    const auto file = threeTrackSong();
    const SongSummary song = testing::summaryOf(file);
    using Notes = std::vector<std::tuple<std::int64_t, std::size_t, int>>;
    struct Case {
        std::vector<TrackPart> parts;
        Notes expected;
    };
    const Case cases[] = {
        {{{2, 2}}, {{0, 0, 67}}},
        {{{3, 0}, {2, 1}}, {{0, 1, 60}, {120, 0, 36}, {480, 0, 38}, {480, 1, 62}}},
        {{{2, 1}, {3, 0}, {2, 2}}, {{0, 0, 60}, {0, 2, 67}, {120, 1, 36}, {480, 0, 62}, {480, 1, 38}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parts.size());
        NoteLog log;
        NullProgress quiet;
        ProgressThrottle throttle(quiet, partsLength(song, c.parts));
        const auto end = walkParts(file, song, c.parts, log, throttle, [&](std::size_t part) { log.part = part; });
        EXPECT_EQ(end, WalkEnd::Complete);
        EXPECT_EQ(log.notes, c.expected);
    }
}

}  // namespace
}  // namespace zentrowe::song

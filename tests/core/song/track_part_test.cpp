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

TEST(TrackPart, ListsEachChannelThatPlaysNotesWithItsInstrumentAndDetails)
{
    const auto file = threeTrackSong();
    const auto rows = listChannelParts(file, testing::summaryOf(file));
    struct Expected {
        TrackPart part;
        std::int64_t notes;
        std::string_view instrument;
        std::string_view family;
        double lastNoteSeconds;  // at the default 120 BPM, 480 ticks a beat
        int lowest;
        int highest;
    };
    const Expected expected[] = {
        {{2, 1}, 2, "Acoustic Grand Piano", kFamilyNames[0], 0.5, 60, 62},
        {{2, 2}, 1, "Pizzicato Strings", kFamilyNames[45 / 8], 0, 67, 67},  // program 45
        {{3, 10}, 2, kDrumInstrument, kDrumFamily, 0.5, 36, 38},
    };
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE(k);
        const auto& row = rows[k];
        EXPECT_EQ(row.part, expected[k].part);
        EXPECT_EQ(row.noteCount, expected[k].notes);
        EXPECT_NE(row.instrument.find(expected[k].instrument), std::string::npos) << row.instrument;
        EXPECT_EQ(row.family, expected[k].family);
        EXPECT_EQ(row.details.noteCount, expected[k].notes);
        EXPECT_DOUBLE_EQ(row.details.lastNoteSeconds, expected[k].lastNoteSeconds);
        EXPECT_EQ(row.details.lowestPitch, expected[k].lowest);
        EXPECT_EQ(row.details.highestPitch, expected[k].highest);
    }
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

#include "core/convert/track_note.h"

#include <gtest/gtest.h>

#include "track_note_support.h"

namespace zentrowe::convert {
namespace {

TEST(TrackNote, PlacedNotesComeInTimeOrderWithTheirKeysounds)
{
    KeysoundTable keysounds;
    const std::size_t low = *keysounds.findOrAdd(48, 480, 90, 0);
    const std::size_t high = *keysounds.findOrAdd(72, 120, 100, 0);
    // Placed as they ended: the long low note last, though it starts first.
    const std::vector<PlacedNote> placed{{240, 1, high, 0}, {0, 2, high, 0}, {0, 3, low, 1920}};
    const PlacedTrackNotes ordered = trackNotesOf(placed, keysounds);
    EXPECT_EQ(ordered.placedIndex, (std::vector<std::size_t>{2, 1, 0}));
    ASSERT_EQ(ordered.notes.size(), 3u);
    const TrackNote& first = ordered.notes[0];
    EXPECT_EQ(first.note, 48);
    EXPECT_EQ(first.endTick, 1920) << "held for its held length";
    EXPECT_TRUE(first.held);
    EXPECT_EQ(ordered.notes[2].startTick, 240);
    EXPECT_EQ(ordered.notes[2].endTick, 360) << "sounding for its keysound's length";
    EXPECT_EQ(ordered.notes[2].velocity, 100);
    EXPECT_FALSE(ordered.notes[2].held);
}

TEST(TrackNote, PlayingTimeRunsFromTheFirstStartToTheLastEndAndIsAtLeastASecond)
{
    using testing::note;
    const auto clock = testing::clock120();  // 960 ticks a second
    EXPECT_DOUBLE_EQ(playingSeconds(std::vector<TrackNote>{note(960, 4800, 60), note(1920, 960, 62)}, clock), 5.0);
    EXPECT_DOUBLE_EQ(playingSeconds(std::vector<TrackNote>{note(0, 10, 60)}, clock), 1.0);
    EXPECT_DOUBLE_EQ(playingSeconds(std::vector<TrackNote>{}, clock), 1.0);
}

TEST(TrackNote, LanesGoToTheirBmsChannels)
{
    const std::vector<std::pair<int, std::string_view>> cases{{0, "11"}, {4, "15"}, {5, "18"}, {6, "19"},
                                                              {kScratchLane, "16"}, {kBackgroundLane, "01"}, {9, "01"}};
    for (const auto& [lane, channel] : cases) {
        SCOPED_TRACE(lane);
        EXPECT_EQ(laneChannel(lane), channel);
    }
}

}  // namespace
}  // namespace zentrowe::convert

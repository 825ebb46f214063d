#include "core/chartset/track_note.h"

#include <gtest/gtest.h>

#include "core/chartset/track_note_support.h"

namespace zentrowe::chartset {
namespace {

TEST(TrackNote, PlacedNotesComeInTimeOrderWithTheirKeysounds)
{
    convert::KeysoundTable keysounds;
    const std::size_t low = *keysounds.findOrAdd(48, 480, 90, 0);
    const std::size_t high = *keysounds.findOrAdd(72, 120, 100, 0);
    // Placed as they ended: the long low note last, though it starts first.
    const std::vector<convert::PlacedNote> placed{{240, 1, high, 0}, {0, 2, high, 0}, {0, 3, low, 1920}};
    const PlacedTrackNotes ordered = trackNotesOf(placed, keysounds);
    EXPECT_EQ(ordered.placedIndex, (std::vector<std::size_t>{2, 1, 0}));
    ASSERT_EQ(ordered.notes.size(), 3u);
    EXPECT_EQ(std::tuple(ordered.notes[0].note, ordered.notes[0].endTick, ordered.notes[0].held), std::tuple(48, 1920, true))
        << "held for its held length";
    EXPECT_EQ(std::tuple(ordered.notes[2].startTick, ordered.notes[2].endTick, ordered.notes[2].velocity, ordered.notes[2].held),
              std::tuple(240, 360, 100, false))
        << "sounding for its keysound's length";
}

TEST(TrackNote, PlayingTimeRunsFromTheFirstStartToTheLastEndAndIsAtLeastASecond)
{
    const auto clock = testing::clock120();  // 960 ticks a second
    EXPECT_DOUBLE_EQ(playingSeconds(std::vector<TrackNote>{testing::note(960, 4800, 60), testing::note(1920, 960, 62)}, clock), 5.0);
    EXPECT_DOUBLE_EQ(playingSeconds(std::vector<TrackNote>{testing::note(0, 10, 60)}, clock), 1.0);
}

}  // namespace
}  // namespace zentrowe::chartset

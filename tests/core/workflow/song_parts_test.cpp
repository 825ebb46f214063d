#include "core/workflow/song_parts.h"

#include <gtest/gtest.h>

#include "core/base/progress.h"
#include "core/convert/convert_test_support.h"
#include "core/keysound/keysound_states.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

// Track 1 plays a chord and a held note on channel 1; track 2 plays on channels 2 and 3, its
// channel 3 note starting under a channel 2 one, and a note still sounding at the track's end.
Bytes twoTrackSong()
{
    const std::vector<TimedEvent> first = {on(0, 60),    on(0, 64),   off(240, 60),
                                           off(240, 64), on(480, 67), off(1440, 67)};
    const std::vector<TimedEvent> second = {on(0, 40, 90, 1), on(120, 52, 70, 2), off(480, 40, 1),
                                            off(600, 52, 2),  on(960, 43, 80, 1), on(1200, 43, 60, 2)};
    return midiFile(1, 480, {eventTrack(first), eventTrack(second, 0)});
}

TEST(SongParts, HoldsWhatTheBytesGiveReadOnceAPart)
{
    const Bytes file = twoTrackSong();
    NullProgress quiet;
    const auto summary = song::summarizeSong(file, "song.mid", quiet).value();
    workflow::SongParts parts(file, summary);
    EXPECT_EQ(parts.noteReads(), 0u) << "nothing read before it is asked for";
    const auto rows = song::listChannelParts(file, summary);
    ASSERT_EQ(rows.size(), 3u) << "track 1's channel, then track 2's two";
    ASSERT_EQ(parts.rows().size(), rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(parts.rows()[k].part, rows[k].part);
        EXPECT_EQ(parts.rows()[k].noteCount, rows[k].noteCount);
        EXPECT_EQ(parts.rows()[k].instrument, rows[k].instrument);
    }
    struct Case {
        const char* name;
        song::TrackPart part;
        std::size_t notes;
    };
    const Case cases[] = {
        {"a whole track", {1, 0}, 3},           {"a track's two channels together", {2, 0}, 4},
        {"one channel of it", {2, 3}, 2},       {"a channel with no notes", {2, 9}, 0},
        {"a track past the song's", {7, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto direct = keysound::readNoteStarts(file, summary, std::span(&c.part, 1)).notes;
        ASSERT_EQ(direct.size(), c.notes);
        for (int asked = 0; asked < 2; ++asked) {
            const auto& held = parts.noteStarts(c.part);
            ASSERT_EQ(held.size(), direct.size());
            for (std::size_t k = 0; k < direct.size(); ++k) {
                const workflow::PartNoteStart expected{direct[k].startTick, direct[k].lengthTicks, direct[k].channel,
                                                       direct[k].note, direct[k].velocity};
                EXPECT_EQ(held[k], expected) << "note " << k << ", in the order they are read";
            }
        }
    }
    EXPECT_EQ(parts.noteReads(), std::size(cases)) << "each part walked once however often it is asked";
}

}  // namespace
}  // namespace zentrowe::testing

#include "core/chartset/part_selection.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/chartset/difficulty.h"
#include "track_note_support.h"

namespace zentrowe::chartset {
namespace {

using testing::kQuarter;
using testing::note;

TrackNote of(TrackNote made, std::uint16_t part, bool drums = false)
{
    made.part = part;
    made.drums = drums;
    return made;
}

TEST(PartSelection, RolesFollowDrumsPitchAndTheOrderNamed)
{
    struct Case {
        const char* name;
        std::vector<TrackNote> notes;
        std::vector<PartRole> roles;
    };
    const Case cases[] = {
        {"one melodic part", {of(note(0, 100, 72), 0)}, {PartRole::Melody}},
        {"drums named first, then a guitar",
         {of(note(0, 100, 36), 0, true), of(note(0, 100, 64), 1)},
         {PartRole::Drums, PartRole::Melody}},
        {"a bass below C3, then two melodic parts: the first named leads",
         {of(note(0, 100, 40), 0), of(note(0, 100, 45), 0), of(note(0, 100, 50), 0), of(note(0, 100, 67), 1),
          of(note(0, 100, 60), 2)},
         {PartRole::Bass, PartRole::Melody, PartRole::Other}},
        {"a part whose median is C3 is not a bass", {of(note(0, 100, 47), 0), of(note(0, 100, 48), 0)},
         {PartRole::Melody}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(partRoles(c.notes), c.roles);
    }
}

// Eight seconds at 240 BPM (a 16th is 62.5 ms): a soft melody on the 16ths between the 8ths,
// drums of a loud kick on every beat and a hi-hat on every off-beat 8th. By weight alone the
// drums, on the stronger beats and louder, would take the charts and leave the melody out.
std::vector<TrackNote> offBeatMelodyAndDrums()
{
    std::vector<TrackNote> notes;
    for (int step = 0; step < 8 * 16; ++step) {
        const std::int64_t start = std::int64_t{step} * (kQuarter / 4);
        if (step % 2 == 1) {
            notes.push_back(of(note(start, kQuarter / 4 - 10, 72 + step % 12, 70), 0));
        } else {
            notes.push_back(of(note(start, 10, step % 4 == 0 ? 36 : 42, step % 4 == 0 ? 110 : 70), 1, true));
        }
    }
    return testing::inTimeOrder(notes);
}

TEST(PartSelection, EachChartTakesTheMelodyFirstThenTheDrumAccents)
{
    const auto notes = offBeatMelodyAndDrums();
    const auto clock = testing::clock240();
    struct Case {
        Difficulty difficulty;
        bool roomForDrums;  // strikes may be a 16th apart
    };
    for (const Case c : {Case{Difficulty::Hyper, false}, Case{Difficulty::Another, true}}) {
        SCOPED_TRACE(difficultyName(c.difficulty));
        const auto limits = difficultyLimits(c.difficulty);
        const auto kept = thinNotes(notes, clock, limits);
        int melody = 0;
        int kicks = 0;
        int hats = 0;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            if (kept[i]) {
                (notes[i].part == 0 ? melody : notes[i].note == 36 ? kicks : hats) += 1;
            }
        }
        const double target = std::floor(limits.maxNotesPerSecond * playingSeconds(notes, clock));
        EXPECT_LE(melody + kicks + hats, static_cast<int>(target));
        EXPECT_GE(melody, static_cast<int>(kTierShares[0] * target)) << "the melody goes first";
        if (c.roomForDrums) {
            EXPECT_GE(kicks, static_cast<int>(kTierShares[1] * target)) << "then the accents";
            EXPECT_LE(hats, static_cast<int>(kTierShares[2] * target) + 1) << "the rest has what is left";
        }
    }
}

}  // namespace
}  // namespace zentrowe::chartset

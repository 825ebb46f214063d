#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/chartset/difficulty.h"
#include "core/chartset/music_follow.h"
#include "core/chartset/note_grid.h"
#include "core/chartset/track_note.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// What a player feels beyond the notes per second, each term in notes per second that the
// chart plays like on top of its density; a chart of even single notes spread over the keys,
// without long notes, gets about nothing from them. Each term only grows when the same chart is
// played faster and none depends on which lane is which, only on whether two notes share one,
// so a mirrored chart rates the same.
struct LevelTerms {
    double density = 0;    // levelDensity of the average and the peak (or the overall strain, if higher)
    double repeats = 0;    // the per-key strain: notes on a lane struck again soon
    double chords = 0;     // notes struck together with another
    double longNotes = 0;  // notes held while others are struck
    double scratch = 0;    // notes on the scratch, which take the left hand off its keys
    double stamina = 0;    // the busiest minute

    double total() const { return density + repeats + chords + longNotes + scratch + stamina; }
};

// What one chart of a set holds, as a player would judge it before playing.
struct ChartReport {
    Difficulty difficulty = Difficulty::Normal;
    std::int64_t notes = 0;            // in the lanes
    std::int64_t backgroundNotes = 0;  // played from the background at their place
    double averageDensity = 0;         // lane notes per second of the track's playing time
    double peakDensity = 0;            // the most lane notes in any kPeakWindowSeconds, per second
    int largestChord = 0;              // the most lane notes struck at one tick
    double repeatShare = 0;            // lane notes whose lane had a note less than kRepeatWindowSeconds before
    double chordShare = 0;             // lane notes struck at the tick of another
    double longNoteShare = 0;          // lane notes held (long notes)
    double scratchShare = 0;           // lane notes on the scratch
    double staminaDensity = 0;         // the most lane notes in any kStaminaWindowSeconds, per second
    double keyStrain = 0;              // per-key strain: mean over the notes of their lane's strain above 1
    double overallStrain = 0;          // overall strain: mean of the highest tenth of the notes' strains
    LevelTerms terms;
    int level = 1;  // #PLAYLEVEL
    GridFit grid;   // how the track's notes sat on the grids before any quantizing (makeChartSet)
    // Lane notes per part the set draws on (by TrackNote::part); filled by makeChartSet.
    std::vector<std::int64_t> notesByPart;
    // Where the chosen parts rest and the lanes take another part (followMusic), the same in
    // every chart of a set; filled by makeChartSet.
    std::vector<BorrowedStretch> borrowed;
};

inline constexpr double kPeakWindowSeconds = 2.0;
inline constexpr double kStaminaWindowSeconds = 60.0;
// Strain decays as exp(-t / tau) between notes, each note adding 1: a lane's strain forgets in a
// quarter second (a jack is felt in the finger), the overall in one (steady play at r notes a
// second holds it near r + 0.5).
inline constexpr double kKeyStrainSeconds = 0.25;
inline constexpr double kOverallStrainSeconds = 1.0;

// The report of the chart whose lanes (layoutLanes, one per note) are `lanes`, with its level:
// levelForDensity of levelTerms(report).total(). A lane list of another length than `notes`
// counts every note as background. Lanes kSideLanes and up are a double-play chart's second side,
// counted as keys of their own, so its level reflects both hands.
ChartReport reportChart(std::span<const TrackNote> notes, std::span<const int> lanes, const song::Timeline& clock,
                        Difficulty difficulty);

// The level of a density in notes per second, from a community guideline for 7-key charts that
// gives the average density of charts by level: about 1.5 notes/s at level 1, 4 at level 4, 7 at
// level 7, 10.2 at level 10 and 13.8 at level 12. Between those points the level is interpolated
// linearly, past the last one it goes on at the last slope (1.8 notes/s a level); rounded half
// up, at least 1, at most 12 unless `insane` (the full track), which may go to 99.
int levelForDensity(double notesPerSecond, bool insane);

// The density a chart is levelled by: its average plus a quarter of what its busiest two seconds
// have above it, since a burst the player cannot read fails the chart however calm the rest is.
// A chart of even density is levelled by its average alone.
double levelDensity(double averageDensity, double peakDensity);

// The level terms of a report whose counts are filled in (all but terms and level).
LevelTerms levelTerms(const ChartReport& report);

// Levels of a set, easiest first, made to rise strictly with the difficulty: thinning may leave
// an easier chart a burst its harder sibling smooths over, and two charts at one level give the
// player no reason to choose, but a player expects #PLAYLEVEL to follow #DIFFICULTY. Where a
// chart below insane would pass level 12, the charts under it step down instead (never below 1).
void keepLevelsRising(std::span<ChartReport> reports);

// #TOTAL, how much a full combo fills the gauge: 7.605 × notes / (0.01 × notes + 6.5), a widely
// used formula for 7-key charts' gauge total (it grows with the note count, flattening out past a
// few thousand notes), rounded, and at least kLeastTotal.
int gaugeTotal(std::int64_t notes);
// 160 is the total players assume for a chart without a #TOTAL line; below it a short chart
// (under about 170 notes) would fill the gauge slower than such a chart, and be harder to clear
// than its level says.
inline constexpr int kLeastTotal = 160;

// The header lines that tell a set's charts apart on the song-select screen.
struct ChartHeader {
    int playLevel = 1;
    int difficulty = 2;    // #DIFFICULTY 1 (beginner) to 5 (insane)
    std::string subtitle;  // "[NORMAL]"
    int rank = 2;          // #RANK 2: the normal timing window
    int total = kLeastTotal;
};

ChartHeader chartHeader(const ChartReport& report);

// "#PLAYLEVEL 7", "#DIFFICULTY 3", "#SUBTITLE [HYPER]", "#RANK 2", "#TOTAL 300", each ended by
// CR LF as the chart's other lines are.
std::string headerLines(const ChartHeader& header);

}  // namespace zentrowe::chartset

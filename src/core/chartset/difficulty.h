#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"
#include "core/chartset/lane_layout.h"
#include "core/chartset/track_note.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// The charts of a set, easiest first; the order is that of #DIFFICULTY 1 to 5.
enum class Difficulty { Beginner, Normal, Hyper, Another, Insane };

inline constexpr std::array<Difficulty, 5> kAllDifficulties = {
    Difficulty::Beginner, Difficulty::Normal, Difficulty::Hyper, Difficulty::Another, Difficulty::Insane};

// What a difficulty lets into the lanes. 0 means no limit.
struct DifficultyLimits {
    int maxNotesAtOnce = 0;        // lane notes struck together, plus held notes still down
    double maxNotesPerSecond = 0;  // lane notes over the track's playing time
    // Kept strikes (start ticks) at least this far apart: the average alone would let a
    // beginner chart keep a 16th run and drop everything around it.
    double minStrikeSeconds = 0;
    LayoutLimits layout;
};

// Beginner to insane: 1 / 2 / 3 / 4 / any notes at once; about 2 / 4 / 7 / 10 / 20 notes per
// second; same-lane repeats (jacks) no closer than 0.5 / 0.25 / 0.125 s below another, and 60 ms
// in another and insane (closer is beyond a finger); repeats within kRepeatWindowSeconds for at
// most 5 / 5 / 15 / 30 / 45 % of the notes, chords repeating a lane only in another and insane;
// keys 3-5 never more than 60 % of the key notes; in insane, strikes at least 30 ms apart.
// From hyper up accents go to the scratch, about 4 / 6 / 7 % of the notes, never two within
// 250 ms; below hyper the scratch takes no accents.
DifficultyLimits difficultyLimits(Difficulty difficulty);

std::string_view difficultyName(Difficulty difficulty);      // "beginner" ... "insane"
std::string_view difficultySubtitle(Difficulty difficulty);  // "[BEGINNER]" ... "[INSANE]"
int difficultyNumber(Difficulty difficulty);                 // #DIFFICULTY: 1 to 5
char difficultyLetter(Difficulty difficulty);                // 'B', 'N', 'H', 'A', 'X'

// The chart's file stem in a set: "NAME_B" ... "NAME_X".
std::string chartStem(std::string_view name, Difficulty difficulty);

// A --difficulties list: names separated by commas (spaces around them ignored), in any order,
// returned easiest first. InvalidSetting (subject "difficulties", value the name at fault) for
// an unknown or empty name or one given twice.
Result<std::vector<Difficulty>> parseDifficulties(std::string_view text);

// The set to build when none is asked for: normal, hyper and another, and insane (the track at
// 20 notes a second, strums made one strike) when another would leave some of the track's notes out of the lanes.
std::vector<Difficulty> defaultDifficulties(std::span<const TrackNote> notes, const song::Timeline& clock);

// The longest a chart leaves its player idle where its track strikes notes (as thinNotes keeps).
inline constexpr double kPulseSeconds = 4.0;

// Which notes a difficulty keeps in the lanes (one flag per note; the rest play from the
// background at their place). Thinning keeps what a listener hears as the tune: notes on strong
// beats and the top voice of each chord first, then louder, then longer notes, as long as the
// limits allow; never more than the track has. Then, while the track plays, no stretch longer
// than kPulseSeconds between kept strikes is left with none where the track strikes: the
// heaviest strike there the limits allow is kept too, above the notes-per-second cap if need
// be (a quiet passage is what the cap thins first, and a player left idle through it is lost).
// Notes must be in time order.
std::vector<bool> thinNotes(std::span<const TrackNote> notes, const song::Timeline& clock,
                            const DifficultyLimits& limits);

// How much a note is worth keeping, higher first: beat strength (beatStrength) plus 2 for the
// top voice of its chord, then velocity, then length. Compared as a tuple.
struct NoteWeight {
    int beatAndVoice = 0;
    int velocity = 0;
    std::int64_t lengthTicks = 0;

    friend auto operator<=>(const NoteWeight&, const NoteWeight&) = default;
};
NoteWeight noteWeight(const TrackNote& note, bool topVoice, std::int32_t ticksPerMeasure);

// The limits of each chart of a set (difficulties easiest first): each difficulty's own, and
// below the hardest at most kSetStep of the notes per second the next harder chart keeps (and
// at least one note), so that a song calmer than the caps gets charts a step apart, not copies
// of one chart under three names. Caps of dense tracks are a step apart already.
inline constexpr double kSetStep = 0.75;
std::vector<DifficultyLimits> setLimits(std::span<const TrackNote> notes, const song::Timeline& clock,
                                        std::span<const Difficulty> set);

// The lanes of one chart of the set: thinned, then laid out. A note thinning keeps may still end
// in the background when no lane can take it (every key held, or repeats too fast).
std::vector<int> chartLanes(std::span<const TrackNote> notes, const song::Timeline& clock,
                            const DifficultyLimits& limits, bool percussion);
std::vector<int> chartLanes(std::span<const TrackNote> notes, const song::Timeline& clock, Difficulty difficulty,
                            bool percussion);

}  // namespace zentrowe::chartset

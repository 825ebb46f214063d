#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/chartset/chart_set.h"
#include "core/chartset/music_follow.h"
#include "core/chartset/track_note.h"
#include "core/convert/keysound_table.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// "#PLAYER 3": both sides, 14 keys and two scratches, one player.
inline constexpr int kDoublePlayPlayer = 3;
// The second side's channels are the first's plus this: keys 21-25, 28, 29, scratch 26, and its
// long notes 61-69 beside the first side's 51-59.
inline constexpr std::uint8_t kSecondSideChannelOffset = 10;

// A double-play chart's first side keeps to the tune: where `followed` borrows nothing (its
// chosenParts 0, which lets every note in), only notes of parts below `tuneParts` stay
// candidates. A followed set already keeps the other parts to the stretches it borrows.
void keepFirstSideToTune(FollowedMusic& followed, std::span<const TrackNote> notes, std::size_t tuneParts);

// The charts of `set` (made as single play, written with their lines) as double play: in each,
// the notes of parts from request.tuneParts on that play from the background are thinned to the
// chart's difficulty and laid out on the second side as the first side's notes are (the same
// caps and lane rules, the scratch as request.scratch says), each at its own place with its own
// code; the rest stay in the background. So every note still sounds once, at the same moment in
// every chart. Each header gets #PLAYER 3 and each report counts both sides (the second side's
// lanes from kSideLanes), so the levels reflect both hands; the caller makes them rise. The
// keysound definitions must be those of `keysounds`, in table order. False when a chart's second
// side is left without notes (nothing of the other parts plays from its background).
bool addSecondSide(std::vector<SetChart>& set, const convert::KeysoundTable& keysounds, const song::Timeline& clock,
                   const ChartSetRequest& request);

// The name of a set chart's double-play form: "song_N.bms" gives "song_N_DP.bms", "song_N.bmson"
// "song_N_DP.bmson", so that both forms can lie in one folder and tell apart on sight.
std::string doublePlayFileName(std::string_view setChartName);

// True for a stem a double-play chart of the set has: "song_N_DP" for "song_N".
bool isDoublePlayStem(std::string_view stem, std::string_view setChartStem);

}  // namespace zentrowe::chartset

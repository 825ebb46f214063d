#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/chartset/chart_set.h"
#include "core/chartset/music_follow.h"
#include "core/song/timeline.h"
#include "core/song/track_part.h"
#include "core/workflow/build_request.h"
#include "core/workflow/song_parts.h"

namespace zentrowe::workflow {

// The request a build converts when its charts follow the music: the chosen parts, then the
// other tracks and channels of the song (song::listChannelParts, in that order) that carry the
// music somewhere the chosen parts rest (chartset::followMusic on their note starts), so
// that the lanes can take them there; request.charts.chosenParts says how many were chosen. Those
// parts' notes are then the conversion's keysounds, on the background channel wherever the lanes
// leave them, so every note still sounds once and nothing plays twice; the song's other parts
// play as before. The request as it is (chosenParts 0) when the chosen parts never rest while
// the song plays, or the charts keep to them: charts.follow off, percussion mode, convert's own
// lanes (LaneRule::Seed), or the other tracks played other than a keysound a note (a note the
// lanes take could not leave a BGM file).
// `song` is the request's song; its rows and the notes of the parts weighed are read from it.
BuildRequest withFollowedParts(BuildRequest request, SongParts& song);

// True when the request asks to follow the music but its other settings keep the lanes to the
// chosen parts (BGM slices, one file or none; percussion mode; convert's lanes).
bool followSetAside(const BuildRequest& request);

// A stretch whose lane notes come from another part, as a build tells it: the part, and the
// song's seconds (before any lead-in) it starts and ends at.
struct FollowedStretch {
    song::TrackPart part;
    double startSeconds = 0;
    double endSeconds = 0;
};

// The stretches of `borrowed` by the parts of the conversion (chartedParts); a stretch naming a
// part past them is left out.
std::vector<FollowedStretch> followedStretches(std::span<const chartset::BorrowedStretch> borrowed,
                                               std::span<const song::TrackPart> parts, const song::Timeline& clock);

// The stretches as the manifest keeps them: "3:2 24.0-38.5,5 80.0-96.0" (each part as --track
// takes it, then its seconds with one decimal); empty for none.
std::string followedText(std::span<const FollowedStretch> stretches);

}  // namespace zentrowe::workflow

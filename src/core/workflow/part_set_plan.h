#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/chartset/chart_set.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"
#include "core/workflow/build_request.h"
#include "core/workflow/song_parts.h"

namespace zentrowe::workflow {

// With a set per part and one part named (--track 4 alone), every other part of the song with
// at least this many notes is given a set too: fewer make a chart with little to press.
inline constexpr std::int64_t kLeastPartSetNotes = 64;

// What choosing the parts' sets found, for each face to word.
struct PartSetFindings {
    std::vector<std::vector<song::TrackPart>> alike;  // parts that share every note; the first has the set
    std::vector<song::TrackPart> silent;              // parts named that play no note: no set
    std::vector<song::TrackPart> added;               // the song's parts given a set besides the one named
};

// The request a build converts, with the lanes following the music (withFollowedParts). With
// request.charts.setPerPart: the parts named (or, with one named, it and every other track or
// channel of the song with at least kLeastPartSetNotes notes) are charted together, and
// charts.partSets gives each of them that plays notes a set, parts that play the same notes
// (same starts, keys and lengths) one set; `found` says which were merged, left out or added.
// `song` is the request's song, read for its parts' rows and notes.
BuildRequest withPartSets(const BuildRequest& asked, SongParts& song, PartSetFindings& found);

// The name a part's set shows in its #SUBTITLE: a whole track's name, else the instrument of its
// first notes, else "track 4" (song::partName).
std::string partSetName(SongParts& song, const song::TrackPart& part);

}  // namespace zentrowe::workflow

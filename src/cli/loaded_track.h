#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/base/progress.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::cli {

// The song a command reads and the track --track names in it.
struct LoadedTrack {
    song::SongSummary song;              // its warning (tracks lost to damage) left for the command to word
    int trackNumber = 0;                 // 1-based: the first part's
    std::vector<song::TrackPart> parts;  // what --track names: a track, a channel of one, or several
    int exitCode = kExitDone;            // else what the command exits with, its reason already on stderr
    explicit operator bool() const { return exitCode == kExitDone; }
};

// Reads `file` and resolves `trackDigits` (as --track took them: "4", "4:2", "4,2") in it, as
// build, convert, events and check all do: a file that cannot be read, or a track it does not
// have, is one sentence on stderr and kExitBadInput; text that names no parts or one twice,
// kExitUsage (readTrackParts); a signal that stopped the reading, its exit code.
LoadedTrack loadTrack(const std::string& file, const std::string& trackDigits, ProgressSink& progress);

}  // namespace zentrowe::cli

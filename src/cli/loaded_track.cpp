#include "cli/loaded_track.h"

#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/song/event_listing.h"

namespace zentrowe::cli {

LoadedTrack loadTrack(const std::string& file, const std::string& trackDigits, ProgressSink& progress)
{
    LoadedTrack loaded;
    auto summary = song::readSongSummary(file, progress);
    if (!summary) {
        if (const auto stopped = SignalStop::exitCodeIfStopped()) {
            loaded.exitCode = *stopped;
            return loaded;
        }
        reportError(summary.error().message);
        loaded.exitCode = kExitBadInput;
        return loaded;
    }
    const auto track = song::trackNumberFromDigits(*summary, trackDigits, displayPath(file));
    if (!track) {
        reportError(track.error().message);
        loaded.exitCode = kExitBadInput;
        return loaded;
    }
    loaded.song = std::move(summary).value();
    loaded.trackNumber = *track;
    return loaded;
}

}  // namespace zentrowe::cli

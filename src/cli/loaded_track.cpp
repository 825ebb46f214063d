#include "cli/loaded_track.h"

#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/song/event_listing.h"

namespace zentrowe::cli {

LoadedTrack loadTrack(const std::string& file, const std::string& trackDigits, ProgressSink& progress)
{
    LoadedTrack loaded;
    auto summary = song::readSongSummary(utf8Path(file), progress);
    if (!summary) {
        if (const auto stopped = SignalStop::exitCodeIfStopped()) {
            loaded.exitCode = *stopped;
            return loaded;
        }
        reportError(summary.error().message);
        loaded.exitCode = kExitBadInput;
        return loaded;
    }
    int exitCode = kExitBadInput;
    auto parts = readTrackParts(*summary, trackDigits, displayPath(utf8Path(file)), exitCode);
    if (!parts) {
        loaded.exitCode = exitCode;
        return loaded;
    }
    loaded.song = std::move(summary).value();
    loaded.parts = std::move(*parts);
    loaded.trackNumber = loaded.parts.front().trackNumber;
    return loaded;
}

}  // namespace zentrowe::cli

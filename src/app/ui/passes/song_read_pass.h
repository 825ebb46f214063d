#pragma once

#include <filesystem>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/song_summary.h"
#include "core/song/track_details.h"
#include "core/song/track_part.h"

namespace zentrowe::app {

// Reads a MIDI file for the track list: its summary, and with it each track's times and
// densities and the channels its notes play on, all from the same pass.
class SongReadPass final {
public:
    struct Output {
        Result<song::SongSummary> summary;  // what stopped the reading, if it failed
        std::vector<song::TrackDetails> details;
        std::vector<song::ChannelPartRow> channelParts;

        static Output failed(Error error) { return Output{std::move(error), {}, {}}; }
    };

    explicit SongReadPass(std::filesystem::path midiFile) : m_midiFile(std::move(midiFile)) { }

    // On the pass's thread; details and parts stay empty if they cannot be read.
    Output operator()(ProgressSink& progress) const;

private:
    std::filesystem::path m_midiFile;
};

}  // namespace zentrowe::app

#pragma once

#include <filesystem>
#include <utility>

#include "app/controls/text_table.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/song_summary.h"

namespace zentrowe::app {

// Lists one track's events for the track info window: the rows are gathered on the pass's
// thread and handed over whole when it ends.
class EventListingPass final {
public:
    // Why the listing stopped, if it did, and the rows read until then (delta, event, text).
    using Output = std::pair<Status, TextTable>;

    EventListingPass(std::filesystem::path midiFile, song::SongSummary song, int trackNumber)
        : m_midiFile(std::move(midiFile)), m_song(std::move(song)), m_trackNumber(trackNumber)
    {
    }

    Output operator()(ProgressSink& progress) const;

private:
    std::filesystem::path m_midiFile;
    song::SongSummary m_song;
    int m_trackNumber;  // 1-based, as the list shows it
};

}  // namespace zentrowe::app

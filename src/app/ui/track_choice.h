#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "core/song/song_summary.h"
#include "core/song/track_details.h"
#include "core/song/track_part.h"

namespace zentrowe::app {

class ListView;

// The rows of the main window's track list and the parts the user chose in them. A source song
// lists a row per track and, under a track that plays notes on several channels, a row per
// channel part, as `zentrowe-cli tracks --channels` lists them. Ticked rows are the parts a
// build's lanes draw on, in the order they were ticked: ticking track 4, then track 2 asks what
// `--track 4,2` asks. Without a tick, the selected row is the choice.
class TrackChoice {
public:
    // Fills `list` with the song's rows and forgets the ticks. `details` and `channelParts` are
    // the source song's; without details (the keysound file after a conversion) the rows get
    // neither tick boxes nor parts.
    void list(ListView& list, const song::SongSummary& song, const std::vector<song::TrackDetails>& details,
              const std::vector<song::ChannelPartRow>& channelParts);

    // The part row `row` stands for (channel 0 for a track's row); none for a row not listed.
    std::optional<song::TrackPart> partAt(int row) const;
    // The row showing `part`; -1 if none does.
    int rowOf(const song::TrackPart& part) const;

    // Follows the tick of `row` as `list` reports it. Ticking a track unticks its parts, and a
    // part its track: each note goes to the lanes once, so the choice is always one --track takes.
    void onTicked(ListView& list, int row, bool ticked);
    // The ticked parts, in the order they were ticked.
    const std::vector<song::TrackPart>& ticked() const { return m_ticked; }
    // What a command takes: the ticked parts, else the part of `selectedRow`; empty if neither.
    std::vector<song::TrackPart> chosen(int selectedRow) const;

    // True when every note of `parts` is on the drum channel (channel 10); false without details.
    static bool allDrums(const std::vector<song::TrackPart>& parts, const std::vector<song::TrackDetails>& details);

private:
    std::vector<song::TrackPart> m_rows;
    std::vector<song::TrackPart> m_ticked;
};

// "音轨 02", or "音轨 01 通道 2" for a channel part.
QString partLabel(const song::TrackPart& part);
// What a title calls the choice: a whole track with its name ("音轨 02 Piano"), else the parts'
// labels in order ("音轨 04、音轨 02").
QString choiceTitle(const std::vector<song::TrackPart>& parts, const song::SongSummary& song);

}  // namespace zentrowe::app

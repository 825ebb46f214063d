#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/convert/chart_generator.h"
#include "core/convert/placed_note_sink.h"
#include "core/song/song_summary.h"

namespace zentrowe::chart {

// A bmson chart as this program writes it: every time in ticks of the source song
// (`resolution` ticks per quarter note), so nothing is floored or rounded.
struct BmsonNote {
    std::int64_t x = 0;  // lane: 1 to 7, 8 the scratch; 0 plays in the background
    std::int64_t y = 0;  // start tick
    std::int64_t l = 0;  // held ticks of a long note; 0 otherwise
};

struct BmsonSoundChannel {
    std::string name;  // the sound file's name
    std::vector<BmsonNote> notes;
};

struct BmsonTempo {
    std::int64_t y = 0;
    double bpm = 0;
};

struct BmsonChart {
    std::string title;
    std::optional<std::string> artist;
    double initBpm = 0;
    std::int64_t resolution = 0;
    std::vector<std::int64_t> lines;  // bar lines
    std::vector<BmsonTempo> bpmEvents;
    std::vector<BmsonSoundChannel> soundChannels;
};

// Collects the generator's placed notes, one list per keysound, each note in its bmson lane.
class BmsonNoteCollector final : public convert::PlacedNoteSink {
public:
    void notePlaced(const convert::PlacedNote& note) override;
    std::vector<std::vector<BmsonNote>>& notesOfKeysounds() { return m_notes; }

private:
    std::vector<std::vector<BmsonNote>> m_notes;
};

// The bmson lane of a generator lane (kLaneChannels order): channels 11 to 15 are lanes 1 to 5,
// 18 lane 6 and 16 the scratch, lane 8.
std::int64_t bmsonLane(int generatorLane);

// What to call the song and its sound files.
struct BmsonNaming {
    std::string title;
    std::optional<std::string> artist;
    std::string keysoundName;     // the prefix of every keysound stem
    std::string soundExtension;   // ".ogg" or ".wav"
};

// The chart of a conversion read through `notes`: one sound channel per keysound (notes in start
// order), the tempo changes up to the last placed tick at their exact ticks, and a bar line at
// every measure up to the end of the last one holding a note.
BmsonChart makeBmsonChart(const song::SongSummary& song, const convert::GeneratedChart& generated,
                          BmsonNoteCollector& notes, const BmsonNaming& naming);

// The tempo of a Set Tempo value in beats per minute, unrounded.
double bpmOfMicros(std::uint32_t tempoMicros);

// The chart as bmson 1.0.0 JSON (UTF-8: bytes of `title`, `artist` or a name that are not UTF-8
// become U+FFFD, one for each broken-off sequence or stray byte).
std::string bmsonText(const BmsonChart& chart);

}  // namespace zentrowe::chart

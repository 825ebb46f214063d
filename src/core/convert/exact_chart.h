#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/convert/chart_generator.h"
#include "core/convert/keysound_table.h"
#include "core/convert/placed_note_sink.h"
#include "core/song/song_summary.h"

namespace zentrowe::convert {

// Collects the generator's placed notes for a chart that keeps their exact ticks (bmson).
class ExactNoteCollector final : public PlacedNoteSink {
public:
    void notePlaced(const PlacedNote& note) override { m_notes.push_back(note); }
    std::vector<PlacedNote>& notes() { return m_notes; }

private:
    std::vector<PlacedNote> m_notes;
};

// What to call the song and its sound files.
struct ExactChartNaming {
    std::string title;
    std::string artist;
    std::string keysoundName;    // the prefix of every keysound stem
    std::string soundExtension;  // ".ogg" or ".wav"
};

// The tempo of a Set Tempo value in beats per minute, unrounded.
double bpmOfMicros(std::uint32_t tempoMicros);

// The chart model of a conversion read through `notes`, every time in the song's ticks (the
// resolution is its ticks per quarter note, each measure's slots its ticks): one keysound
// definition per keysound (code = table index + 1), each note on a line of its own in the lane
// the BMS chart gives it (a held note as a long-note start and end), and the tempo changes up to
// the last placed tick at their exact ticks, the one at tick 0 as the initial tempo.
chart::Chart makeExactChart(const song::SongSummary& song, const GeneratedChart& generated, ExactNoteCollector& notes,
                            const ExactChartNaming& naming);

// An exact chart (makeExactChart) numbered as a BMS chart writes it, for a build that places
// every object at its tick: keysound codes as `keysounds` gives them (from its start code, in its
// base; codes past the last are left for the caller to refuse), tempo codes from 01, equal tempos
// sharing one where the chart has more changes than codes, and long notes by #LNTYPE 1.
// MeasureOutOfRange for an object at measure 1000 or later; CodesExhausted for more distinct
// tempos than codes.
Result<chart::Chart> numberForBms(chart::Chart chart, const KeysoundTable& keysounds);

}  // namespace zentrowe::convert

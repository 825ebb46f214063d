#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/song/note_density.h"

namespace zentrowe::chart {

// A note as a score shows it: where it lies in beats from the start of measure 0 (tempo changes
// and stops move its time, never its place), and where a long note ends.
struct ScoreNote {
    double beat = 0;
    double endBeat = 0;     // the release of a long note; `beat` for an ordinary note
    std::uint8_t lane = 0;  // 11..19 or 21..29, as BMS numbers lane channels
    bool longNote = false;
};

// A tempo as the chart sets it: from `beat` on, `bpm` beats per minute.
struct ScoreTempo {
    double beat = 0;
    double bpm = 0;
};

// What a picture of a chart shows: its measures, the notes of the lanes, the tempo changes, and
// the time of every note for a graph of how dense the chart is.
struct ChartScore {
    std::string title;
    std::string artist;
    std::optional<int> playLevel;
    std::optional<int> difficulty;     // #DIFFICULTY: 1 BEGINNER to 5 INSANE
    std::vector<double> measureBeats;  // where each measure begins, then where the last one ends
    std::vector<ScoreNote> notes;      // in beat order; the background's sounds are no notes
    std::vector<ScoreTempo> tempos;    // the initial tempo at beat 0, then each change in order
    std::vector<double> noteSeconds;   // every note's time in seconds, in order
    double lengthSeconds = 0;          // until the last object of the chart, background too
    song::NoteDensity density;         // of the lane notes, as the build report counts it

    int measureCount() const { return measureBeats.empty() ? 0 : static_cast<int>(measureBeats.size()) - 1; }
};

// The score of a chart as read. A long note whose end is missing is drawn as an ordinary note; a
// tempo code with no definition is left out (timeChart lists both as problems).
ChartScore scoreChart(const ChartReading& reading);

// The longest chart a score shows, in seconds (about 31 years): a tempo near 0 or a #STOP of
// billions of units places notes further out than any clock a picture prints.
inline constexpr double kLongestScoreSeconds = 1e9;

// Reads a chart file in its format (bmson for ".bmson", else BMS) into its score; the readers'
// refusals, CannotOpen for a chart that holds no object (an empty file, a text that is no chart),
// and TooLong naming the file for one whose objects lie past kLongestScoreSeconds or at no
// finite time.
Result<ChartScore> readChartScore(const std::filesystem::path& path);

}  // namespace zentrowe::chart

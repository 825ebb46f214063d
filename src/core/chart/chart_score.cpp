#include "core/chart/chart_score.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>

#include "core/base/file_error.h"
#include "core/base/number_text.h"
#include "core/chart/bms_reader.h"
#include "core/chart/bmson_reader.h"
#include "core/chart/chart_file.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::chart {

namespace {

constexpr double kBeatsPerWholeMeasure = 4;

// Where every measure begins in beats, and where the last one (the last that holds a line) ends.
std::vector<double> measureStarts(const Chart& chart)
{
    const std::vector<double> lengths = measureLengthsToLastLine(chart);
    std::vector<double> starts{0};
    for (const double length : lengths) {
        starts.push_back(starts.back() + kBeatsPerWholeMeasure * length);
    }
    return starts;
}

// The initial tempo, then every change of channel 03 (the tempo itself) or 08 (a #BPMxx) by beat.
std::vector<ScoreTempo> tempoChanges(const Chart& chart, const std::vector<double>& starts)
{
    std::map<ChartCode, double> defined;
    for (const auto& tempo : chart.tempos) {
        defined[tempo.code] = tempo.value;
    }
    std::vector<ScoreTempo> changes;
    for (const auto& line : chart.lines) {
        if (line.channel != kHexTempoChannel && line.channel != kTempoChannel) {
            continue;
        }
        const auto m = static_cast<std::size_t>(line.measure);
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            const double beat = starts[m] + (starts[m + 1] - starts[m]) * object.slot / line.slotCount;
            if (line.channel == kHexTempoChannel) {
                changes.push_back({beat, static_cast<double>(object.code)});
            } else if (const auto found = defined.find(object.code); found != defined.end()) {
                changes.push_back({beat, found->second});
            }
        }
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const ScoreTempo& a, const ScoreTempo& b) { return a.beat < b.beat; });
    changes.insert(changes.begin(), ScoreTempo{0, chart.header.initialBpm.value_or(130)});
    return changes;
}

// The chart placed in time at 60 beats per minute with no tempo change or stop: each object's
// seconds are then its beats, and the long notes are paired as a player pairs them.
TimedChart placedInBeats(ChartReading reading)
{
    auto& lines = reading.chart.lines;
    std::erase_if(lines, [](const ChannelLine& line) {
        return line.channel == kHexTempoChannel || line.channel == kTempoChannel || line.channel == kStopChannel;
    });
    reading.chart.header.initialBpm = 60;
    return timeChart(std::move(reading));
}

std::vector<ScoreNote> lanesNotes(const TimedChart& inBeats)
{
    std::vector<ScoreNote> notes;
    std::array<std::size_t, 256> open{};
    open.fill(SIZE_MAX);
    for (const auto& object : inBeats.objects) {
        switch (object.kind) {
        case ObjectKind::Background:
            break;
        case ObjectKind::Note:
            notes.push_back({object.seconds, object.seconds, object.lane, false});
            break;
        case ObjectKind::LongNoteStart:
            open[object.lane] = notes.size();
            notes.push_back({object.seconds, object.seconds, object.lane, false});
            break;
        case ObjectKind::LongNoteEnd:
            if (open[object.lane] != SIZE_MAX) {
                auto& start = notes[open[object.lane]];
                start.endBeat = object.seconds;
                start.longNote = true;
                open[object.lane] = SIZE_MAX;
            }
            break;
        }
    }
    return notes;
}

// The latest time of the score in seconds; infinity if any time is not a finite number.
double latestSeconds(const ChartScore& score)
{
    double latest = score.lengthSeconds;
    for (const double seconds : score.noteSeconds) {
        latest = std::isfinite(seconds) ? std::max(latest, seconds) : HUGE_VAL;
    }
    return std::isfinite(latest) ? latest : HUGE_VAL;
}

}  // namespace

ChartScore scoreChart(const ChartReading& reading)
{
    ChartScore score;
    const auto& header = reading.chart.header;
    score.title = header.title;
    score.artist = header.artist;
    score.playLevel = header.playLevel;
    score.difficulty = header.difficulty;
    score.measureBeats = measureStarts(reading.chart);
    score.tempos = tempoChanges(reading.chart, score.measureBeats);
    score.notes = lanesNotes(placedInBeats(reading));

    const auto timed = timeChart(reading);
    double lastEndSeconds = 0;
    for (const auto& object : timed.objects) {
        if (object.kind == ObjectKind::Note || object.kind == ObjectKind::LongNoteStart) {
            score.noteSeconds.push_back(object.seconds);
        }
        if (object.kind == ObjectKind::Note || object.kind == ObjectKind::LongNoteStart ||
            object.kind == ObjectKind::LongNoteEnd) {
            lastEndSeconds = std::max(lastEndSeconds, object.seconds);
        }
        score.lengthSeconds = std::max(score.lengthSeconds, object.seconds);
    }
    score.density = song::noteDensity(score.noteSeconds, lastEndSeconds);
    return score;
}

Result<ChartScore> readChartScore(const std::filesystem::path& path)
{
    auto reading = isBmsonPath(path) ? readBmsonFile(path) : readBmsFile(path);
    if (!reading) {
        return reading.error();
    }
    auto score = scoreChart(reading.value());
    if (score.measureCount() == 0) {
        return Error{ErrorCode::CannotOpen,
                     displayPath(path) + ": the chart holds no object, so there is nothing to draw"}
            .inFile(displayPath(path))
            .about("chart");
    }
    if (const double latest = latestSeconds(score); latest > kLongestScoreSeconds) {
        const std::string lasts =
            std::isfinite(latest) ? "lasts " + generalText(latest, 3) + " s" : std::string("runs past any clock");
        return Error{ErrorCode::TooLong, displayPath(path) + ": the chart " + lasts +
                                             " (a tempo near 0, a huge #STOP or measure), too long to draw"}
            .inFile(displayPath(path))
            .about("chartTime");
    }
    return score;
}

}  // namespace zentrowe::chart

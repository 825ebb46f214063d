#include "core/chartset/chart_level.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zentrowe::chartset {

namespace {

struct LevelPoint {
    double notesPerSecond;
    double level;
};

// The guideline's average densities by level (see levelForDensity).
constexpr std::array<LevelPoint, 5> kLevelTable = {{{1.5, 1}, {4.0, 4}, {7.0, 7}, {10.2, 10}, {13.8, 12}}};

constexpr int kHighestLevel = 12;
constexpr int kHighestInsaneLevel = 99;
constexpr double kPeakWeight = 0.25;

}  // namespace

int levelForDensity(double notesPerSecond, bool insane)
{
    double level = kLevelTable.front().level;
    if (notesPerSecond > kLevelTable.front().notesPerSecond) {
        std::size_t upper = 1;
        while (upper + 1 < kLevelTable.size() && notesPerSecond > kLevelTable[upper].notesPerSecond) {
            ++upper;
        }
        const LevelPoint& a = kLevelTable[upper - 1];
        const LevelPoint& b = kLevelTable[upper];
        level =
            a.level + (notesPerSecond - a.notesPerSecond) * (b.level - a.level) / (b.notesPerSecond - a.notesPerSecond);
    }
    const double highest = insane ? kHighestInsaneLevel : kHighestLevel;
    return static_cast<int>(std::clamp(std::floor(level + 0.5), 1.0, highest));
}

double levelDensity(double averageDensity, double peakDensity)
{
    return averageDensity + kPeakWeight * std::max(0.0, peakDensity - averageDensity);
}

ChartReport reportChart(std::span<const TrackNote> notes, std::span<const int> lanes, const song::TempoClock& clock,
                        Difficulty difficulty)
{
    ChartReport report;
    report.difficulty = difficulty;
    std::vector<double> times;
    int chord = 0;
    std::int64_t chordTick = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (lanes.size() != notes.size() || lanes[i] == kBackgroundLane) {
            ++report.backgroundNotes;
            continue;
        }
        ++report.notes;
        times.push_back(clock.seconds(notes[i].startTick));
        chord = times.size() > 1 && notes[i].startTick == chordTick ? chord + 1 : 1;
        chordTick = notes[i].startTick;
        report.largestChord = std::max(report.largestChord, chord);
    }
    report.averageDensity = static_cast<double>(report.notes) / playingSeconds(notes, clock);
    std::size_t last = 0;
    for (std::size_t first = 0; first < times.size(); ++first) {
        while (last < times.size() && times[last] < times[first] + kPeakWindowSeconds) {
            ++last;
        }
        report.peakDensity = std::max(report.peakDensity, static_cast<double>(last - first) / kPeakWindowSeconds);
    }
    // A track shorter than the window (or one whose notes fall evenly across an odd number of
    // seconds) has no window denser than its average: the peak is at least the average, which
    // leaves the level as it was (it counts the peak only above the average).
    report.peakDensity = std::max(report.peakDensity, report.averageDensity);
    report.level =
        levelForDensity(levelDensity(report.averageDensity, report.peakDensity), difficulty == Difficulty::Insane);
    return report;
}

void keepLevelsRising(std::span<ChartReport> reports)
{
    for (std::size_t i = 1; i < reports.size(); ++i) {
        reports[i].level = std::max(reports[i].level, reports[i - 1].level);
    }
}

int gaugeTotal(std::int64_t notes)
{
    const double count = static_cast<double>(std::max<std::int64_t>(notes, 0));
    const double total = 7.605 * count / (0.01 * count + 6.5);
    return std::max(kLeastTotal, static_cast<int>(std::lround(total)));
}

ChartHeader chartHeader(const ChartReport& report)
{
    return {report.level, difficultyNumber(report.difficulty), std::string(difficultySubtitle(report.difficulty)), 2,
            gaugeTotal(report.notes)};
}

std::string headerLines(const ChartHeader& header)
{
    std::string lines;
    lines += "#PLAYLEVEL " + std::to_string(header.playLevel) + "\r\n";
    lines += "#DIFFICULTY " + std::to_string(header.difficulty) + "\r\n";
    lines += "#SUBTITLE " + header.subtitle + "\r\n";
    lines += "#RANK " + std::to_string(header.rank) + "\r\n";
    lines += "#TOTAL " + std::to_string(header.total) + "\r\n";
    return lines;
}

}  // namespace zentrowe::chartset

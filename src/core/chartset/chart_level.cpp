#include "core/chartset/chart_level.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

#include "core/chartset/lane_layout.h"
#include "core/song/note_density.h"

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

// The level terms' weights. A lane's strain above one note (a jack at 8 a second holds it near
// 2) counts twice in notes per second; chord notes and long notes make the density a quarter
// heavier each, scratch notes half as heavy again (the hand leaves the keys and comes back); a
// busiest minute above 3 notes a second adds three tenths of what it has above.
constexpr double kRepeatWeight = 2.0;
constexpr double kChordWeight = 0.25;
constexpr double kLongNoteWeight = 0.25;
constexpr double kScratchWeight = 0.5;
constexpr double kStaminaWeight = 0.3;
constexpr double kStaminaFloor = 3.0;

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

// The report's peak is song::noteDensity's, so that the picture of a written chart shows it too.
static_assert(kPeakWindowSeconds == song::kPeakWindowSeconds);

namespace {

// A lane note as the level counts it.
struct LaneNote {
    double seconds = 0;
    int lane = 0;
    bool held = false;
};

// Counts the report's shares and strains from the lane notes (in time order).
void countLaneNotes(ChartReport& report, const std::vector<LaneNote>& laneNotes)
{
    // Both sides of a double-play chart: the second's lanes are the first's plus kSideLanes.
    std::array<double, 2 * kSideLanes> laneStrain{};
    std::array<double, 2 * kSideLanes> laneSeconds{};
    laneSeconds.fill(-std::numeric_limits<double>::infinity());
    double overall = 0;
    double overallSeconds = laneNotes.empty() ? 0 : laneNotes.front().seconds;
    std::vector<double> overallStrains;
    double keyExcess = 0;
    std::int64_t repeats = 0;
    std::int64_t chordNotes = 0;
    std::int64_t held = 0;
    std::int64_t scratch = 0;
    for (std::size_t i = 0; i < laneNotes.size(); ++i) {
        const LaneNote& note = laneNotes[i];
        const auto lane = static_cast<std::size_t>(std::clamp(note.lane, 0, 2 * kSideLanes - 1));
        repeats += note.seconds - laneSeconds[lane] < kRepeatWindowSeconds ? 1 : 0;
        laneStrain[lane] = laneStrain[lane] * std::exp(-(note.seconds - laneSeconds[lane]) / kKeyStrainSeconds) + 1;
        laneSeconds[lane] = note.seconds;
        keyExcess += laneStrain[lane] - 1;
        overall = overall * std::exp(-(note.seconds - overallSeconds) / kOverallStrainSeconds) + 1;
        overallSeconds = note.seconds;
        overallStrains.push_back(overall);
        const bool together = (i > 0 && laneNotes[i - 1].seconds == note.seconds) ||
                              (i + 1 < laneNotes.size() && laneNotes[i + 1].seconds == note.seconds);
        chordNotes += together ? 1 : 0;
        held += note.held ? 1 : 0;
        scratch += lane % kSideLanes == kScratchLane ? 1 : 0;
    }
    if (laneNotes.empty()) {
        return;
    }
    const auto count = static_cast<double>(laneNotes.size());
    report.repeatShare = static_cast<double>(repeats) / count;
    report.chordShare = static_cast<double>(chordNotes) / count;
    report.longNoteShare = static_cast<double>(held) / count;
    report.scratchShare = static_cast<double>(scratch) / count;
    report.keyStrain = keyExcess / count;
    // The highest tenth (at least one): a burst, not one note, makes the strain.
    std::sort(overallStrains.begin(), overallStrains.end(), std::greater<>());
    const std::size_t top = std::max<std::size_t>(1, overallStrains.size() / 10);
    report.overallStrain =
        std::accumulate(overallStrains.begin(), overallStrains.begin() + static_cast<std::ptrdiff_t>(top), 0.0) /
        static_cast<double>(top);
}

}  // namespace

LevelTerms levelTerms(const ChartReport& report)
{
    LevelTerms terms;
    // Steady play at r notes a second holds the overall strain near r + 0.5.
    const double peak = std::max(report.peakDensity, report.overallStrain - 0.5);
    terms.density = levelDensity(report.averageDensity, peak);
    terms.repeats = kRepeatWeight * report.keyStrain;
    terms.chords = kChordWeight * report.chordShare * terms.density;
    terms.longNotes = kLongNoteWeight * report.longNoteShare * terms.density;
    terms.scratch = kScratchWeight * report.scratchShare * terms.density;
    terms.stamina = kStaminaWeight * std::max(0.0, report.staminaDensity - kStaminaFloor);
    return terms;
}

ChartReport reportChart(std::span<const TrackNote> notes, std::span<const int> lanes, const song::Timeline& clock,
                        Difficulty difficulty)
{
    ChartReport report;
    report.difficulty = difficulty;
    std::vector<LaneNote> laneNotes;
    std::vector<double> times;
    int chord = 0;
    std::int64_t chordTick = 0;
    std::int64_t lastEndTick = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (lanes.size() != notes.size() || lanes[i] == kBackgroundLane) {
            ++report.backgroundNotes;
            continue;
        }
        ++report.notes;
        times.push_back(clock.seconds(notes[i].startTick));
        // A chart holds only a long note's end: an ordinary note ends where it starts.
        lastEndTick = std::max({lastEndTick, notes[i].startTick, notes[i].held ? notes[i].endTick : 0});
        laneNotes.push_back({times.back(), lanes[i], notes[i].held});
        chord = times.size() > 1 && notes[i].startTick == chordTick ? chord + 1 : 1;
        chordTick = notes[i].startTick;
        report.largestChord = std::max(report.largestChord, chord);
    }
    // The lane notes' density as the chart's picture counts it from the written chart: the
    // background's notes neither count nor lengthen the time.
    const song::NoteDensity density = song::noteDensity(times, times.empty() ? 0 : clock.seconds(lastEndTick));
    report.averageDensity = density.average;
    report.peakDensity = density.peak;
    report.staminaDensity = song::busiestDensity(times, kStaminaWindowSeconds);
    countLaneNotes(report, laneNotes);
    report.terms = levelTerms(report);
    report.level = levelForDensity(report.terms.total(), difficulty == Difficulty::Insane);
    return report;
}

void keepLevelsRising(std::span<ChartReport> reports)
{
    for (std::size_t i = 1; i < reports.size(); ++i) {
        reports[i].level = std::max(reports[i].level, reports[i - 1].level + 1);
    }
    for (std::size_t i = reports.size(); i-- > 0;) {
        const bool last = i + 1 == reports.size();
        int highest = reports[i].difficulty == Difficulty::Insane ? kHighestInsaneLevel : kHighestLevel;
        if (!last) {
            highest = std::min(highest, reports[i + 1].level - 1);
        }
        reports[i].level = std::max(1, std::min(reports[i].level, highest));
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

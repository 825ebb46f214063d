#include "core/chartset/double_play.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <set>
#include <tuple>
#include <unordered_map>

#include "core/chartset/chart_level.h"
#include "core/chartset/difficulty.h"

namespace zentrowe::chartset {

namespace {

constexpr std::uint8_t kDrumChannelIndex = 9;  // General MIDI's channel 10
// A line's slots past this are not worth merging into: its objects keep lines of their own.
constexpr std::uint64_t kMostMergedSlots = 1u << 20;
constexpr std::string_view kDoublePlaySuffix = "_DP";

using KeysoundIndex = std::unordered_map<chart::ChartCode, std::size_t>;

KeysoundIndex keysoundIndexOf(const chart::Chart& chart, const convert::KeysoundTable& keysounds)
{
    KeysoundIndex index;
    for (std::size_t k = 0; k < chart.keysounds.size() && k < keysounds.size(); ++k) {
        index.emplace(chart.keysounds[k].code, k);
    }
    return index;
}

// An object of the chart that sounds a keysound: where it lies and the note it plays.
struct ChartObject {
    std::size_t line = 0;
    std::uint32_t object = 0;
    TrackNote note;
};

TrackNote noteOf(const convert::KeysoundTable& keysounds, std::size_t k, std::int64_t tick)
{
    const auto& entry = keysounds[k];
    const auto source = keysounds.source(k);
    TrackNote note;
    note.startTick = tick;
    note.endTick = tick + entry.duration;
    note.note = entry.note;
    note.velocity = entry.velocity;
    note.part = source.part;
    note.channel = source.channel;
    note.drums = source.channel == kDrumChannelIndex;
    return note;
}

std::int64_t tickOf(const chart::ChannelLine& line, std::uint32_t slot, std::int32_t ticksPerMeasure)
{
    return std::int64_t{line.measure} * ticksPerMeasure +
           static_cast<std::int64_t>(slot) * ticksPerMeasure / std::max<std::uint32_t>(line.slotCount, 1);
}

bool inTimeOrder(const ChartObject& a, const ChartObject& b)
{
    return std::tie(a.note.startTick, a.note.note) < std::tie(b.note.startTick, b.note.note);
}

// The background objects that play notes of the accompaniment (parts from tuneParts on), in time order.
std::vector<ChartObject> accompanimentOf(const chart::Chart& chart, const convert::KeysoundTable& keysounds,
                                         std::size_t tuneParts, std::int32_t ticksPerMeasure)
{
    const KeysoundIndex index = keysoundIndexOf(chart, keysounds);
    std::vector<ChartObject> objects;
    for (std::size_t l = 0; l < chart.lines.size(); ++l) {
        const auto& line = chart.lines[l];
        if (line.channel != chart::kBackgroundChannel) {
            continue;
        }
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto found = index.find(chart.objects[line.firstObject + k].code);
            if (found != index.end() && keysounds.source(found->second).part >= tuneParts) {
                const auto tick = tickOf(line, chart.objects[line.firstObject + k].slot, ticksPerMeasure);
                objects.push_back({l, k, noteOf(keysounds, found->second, tick)});
            }
        }
    }
    std::stable_sort(objects.begin(), objects.end(), inTimeOrder);
    return objects;
}

// An object moving to a lane of the second side.
struct Moved {
    std::int32_t measure = 0;
    std::uint8_t channel = 0;
    std::uint32_t slotCount = 1;
    std::uint32_t slot = 0;
    chart::ChartCode code = 0;
};

// The objects `lanes` puts on the second side, each where it lies; a lane position holds one
// object, so a second note there stays in the background.
std::vector<Moved> movedObjects(const chart::Chart& chart, std::span<const ChartObject> objects,
                                std::span<const int> lanes, std::set<std::pair<std::size_t, std::uint32_t>>& leaving)
{
    std::set<std::pair<std::uint8_t, std::int64_t>> taken;
    std::vector<Moved> moved;
    for (std::size_t i = 0; i < objects.size() && i < lanes.size(); ++i) {
        if (lanes[i] == kBackgroundLane) {
            continue;
        }
        const std::string_view channelText = laneChannel(lanes[i]);
        const auto channel =
            static_cast<std::uint8_t>((channelText[0] - '0') * 10 + (channelText[1] - '0') + kSecondSideChannelOffset);
        if (!taken.insert({channel, objects[i].note.startTick}).second) {
            continue;
        }
        const auto& line = chart.lines[objects[i].line];
        const auto& object = chart.objects[line.firstObject + objects[i].object];
        moved.push_back({line.measure, channel, line.slotCount, object.slot, object.code});
        leaving.insert({objects[i].line, objects[i].object});
    }
    return moved;
}

// The second side's lines of one measure: a line per channel whose slots place every object
// exactly (the least common multiple of their lines' slots), or a line per slot count where
// that grows past kMostMergedSlots.
void addSecondSideLines(chart::Chart& chart, std::span<const Moved> moved)
{
    std::map<std::uint8_t, std::vector<Moved>> byChannel;
    for (const Moved& object : moved) {
        byChannel[object.channel].push_back(object);
    }
    for (auto& [channel, objects] : byChannel) {
        std::uint64_t slots = 1;
        for (const Moved& object : objects) {
            slots = std::lcm(slots, std::uint64_t{object.slotCount});
        }
        if (slots > kMostMergedSlots) {
            for (const Moved& object : objects) {
                chart.addLine(object.measure, channel, object.slotCount);
                chart.addObject(object.slot, object.code);
            }
            continue;
        }
        std::stable_sort(objects.begin(), objects.end(), [&](const Moved& a, const Moved& b) {
            return std::uint64_t{a.slot} * slots / a.slotCount < std::uint64_t{b.slot} * slots / b.slotCount;
        });
        chart.addLine(objects.front().measure, channel, static_cast<std::uint32_t>(slots));
        for (const Moved& object : objects) {
            chart.addObject(static_cast<std::uint32_t>(std::uint64_t{object.slot} * slots / object.slotCount),
                            object.code);
        }
    }
}

// The chart with the `leaving` objects out of their lines (a line left empty goes) and `moved`
// after each measure's lines, the measure's blank line after its last line as before.
chart::Chart withSecondSide(const chart::Chart& chart, const std::set<std::pair<std::size_t, std::uint32_t>>& leaving,
                            std::span<const Moved> moved)
{
    chart::Chart out = chart;
    out.lines.clear();
    out.objects.clear();
    std::map<std::int32_t, std::vector<Moved>> byMeasure;
    for (const Moved& object : moved) {
        byMeasure[object.measure].push_back(object);
    }
    for (std::size_t l = 0; l < chart.lines.size(); ++l) {
        const auto& line = chart.lines[l];
        std::vector<chart::LineObject> kept;
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            if (!leaving.contains({l, k})) {
                kept.push_back(chart.objects[line.firstObject + k]);
            }
        }
        if (!kept.empty() || line.objectCount == 0) {
            out.addLine(line.measure, line.channel, line.slotCount, 0, line.sourceLine);
            for (const auto& object : kept) {
                out.addObject(object.slot, object.code);
            }
        }
        const bool measureEnds = l + 1 == chart.lines.size() || chart.lines[l + 1].measure != line.measure;
        if (measureEnds) {
            addSecondSideLines(out, byMeasure[line.measure]);
            if (!out.lines.empty()) {
                out.lines.back().blankLinesAfter = line.blankLinesAfter;
            }
        }
    }
    return out;
}

// The lane of a first-side channel (11-19) in a playable layout; kBackgroundLane for another.
int laneOfChannel(int channel)
{
    for (int lane = 0; lane < kSideLanes; ++lane) {
        const auto text = laneChannel(lane);
        if ((text[0] - '0') * 10 + (text[1] - '0') == channel) {
            return lane;
        }
    }
    return kBackgroundLane;
}

// Every sounding object of the chart as a note with its lane (the second side's from
// kSideLanes; kBackgroundLane for the background), in time order; a long note's two ends are
// one held note.
void chartNotes(const chart::Chart& chart, const convert::KeysoundTable& keysounds, std::int32_t ticksPerMeasure,
                std::vector<TrackNote>& notes, std::vector<int>& lanes)
{
    const KeysoundIndex index = keysoundIndexOf(chart, keysounds);
    std::vector<std::pair<TrackNote, int>> found;
    std::map<int, std::size_t> openLongNote;  // channel: the index in `found` of its unended note
    for (const auto& line : chart.lines) {
        const int channel = line.channel;
        const bool held = chart::isLongNoteChannel(channel);
        if (channel != chart::kBackgroundChannel && !chart::isLaneChannel(channel) && !held) {
            continue;
        }
        const int key = held ? channel - 40 : channel;
        const int lane = channel == chart::kBackgroundChannel ? kBackgroundLane
                         : key > 20 ? laneOfChannel(key - kSecondSideChannelOffset) + kSideLanes
                                    : laneOfChannel(key);
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            const auto tick = tickOf(line, object.slot, ticksPerMeasure);
            if (const auto open = openLongNote.find(channel); held && open != openLongNote.end()) {
                found[open->second].first.endTick = std::max(found[open->second].first.startTick, tick);
                openLongNote.erase(open);
                continue;
            }
            const auto known = index.find(object.code);
            if (known == index.end()) {
                continue;
            }
            found.emplace_back(noteOf(keysounds, known->second, tick), lane);
            found.back().first.held = held;
            if (held) {
                openLongNote[channel] = found.size() - 1;
            }
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.startTick, a.first.note) < std::tie(b.first.startTick, b.first.note);
    });
    for (const auto& [note, lane] : found) {
        notes.push_back(note);
        lanes.push_back(lane);
    }
}

// The report of a double-play chart, both sides counted; the set's own figures kept.
ChartReport doublePlayReport(const SetChart& made, const convert::KeysoundTable& keysounds, const song::Timeline& clock)
{
    std::vector<TrackNote> notes;
    std::vector<int> lanes;
    chartNotes(made.chart, keysounds, clock.ticksPerMeasure(), notes, lanes);
    ChartReport report = reportChart(notes, lanes, clock, made.report.difficulty);
    report.grid = made.report.grid;
    report.borrowed = made.report.borrowed;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        report.notesByPart.resize(std::max<std::size_t>(report.notesByPart.size(), notes[i].part + 1u), 0);
        report.notesByPart[notes[i].part] += lanes[i] != kBackgroundLane ? 1 : 0;
    }
    return report;
}

}  // namespace

void keepFirstSideToTune(FollowedMusic& followed, std::span<const TrackNote> notes, std::size_t tuneParts)
{
    if (followed.chosenParts != 0) {
        return;
    }
    followed.laneCandidates.resize(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        followed.laneCandidates[i] = notes[i].part < tuneParts;
    }
}

bool addSecondSide(std::vector<SetChart>& set, const convert::KeysoundTable& keysounds, const song::Timeline& clock,
                   const ChartSetRequest& request)
{
    bool bothSides = true;
    std::vector<Difficulty> difficulties;
    for (const auto& made : set) {
        difficulties.push_back(made.report.difficulty);
    }
    for (std::size_t k = 0; k < set.size(); ++k) {
        auto& chart = set[k].chart;
        const auto objects = accompanimentOf(chart, keysounds, request.tuneParts, clock.ticksPerMeasure());
        std::vector<TrackNote> notes;
        for (const auto& object : objects) {
            notes.push_back(object.note);
        }
        auto limits = setLimits(notes, clock, difficulties)[k];
        limits.layout.scratchLane = request.scratch;
        const auto lanes = chartLanes(notes, clock, limits, false);
        std::set<std::pair<std::size_t, std::uint32_t>> leaving;
        const auto moved = movedObjects(chart, objects, lanes, leaving);
        bothSides = bothSides && !moved.empty();
        chart = withSecondSide(chart, leaving, moved);
        chart.header.player = kDoublePlayPlayer;
        set[k].report = doublePlayReport(set[k], keysounds, clock);
    }
    return bothSides;
}

std::string doublePlayFileName(std::string_view setChartName)
{
    for (const std::string_view extension : {std::string_view(".bmson"), std::string_view(".bms")}) {
        if (setChartName.ends_with(extension)) {
            const auto stem = setChartName.substr(0, setChartName.size() - extension.size());
            return std::string(stem) + std::string(kDoublePlaySuffix) + std::string(extension);
        }
    }
    return std::string(setChartName) + std::string(kDoublePlaySuffix);
}

bool isDoublePlayStem(std::string_view stem, std::string_view setChartStem)
{
    return stem.size() == setChartStem.size() + kDoublePlaySuffix.size() && stem.starts_with(setChartStem) &&
           stem.ends_with(kDoublePlaySuffix);
}

}  // namespace zentrowe::chartset

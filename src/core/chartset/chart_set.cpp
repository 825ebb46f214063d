#include "core/chartset/chart_set.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <set>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "core/chart/chart_file.h"
#include "core/chartset/double_play.h"
#include "core/chartset/music_follow.h"
#include "core/chartset/note_grid.h"
#include "core/chartset/track_note.h"
#include "core/song/song_credits.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

namespace {

// A chart's name as its stem and its format's extension. The extension is taken by its text, not
// as the file system takes one: a song named ".mid" makes the chart ".bms", whose stem is empty,
// where a leading dot would have made the whole name a stem with no extension.
std::pair<std::string_view, std::string_view> splitChartFileName(std::string_view name)
{
    for (const std::string_view extension : {std::string_view(".bmson"), std::string_view(".bms")}) {
        if (name.ends_with(extension)) {
            return {name.substr(0, name.size() - extension.size()), extension};
        }
    }
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {name, {}};
    }
    return {name.substr(0, dot), name.substr(dot)};
}

// Where an object lies: measure, slot and the slot count of its line. A chart set puts every
// note back exactly where the conversion put it.
struct Place {
    std::int32_t measure = 0;
    std::uint32_t slotCount = 1;
    std::uint32_t slot = 0;

    std::int64_t tick(std::int32_t ticksPerMeasure) const
    {
        return std::int64_t{measure} * ticksPerMeasure +
               static_cast<std::int64_t>(slot) * ticksPerMeasure / std::max<std::uint32_t>(slotCount, 1);
    }
};

// A note of the converted chart: an object that sounds, a long note with its end.
struct ChartNote {
    Place start;
    std::optional<Place> end;
    chart::ChartCode code = 0;
    std::uint8_t channel = 0;  // as converted: a lane channel, or the background channel
};

struct ConvertedNotes {
    std::vector<ChartNote> notes;
    std::vector<std::size_t> keptLines;  // lines of the converted chart that hold no note
};

ConvertedNotes notesOf(const chart::Chart& converted, std::int32_t ticksPerMeasure)
{
    ConvertedNotes out;
    // Long-note channels hold a note's start and its end by turns.
    std::map<std::uint8_t, std::vector<std::pair<Place, chart::ChartCode>>> longNoteObjects;
    for (std::size_t index = 0; index < converted.lines.size(); ++index) {
        const auto& line = converted.lines[index];
        const bool lane = line.channel == chart::kBackgroundChannel || chart::isLaneChannel(line.channel);
        if (!lane && !chart::isLongNoteChannel(line.channel)) {
            out.keptLines.push_back(index);
            continue;
        }
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = converted.objects[line.firstObject + k];
            const Place place{line.measure, line.slotCount, object.slot};
            if (lane) {
                out.notes.push_back({place, std::nullopt, object.code, line.channel});
            } else {
                longNoteObjects[line.channel].emplace_back(place, object.code);
            }
        }
    }
    for (auto& [channel, objects] : longNoteObjects) {
        std::stable_sort(objects.begin(), objects.end(), [&](const auto& a, const auto& b) {
            return a.first.tick(ticksPerMeasure) < b.first.tick(ticksPerMeasure);
        });
        const auto keyChannel = static_cast<std::uint8_t>(channel - 40);
        for (std::size_t k = 0; k < objects.size(); k += 2) {
            ChartNote note{objects[k].first, std::nullopt, objects[k].second, keyChannel};
            if (k + 1 < objects.size()) {
                note.end = objects[k + 1].first;
            }
            out.notes.push_back(note);
        }
    }
    return out;
}

constexpr std::size_t kNoNote = static_cast<std::size_t>(-1);

// An object to write: its place, channel and code, and on the background channel the note of the
// set it plays (kNoNote for other objects).
struct Placed {
    Place place;
    std::uint8_t channel = 0;
    chart::ChartCode code = 0;
    std::size_t note = kNoNote;
};

// The chart's channel lines: the converted chart's other lines, then per measure the lane and
// long-note lines (one per channel) and the background lines (a further line only where an
// earlier one holds the slot), each measure followed by an empty line.
void writeLines(chart::Chart& chart, const chart::Chart& converted, std::span<const std::size_t> keptLines,
                std::span<const Placed> objects)
{
    // measure, background line number (0 for lanes), channel, slot count.
    using LineKey = std::tuple<std::int32_t, int, std::uint8_t, std::uint32_t>;
    std::map<LineKey, std::vector<chart::LineObject>> lines;
    std::map<std::tuple<std::int32_t, std::uint32_t, std::uint32_t>, int> backgroundAt;
    for (const Placed& object : objects) {
        int backgroundLine = 0;
        if (object.channel == chart::kBackgroundChannel) {
            backgroundLine = 1 + backgroundAt[{object.place.measure, object.place.slotCount, object.place.slot}]++;
        }
        lines[{object.place.measure, backgroundLine, object.channel, object.place.slotCount}].push_back(
            {object.place.slot, object.code});
    }
    std::map<std::int32_t, std::vector<std::size_t>> keptByMeasure;
    for (const std::size_t index : keptLines) {
        keptByMeasure[converted.lines[index].measure].push_back(index);
    }
    std::set<std::int32_t> measures;
    for (const auto& [key, unused] : lines) {
        measures.insert(std::get<0>(key));
    }
    for (const auto& [measure, unused] : keptByMeasure) {
        measures.insert(measure);
    }
    for (const std::int32_t measure : measures) {
        for (const std::size_t index : keptByMeasure[measure]) {
            const auto& line = converted.lines[index];
            chart.addLine(line.measure, line.channel, line.slotCount);
            for (std::uint32_t k = 0; k < line.objectCount; ++k) {
                const auto& object = converted.objects[line.firstObject + k];
                chart.addObject(object.slot, object.code);
            }
        }
        for (auto it = lines.lower_bound({measure, 0, 0, 0}); it != lines.end() && std::get<0>(it->first) == measure;
             ++it) {
            auto& lineObjects = it->second;
            std::stable_sort(lineObjects.begin(), lineObjects.end(),
                             [](const chart::LineObject& a, const chart::LineObject& b) { return a.slot < b.slot; });
            chart.addLine(measure, std::get<2>(it->first), std::get<3>(it->first));
            for (const auto& object : lineObjects) {
                chart.addObject(object.slot, object.code);
            }
        }
        if (!chart.lines.empty()) {
            chart.lines.back().blankLinesAfter = 1;
        }
    }
}

// For each note (by index), the note whose chord it is struck with: a chord is struck at once, so
// a note starting less than a 1/192 measure after a chord's first note belongs to it (a strummed
// chord placed at its ticks spreads over a few). `order` lists the notes in time order.
std::vector<std::size_t> chordFirstNotes(std::span<const chartset::TrackNote> notes, std::span<const std::size_t> order,
                                         std::int32_t ticksPerMeasure)
{
    std::vector<std::size_t> first(notes.size());
    std::iota(first.begin(), first.end(), std::size_t{0});
    const std::int64_t window = std::max<std::int64_t>(ticksPerMeasure / 192, 1);
    std::size_t chord = order.empty() ? 0 : order.front();
    for (const std::size_t index : order) {
        if (notes[index].startTick - notes[chord].startTick >= window) {
            chord = index;
        }
        first[index] = chord;
    }
    return first;
}

// The point of the measure grid nearest `place`: what a note moved to the grid plays at.
Place onGrid(const Place& place, std::uint32_t grid)
{
    const auto [measure, line] = nearestGridLine(place.measure, place.slot, place.slotCount, grid);
    return Place{measure, grid, line};
}

// The track's notes (those the conversion put in lanes) moved to the nearest line of `grid`; a
// long note keeps at least one step. Nothing moves for a grid of 0.
// How far moving the lane notes to each grid moves them, in seconds on average.
std::array<double, kNoteGrids.size()> meanQuantizeShifts(const std::vector<ChartNote>& notes,
                                                         const song::Timeline& timeline)
{
    std::array<double, kNoteGrids.size()> shifts{};
    std::int64_t laneNotes = 0;
    for (const ChartNote& note : notes) {
        if (note.channel == chart::kBackgroundChannel) {
            continue;
        }
        ++laneNotes;
        const std::int64_t tick = note.start.tick(timeline.ticksPerMeasure());
        for (std::size_t g = 0; g < kNoteGrids.size(); ++g) {
            const std::int64_t moved = nearestGridTick(tick, timeline.ticksPerMeasure(), kNoteGrids[g]);
            shifts[g] += std::abs(timeline.seconds(tick, moved));
        }
    }
    for (double& shift : shifts) {
        shift = laneNotes > 0 ? shift / static_cast<double>(laneNotes) : 0.0;
    }
    return shifts;
}

void quantizeNotes(std::vector<ChartNote>& notes, std::uint32_t grid, std::int32_t ticksPerMeasure)
{
    if (grid == 0) {
        return;
    }
    for (ChartNote& note : notes) {
        if (note.channel == chart::kBackgroundChannel) {
            continue;
        }
        note.start = onGrid(note.start, grid);
        if (note.end) {
            note.end = onGrid(*note.end, grid);
            if (note.end->tick(ticksPerMeasure) <= note.start.tick(ticksPerMeasure)) {
                const bool wraps = note.start.slot + 1 == grid;
                note.end = Place{note.start.measure + (wraps ? 1 : 0), grid, wraps ? 0 : note.start.slot + 1};
            }
        }
    }
}

// Where a tick lies, exactly: the measure's ticks as its slots, reduced.
Place placeOfTick(std::int64_t tick, std::int32_t ticksPerMeasure)
{
    const auto measure = static_cast<std::int32_t>(tick / ticksPerMeasure);
    const auto slot = static_cast<std::uint32_t>(tick % ticksPerMeasure);
    const auto common = std::gcd(slot, static_cast<std::uint32_t>(ticksPerMeasure));
    return Place{measure, static_cast<std::uint32_t>(ticksPerMeasure) / common, slot / common};
}

// The end a lane note is written with: none for a normal note (fitLongNotes may have made a
// held note one), the converted end unless the note was shortened.
std::optional<Place> fittedEnd(const ChartNote& note, const TrackNote& fitted, const TrackNote& held,
                               std::int32_t ticksPerMeasure)
{
    if (!note.end || !fitted.held) {
        return std::nullopt;
    }
    return fitted.endTick == held.endTick ? note.end : placeOfTick(fitted.endTick, ticksPerMeasure);
}

constexpr std::uint8_t kDrumChannelIndex = 9;  // General MIDI's channel 10

bool hasSeveralParts(const convert::KeysoundTable& keysounds)
{
    for (std::size_t k = 0; k < keysounds.size(); ++k) {
        if (keysounds.source(k).part != 0) {
            return true;
        }
    }
    return false;
}

// The lane notes each part gives the chart, by part index.
std::vector<std::int64_t> lanesByPart(std::span<const TrackNote> notes, std::span<const int> lanes)
{
    std::vector<std::int64_t> counts;
    for (std::size_t i = 0; i < notes.size() && i < lanes.size(); ++i) {
        counts.resize(std::max<std::size_t>(counts.size(), notes[i].part + 1u), 0);
        counts[notes[i].part] += lanes[i] != kBackgroundLane ? 1 : 0;
    }
    return counts;
}

std::uint8_t channelNumber(std::string_view twoDigits)
{
    return static_cast<std::uint8_t>((twoDigits[0] - '0') * 10 + (twoDigits[1] - '0'));
}

// The converted chart's notes as layout and thinning take them: in time order (start, then
// pitch), each with its keysound's note, length and part, a note the file holds twice once, and
// a chord's notes struck at its first note's tick.
struct SetNotes {
    std::vector<chartset::TrackNote> notes;
    std::vector<std::size_t> order;    // notes[i] is the converted chart's note order[i]
    std::vector<std::size_t> chordOf;  // by converted note: the first note of its chord
};

std::vector<chartset::TrackNote> trackNotesOf(std::span<const ChartNote> chartNotes, const chart::Chart& converted,
                                              const convert::KeysoundTable& keysounds, bool percussion,
                                              std::int32_t ticksPerMeasure, std::vector<std::uint32_t>& variants)
{
    std::unordered_map<chart::ChartCode, std::size_t> keysoundOfCode;
    for (std::size_t k = 0; k < converted.keysounds.size() && k < keysounds.size(); ++k) {
        keysoundOfCode.emplace(converted.keysounds[k].code, k);
    }
    // A single track's drum notes follow the mode asked for; in a set drawn on several parts a
    // drum part keeps the percussion rules among the others.
    const bool severalParts = hasSeveralParts(keysounds);
    std::vector<chartset::TrackNote> unordered(chartNotes.size());
    variants.assign(chartNotes.size(), 0);
    for (std::size_t i = 0; i < chartNotes.size(); ++i) {
        const ChartNote& note = chartNotes[i];
        auto& track = unordered[i];
        track.startTick = note.start.tick(ticksPerMeasure);
        track.endTick = track.startTick;
        if (const auto known = keysoundOfCode.find(note.code); known != keysoundOfCode.end()) {
            const auto& entry = keysounds[known->second];
            variants[i] = keysounds.variant(known->second);
            const convert::KeysoundSource source = keysounds.source(known->second);
            track.part = source.part;
            track.channel = source.channel;
            track.drums = percussion || (severalParts && source.channel == kDrumChannelIndex);
            track.note = entry.note;
            track.velocity = entry.velocity;
            track.endTick = track.startTick + entry.duration;
        }
        if (note.end) {
            track.held = true;
            track.endTick = std::max(track.startTick, note.end->tick(ticksPerMeasure));
        }
    }
    return unordered;
}

SetNotes setNotesOf(std::span<const ChartNote> chartNotes, const chart::Chart& converted,
                    const convert::KeysoundTable& keysounds, bool percussion, std::int32_t ticksPerMeasure)
{
    std::vector<std::uint32_t> variants;
    auto unordered = trackNotesOf(chartNotes, converted, keysounds, percussion, ticksPerMeasure, variants);
    SetNotes set;
    auto& order = set.order;
    order.resize(chartNotes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto inTimeOrder = [&](std::size_t a, std::size_t b) {
        const auto& x = unordered[a];
        const auto& y = unordered[b];
        return std::tie(x.startTick, x.note, y.endTick, y.velocity) <
               std::tie(y.startTick, y.note, x.endTick, x.velocity);
    };
    std::stable_sort(order.begin(), order.end(), inTimeOrder);
    // A note the MIDI file holds twice (same key, same tick, same channel state) sounds once: a
    // player hears a doubled keysound twice as loud, and checkers flag objects placed twice. The
    // longest of them stays, then the loudest.
    std::vector<std::size_t> once;
    once.reserve(order.size());
    for (const std::size_t index : order) {
        const auto& note = unordered[index];
        const bool doubled = !once.empty() && unordered[once.back()].startTick == note.startTick &&
                             unordered[once.back()].note == note.note && variants[once.back()] == variants[index] &&
                             note.note != 0;
        if (!doubled) {
            once.push_back(index);
        }
    }
    order = std::move(once);
    set.chordOf = chordFirstNotes(unordered, order, ticksPerMeasure);
    for (const std::size_t index : order) {
        unordered[index].startTick = unordered[set.chordOf[index]].startTick;
    }
    std::stable_sort(order.begin(), order.end(), inTimeOrder);
    set.notes.reserve(order.size());
    for (const std::size_t index : order) {
        set.notes.push_back(unordered[index]);
    }
    return set;
}

// The difficulties the request asks for, or those the notes call for.
std::vector<chartset::Difficulty> setDifficulties(const ChartSetRequest& request,
                                                  std::span<const chartset::TrackNote> notes,
                                                  const song::Timeline& clock)
{
    std::vector<chartset::Difficulty> difficulties = request.difficulties;
    const bool insaneAsked =
        std::find(difficulties.begin(), difficulties.end(), chartset::Difficulty::Insane) != difficulties.end();
    if (difficulties.empty() || (request.insaneWhenDenser && !insaneAsked)) {
        const auto byDefault = chartset::defaultDifficulties(notes, clock);
        if (difficulties.empty()) {
            difficulties = byDefault;
        } else if (byDefault.back() == chartset::Difficulty::Insane) {
            difficulties.push_back(chartset::Difficulty::Insane);
        }
    }
    return difficulties;
}

// The objects of one chart: each lane note on its key (a long note's two ends on the key's long
// channel), struck with its chord; the rest on the background channel at their own places. A
// lane position holds one object: a note that would land on one already taken (a long note's end
// where the next one starts) plays from the background instead, and leaves its lane.
std::vector<Placed> chartObjects(std::span<const ChartNote> chartNotes, const SetNotes& set,
                                 std::span<const chartset::TrackNote> fitted, std::vector<int>& lanes,
                                 bool playableLanes, std::int32_t ticksPerMeasure)
{
    std::set<std::tuple<std::int32_t, std::uint8_t, std::uint32_t, std::uint32_t>> taken;
    const auto take = [&](const Place& place, std::uint8_t channel) {
        return taken.insert({place.measure, channel, place.slotCount, place.slot}).second;
    };
    std::vector<Placed> objects;
    objects.reserve(set.notes.size() + 16);
    for (std::size_t i = 0; i < set.notes.size(); ++i) {
        const ChartNote& note = chartNotes[set.order[i]];
        if (lanes[i] != chartset::kBackgroundLane) {
            const std::uint8_t key = playableLanes ? channelNumber(chartset::laneChannel(lanes[i])) : note.channel;
            const std::optional<Place> end = fittedEnd(note, fitted[i], set.notes[i], ticksPerMeasure);
            const Place& struck = chartNotes[set.chordOf[set.order[i]]].start;  // with its chord
            if (!end && take(struck, key)) {
                objects.push_back({struck, key, note.code});
                continue;
            }
            const auto held = static_cast<std::uint8_t>(key + 40);
            if (end && !taken.contains({struck.measure, held, struck.slotCount, struck.slot}) &&
                !taken.contains({end->measure, held, end->slotCount, end->slot})) {
                take(struck, held);
                take(*end, held);
                objects.push_back({struck, held, note.code});
                objects.push_back({*end, held, note.code});
                continue;
            }
            lanes[i] = chartset::kBackgroundLane;
        }
        objects.push_back({note.start, chart::kBackgroundChannel, note.code, i});
    }
    return objects;
}

// A note one chart of the set strikes with its chord sounds there in every chart: the background
// objects of the notes `struck` marks move to their chord's place, so that each sound of the set
// starts at one moment whichever chart plays it (a player's mix, and checkers comparing the
// charts' objects, would otherwise find them a few milliseconds apart).
void strikeWithChords(std::span<Placed> objects, const std::vector<bool>& struck, std::span<const ChartNote> chartNotes,
                      const SetNotes& set)
{
    for (Placed& object : objects) {
        if (object.note != kNoNote && struck[object.note]) {
            object.place = chartNotes[set.chordOf[set.order[object.note]]].start;
        }
    }
}

// The lanes of one difficulty's chart and the notes as they are then held (long notes fitted);
// only the notes `followed` lets in may go to the lanes.
std::vector<int> chartLanesOf(std::span<const ChartNote> chartNotes, const SetNotes& set, const song::Timeline& clock,
                              const chartset::DifficultyLimits& limits, const ChartSetRequest& request, bool percussion,
                              const FollowedMusic& followed, std::vector<chartset::TrackNote>& fitted)
{
    const auto& notes = set.notes;
    if (request.lanes == LaneRule::Playable) {
        return candidateLanes(notes, followed, clock, limits, percussion, request.longNoteMinimum, fitted);
    }
    fitted = notes;
    const auto kept = chartset::thinNotes(notes, clock, limits);
    std::vector<int> lanes(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const bool inLane =
            kept[i] && followed.laneCandidates[i] && chartNotes[set.order[i]].channel != chart::kBackgroundChannel;
        lanes[i] = inLane ? 0 : chartset::kBackgroundLane;
    }
    return lanes;
}

// Every chart's header gets its level once the set's levels are made to rise.
void settleLevels(std::vector<SetChart>& set)
{
    std::vector<chartset::ChartReport> reports;
    for (const auto& made : set) {
        reports.push_back(made.report);
    }
    chartset::keepLevelsRising(reports);
    for (std::size_t k = 0; k < set.size(); ++k) {
        set[k].report = reports[k];
        const chartset::ChartHeader header = chartset::chartHeader(reports[k]);
        auto& chartHeader = set[k].chart.header;
        chartHeader.playLevel = header.playLevel;
        chartHeader.difficulty = header.difficulty;
        chartHeader.subtitle = header.subtitle;
        chartHeader.rank = header.rank;
        chartHeader.total = header.total;
    }
}

// The set as makeChartSet makes it; in double play, false when a chart's second side is empty.
bool makeSet(const chart::Chart& converted, const convert::KeysoundTable& keysounds, const song::SongSummary& song,
             std::string_view chartFileName, const ChartSetRequest& request, bool percussion,
             std::vector<SetChart>& set)
{
    const song::Timeline clock(song);
    const std::int32_t ticksPerMeasure = clock.ticksPerMeasure();
    GridFit grid = gridFit(converted);
    ConvertedNotes found = notesOf(converted, ticksPerMeasure);
    grid.meanShiftSeconds = meanQuantizeShifts(found.notes, clock);
    quantizeNotes(found.notes, request.quantizeGrid, ticksPerMeasure);
    const auto& chartNotes = found.notes;
    const SetNotes notes = setNotesOf(chartNotes, converted, keysounds, percussion, ticksPerMeasure);
    FollowedMusic followed = followMusic(notes.notes, request.chosenParts, clock);
    if (request.play == Play::Double) {
        keepFirstSideToTune(followed, notes.notes, request.tuneParts);
    }
    if (!request.follow) {
        keepToChosenParts(followed, notes.notes, request.chosenParts);
    }
    const auto candidates = candidateNotes(notes.notes, followed);
    const auto difficulties = setDifficulties(request, candidates, clock);
    std::vector<std::vector<Placed>> objectsOf;
    std::vector<bool> struck(notes.notes.size(), request.strikeEveryChord);  // in a lane of some chart
    auto limits = chartset::setLimits(candidates, clock, difficulties);
    for (auto& chartLimits : limits) {
        chartLimits.layout.scratchLane = request.scratch;
    }
    for (std::size_t k = 0; k < difficulties.size(); ++k) {
        std::vector<chartset::TrackNote> fitted;
        auto lanes = chartLanesOf(chartNotes, notes, clock, limits[k], request, percussion, followed, fitted);
        objectsOf.push_back(
            chartObjects(chartNotes, notes, fitted, lanes, request.lanes == LaneRule::Playable, ticksPerMeasure));
        for (std::size_t i = 0; i < lanes.size(); ++i) {
            struck[i] = struck[i] || lanes[i] != chartset::kBackgroundLane;
        }
        SetChart made;
        made.fileName = chartSetFileName(chartFileName, difficulties[k]);
        if (request.play == Play::Double) {
            made.fileName = doublePlayFileName(made.fileName);
        }
        made.report = chartset::reportChart(fitted, lanes, clock, difficulties[k]);
        made.report.grid = grid;
        made.report.notesByPart = lanesByPart(fitted, lanes);
        made.report.borrowed = followed.stretches;
        auto& chart = made.chart;
        chart.header = converted.header;
        chart.header.genre = request.genre;
        chart.keysounds = converted.keysounds;
        chart.tempos = converted.tempos;
        chart.stops = converted.stops;
        chart.measureLengths = converted.measureLengths;
        set.push_back(std::move(made));
    }
    for (std::size_t k = 0; k < set.size(); ++k) {
        strikeWithChords(objectsOf[k], struck, chartNotes, notes);
        writeLines(set[k].chart, converted, found.keptLines, objectsOf[k]);
    }
    const bool bothSides = request.play != Play::Double || addSecondSide(set, keysounds, clock, request);
    settleLevels(set);
    return bothSides;
}

}  // namespace

std::vector<SetChart> makeChartSet(const chart::Chart& converted, const convert::KeysoundTable& keysounds,
                                   const song::SongSummary& song, std::string_view chartFileName,
                                   const ChartSetRequest& request, bool percussion)
{
    std::vector<SetChart> set;
    if (!makeSet(converted, keysounds, song, chartFileName, request, percussion, set) && request.chosenParts > 0) {
        // The parts the first side borrows where the tune rests are the second side's too: where
        // that leaves a chart's second side empty, the first side keeps to the tune.
        ChartSetRequest tuneOnly = request;
        tuneOnly.chosenParts = 0;
        set.clear();
        makeSet(converted, keysounds, song, chartFileName, tuneOnly, percussion, set);
    }
    return set;
}

Result<bool> chartsPlayTheSame(const std::filesystem::path& first, const std::filesystem::path& second)
{
    // Each sounding object as (time in microseconds, file name), in order.
    const auto heard =
        [](const std::filesystem::path& path) -> Result<std::vector<std::pair<std::int64_t, std::string>>> {
        auto chart = chart::readChartFile(path);
        if (!chart) {
            return chart.error();
        }
        std::vector<std::pair<std::int64_t, std::string>> objects;
        for (const auto& object : chart->objects) {
            if (object.kind != chart::ObjectKind::LongNoteEnd) {
                objects.emplace_back(std::llround(object.seconds * 1e6), chart->keysoundNames[object.code]);
            }
        }
        std::sort(objects.begin(), objects.end());
        return objects;
    };
    const auto a = heard(first);
    if (!a) {
        return a.error();
    }
    const auto b = heard(second);
    if (!b) {
        return b.error();
    }
    return *a == *b;
}

bool belongsToChartSet(std::string_view chartName, std::string_view chartFileName)
{
    const auto [stem, ownExtension] = splitChartFileName(chartFileName);
    const auto [nameStem, extension] = splitChartFileName(chartName);
    if (extension != ".bms" && extension != ".bmson") {
        return false;
    }
    if (nameStem == stem) {
        return true;
    }
    // A part's set: "NAME_4_N", "NAME_1-2_X".
    std::string_view partStem = nameStem;
    if (partStem.starts_with(std::string(stem) + "_") && partStem.size() > stem.size() + 3) {
        const auto tag = partStem.substr(stem.size() + 1, partStem.size() - stem.size() - 3);
        const bool tagLike = !tag.empty() && tag.find_first_not_of("0123456789-") == std::string_view::npos;
        if (tagLike && partStem[partStem.size() - 2] == '_') {
            return belongsToChartSet(chartName, std::string(stem) + "_" + std::string(tag) + std::string(ownExtension));
        }
    }
    return std::any_of(chartset::kAllDifficulties.begin(), chartset::kAllDifficulties.end(),
                       [stem = stem, nameStem = nameStem](chartset::Difficulty difficulty) {
                           const auto setStem = chartset::chartStem(stem, difficulty);
                           return nameStem == setStem || isDoublePlayStem(nameStem, setStem);
                       });
}

std::string chartSetFileName(std::string_view chartFileName, Difficulty difficulty)
{
    const auto [stem, extension] = splitChartFileName(chartFileName);
    return chartset::chartStem(stem, difficulty) + std::string(extension);
}

namespace {

song::SongCredits creditsOf(const song::SongSummary& song, const std::filesystem::path& midiFile)
{
    const auto file = song::readSongFile(midiFile);
    return file ? song::readSongCredits(file->bytes(), song) : song::songCredits(song);
}

}  // namespace

std::string chartTitle(const std::string& asked, const song::SongSummary& song, const std::filesystem::path& midiFile)
{
    if (!asked.empty()) {
        return asked;
    }
    std::string title = creditsOf(song, midiFile).title;
    return title.empty() ? song::titleOfFileName(midiFile) : title;
}

std::string chartArtist(const std::optional<std::string>& asked, const song::SongSummary& song,
                        const std::filesystem::path& midiFile)
{
    return asked ? *asked : creditsOf(song, midiFile).artist;
}

}  // namespace zentrowe::chartset

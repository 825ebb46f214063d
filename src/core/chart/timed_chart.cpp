#include "core/chart/timed_chart.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <limits>
#include <map>
#include <tuple>

namespace zentrowe::chart {

namespace {

constexpr double kBeatsPerWholeMeasure = 4;
constexpr double kStopUnitsPerBeat = 48;  // "#STOPxx n" stops for n 1/192 of a 4-beat measure

// Where one timing change or object lies inside its measure: slot / slotCount.
struct Position {
    std::int32_t measure = 0;
    double fraction = 0;
};

struct TimingEvent {
    Position at;
    bool isStop = false;  // else a tempo change
    double value = 0;     // beats per minute, or 1/192 measure units of stop
};

// The tempo map laid out measure by measure: the time at every point where the tempo changes
// or the chart stops, and the tempo after it.
class Timeline {
public:
    Timeline(double initialBpm, const std::vector<double>& lengths, std::vector<TimingEvent> events)
    {
        std::stable_sort(events.begin(), events.end(), [](const TimingEvent& a, const TimingEvent& b) {
            // A tempo change and a stop at one point: the stop lasts at the new tempo.
            return std::tie(a.at.measure, a.at.fraction, a.isStop) < std::tie(b.at.measure, b.at.fraction, b.isStop);
        });
        m_measures.resize(lengths.size());
        double seconds = 0;
        double bpm = initialBpm;
        std::size_t next = 0;
        for (std::size_t m = 0; m < lengths.size(); ++m) {
            auto& measure = m_measures[m];
            measure.beats = kBeatsPerWholeMeasure * lengths[m];
            measure.points.push_back({0, seconds, 0, bpm});
            for (; next < events.size() && events[next].at.measure == static_cast<std::int32_t>(m); ++next) {
                const auto& event = events[next];
                auto* point = &measure.points.back();
                if (event.at.fraction != point->fraction) {
                    measure.points.push_back(
                        {event.at.fraction, timeInside(measure, *point, event.at.fraction), 0, point->bpmAfter});
                    point = &measure.points.back();
                }
                if (event.isStop) {
                    point->stopSeconds += event.value / kStopUnitsPerBeat * 60 / point->bpmAfter;
                } else {
                    point->bpmAfter = event.value;
                }
            }
            const auto& last = measure.points.back();
            seconds = timeInside(measure, last, 1);
            bpm = last.bpmAfter;
        }
    }

    // An object at a stop sounds as the stop begins.
    double secondsAt(Position at) const
    {
        const auto& measure = m_measures[static_cast<std::size_t>(at.measure)];
        const auto after = std::upper_bound(measure.points.begin(), measure.points.end(), at.fraction,
                                            [](double fraction, const Point& p) { return fraction < p.fraction; });
        const Point& point = *(after - 1);
        if (point.fraction == at.fraction) {
            return point.secondsBefore;
        }
        return timeInside(measure, point, at.fraction);
    }

private:
    struct Point {
        double fraction;
        double secondsBefore;  // before the stop at this point
        double stopSeconds;
        double bpmAfter;
    };
    struct Measure {
        double beats = kBeatsPerWholeMeasure;
        std::vector<Point> points;
    };

    static double timeInside(const Measure& measure, const Point& from, double fraction)
    {
        return from.secondsBefore + from.stopSeconds + (fraction - from.fraction) * measure.beats * 60 / from.bpmAfter;
    }

    std::vector<Measure> m_measures;
};

// Definitions by code; a later definition of a code replaces an earlier one.
std::map<ChartCode, double> byCode(const std::vector<TimingDefinition>& definitions)
{
    std::map<ChartCode, double> values;
    for (const auto& definition : definitions) {
        values[definition.code] = definition.value;
    }
    return values;
}

bool sounds(int channel)
{
    return channel == kBackgroundChannel || isLaneChannel(channel) || isLongNoteChannel(channel);
}

// The channel an object was read from, which tells apart a lane's notes and its long notes.
int channelOf(const ChartObject& object)
{
    if (object.kind == ObjectKind::Background) {
        return kBackgroundChannel;
    }
    return object.kind == ObjectKind::Note ? object.lane : object.lane + 40;
}

// Long-note channels hold starts and ends by turns, lane by lane; an #LNOBJ code in a lane
// ends a long note begun by the lane's previous note.
void pairLongNotes(std::vector<ChartObject>& objects, const std::vector<ChartCode>& lnObjects,
                   std::vector<ChartProblem>& problems)
{
    // By lane; looked up once per object, so that a chart of millions of long notes costs no
    // allocation per note, nor one #LNOBJ code list walk per note.
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::array<std::size_t, 256> openLongNote;
    std::array<std::size_t, 256> previousNote;
    openLongNote.fill(kNone);
    previousNote.fill(kNone);
    std::vector<bool> endsLongNote;
    for (const auto code : lnObjects) {
        endsLongNote.resize(std::max<std::size_t>(endsLongNote.size(), std::size_t{code} + 1));
        endsLongNote[code] = true;
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        auto& object = objects[i];
        if (object.kind == ObjectKind::LongNoteStart) {
            auto& open = openLongNote[object.lane];
            if (open != kNone) {
                object.kind = ObjectKind::LongNoteEnd;
                open = kNone;
            } else {
                open = i;
            }
        } else if (object.kind == ObjectKind::Note) {
            auto& previous = previousNote[object.lane];
            if (object.code < endsLongNote.size() && endsLongNote[object.code]) {
                object.kind = ObjectKind::LongNoteEnd;
                if (previous != kNone) {
                    objects[previous].kind = ObjectKind::LongNoteStart;
                    previous = kNone;
                } else {
                    problems.push_back({object.line, "an #LNOBJ end with no note before it in its lane"});
                }
            } else {
                previous = i;
            }
        }
    }
    for (std::size_t lane = 0; lane < openLongNote.size(); ++lane) {
        if (openLongNote[lane] != kNone) {
            problems.push_back(
                {objects[openLongNote[lane]].line, "a long note in lane " + std::to_string(lane) + " never ends"});
        }
    }
}

// Players keep only the last object at a lane position: of objects at one time on one channel
// (objects at one position have one time), the last in file order stays.
void dropReplacedObjects(std::vector<ChartObject>& objects)
{
    std::vector<char> replaced(objects.size(), 0);
    for (std::size_t end = objects.size(); end > 0;) {
        std::size_t begin = end - 1;
        while (begin > 0 && objects[begin - 1].seconds == objects[end - 1].seconds) {
            --begin;
        }
        std::bitset<70> seen;
        for (std::size_t k = end; k-- > begin;) {
            if (objects[k].kind == ObjectKind::Background) {
                continue;
            }
            const auto channel = static_cast<std::size_t>(channelOf(objects[k]));
            replaced[k] = seen.test(channel) ? 1 : 0;
            seen.set(channel);
        }
        end = begin;
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        if (replaced[k] == 0) {
            objects[kept++] = objects[k];
        }
    }
    objects.resize(kept);
}

// The object at `index` of `line` placed in time.
ChartObject placedObject(const Chart& chart, const Timeline& timeline, const ChannelLine& line, std::uint32_t index)
{
    const auto& placed = chart.objects[line.firstObject + index];
    ChartObject object;
    object.seconds = timeline.secondsAt({line.measure, static_cast<double>(placed.slot) / line.slotCount});
    object.code = placed.code;
    object.line = line.sourceLine;
    if (line.channel == kBackgroundChannel) {
        object.kind = ObjectKind::Background;
    } else if (isLongNoteChannel(line.channel)) {
        object.kind = ObjectKind::LongNoteStart;
        object.lane = static_cast<std::uint8_t>(line.channel - 40);
    } else {
        object.kind = ObjectKind::Note;
        object.lane = line.channel;
    }
    return object;
}

// The objects of the sounding lines in time order, those at one time in the order of their lines
// and slots. A line's objects in slot order come in time order already, so the lines are merged
// as they stand, with no sorting buffer as large as the chart; a chart made with objects out of
// slot order is sorted as a whole.
std::vector<ChartObject> placeSoundingObjects(const Chart& chart, const Timeline& timeline, std::size_t count)
{
    std::vector<ChartObject> objects;
    objects.reserve(count);
    struct Head {
        ChartObject object;  // the line's object placed next
        std::uint32_t line;  // in chart.lines
        std::uint32_t next;  // its index in the line
    };
    const auto later = [](const Head& a, const Head& b) {
        return a.object.seconds != b.object.seconds ? a.object.seconds > b.object.seconds : a.line > b.line;
    };
    std::vector<Head> heads;
    bool inSlotOrder = true;
    for (std::uint32_t k = 0; k < chart.lines.size(); ++k) {
        const auto& line = chart.lines[k];
        if (!sounds(line.channel) || line.objectCount == 0) {
            continue;
        }
        for (std::uint32_t i = 1; i < line.objectCount; ++i) {
            inSlotOrder =
                inSlotOrder && chart.objects[line.firstObject + i - 1].slot < chart.objects[line.firstObject + i].slot;
        }
        heads.push_back({placedObject(chart, timeline, line, 0), k, 0});
    }
    if (!inSlotOrder) {
        for (const auto& head : heads) {
            const auto& line = chart.lines[head.line];
            for (std::uint32_t i = 0; i < line.objectCount; ++i) {
                objects.push_back(placedObject(chart, timeline, line, i));
            }
        }
        std::stable_sort(objects.begin(), objects.end(),
                         [](const ChartObject& a, const ChartObject& b) { return a.seconds < b.seconds; });
        return objects;
    }
    std::make_heap(heads.begin(), heads.end(), later);
    while (!heads.empty()) {
        std::pop_heap(heads.begin(), heads.end(), later);
        Head& head = heads.back();
        const auto& line = chart.lines[head.line];
        objects.push_back(head.object);
        if (++head.next == line.objectCount) {
            heads.pop_back();
            continue;
        }
        head.object = placedObject(chart, timeline, line, head.next);
        std::push_heap(heads.begin(), heads.end(), later);
    }
    return objects;
}

// Indexed by code, every code a chart can hold at least, so that any object's code is in range.
std::vector<std::string> keysoundNamesByCode(const Chart& chart)
{
    ChartCode largest = kLargestCode62;
    for (const auto& keysound : chart.keysounds) {
        largest = std::max(largest, keysound.code);
    }
    std::vector<std::string> names(static_cast<std::size_t>(largest) + 1);
    for (const auto& keysound : chart.keysounds) {
        names[keysound.code] = keysound.fileName;
    }
    return names;
}

// The tempo changes and stops of the timing channels. An object whose code has no definition
// is left out with a problem.
std::vector<TimingEvent> timingEvents(const Chart& chart, std::vector<ChartProblem>& problems)
{
    const auto tempos = byCode(chart.tempos);
    const auto stops = byCode(chart.stops);
    std::vector<TimingEvent> timing;
    for (const auto& line : chart.lines) {
        const auto channel = line.channel;
        if (sounds(channel)) {
            continue;
        }
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            const Position at{line.measure, static_cast<double>(object.slot) / line.slotCount};
            if (channel == kHexTempoChannel) {
                timing.push_back({at, false, static_cast<double>(object.code)});
            } else if (channel == kTempoChannel || channel == kStopChannel) {
                const auto& definitions = channel == kTempoChannel ? tempos : stops;
                const auto found = definitions.find(object.code);
                if (found != definitions.end()) {
                    timing.push_back({at, channel == kStopChannel, found->second});
                } else {
                    const bool tempo = channel == kTempoChannel;
                    problems.push_back({line.sourceLine, std::string(tempo ? "tempo code " : "stop code ") +
                                                             codeText(object.code, chart.header.base62) +
                                                             (tempo ? " has no #BPM" : " has no #STOP") +
                                                             " definition; left out"});
                }
            }
        }
    }
    return timing;
}

}  // namespace

TimedChart timeChart(ChartReading reading)
{
    const Chart& chart = reading.chart;
    TimedChart timed;
    timed.ignoredLines = reading.ignoredLines;
    timed.problems = std::move(reading.problems);
    timed.initialBpm = chart.header.initialBpm.value_or(130);
    timed.keysoundNames = keysoundNamesByCode(chart);

    std::size_t soundingObjects = 0;
    for (const auto& line : chart.lines) {
        if (sounds(line.channel)) {
            soundingObjects += line.objectCount;
        }
    }
    const Timeline timeline(timed.initialBpm, measureLengthsToLastLine(chart), timingEvents(chart, timed.problems));

    timed.objects = placeSoundingObjects(reading.chart, timeline, soundingObjects);
    // Not needed from here on: a chart of one long line holds most of its memory there.
    std::vector<LineObject>().swap(reading.chart.objects);
    dropReplacedObjects(timed.objects);
    pairLongNotes(timed.objects, chart.header.lnObjects, timed.problems);
    return timed;
}

double firstSoundSeconds(const TimedChart& chart)
{
    for (const auto& object : chart.objects) {
        if (object.kind != ObjectKind::LongNoteEnd) {
            return object.seconds;
        }
    }
    return 0;
}

double lastSoundSeconds(const TimedChart& chart)
{
    for (auto object = chart.objects.rbegin(); object != chart.objects.rend(); ++object) {
        if (object->kind != ObjectKind::LongNoteEnd) {
            return object->seconds;
        }
    }
    return 0;
}

}  // namespace zentrowe::chart

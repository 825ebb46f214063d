#include "core/chart/bms_chart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>

#include "core/base/file_reading.h"

namespace zentrowe::chart {

namespace {

constexpr int kLastMeasure = 999;  // measure numbers have three digits
constexpr double kBeatsPerWholeMeasure = 4;
constexpr double kStopUnitsPerBeat = 48;  // "#STOPxx n" stops for n 1/192 of a 4-beat measure

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperWord(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = upper(c);
    }
    return out;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One digit of a code: base 36 reads letters in either case as 10..35; base 62 reads capitals as
// 10..35 and small letters as 36..61.
int codeDigit(char c, bool base62)
{
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'z') {
        return base62 ? c - 'a' + 36 : c - 'a' + 10;
    }
    return -1;
}

std::optional<KeysoundCode> decodeCode(std::string_view two, bool base62)
{
    if (two.size() != 2) {
        return std::nullopt;
    }
    const int high = codeDigit(two[0], base62);
    const int low = codeDigit(two[1], base62);
    if (high < 0 || low < 0) {
        return std::nullopt;
    }
    return static_cast<KeysoundCode>(high * (base62 ? 62 : 36) + low);
}

int hexDigit(char c)
{
    if (isDigit(c)) {
        return c - '0';
    }
    c = upper(c);
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// A decimal number as editors write it ("120", "0.75", "+1.5", "133.333"), finite.
std::optional<double> parseNumber(std::string_view text)
{
    text = trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parsePositive(std::string_view text)
{
    const auto value = parseNumber(text);
    if (!value || *value <= 0) {
        return std::nullopt;
    }
    return value;
}

struct ChannelLine {
    int measure = 0;
    int channel = 0;  // as written, read as a decimal number: 1, 2, 3, 8, 9, 11..69
    std::string_view data;
    std::int64_t line = 0;
};

struct Definition {
    std::string code;  // as written; decoded once the base is known
    std::string_view value;
    std::int64_t line = 0;
};

struct Header {
    std::vector<Definition> wavs;
    std::vector<Definition> bpms;
    std::vector<Definition> stops;
    std::vector<Definition> lnobjs;
    bool base62 = false;
};

// What #RANDOM / #IF leave readable: every random number is 1, so "#IF 1" is taken.
class RandomBlocks {
public:
    bool reading() const { return m_ifs.empty() || m_ifs.back().taking; }

    // Handles a control line; false if `command` is none.
    bool handle(const std::string& command, std::string_view argument, std::int64_t line,
                std::vector<ChartProblem>& problems)
    {
        if (command == "RANDOM" || command == "RONDAM") {
            m_randoms.push_back(1);
        } else if (command == "SETRANDOM") {
            const auto value = parseNumber(argument);
            m_randoms.push_back(value ? *value : 1);
        } else if (command == "ENDRANDOM") {
            if (m_randoms.empty()) {
                problems.push_back({line, "#ENDRANDOM without #RANDOM"});
            } else {
                m_randoms.pop_back();
            }
        } else if (command == "IF") {
            const bool outer = reading();
            const bool taking = outer && parseNumber(argument) == current();
            m_ifs.push_back({taking, taking, outer});
        } else if (command == "ELSEIF") {
            if (m_ifs.empty()) {
                problems.push_back({line, "#ELSEIF without #IF"});
            } else {
                auto& block = m_ifs.back();
                block.taking = block.outer && !block.taken && parseNumber(argument) == current();
                block.taken = block.taken || block.taking;
            }
        } else if (command == "ELSE") {
            if (m_ifs.empty()) {
                problems.push_back({line, "#ELSE without #IF"});
            } else {
                auto& block = m_ifs.back();
                block.taking = block.outer && !block.taken;
                block.taken = true;
            }
        } else if (command == "ENDIF" || command == "END") {
            if (m_ifs.empty()) {
                problems.push_back({line, "#ENDIF without #IF"});
            } else {
                m_ifs.pop_back();
            }
        } else {
            return false;
        }
        return true;
    }

private:
    struct IfBlock {
        bool taking;
        bool taken;
        bool outer;  // whether the lines around the block are read
    };
    double current() const { return m_randoms.empty() ? 1 : m_randoms.back(); }

    std::vector<double> m_randoms;
    std::vector<IfBlock> m_ifs;
};

bool isLaneChannel(int channel)
{
    return (channel >= 11 && channel <= 19) || (channel >= 21 && channel <= 29);
}

bool isLongNoteChannel(int channel)
{
    return (channel >= 51 && channel <= 59) || (channel >= 61 && channel <= 69);
}

// "#mmmcc:data" with a decimal channel this reader knows; nullopt for any other line.
std::optional<ChannelLine> channelLineOf(std::string_view text, std::int64_t line)
{
    if (text.size() < 7 || text[0] != '#' || text[6] != ':' || !isDigit(text[1]) || !isDigit(text[2]) ||
        !isDigit(text[3]) || !isDigit(text[4]) || !isDigit(text[5])) {
        return std::nullopt;
    }
    ChannelLine channelLine;
    channelLine.measure = (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
    channelLine.channel = (text[4] - '0') * 10 + (text[5] - '0');
    channelLine.data = trim(text.substr(7));
    channelLine.line = line;
    const int c = channelLine.channel;
    if (c == 1 || c == 2 || c == 3 || c == 8 || c == 9 || isLaneChannel(c) || isLongNoteChannel(c)) {
        return channelLine;
    }
    return std::nullopt;
}

// Where one timing change or object lies inside its measure: slot / slotCount.
struct Position {
    int measure = 0;
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
            for (; next < events.size() && events[next].at.measure == static_cast<int>(m); ++next) {
                const auto& event = events[next];
                auto* point = &measure.points.back();
                if (event.at.fraction != point->fraction) {
                    measure.points.push_back({event.at.fraction, timeInside(measure, *point, event.at.fraction), 0,
                                              point->bpmAfter});
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

struct PlacedCode {
    Position at;
    int channel = 0;
    KeysoundCode code = 0;
    std::int64_t line = 0;
};

class Reader {
public:
    BmsChart read(std::span<const std::uint8_t> bytes)
    {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        std::int64_t lineNumber = 0;
        for (std::size_t pos = 0; pos < text.size();) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            ++lineNumber;
            readLine(trim(text.substr(pos, end - pos)), lineNumber);
            pos = end + 1;
        }
        readDefinitions();
        placeObjects();
        return std::move(m_chart);
    }

private:
    void problem(std::int64_t line, std::string message) { m_chart.problems.push_back({line, std::move(message)}); }

    void readLine(std::string_view text, std::int64_t line)
    {
        if (text.empty() || text[0] != '#') {
            ++m_chart.ignoredLines;
            return;
        }
        if (auto channelLine = channelLineOf(text, line)) {
            if (m_blocks.reading()) {
                m_channelLines.push_back(*channelLine);
            } else {
                ++m_chart.ignoredLines;
            }
            return;
        }
        const auto wordEnd = std::find_if(text.begin() + 1, text.end(), isSpace);
        const std::string command = upperWord(text.substr(1, static_cast<std::size_t>(wordEnd - text.begin() - 1)));
        const std::string_view argument = trim(text.substr(static_cast<std::size_t>(wordEnd - text.begin())));
        if (m_blocks.handle(command, argument, line, m_chart.problems)) {
            return;
        }
        if (!m_blocks.reading()) {
            ++m_chart.ignoredLines;
            return;
        }
        if (command.size() == 5 && command.starts_with("WAV")) {
            // The code keeps its case: in base 62 "#WAVaa" and "#WAVAA" are two keysounds.
            into(m_header.wavs, std::string(text.substr(4, 2)), argument, line, command);
        } else if (command == "BPM") {
            if (const auto bpm = parsePositive(argument)) {
                m_chart.initialBpm = *bpm;
            } else {
                problem(line, "#BPM \"" + std::string(argument) + "\" is not a tempo above 0");
            }
        } else if (command.size() == 5 && command.starts_with("BPM")) {
            into(m_header.bpms, std::string(text.substr(4, 2)), argument, line, command);
        } else if (command.size() == 6 && command.starts_with("STOP")) {
            into(m_header.stops, std::string(text.substr(5, 2)), argument, line, command);
        } else if (command == "LNOBJ") {
            into(m_header.lnobjs, std::string(argument), argument, line, command);
        } else if (command == "LNTYPE") {
            if (parseNumber(argument) != 1.0) {
                problem(line, "#LNTYPE " + std::string(argument) + " is read as #LNTYPE 1");
            }
        } else if (command == "BASE") {
            const auto base = parseNumber(argument);
            if (base == 62.0) {
                m_header.base62 = true;
            } else if (base != 36.0) {
                problem(line, "#BASE " + std::string(argument) + " is read as #BASE 36");
            }
        } else {
            ++m_chart.ignoredLines;
        }
    }

    void into(std::vector<Definition>& list, std::string code, std::string_view argument, std::int64_t line,
              const std::string& command)
    {
        if (argument.empty()) {
            problem(line, "#" + command + " has no value");
            return;
        }
        list.push_back({std::move(code), argument, line});
    }

    std::optional<KeysoundCode> code(const Definition& definition)
    {
        const auto value = decodeCode(definition.code, m_header.base62);
        if (!value || *value == 0) {
            problem(definition.line, "\"" + definition.code + "\" is not a code from 01 to " +
                                         (m_header.base62 ? "zz" : "ZZ"));
        }
        return value && *value != 0 ? value : std::nullopt;
    }

    void readDefinitions()
    {
        m_chart.keysoundNames.assign(kCodeCount, {});
        for (const auto& wav : m_header.wavs) {
            if (const auto c = code(wav)) {
                m_chart.keysoundNames[*c] = std::string(wav.value);
            }
        }
        m_bpms.assign(kCodeCount, 0);
        for (const auto& bpm : m_header.bpms) {
            if (const auto c = code(bpm)) {
                if (const auto value = parsePositive(bpm.value)) {
                    m_bpms[*c] = *value;
                } else {
                    problem(bpm.line, "\"" + std::string(bpm.value) + "\" is not a tempo above 0");
                }
            }
        }
        m_stops.assign(kCodeCount, -1);
        for (const auto& stop : m_header.stops) {
            if (const auto c = code(stop)) {
                const auto value = parseNumber(stop.value);
                if (value && *value >= 0) {
                    m_stops[*c] = *value;
                } else {
                    problem(stop.line, "\"" + std::string(stop.value) + "\" is not a stop length of 0 or more");
                }
            }
        }
        m_lnobjs.assign(kCodeCount, false);
        for (const auto& lnobj : m_header.lnobjs) {
            if (const auto c = code(lnobj)) {
                m_lnobjs[*c] = true;
            }
        }
    }

    // Every two characters of a channel line's data are one slot; a last odd character is reported.
    std::size_t slotCount(const ChannelLine& channelLine)
    {
        if (channelLine.data.size() % 2 != 0) {
            problem(channelLine.line, "channel data has an odd number of characters; the last one is left out");
        }
        return channelLine.data.size() / 2;
    }

    void placeObjects()
    {
        int lastMeasure = -1;
        for (const auto& channelLine : m_channelLines) {
            lastMeasure = std::max(lastMeasure, channelLine.measure);
        }
        std::vector<double> lengths(static_cast<std::size_t>(std::min(lastMeasure, kLastMeasure) + 1), 1.0);
        std::vector<TimingEvent> timing;
        std::vector<PlacedCode> placed;
        // A later line's object in a lane slot replaces an earlier one at the same point.
        std::map<std::tuple<int, int, double>, std::size_t> laneSlots;

        for (const auto& channelLine : m_channelLines) {
            if (channelLine.channel == 2) {
                if (const auto length = parsePositive(channelLine.data)) {
                    lengths[static_cast<std::size_t>(channelLine.measure)] = *length;
                } else {
                    problem(channelLine.line, "measure length \"" + std::string(channelLine.data) +
                                                  "\" is not a number above 0");
                }
                continue;
            }
            const std::size_t count = slotCount(channelLine);
            bool reported = false;
            for (std::size_t slot = 0; slot < count; ++slot) {
                const std::string_view pair = channelLine.data.substr(slot * 2, 2);
                if (pair == "00") {
                    continue;
                }
                const Position at{channelLine.measure, static_cast<double>(slot) / static_cast<double>(count)};
                std::optional<KeysoundCode> value;
                if (channelLine.channel == 3) {
                    const int high = hexDigit(pair[0]);
                    const int low = hexDigit(pair[1]);
                    if (high >= 0 && low >= 0) {
                        value = static_cast<KeysoundCode>(high * 16 + low);
                    }
                } else {
                    value = decodeCode(pair, m_header.base62);
                }
                if (!value) {
                    if (!reported) {
                        problem(channelLine.line, "\"" + std::string(pair) + "\" is not a code; left out");
                        reported = true;
                    }
                    continue;
                }
                placeOne(channelLine, at, pair, *value, timing, placed, laneSlots);
            }
        }

        const Timeline timeline(m_chart.initialBpm, lengths, std::move(timing));
        std::vector<ChartObject> objects;
        objects.reserve(placed.size());
        for (const auto& p : placed) {
            if (p.code == 0) {
                continue;  // replaced by a later line
            }
            ChartObject object;
            object.seconds = timeline.secondsAt(p.at);
            object.code = p.code;
            object.line = p.line;
            if (p.channel == 1) {
                object.kind = ObjectKind::Background;
            } else if (isLongNoteChannel(p.channel)) {
                object.kind = ObjectKind::LongNoteStart;
                object.lane = p.channel - 40;
            } else {
                object.kind = ObjectKind::Note;
                object.lane = p.channel;
            }
            objects.push_back(object);
        }
        std::stable_sort(objects.begin(), objects.end(),
                         [](const ChartObject& a, const ChartObject& b) { return a.seconds < b.seconds; });
        pairLongNotes(objects);
        m_chart.objects = std::move(objects);
    }

    void placeOne(const ChannelLine& channelLine, Position at, std::string_view pair, KeysoundCode value, std::vector<TimingEvent>& timing,
                  std::vector<PlacedCode>& placed, std::map<std::tuple<int, int, double>, std::size_t>& laneSlots)
    {
        switch (channelLine.channel) {
        case 3:
            timing.push_back({at, false, static_cast<double>(value)});
            return;
        case 8:
            if (m_bpms[value] > 0) {
                timing.push_back({at, false, m_bpms[value]});
            } else {
                problem(channelLine.line, "tempo code " + std::string(pair) + " has no #BPM definition; left out");
            }
            return;
        case 9:
            if (m_stops[value] >= 0) {
                timing.push_back({at, true, m_stops[value]});
            } else {
                problem(channelLine.line, "stop code " + std::string(pair) + " has no #STOP definition; left out");
            }
            return;
        default:
            break;
        }
        if (channelLine.channel != 1) {
            const auto key = std::make_tuple(channelLine.channel, at.measure, at.fraction);
            const auto [slot, fresh] = laneSlots.try_emplace(key, placed.size());
            if (!fresh) {
                placed[slot->second].code = 0;
                slot->second = placed.size();
            }
        }
        placed.push_back({at, channelLine.channel, value, channelLine.line});
    }

    // Long-note channels hold starts and ends by turns, lane by lane; an #LNOBJ code in a lane
    // ends a long note begun by the lane's previous note.
    void pairLongNotes(std::vector<ChartObject>& objects)
    {
        std::map<int, std::size_t> openLongNote;
        std::map<int, std::size_t> previousNote;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            auto& object = objects[i];
            if (object.kind == ObjectKind::LongNoteStart) {
                const auto open = openLongNote.find(object.lane);
                if (open != openLongNote.end()) {
                    object.kind = ObjectKind::LongNoteEnd;
                    openLongNote.erase(open);
                } else {
                    openLongNote[object.lane] = i;
                }
            } else if (object.kind == ObjectKind::Note) {
                if (m_lnobjs[object.code]) {
                    object.kind = ObjectKind::LongNoteEnd;
                    const auto previous = previousNote.find(object.lane);
                    if (previous != previousNote.end()) {
                        objects[previous->second].kind = ObjectKind::LongNoteStart;
                        previousNote.erase(previous);
                    } else {
                        problem(object.line, "an #LNOBJ end with no note before it in its lane");
                    }
                } else {
                    previousNote[object.lane] = i;
                }
            }
        }
        for (const auto& [lane, index] : openLongNote) {
            problem(objects[index].line, "a long note in lane " + std::to_string(lane) + " never ends");
        }
    }

    BmsChart m_chart;
    Header m_header;
    RandomBlocks m_blocks;
    std::vector<ChannelLine> m_channelLines;
    std::vector<double> m_bpms;
    std::vector<double> m_stops;
    std::vector<bool> m_lnobjs;
};

}  // namespace

BmsChart readBmsChart(std::span<const std::uint8_t> bytes)
{
    return Reader().read(bytes);
}

Result<BmsChart> readBmsChartFile(const std::filesystem::path& path)
{
    const auto bytes = readFileBytes(path);
    if (!bytes) {
        return bytes.error();
    }
    return readBmsChart(bytes->bytes());
}

double firstSoundSeconds(const BmsChart& chart)
{
    for (const auto& object : chart.objects) {
        if (object.kind != ObjectKind::LongNoteEnd) {
            return object.seconds;
        }
    }
    return 0;
}

}  // namespace zentrowe::chart

#include "core/chart/bmson_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

namespace zentrowe::chart {

namespace {

constexpr double kStopUnitsPerBeat = 48;

// How many bytes at the start of `text` make one character: the length of a valid UTF-8
// sequence (valid true), or of the longest start of one that breaks off (valid false), which
// stands for one U+FFFD as Unicode recommends.
std::pair<std::size_t, bool> utf8Sequence(std::string_view text)
{
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return {1, true};
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t k = 1; k < length; ++k) {
        const bool fits = k < text.size() && byte(k) >= (k == 1 ? low : 0x80) && byte(k) <= (k == 1 ? high : 0xBF);
        if (!fits) {
            return {k, false};
        }
    }
    return {length, true};
}

// The text as valid UTF-8, for the JSON library, which refuses anything else.
std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto [length, valid] = utf8Sequence(text);
        if (valid) {
            out.append(text.substr(0, length));
        } else {
            out += "\xEF\xBF\xBD";
        }
        text.remove_prefix(length);
    }
    return out;
}

// Ticks from the chart's start at measure starts, measure lengths as the chart sets them.
class Pulses {
public:
    Pulses(const Chart& chart, std::int32_t lastMeasure) : m_starts(static_cast<std::size_t>(lastMeasure) + 2, 0)
    {
        const double wholeMeasure = 4.0 * static_cast<double>(chart.header.resolution);
        std::vector<double> lengths(static_cast<std::size_t>(lastMeasure) + 1, 1.0);
        for (const auto& length : chart.measureLengths) {
            if (length.measure <= lastMeasure) {
                lengths[static_cast<std::size_t>(length.measure)] = length.length;
            }
        }
        for (std::size_t m = 0; m < lengths.size(); ++m) {
            m_starts[m + 1] = m_starts[m] + std::llround(lengths[m] * wholeMeasure);
        }
    }

    std::int64_t at(std::int32_t measure, std::uint32_t slot, std::uint32_t slotCount) const
    {
        const auto m = static_cast<std::size_t>(measure);
        const auto length = static_cast<double>(m_starts[m + 1] - m_starts[m]);
        return m_starts[m] + std::llround(static_cast<double>(slot) * length / slotCount);
    }
    std::int64_t start(std::size_t measure) const { return m_starts[measure]; }
    std::size_t measures() const { return m_starts.size() - 1; }

private:
    std::vector<std::int64_t> m_starts;
};

bool sounds(int channel)
{
    return channel == kBackgroundChannel || isLaneChannel(channel) || isLongNoteChannel(channel);
}

struct Note {
    std::int64_t y = 0;
    std::int64_t l = 0;
    int x = 0;
    ChartCode code = 0;
};

}  // namespace

int bmsonLane(int channel)
{
    if (isLongNoteChannel(channel)) {
        channel -= 40;
    }
    if (!isLaneChannel(channel)) {
        return 0;
    }
    const int player = channel >= 21 ? 8 : 0;
    const int key = channel % 10;
    static constexpr std::array<int, 10> kLanes = {0, 1, 2, 3, 4, 5, 8, 8, 6, 7};  // by the channel's last digit
    return player + kLanes[static_cast<std::size_t>(key)];
}

int bmsonJudgeRank(int bmsRank)
{
    static constexpr std::array<int, 5> kPercent = {33, 67, 100, 133, 167};
    return bmsRank >= 0 && bmsRank < static_cast<int>(kPercent.size()) ? kPercent[static_cast<std::size_t>(bmsRank)]
                                                                       : 100;
}

namespace {

using Json = nlohmann::ordered_json;

// What the chart places in time, each at its pulse, in time order.
struct TimedObjects {
    std::vector<std::pair<std::int64_t, double>> tempos;  // pulse, beats per minute
    std::vector<std::pair<std::int64_t, double>> stops;   // pulse, the stop's value
    std::vector<Note> notes;
};

TimedObjects timedObjects(const Chart& chart, const Pulses& pulses)
{
    std::map<ChartCode, double> tempoOfCode;
    for (const auto& tempo : chart.tempos) {
        tempoOfCode[tempo.code] = tempo.value;
    }
    std::map<ChartCode, double> stopOfCode;
    for (const auto& stop : chart.stops) {
        stopOfCode[stop.code] = stop.value;
    }
    TimedObjects timed;
    for (const auto& line : chart.lines) {
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            const std::int64_t y = pulses.at(line.measure, object.slot, line.slotCount);
            if (line.channel == kHexTempoChannel) {
                timed.tempos.emplace_back(y, static_cast<double>(object.code));
            } else if (line.channel == kTempoChannel && tempoOfCode.contains(object.code)) {
                timed.tempos.emplace_back(y, tempoOfCode[object.code]);
            } else if (line.channel == kStopChannel && stopOfCode.contains(object.code)) {
                timed.stops.emplace_back(y, stopOfCode[object.code]);
            } else if (sounds(line.channel)) {
                timed.notes.push_back({y, isLongNoteChannel(line.channel) ? -1 : 0, line.channel, object.code});
            }
        }
    }
    const auto byTime = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::stable_sort(timed.tempos.begin(), timed.tempos.end(), byTime);
    std::stable_sort(timed.stops.begin(), timed.stops.end(), byTime);
    std::stable_sort(timed.notes.begin(), timed.notes.end(), [](const Note& a, const Note& b) { return a.y < b.y; });
    return timed;
}

// Long-note channels hold starts and ends by turns; an end only sets its start's length and is
// marked -2, no note of its own.
void pairLongNotes(std::vector<Note>& notes)
{
    std::map<int, std::size_t> open;
    for (std::size_t k = 0; k < notes.size(); ++k) {
        if (notes[k].l >= 0) {
            continue;
        }
        const auto found = open.find(notes[k].x);
        if (found == open.end()) {
            open[notes[k].x] = k;
            notes[k].l = 0;
        } else {
            notes[found->second].l = notes[k].y - notes[found->second].y;
            notes[k].l = -2;
            open.erase(found);
        }
    }
}

Json bmsonInfo(const ChartHeader& header)
{
    Json info = Json::object();
    info["title"] = validUtf8(header.title);
    if (!header.subtitle.empty()) {
        info["subtitle"] = validUtf8(header.subtitle);
    }
    if (!header.artist.empty()) {
        info["artist"] = validUtf8(header.artist);
    }
    if (!header.genre.empty()) {
        info["genre"] = validUtf8(header.genre);
    }
    // Both sides ("#PLAYER 3") are bmson's 14-key mode: lanes 9-16 the second side's.
    info["mode_hint"] = header.player == kBmsonDoublePlayPlayer ? "beat-14k" : "beat-7k";
    info["init_bpm"] = header.initialBpm.value_or(130);
    info["resolution"] = header.resolution;
    info["judge_rank"] = header.rank.value_or(100);
    info["total"] = header.total.value_or(100);
    if (header.playLevel) {
        info["level"] = *header.playLevel;
    }
    if (!header.previewFile.empty()) {
        info["preview_music"] = validUtf8(header.previewFile);
    }
    return info;
}

// One sound channel per code, named by its last definition, in the order codes are first
// defined, each with the notes (by index) that strike it.
struct SoundChannels {
    std::vector<const KeysoundDefinition*> definitions;
    std::vector<std::vector<std::size_t>> notes;
};

SoundChannels soundChannels(const Chart& chart, const std::vector<Note>& notes)
{
    SoundChannels channels;
    std::map<ChartCode, std::size_t> channelOfCode;
    for (const auto& keysound : chart.keysounds) {
        const auto [found, fresh] = channelOfCode.try_emplace(keysound.code, channels.definitions.size());
        if (fresh) {
            channels.definitions.push_back(&keysound);
        } else {
            channels.definitions[found->second] = &keysound;
        }
    }
    channels.notes.resize(channels.definitions.size());
    for (std::size_t k = 0; k < notes.size(); ++k) {
        const auto channel = channelOfCode.find(notes[k].code);
        if (notes[k].l >= 0 && channel != channelOfCode.end()) {
            channels.notes[channel->second].push_back(k);
        }
    }
    return channels;
}

// The text handed to a sink a megabyte at a time; the first failure is kept and ends the handing.
class ChunkedText {
public:
    explicit ChunkedText(const std::function<Status(std::string_view)>& sink) : m_sink(sink) { }
    std::string out;
    void handOver(bool last)
    {
        if (m_status && (last || out.size() >= (std::size_t{1} << 20))) {
            m_status = m_sink(out);
            out.clear();
        }
    }
    const Status& status() const { return m_status; }

private:
    const std::function<Status(std::string_view)>& m_sink;
    Status m_status;
};

void writeSoundChannels(ChunkedText& text, const SoundChannels& channels, const std::vector<Note>& notes)
{
    for (std::size_t c = 0; c < channels.definitions.size(); ++c) {
        text.out += (c == 0 ? "\n{\"name\":" : ",\n{\"name\":") +
                    Json(validUtf8(channels.definitions[c]->fileName)).dump() + ",\"notes\":[";
        for (std::size_t k = 0; k < channels.notes[c].size(); ++k) {
            const auto& note = notes[channels.notes[c][k]];
            text.out +=
                (k == 0 ? "" : ",") + Json{{"x", bmsonLane(note.x)}, {"y", note.y}, {"l", note.l}, {"c", false}}.dump();
            text.handOver(false);
        }
        text.out += "]}";
    }
}

Status writeBmsonText(const Chart& chart, const std::function<Status(std::string_view)>& sink)
{
    std::int32_t lastMeasure = 0;  // the last holding a note
    std::int32_t lastLineMeasure = 0;
    for (const auto& line : chart.lines) {
        lastLineMeasure = std::max(lastLineMeasure, line.measure);
        if (sounds(line.channel) && line.objectCount != 0) {
            lastMeasure = std::max(lastMeasure, line.measure);
        }
    }
    const Pulses pulses(chart, std::max(lastMeasure, lastLineMeasure));
    auto timed = timedObjects(chart, pulses);
    pairLongNotes(timed.notes);

    // The head through the JSON library; bar lines and notes, which run to millions, one at a
    // time, the text handed on a megabyte at a time.
    ChunkedText text(sink);
    Json head = Json::object();
    head["version"] = "1.0.0";
    head["info"] = bmsonInfo(chart.header);
    text.out = head.dump();
    text.out.pop_back();  // the closing brace: the arrays follow
    text.out += ",\n\"lines\":[";
    for (std::size_t m = 0; m <= static_cast<std::size_t>(lastMeasure) + 1; ++m) {
        text.out += (m == 0 ? "" : ",") + Json{{"y", pulses.start(m)}}.dump();
        text.handOver(false);
    }
    text.out += "],\n\"bpm_events\":[";
    for (std::size_t k = 0; k < timed.tempos.size(); ++k) {
        text.out += (k == 0 ? "" : ",") + Json{{"y", timed.tempos[k].first}, {"bpm", timed.tempos[k].second}}.dump();
    }
    text.out += "],\n\"stop_events\":[";
    for (std::size_t k = 0; k < timed.stops.size(); ++k) {
        const auto duration =
            std::llround(timed.stops[k].second / kStopUnitsPerBeat * static_cast<double>(chart.header.resolution));
        text.out += (k == 0 ? "" : ",") + Json{{"y", timed.stops[k].first}, {"duration", duration}}.dump();
    }
    text.out += "],\n\"sound_channels\":[";
    writeSoundChannels(text, soundChannels(chart, timed.notes), timed.notes);
    text.out += "]}\n";
    text.handOver(true);
    return text.status();
}

}  // namespace

std::string bmsonText(const Chart& chart)
{
    std::string text;
    [[maybe_unused]] const auto written = writeBmsonText(chart, [&text](std::string_view block) -> Status {
        text += block;
        return {};
    });
    return text;
}

Status writeBmson(const Chart& chart, AtomicFileWriter& file)
{
    return writeBmsonText(chart, [&file](std::string_view block) { return file.write(block); });
}

}  // namespace zentrowe::chart

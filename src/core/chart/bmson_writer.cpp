#include "core/chart/bmson_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "core/convert/chart_builder.h"
#include "core/convert/keysound_table.h"

namespace zentrowe::chart {

namespace {

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

void appendString(std::string& out, std::string_view text)
{
    static constexpr std::string_view kHex = "0123456789abcdef";
    out += '"';
    while (!text.empty()) {
        const auto [length, valid] = utf8Sequence(text);
        if (!valid) {
            out += "\\ufffd";
            text.remove_prefix(length);
            continue;
        }
        const char c = text[0];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00";
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    out += '"';
}

void appendNumber(std::string& out, std::int64_t value)
{
    out += std::to_string(value);
}

// The shortest digits that read back as the same double.
void appendNumber(std::string& out, double value)
{
    std::array<char, 32> digits{};
    const auto converted = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), converted.ptr);
}

}  // namespace

void BmsonNoteCollector::notePlaced(const convert::PlacedNote& note)
{
    if (note.keysound >= m_notes.size()) {
        m_notes.resize(note.keysound + 1);
    }
    m_notes[note.keysound].push_back({note.lane ? bmsonLane(*note.lane) : 0, note.startTick, note.heldTicks});
}

std::int64_t bmsonLane(int generatorLane)
{
    return generatorLane == 0 ? 8 : generatorLane;
}

double bpmOfMicros(std::uint32_t tempoMicros)
{
    return 60'000'000.0 / static_cast<double>(tempoMicros);
}

BmsonChart makeBmsonChart(const song::SongSummary& song, const convert::GeneratedChart& generated,
                          BmsonNoteCollector& notes, const BmsonNaming& naming)
{
    BmsonChart chart;
    chart.title = naming.title;
    chart.artist = naming.artist;
    chart.resolution = song.ticksPerQuarter;

    // Before the song's first Set Tempo it plays at the standard's default; a later change at
    // tick 0 overrides an earlier one there.
    chart.initBpm = bpmOfMicros(song::kDefaultTempoMicros);
    for (const auto& change : song.tempoMap) {
        if (change.time > generated.lastPlacedTick) {
            break;
        }
        if (change.time == 0) {
            chart.initBpm = bpmOfMicros(change.tempoMicros);
        } else {
            chart.bpmEvents.push_back({change.time, bpmOfMicros(change.tempoMicros)});
        }
    }

    const std::int64_t measures = generated.lastPlacedTick / song.ticksPerMeasure + 1;
    chart.lines.reserve(static_cast<std::size_t>(measures + 1));
    for (std::int64_t measure = 0; measure <= measures; ++measure) {
        chart.lines.push_back(measure * song.ticksPerMeasure);
    }

    auto& placed = notes.notesOfKeysounds();
    placed.resize(generated.keysounds.size());
    chart.soundChannels.reserve(placed.size());
    for (std::size_t k = 0; k < generated.keysounds.size(); ++k) {
        auto& channel = chart.soundChannels.emplace_back();
        channel.name = convert::keysoundStem(naming.keysoundName, generated.keysounds[k], song.ticksPerMeasure) +
                       naming.soundExtension;
        channel.notes = std::move(placed[k]);
        std::stable_sort(channel.notes.begin(), channel.notes.end(),
                         [](const BmsonNote& a, const BmsonNote& b) { return a.y < b.y; });
    }
    return chart;
}

std::string bmsonText(const BmsonChart& chart)
{
    std::string out;
    out += "{\"version\":\"1.0.0\",\"info\":{\"title\":";
    appendString(out, chart.title);
    if (chart.artist) {
        out += ",\"artist\":";
        appendString(out, *chart.artist);
    }
    out += ",\"mode_hint\":\"beat-7k\",\"init_bpm\":";
    appendNumber(out, chart.initBpm);
    out += ",\"resolution\":";
    appendNumber(out, chart.resolution);
    out += ",\"judge_rank\":100,\"total\":100},\n\"lines\":[";
    for (std::size_t k = 0; k < chart.lines.size(); ++k) {
        out += k == 0 ? "{\"y\":" : ",{\"y\":";
        appendNumber(out, chart.lines[k]);
        out += '}';
    }
    out += "],\n\"bpm_events\":[";
    for (std::size_t k = 0; k < chart.bpmEvents.size(); ++k) {
        out += k == 0 ? "{\"y\":" : ",{\"y\":";
        appendNumber(out, chart.bpmEvents[k].y);
        out += ",\"bpm\":";
        appendNumber(out, chart.bpmEvents[k].bpm);
        out += '}';
    }
    out += "],\n\"stop_events\":[],\n\"sound_channels\":[";
    for (std::size_t c = 0; c < chart.soundChannels.size(); ++c) {
        const auto& channel = chart.soundChannels[c];
        out += c == 0 ? "\n{\"name\":" : ",\n{\"name\":";
        appendString(out, channel.name);
        out += ",\"notes\":[";
        for (std::size_t k = 0; k < channel.notes.size(); ++k) {
            const auto& note = channel.notes[k];
            out += k == 0 ? "{\"x\":" : ",{\"x\":";
            appendNumber(out, note.x);
            out += ",\"y\":";
            appendNumber(out, note.y);
            out += ",\"l\":";
            appendNumber(out, note.l);
            out += ",\"c\":false}";
        }
        out += "]}";
    }
    out += "]}\n";
    return out;
}

}  // namespace zentrowe::chart

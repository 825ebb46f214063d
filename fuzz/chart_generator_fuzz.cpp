// Arbitrary bytes through what `zentrowe-cli convert` does before it writes anything: the settings
// checked from their texts, the summary pass, and the chart of each of the first tracks in plain,
// long-note and percussion mode. The first four bytes choose the settings, the rest is the MIDI
// file. None of it may crash, hang or grow without bound, and every chart that comes back must
// keep the chart rules checked below.
//
// Input: [start code low, start code high, long-note minimum, name and mode bits] MIDI bytes...

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/progress.h"
#include "core/chart/bms_writer.h"
#include "core/convert/chart_generator.h"
#include "core/convert/keysound_table.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_midi_writer.h"
#include "core/song/song_summary.h"

namespace {

using namespace zentrowe;

constexpr int kMaxTracks = 4;  // enough to reach every kind of track; more only costs time
constexpr std::size_t kSlots = 192;
constexpr std::string_view kLineEnd = "\r\n";

void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "chart rule broken: %s\n", rule);
        std::abort();
    }
}

// Reports must count up within the pass's total.
class CheckedProgress final : public ProgressSink {
public:
    void advance(std::int64_t done, std::int64_t total) override
    {
        require(done >= m_done && done >= 0 && done <= total, "progress counts up to its total");
        m_done = done;
    }

private:
    std::int64_t m_done = 0;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isCodeChar(char c)
{
    return isDigit(c) || (c >= 'A' && c <= 'Z');
}

// "120.00", "095.50", "60000000.00": at least three integer digits, a point, two decimals.
bool isBpmText(std::string_view text)
{
    const auto point = text.find('.');
    if (point == std::string_view::npos || point < 3 || text.size() != point + 3) {
        return false;
    }
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(point), isDigit) &&
           isDigit(text[point + 1]) && isDigit(text[point + 2]);
}

bool isNoteChannel(std::string_view channel, bool longNotes)
{
    static const std::set<std::string_view> lanes = {"11", "12", "13", "14", "15", "16", "18"};
    static const std::set<std::string_view> longLanes = {"51", "52", "53", "54", "55", "56", "58"};
    return lanes.count(channel) != 0 || (longNotes && longLanes.count(channel) != 0);
}

// The rules any chart must keep, whatever the song:
// - CR LF ends every line, including the last, and no other CR or LF appears;
// - "#WAV" codes are the keysound table's, in its order, counting on from the start code, each
//   naming an ".OGG" file; "#BPM" codes count from 01 with a tempo of two decimals;
// - a channel line is "#", three measure digits, a channel of the mode, ":" and 192 codes of
//   two characters 0-9, A-Z;
// - every code on the tempo channel has a "#BPM" line, every other code a "#WAV" line, and every
//   definition is used;
// - no lane position holds two objects, even across lines of one measure collected twice;
// - on each long-note channel the markers, in time order, pair up start and end with one code.
void checkChart(const std::string& text, const convert::KeysoundTable& keysounds, int startValue,
                convert::ConversionMode mode)
{
    require(text.size() >= kLineEnd.size() && text.ends_with(kLineEnd), "the chart ends with CR LF");
    const bool longNotes = mode == convert::ConversionMode::LongNotes;

    std::set<int> wavCodes;
    std::set<int> bpmCodes;
    std::set<int> usedWav;
    std::set<int> usedBpm;
    std::size_t wavLines = 0;
    // Per lane channel: (measure, slot) -> code of its one object.
    std::map<std::string, std::map<std::pair<int, int>, int>> laneObjects;

    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = text.find(kLineEnd, at);
        require(end != std::string::npos, "every line ends with CR LF");
        const std::string_view line(text.data() + at, end - at);
        at = end + kLineEnd.size();
        require(line.find_first_of("\r\n") == std::string_view::npos, "no bare CR or LF inside a line");
        if (line.empty() || line == "#LNTYPE 01") {
            continue;
        }
        if (line.starts_with("#BPM")) {
            const auto code = convert::decodeBase36(line.substr(4, 2));
            require(code.has_value() && line.size() > 7 && line[6] == ' ', "#BPM line: code and a space");
            require(*code == static_cast<int>(bpmCodes.size()) + 1, "#BPM codes count from 01");
            require(isBpmText(line.substr(7)), "#BPM tempo has three digits and two decimals");
            bpmCodes.insert(*code);
            continue;
        }
        if (line.starts_with("#WAV")) {
            const auto code = convert::decodeBase36(line.substr(4, 2));
            require(code.has_value() && line.size() > 7 && line[6] == ' ', "#WAV line: code and a space");
            require(wavLines < keysounds.size() && keysounds[wavLines].code == line.substr(4, 2),
                    "#WAV lines list the keysound table in order");
            require(*code == startValue + static_cast<int>(wavLines) + 1, "#WAV codes count on from the start code");
            require(line.ends_with(".OGG") && line.size() > 7 + 4, "#WAV names an .OGG file");
            wavCodes.insert(*code);
            ++wavLines;
            continue;
        }

        require(line.size() == 7 + 2 * kSlots, "a channel line holds 192 slots of two characters");
        require(line[0] == '#' && isDigit(line[1]) && isDigit(line[2]) && isDigit(line[3]),
                "a channel line's measure has three digits");
        require(line[6] == ':', "a colon follows the channel");
        const int measure = (line[1] - '0') * 100 + (line[2] - '0') * 10 + (line[3] - '0');
        const std::string_view channel = line.substr(4, 2);
        const bool tempo = channel == "08";
        const bool lane = isNoteChannel(channel, longNotes);
        require(tempo || lane || channel == "01", "a channel line uses a channel of its mode");
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            const std::string_view pair = line.substr(7 + 2 * slot, 2);
            require(isCodeChar(pair[0]) && isCodeChar(pair[1]), "slot codes are 0-9, A-Z");
            const int code = *convert::decodeBase36(pair);
            if (code == 0) {
                continue;
            }
            if (tempo) {
                require(bpmCodes.count(code) != 0, "every tempo code has a #BPM line");
                usedBpm.insert(code);
                continue;
            }
            require(wavCodes.count(code) != 0, "every note code has a #WAV line");
            usedWav.insert(code);
            if (lane) {
                const bool added =
                    laneObjects[std::string(channel)].emplace(std::pair(measure, static_cast<int>(slot)), code).second;
                require(added, "a lane position holds one object");
            }
        }
    }
    require(wavLines == keysounds.size(), "a #WAV line for every keysound");
    require(usedWav == wavCodes, "every keysound is placed in the chart");
    require(usedBpm == bpmCodes && !bpmCodes.empty(), "every tempo is placed, the first at the chart's start");

    for (const auto& [channel, objects] : laneObjects) {
        if (channel[0] != '5') {
            continue;
        }
        require(objects.size() % 2 == 0, "long-note markers come in pairs");
        for (auto it = objects.begin(); it != objects.end(); std::advance(it, 2)) {
            require(it->second == std::next(it)->second, "a long note ends with its own code");
        }
    }
}

// The chart as the BMS writer writes it; a block never exceeds the block size.
std::string chartText(const chart::Chart& chart)
{
    std::string text;
    const auto written = chart::writeBms(chart, [&text](std::string_view block) -> Status {
        require(!block.empty() && block.size() <= (std::size_t{1} << 20), "text comes in bounded blocks");
        text += block;
        return {};
    });
    require(written.ok(), "a chart the conversion made can be written");
    return text;
}

// The settings texts the command line would pass, from four bytes: every start code (upper or
// lower case), long-note minimums around 0 and at both ends of the range, a few names.
convert::SettingsTexts settingsTexts(std::span<const std::uint8_t, 4> choice)
{
    convert::SettingsTexts texts;
    const int startValue = ((choice[1] & 0x7F) << 8 | choice[0]) % (convert::kLargestCode + 1);
    texts.startCode = convert::encodeBase36(startValue);
    if (choice[1] & 0x80) {
        for (char& c : texts.startCode) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    }
    const auto minimum = static_cast<std::int8_t>(choice[2]);
    texts.longNoteMinimum = minimum == 127    ? "2147483647"
                            : minimum == -128 ? "-2147483647"
                                              : std::to_string(minimum);
    static constexpr const char* kNames[] = {"A", "", "kick-", "a rather long keysound name"};
    texts.keysoundName = kNames[choice[3] & 3];
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    const std::span<const std::uint8_t, 4> choice(data, 4);
    const std::span<const std::uint8_t> file(data + 4, size - 4);

    auto texts = settingsTexts(choice);
    NullProgress quiet;
    const auto summary = song::summarizeSong(file, "fuzz.mid", quiet);
    if (!summary) {
        return 0;
    }
    const int tracks = std::min(static_cast<int>(summary->tracks.size()), kMaxTracks);
    const auto joinedMode = static_cast<convert::ConversionMode>((choice[3] >> 2) % 3);

    for (const auto mode : {convert::ConversionMode::Plain, convert::ConversionMode::LongNotes,
                            convert::ConversionMode::Percussion}) {
        texts.longNotes = mode == convert::ConversionMode::LongNotes;
        texts.percussion = mode == convert::ConversionMode::Percussion;
        const auto settings = convert::parseSettings(texts);
        require(settings.ok(), "the settings texts are ones the dialog accepts");
        require(settings->mode() == mode, "the settings pick the mode asked for");

        for (int track = 1; track <= tracks; ++track) {
            CheckedProgress progress;
            const auto chart = convert::generateChart(file, *summary, track, *settings, progress);
            if (!chart) {
                const auto code = chart.error().code;
                require(code == ErrorCode::UnsupportedDivision || code == ErrorCode::CodesExhausted ||
                            code == ErrorCode::MeasureOutOfRange,
                        "a chart is refused only for its division, its codes or its length");
                continue;
            }
            checkChart(chartText(chart->chart), chart->keysounds, settings->startValue, mode);
            if (mode == joinedMode) {
                const auto instruments =
                    keysound::keysoundInstruments(file, *summary, track, chart->keysounds, settings->percussion);
                const auto keysoundMidi = keysound::buildKeysoundMidi(chart->keysounds, instruments,
                                                                      summary->ticksPerQuarter,
                                                                      summary->tempoBytes, settings->keysoundGap);
                require(keysoundMidi.ok() || keysoundMidi.error().code == ErrorCode::NoteTooLong,
                        "K-Midi.mid is refused only for a keysound too long for it");
            }
        }
    }
    return 0;
}

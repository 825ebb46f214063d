#pragma once

#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrowe::chart {

// A code of a chart: "01".."ZZ" in base 36, "01".."zz" in base 62. A bmson chart, which has no
// codes, numbers its sound channels from 1 the same way, without the two-character limit.
using ChartCode = std::uint32_t;
inline constexpr ChartCode kLargestCode36 = 36 * 36 - 1;  // "ZZ"
inline constexpr ChartCode kLargestCode62 = 62 * 62 - 1;  // "zz"

// The channels this program reads and writes, numbered as BMS writes them (two decimal digits).
inline constexpr std::uint8_t kBackgroundChannel = 1;
inline constexpr std::uint8_t kMeasureLengthChannel = 2;
inline constexpr std::uint8_t kHexTempoChannel = 3;  // the tempo itself, 01..FF
inline constexpr std::uint8_t kTempoChannel = 8;     // a #BPMxx definition
inline constexpr std::uint8_t kStopChannel = 9;      // a #STOPxx definition

constexpr bool isLaneChannel(int channel)
{
    return (channel >= 11 && channel <= 19) || (channel >= 21 && channel <= 29);
}

// Channels 51..59 and 61..69 hold long notes of lanes 11..19 and 21..29, start and end by turns.
constexpr bool isLongNoteChannel(int channel)
{
    return (channel >= 51 && channel <= 59) || (channel >= 61 && channel <= 69);
}

// What a chart says about the song. Empty text and absent numbers write no line.
struct ChartHeader {
    bool base62 = false;  // "#BASE 62": codes in 0-9, A-Z, a-z
    std::optional<int> player;
    std::string genre;
    std::string title;
    std::string subtitle;
    std::string artist;
    std::optional<double> initialBpm;  // "#BPM"; players assume 130 without it
    std::string initialBpmText;        // how "#BPM" is written, if not with two decimals
    std::optional<int> playLevel;
    std::optional<int> rank;
    std::optional<int> total;
    std::optional<int> difficulty;
    std::optional<int> volWav;
    std::string previewFile;
    std::optional<int> lnType;         // "#LNTYPE"; only 1 is read
    std::vector<ChartCode> lnObjects;  // "#LNOBJ": codes that end the lane's previous note
    std::int64_t resolution = 240;     // ticks per quarter note, for formats counted in ticks
};

// "#WAVxx name": the file a keysound code plays, as the chart spells it.
struct KeysoundDefinition {
    ChartCode code = 0;
    std::string fileName;
};

// "#BPMxx value" or "#STOPxx value". `text` is the value as written (kept so that a chart read
// and written again says the same); empty, the value is written in its shortest exact form.
struct TimingDefinition {
    ChartCode code = 0;
    double value = 0;  // beats per minute, or 1/192 of a 4-beat measure of stop
    std::string text;
};

// "#mmm02:length": a measure of `length` times four beats.
struct MeasureLength {
    std::int32_t measure = 0;
    double length = 1;
    std::uint32_t sourceLine = 0;
};

// One object of a channel line: its slot and the code (or hex tempo) it holds.
struct LineObject {
    std::uint32_t slot = 0;
    ChartCode code = 0;
};

// "#mmmcc:..." as written or read: slotCount slots of which only the objects are kept, so a line
// costs a few bytes per object whatever its length. Lines keep their order and grouping, which is
// how a chart written from this model comes out byte for byte as it was laid out.
struct ChannelLine {
    std::int32_t measure = 0;
    std::uint32_t slotCount = 0;
    std::uint32_t firstObject = 0;  // in Chart::objects; a line's objects lie together
    std::uint32_t objectCount = 0;
    std::uint32_t sourceLine = 0;  // 1-based line of the file read; 0 for a line made here
    std::uint8_t channel = 0;
    std::uint8_t blankLinesAfter = 0;
};

// One chart in memory, whatever format it was read from or is written to.
struct Chart {
    ChartHeader header;
    std::vector<KeysoundDefinition> keysounds;  // in file order; a later one for a code wins
    std::vector<TimingDefinition> tempos;
    std::vector<TimingDefinition> stops;
    std::vector<MeasureLength> measureLengths;
    std::vector<ChannelLine> lines;
    std::vector<LineObject> objects;

    // Appends a line of `slotCount` slots; objects added next belong to it.
    ChannelLine& addLine(std::int32_t measure, std::uint8_t channel, std::uint32_t slotCount,
                         std::uint8_t blankLinesAfter = 0, std::uint32_t sourceLine = 0);
    // An object of the line added last. Inline: conversion adds one per note.
    void addObject(std::uint32_t slot, ChartCode code)
    {
        assert(!lines.empty() && slot < lines.back().slotCount);
        objects.push_back({slot, code});
        ++lines.back().objectCount;
    }
};

// Each measure's length in whole notes (1 unless a measure length says otherwise), from measure 0
// to the last that holds a line; empty for a chart without lines. A length for a measure outside
// that range is passed over.
std::vector<double> measureLengthsToLastLine(const Chart& chart);

// A problem met while reading a chart; the rest is still read.
struct ChartProblem {
    std::int64_t line = 0;  // 1-based; 0 when the problem is not of one line
    std::string message;    // "measure length 0 is not above 0"
};

// A chart as read, and what was left out of it.
struct ChartReading {
    Chart chart;
    std::int64_t ignoredLines = 0;  // comments, blank lines, commands and channels not read
    std::vector<ChartProblem> problems;
};

// The two characters of a code up to kLargestCode62 (base 62) or kLargestCode36; a larger code
// is written in decimal, as only a bmson chart has them.
std::string codeText(ChartCode code, bool base62);

// The value of two code characters: base 36 reads letters in either case as 10..35, base 62
// reads capitals as 10..35 and small letters as 36..61. Nothing for other text.
std::optional<ChartCode> decodeCodeText(std::string_view two, bool base62);

}  // namespace zentrowe::chart

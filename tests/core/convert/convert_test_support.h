#pragma once

// Builders for the conversion tests: tracks from absolute-time events, expected channel lines.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/chart/bms_writer.h"
#include "core/convert/chart_generator.h"
#include "core/song/song_summary.h"
#include "support/test_support.h"

namespace zentrowe::testing {

// One channel event at an absolute tick.
struct TimedEvent {
    std::int64_t time;
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

inline TimedEvent on(std::int64_t time, int note, int velocity = 100, int channel = 0)
{
    return {time, static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(note),
            static_cast<std::uint8_t>(velocity)};
}

inline TimedEvent off(std::int64_t time, int note, int channel = 0)
{
    return {time, static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(note), 0x40};
}

inline TimedEvent control(std::int64_t time, int controller, int value, int channel = 0)
{
    return {time, static_cast<std::uint8_t>(0xB0 | channel), static_cast<std::uint8_t>(controller),
            static_cast<std::uint8_t>(value)};
}

// Track bytes: an optional Set Tempo at tick 0, the events in the order given (times must not
// decrease; program changes and channel pressure written with their one data byte), then the
// end of track.
inline Bytes eventTrack(const std::vector<TimedEvent>& events, std::uint32_t tempoMicros = 500000)
{
    Bytes out;
    if (tempoMicros != 0) {
        append(out, bytes({0x00, 0xFF, 0x51, 0x03, static_cast<int>(tempoMicros >> 16),
                           static_cast<int>((tempoMicros >> 8) & 0xFF), static_cast<int>(tempoMicros & 0xFF)}));
    }
    std::int64_t now = 0;
    for (const auto& event : events) {
        append(out, varLen(static_cast<std::uint32_t>(event.time - now)));
        now = event.time;
        out.push_back(event.status);
        out.push_back(event.data1);
        if ((event.status & 0xF0) != 0xC0 && (event.status & 0xF0) != 0xD0) {
            out.push_back(event.data2);  // program changes and channel pressure take one data byte
        }
    }
    append(out, kEndOfTrack);
    return out;
}

// A one-track song at `division` ticks per quarter note.
inline Bytes oneTrackSong(const std::vector<TimedEvent>& events, std::uint16_t division = 480,
                          std::uint32_t tempoMicros = 500000)
{
    return midiFile(0, division, {eventTrack(events, tempoMicros)});
}

inline song::SongSummary summaryOf(const Bytes& file)
{
    NullProgress quiet;
    auto summary = song::summarizeSong(file, "test.mid", quiet);
    EXPECT_TRUE(summary.ok());
    return summary.ok() ? std::move(summary).value() : song::SongSummary{};
}

// A whole chart file as the BMS writer writes the conversion's chart.
struct Chart {
    std::string text;
    convert::KeysoundTable keysounds;
};

inline Result<Chart> chartOf(const Bytes& file, const convert::ConversionSettings& settings = {}, int track = 1,
                             ProgressSink* progress = nullptr)
{
    NullProgress quiet;
    auto chart = convert::generateChart(file, summaryOf(file), track, settings, progress ? *progress : quiet);
    if (!chart) {
        return chart.error();
    }
    auto text = chart::bmsText(chart->chart);
    if (!text) {
        return text.error();
    }
    return Chart{std::move(text).value(), std::move(chart->keysounds)};
}

// "#" + measure + channel + ":" + 192 slots, "00" except those given, + CR LF (twice if a blank
// line follows).
inline std::string channelLine(const std::string& measure, const std::string& channel,
                               const std::map<int, std::string>& codes = {}, bool blankAfter = false)
{
    std::string data(384, '0');
    for (const auto& [slot, code] : codes) {
        data.replace(static_cast<std::size_t>(2 * slot), 2, code);
    }
    return "#" + measure + channel + ":" + data + (blankAfter ? "\r\n\r\n" : "\r\n");
}

using SlotCodes = std::map<std::string, std::map<int, std::string>>;  // channel -> slot -> code

// A final flush: one line per channel in the given order, codes where given, an empty line after
// the last channel of the order.
inline std::string flushLines(const std::string& measure, const std::vector<std::string>& order,
                              const SlotCodes& codes = {})
{
    std::string lines;
    for (const auto& channel : order) {
        const auto found = codes.find(channel);
        lines += channelLine(measure, channel, found == codes.end() ? std::map<int, std::string>{} : found->second,
                             channel == order.back());
    }
    return lines;
}

// The final flush of the plain and percussion modes.
inline std::string sevenLines(const std::string& measure, const SlotCodes& codes = {})
{
    return flushLines(measure, {"16", "11", "12", "13", "14", "15", "18"}, codes);
}

// The final flush of long-note mode: an empty line after "58" only.
inline std::string fourteenLines(const std::string& measure, const SlotCodes& codes = {})
{
    return flushLines(measure, {"16", "11", "12", "13", "14", "15", "18", "56", "51", "52", "53", "54", "55", "58"},
                      codes);
}

// The tempo line of a song whose only tempo is at tick 0.
inline const std::string kTempoLine000 = channelLine("000", "08", {{0, "01"}}, true);

// The channel lines of a chart file: from the first line that starts with "#" and a measure
// number, without the file's last line end.
inline std::string channelLinesOf(const std::string& chart)
{
    for (std::size_t at = chart.find("\n#"); at != std::string::npos; at = chart.find("\n#", at + 1)) {
        if (at + 2 < chart.size() && chart[at + 2] >= '0' && chart[at + 2] <= '9') {
            return chart.substr(at + 1, chart.size() - at - 3);
        }
    }
    return {};
}

}  // namespace zentrowe::testing

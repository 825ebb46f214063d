#include "core/chart/chart_model.h"

#include <algorithm>
#include <cassert>

namespace zentrowe::chart {

ChannelLine& Chart::addLine(std::int32_t measure, std::uint8_t channel, std::uint32_t slotCount,
                            std::uint8_t blankLinesAfter, std::uint32_t sourceLine)
{
    ChannelLine line;
    line.measure = measure;
    line.channel = channel;
    line.slotCount = slotCount;
    line.firstObject = static_cast<std::uint32_t>(objects.size());
    line.sourceLine = sourceLine;
    line.blankLinesAfter = blankLinesAfter;
    return lines.emplace_back(line);
}

std::vector<double> measureLengthsToLastLine(const Chart& chart)
{
    std::int32_t lastMeasure = -1;
    for (const auto& line : chart.lines) {
        lastMeasure = std::max(lastMeasure, line.measure);
    }
    std::vector<double> lengths(static_cast<std::size_t>(lastMeasure + 1), 1.0);
    for (const auto& length : chart.measureLengths) {
        if (length.measure >= 0 && length.measure <= lastMeasure) {
            lengths[static_cast<std::size_t>(length.measure)] = length.length;
        }
    }
    return lengths;
}

std::string codeText(ChartCode code, bool base62)
{
    static constexpr std::string_view kDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const ChartCode base = base62 ? 62 : 36;
    if (code > (base62 ? kLargestCode62 : kLargestCode36)) {
        return std::to_string(code);
    }
    return {kDigits[code / base], kDigits[code % base]};
}

std::optional<ChartCode> decodeCodeText(std::string_view two, bool base62)
{
    const auto digit = [base62](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'Z') {
            return c - 'A' + 10;
        }
        if (c >= 'a' && c <= 'z') {
            return base62 ? c - 'a' + 36 : c - 'a' + 10;
        }
        return -1;
    };
    if (two.size() != 2) {
        return std::nullopt;
    }
    const int high = digit(two[0]);
    const int low = digit(two[1]);
    if (high < 0 || low < 0) {
        return std::nullopt;
    }
    return static_cast<ChartCode>(high * (base62 ? 62 : 36) + low);
}

}  // namespace zentrowe::chart

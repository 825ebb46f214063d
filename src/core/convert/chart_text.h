#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/result.h"
#include "core/convert/chart_line_sink.h"

namespace zentrowe::convert {

inline constexpr int kSlots = 192;  // a measure line has 192 two-character slots

using SlotCodes = std::array<std::uint16_t, kSlots>;  // code values; 0 is an empty slot ("00")

// The chart's channel lines, collected in one block that goes to the sink whenever the next line
// would not fit: memory holds one block whatever the chart's size, and no line is copied twice.
class ChartText {
public:
    // Codes are written in base 62 when `base62` is set, else in base 36.
    explicit ChartText(ChartLineSink& sink, bool base62 = false);

    // "#" + measure (at least three digits) + channel + ":" + the 192 slots + CR LF, twice when
    // an empty line follows.
    void appendLine(std::int64_t measure, std::string_view channel, const SlotCodes& slots, bool blankLineAfter);
    // A line holding a single code, followed by an empty line.
    void appendSingleCode(std::int64_t measure, std::string_view channel, int slot, std::uint16_t code);
    void appendLineEnd();

    // Hands the rest to the sink. The first failure of the sink, if any; nothing is handed to it
    // after a failure.
    Status finish();
    bool failed() const { return m_error.has_value(); }
    const std::optional<Error>& error() const { return m_error; }

    static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

private:
    static constexpr std::size_t kFirstBlockBytes = std::size_t{16} << 10;

    char* grow(std::size_t length, char fill);
    char* appendBlankLine(std::int64_t measure, std::string_view channel, bool blankLineAfter);
    void handOver();

    ChartLineSink& m_sink;
    const std::array<char, 2>* m_codes;  // the two characters of each code value
    std::string m_block;
    std::optional<Error> m_error;
};

}  // namespace zentrowe::convert

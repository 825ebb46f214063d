#include "core/convert/chart_text.h"

#include <algorithm>
#include <charconv>

#include "core/convert/keysound_table.h"

namespace zentrowe::convert {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kSlotChars = 2 * kSlots;

template <bool Base62>
const std::array<char, 2>* codeCharacters()
{
    static const auto table = [] {
        std::array<std::array<char, 2>, largestCode(Base62) + 1> codes{};
        for (int value = 0; value <= largestCode(Base62); ++value) {
            const std::string code = encodeCode(value, Base62);
            codes[static_cast<std::size_t>(value)] = {code[0], code[1]};
        }
        return codes;
    }();
    return table.data();
}

}  // namespace

ChartText::ChartText(ChartLineSink& sink, bool base62)
    : m_sink(sink), m_codes(base62 ? codeCharacters<true>() : codeCharacters<false>())
{
    m_block.reserve(kFirstBlockBytes);
}

void ChartText::handOver()
{
    if (!m_error && !m_block.empty()) {
        if (auto written = m_sink.write(m_block); !written) {
            m_error = written.error();
        }
    }
    m_block.clear();
}

char* ChartText::grow(std::size_t length, char fill)
{
    if (m_block.capacity() - m_block.size() < length) {
        // Most charts are a few kilobytes: the block starts small and doubles up to its size.
        if (m_block.capacity() < kBlockBytes) {
            m_block.reserve(std::min(std::max(2 * m_block.capacity(), m_block.size() + length), kBlockBytes));
        }
        if (m_block.capacity() - m_block.size() < length) {
            handOver();
        }
    }
    const std::size_t at = m_block.size();
    m_block.resize(at + length, fill);
    return m_block.data() + at;
}

// One step per line: charts in long-note mode hold hundreds of thousands of lines.
char* ChartText::appendBlankLine(std::int64_t measure, std::string_view channel, bool blankLineAfter)
{
    std::array<char, 24> digits{};
    const auto converted = std::to_chars(digits.data(), digits.data() + digits.size(), measure);
    const auto digitCount = static_cast<std::size_t>(converted.ptr - digits.data());
    const std::size_t padding = digitCount < 3 ? 3 - digitCount : 0;
    const std::size_t lineEnds = blankLineAfter ? 2 : 1;
    const std::size_t length = 1 + padding + digitCount + channel.size() + 1 + kSlotChars + lineEnds * kLineEnd.size();

    char* out = grow(length, '0');
    *out++ = '#';
    out += padding;  // already "0"
    out = std::copy_n(digits.data(), digitCount, out);
    out = std::copy(channel.begin(), channel.end(), out);
    *out++ = ':';
    char* slots = out;
    out += kSlotChars;
    for (std::size_t k = 0; k < lineEnds; ++k) {
        out = std::copy(kLineEnd.begin(), kLineEnd.end(), out);
    }
    return slots;
}

void ChartText::appendLine(std::int64_t measure, std::string_view channel, const SlotCodes& slots, bool blankLineAfter)
{
    const auto* codes = m_codes;
    char* out = appendBlankLine(measure, channel, blankLineAfter);
    for (const std::uint16_t value : slots) {
        *out++ = codes[value][0];
        *out++ = codes[value][1];
    }
}

void ChartText::appendSingleCode(std::int64_t measure, std::string_view channel, int slot, std::uint16_t code)
{
    const auto& characters = m_codes[code];
    char* out = appendBlankLine(measure, channel, true) + 2 * slot;
    out[0] = characters[0];
    out[1] = characters[1];
}

void ChartText::appendLineEnd()
{
    std::copy(kLineEnd.begin(), kLineEnd.end(), grow(kLineEnd.size(), '\n'));
}

Status ChartText::finish()
{
    handOver();
    if (m_error) {
        return *m_error;
    }
    return {};
}

}  // namespace zentrowe::convert

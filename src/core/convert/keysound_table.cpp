#include "core/convert/keysound_table.h"

#include <algorithm>
#include <cassert>

#include "core/base/exact_ratio.h"

namespace zentrowe::convert {

namespace {

std::optional<int> digitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    return std::nullopt;
}

char digitChar(int digit)
{
    return static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
}

}  // namespace

std::string encodeBase36(int value)
{
    assert(value >= 0 && value <= kLargestCode);
    return {digitChar(value / 36), digitChar(value % 36)};
}

std::optional<int> decodeBase36(std::string_view code)
{
    if (code.size() != 2) {
        return std::nullopt;
    }
    const auto high = digitValue(code[0]);
    const auto low = digitValue(code[1]);
    if (!high || !low) {
        return std::nullopt;
    }
    return *high * 36 + *low;
}

std::optional<std::size_t> KeysoundTable::findOrAdd(std::uint8_t note, std::int64_t duration, std::uint8_t velocity,
                                                    std::int64_t startTime)
{
    assert(duration >= 0);
    const Identity key{duration, static_cast<std::uint16_t>((note << 8) | velocity)};
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        return found->second;
    }
    const std::size_t index = m_entries.size();
    const bool hasCode = codeValue(index) <= kLargestCode;
    if (!hasCode && m_codeLimited) {
        return std::nullopt;
    }
    m_entries.push_back(
        {note, duration, hasCode ? encodeBase36(codeValue(index)) : std::string(), startTime, velocity});
    m_index.emplace(key, static_cast<std::uint32_t>(index));
    return index;
}

std::int64_t keysoundLengthSlots(std::int64_t durationTicks, std::int32_t ticksPerMeasure)
{
    return roundRatioHalfEven(std::min(durationTicks, kLongestDurationTicks) * 192, ticksPerMeasure);
}

std::string keysoundStem(std::string_view keysoundName, const KeysoundEntry& entry, std::int32_t ticksPerMeasure)
{
    std::string stem(keysoundName);
    stem += std::to_string(entry.note);
    stem += '-';
    stem += std::to_string(keysoundLengthSlots(entry.duration, ticksPerMeasure));
    stem += '-';
    stem += std::to_string(entry.velocity);
    return stem;
}

}  // namespace zentrowe::convert

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
    if (digit < 10) {
        return static_cast<char>('0' + digit);
    }
    return static_cast<char>(digit < 36 ? 'A' + digit - 10 : 'a' + digit - 36);
}

// x / step rounded to the nearest integer, ties up, times step; x and step above or at 0.
std::int64_t nearestMultiple(std::int64_t x, std::int64_t step)
{
    return (x + step / 2) / step * step;
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

std::string encodeCode(int value, bool base62)
{
    assert(value >= 0 && value <= largestCode(base62));
    const int base = base62 ? 62 : 36;
    return {digitChar(value / base), digitChar(value % base)};
}

std::optional<int> decodeCode(std::string_view code, bool base62)
{
    if (!base62) {
        return decodeBase36(code);
    }
    if (code.size() != 2) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : code) {
        auto digit = digitValue(c);
        if (!digit) {
            return std::nullopt;
        }
        value = value * 62 + (c >= 'a' ? *digit + 26 : *digit);
    }
    return value;
}

std::uint8_t mergedVelocity(std::uint8_t velocity, int step)
{
    if (step <= 1) {
        return velocity;
    }
    // A velocity below half a step stands for the quiet end of the range, a quarter step: rounded
    // to 0 (and held at 1) the note would vanish from the chart's sound.
    const std::int64_t merged = nearestMultiple(velocity, step);
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(merged > 0 ? merged : step / 4, 1, 127));
}

std::int64_t mergedDuration(std::int64_t durationTicks, std::int64_t step, std::int32_t ticksPerMeasure)
{
    if (step <= 0) {
        return durationTicks;
    }
    std::int64_t units = nearestMultiple(keysoundLengthSlots(durationTicks, ticksPerMeasure), step);
    if (units == 0 && durationTicks > 0) {
        units = std::max<std::int64_t>(step / 4, 1);  // short notes stay short: a quarter step
    }
    // units * ticksPerMeasure stays below 2^58 + 2^37: the length is at most 2^50 ticks, the step
    // at most kLargestLengthStep and a measure below 2^17 ticks.
    return std::min(roundRatioHalfEven(units * ticksPerMeasure, 192), kLongestDurationTicks);
}

std::optional<std::size_t> KeysoundTable::find(std::uint8_t note, std::int64_t duration, std::uint8_t velocity,
                                               std::uint32_t variant) const
{
    const auto found = m_index.find(KeysoundIdentity(note, duration, velocity, variant));
    if (found == m_index.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::size_t> KeysoundTable::findOrAdd(std::uint8_t note, std::int64_t duration, std::uint8_t velocity,
                                                    std::int64_t startTime, std::uint32_t variant)
{
    assert(duration >= 0);
    const KeysoundIdentity key(note, duration, velocity, variant);
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        return found->second;
    }
    const std::size_t index = m_entries.size();
    const bool hasCode = codeValue(index) <= largestCode(m_base62);
    if (!hasCode && m_codeLimited) {
        return std::nullopt;
    }
    m_entries.push_back(
        {note, duration, hasCode ? encodeCode(codeValue(index), m_base62) : std::string(), startTime, velocity});
    m_variants.push_back(variant);
    m_index.emplace(key, static_cast<std::uint32_t>(index));
    return index;
}

KeysoundSource KeysoundTable::source(std::size_t index) const
{
    return index < m_sources.size() ? m_sources[index] : KeysoundSource{};
}

void KeysoundTable::setSource(std::size_t index, KeysoundSource source)
{
    if (m_sources.size() <= index) {
        m_sources.resize(index + 1);
    }
    m_sources[index] = source;
}

const std::string& KeysoundTable::suffix(std::size_t index) const
{
    static const std::string kNone;
    return index < m_suffixes.size() ? m_suffixes[index] : kNone;
}

void KeysoundTable::setSuffix(std::size_t index, std::string suffix)
{
    if (m_suffixes.size() <= index) {
        m_suffixes.resize(index + 1);
    }
    m_suffixes[index] = std::move(suffix);
}

std::int64_t keysoundLengthSlots(std::int64_t durationTicks, std::int32_t ticksPerMeasure)
{
    return roundRatioHalfEven(std::min(durationTicks, kLongestDurationTicks) * 192, ticksPerMeasure);
}

std::string keysoundStem(std::string_view keysoundName, const KeysoundEntry& entry, std::int32_t ticksPerMeasure,
                         std::string_view suffix)
{
    std::string stem(keysoundName);
    stem += std::to_string(entry.note);
    stem += '-';
    stem += std::to_string(keysoundLengthSlots(entry.duration, ticksPerMeasure));
    stem += '-';
    stem += std::to_string(entry.velocity);
    stem += suffix;
    return stem;
}

}  // namespace zentrowe::convert

#include "core/convert/settings.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "core/convert/keysound_name.h"
#include "core/convert/keysound_table.h"

namespace zentrowe::convert {

namespace {

constexpr std::int64_t kLargestTempoMicros = 0xFFFFFF;  // a Set Tempo event has three data bytes
constexpr std::int32_t kLongestGapTicks = (1 << 28) - 1;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A number as the dialog's boxes accept it: [+-]digits[.digits], at least one digit on one side
// of the point. No spaces, exponents or hexadecimal.
struct DecimalText {
    bool negative = false;
    std::string_view whole;
    std::string_view fraction;
};

std::optional<DecimalText> splitDecimal(std::string_view text)
{
    DecimalText number;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        number.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto point = text.find('.');
    number.whole = text.substr(0, point);
    if (point != std::string_view::npos) {
        number.fraction = text.substr(point + 1);
    }
    if (number.whole.empty() && number.fraction.empty()) {
        return std::nullopt;
    }
    for (const std::string_view part : {number.whole, number.fraction}) {
        for (const char c : part) {
            if (!isDigit(c)) {
                return std::nullopt;
            }
        }
    }
    return number;
}

// The exact decimal value rounded to the nearest integer, ties to even; nothing if that does not
// fit a signed 32-bit integer.
std::optional<std::int32_t> roundDecimalToInt32(std::string_view text)
{
    const auto number = splitDecimal(text);
    if (!number) {
        return std::nullopt;
    }
    std::int64_t magnitude = 0;
    for (const char c : number->whole) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > std::int64_t{1} << 32) {
            return std::nullopt;
        }
    }
    const std::string_view fraction = number->fraction;
    if (!fraction.empty()) {
        const char first = fraction.front();
        const bool restIsZero = fraction.find_first_not_of('0', 1) == std::string_view::npos;
        const bool above = first > '5' || (first == '5' && !restIsZero);
        const bool tie = first == '5' && restIsZero;
        if (above || (tie && magnitude % 2 == 1)) {
            ++magnitude;
        }
    }
    const std::int64_t value = number->negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// Microseconds per quarter note for a tempo typed in beats per minute: 60000000 / x, rounded to
// the nearest integer with ties to even; nothing unless it fits a Set Tempo event and is not 0.
std::optional<std::int32_t> tempoMicrosFromBpm(std::string_view text)
{
    if (!splitDecimal(text)) {
        return std::nullopt;
    }
    // from_chars does not take a leading '+' and ignores the locale, which a window may have set.
    std::string_view digits = text;
    if (digits.front() == '+') {
        digits.remove_prefix(1);
    }
    double bpm = 0;
    const auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), bpm);
    if (status != std::errc{} || end != digits.data() + digits.size() || !(bpm > 0)) {
        return std::nullopt;
    }
    const double micros = std::nearbyint(60000000.0 / bpm);  // default rounding: ties to even
    if (!(micros >= 1) || micros > static_cast<double>(kLargestTempoMicros)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(micros);
}

// `key` names the setting for faces that word the refusal themselves.
Error refusal(std::string_view key, std::string_view what, std::string_view text)
{
    return Error{ErrorCode::InvalidSetting, std::string(what) + " \"" + std::string(text) + "\""}
        .about(std::string(key))
        .withValue(std::string(text));
}

std::string_view settingKey(SettingsField field)
{
    switch (field) {
    case SettingsField::StartCode:
        return "startCode";
    case SettingsField::KeysoundName:
        return "keysoundName";
    case SettingsField::LongNoteMinimum:
        return "longNoteMinimum";
    case SettingsField::Tempo:
        return "tempo";
    case SettingsField::VelocityStep:
        return "velocityStep";
    case SettingsField::LengthStep:
        return "lengthStep";
    case SettingsField::Gap:
        break;
    }
    return "gap";
}

struct Checked {
    ConversionSettings settings;
    std::optional<SettingsField> badField;
    std::optional<Error> error;
};

// Records why `text` is refused for `field`; always false, for the checks to return.
bool refuse(Checked& out, SettingsField field, std::string_view what, std::string_view text)
{
    out.badField = field;
    out.error = refusal(settingKey(field), what, text);
    return false;
}

bool checkStartAndName(const SettingsTexts& texts, Checked& out)
{
    ConversionSettings& settings = out.settings;
    const auto start = decodeCode(texts.startCode, texts.base62);
    if (!start) {
        return refuse(out, SettingsField::StartCode, "the start code must be two characters 0-9, A-Z or a-z, not",
                      texts.startCode);
    }
    settings.startCode = texts.startCode;
    settings.startValue = *start;
    settings.base62 = texts.base62;

    if (auto named = checkKeysoundName(texts.keysoundName); !named) {
        out.badField = SettingsField::KeysoundName;
        out.error = named.error();
        return false;
    }
    settings.keysoundName = texts.keysoundName;
    return true;
}

// The long-note minimum, the tempo (kept from `previous` unless a custom one is asked for) and
// the gap between keysounds.
bool checkLengthsAndTempo(const SettingsTexts& texts, const ConversionSettings& previous, Checked& out)
{
    ConversionSettings& settings = out.settings;
    const auto minimum = roundDecimalToInt32(texts.longNoteMinimum);
    if (!minimum || *minimum == std::numeric_limits<std::int32_t>::min()) {
        return refuse(out, SettingsField::LongNoteMinimum, "the long-note minimum length must be a whole number, not",
                      texts.longNoteMinimum);
    }
    settings.longNoteThreshold = *minimum - 1;

    settings.customTempo = previous.customTempo;
    if (texts.useCustomTempo) {
        const auto micros = tempoMicrosFromBpm(texts.tempo);
        if (!micros) {
            return refuse(out, SettingsField::Tempo,
                          "the tempo must be a number of beats per minute giving 1 to 16777215 microseconds per "
                          "quarter note, not",
                          texts.tempo);
        }
        settings.customTempo = *micros;
    }

    const auto gap = roundDecimalToInt32(texts.gap);
    // A gap is a delta time of the keysound MIDI file, which holds at most 2^28 - 1 ticks.
    if (!gap || *gap < 0 || *gap > kLongestGapTicks) {
        return refuse(out, SettingsField::Gap, "the gap must be a whole number of ticks, 0 to 268435455, not",
                      texts.gap);
    }
    settings.keysoundGap = *gap;
    return true;
}

// Whole numbers only: a step of 2.5 velocities or units has no meaning.
std::optional<std::int64_t> wholeNumber(std::string_view text, std::int64_t largest)
{
    std::int64_t value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc{} || end != text.data() + text.size() || value < 0 || value > largest) {
        return std::nullopt;
    }
    return value;
}

bool checkMergeSteps(const SettingsTexts& texts, Checked& out)
{
    ConversionSettings& settings = out.settings;
    const auto velocityStep = wholeNumber(texts.velocityStep, kLargestVelocityStep);
    if (!velocityStep) {
        return refuse(out, SettingsField::VelocityStep, "the velocity step must be a whole number, 0 to 127, not",
                      texts.velocityStep);
    }
    settings.merge.velocityStep = static_cast<int>(*velocityStep);
    const auto lengthStep = wholeNumber(texts.lengthStep, kLargestLengthStep);
    if (!lengthStep) {
        return refuse(out, SettingsField::LengthStep, "the length step must be a whole number, 0 to 1000000, not",
                      texts.lengthStep);
    }
    settings.merge.lengthStep = *lengthStep;
    return true;
}

// The fields in the order the settings form shows them; the first refused one stops the check.
Checked check(const SettingsTexts& texts, const ConversionSettings& previous)
{
    Checked out;
    if (!checkStartAndName(texts, out) || !checkLengthsAndTempo(texts, previous, out) || !checkMergeSteps(texts, out)) {
        return out;
    }
    ConversionSettings& settings = out.settings;
    settings.longNotes = texts.longNotes;
    settings.percussion = texts.percussion;
    settings.bmson = texts.bmson;
    settings.useCustomTempo = texts.useCustomTempo;
    return out;
}

}  // namespace

ConversionMode ConversionSettings::mode() const
{
    if (percussion) {
        return ConversionMode::Percussion;
    }
    return longNotes ? ConversionMode::LongNotes : ConversionMode::Plain;
}

Result<ConversionSettings> parseSettings(const SettingsTexts& texts, const ConversionSettings& previous)
{
    auto checked = check(texts, previous);
    if (checked.error) {
        return *checked.error;
    }
    return std::move(checked.settings);
}

std::optional<SettingsField> firstInvalidField(const SettingsTexts& texts)
{
    return check(texts, ConversionSettings{}).badField;
}

}  // namespace zentrowe::convert

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/result.h"
#include "core/convert/keysound_table.h"

namespace zentrowe::convert {

// Which generator turns the track into a chart.
enum class ConversionMode {
    Plain,       // every note a normal note, placed when it ends
    LongNotes,   // notes held long enough become start and end markers on the long-note channels
    Percussion,  // strikes only: lengths are ignored, keysounds told apart by note and velocity
};

// The eight entries of the settings dialog as the user left them (the command line fills the
// same fields from its options). Defaults are the dialog's.
struct SettingsTexts {
    std::string startCode = "00";        // K列表开始位置
    std::string keysoundName = "A";      // K音名
    bool longNotes = false;              // 生成面条
    std::string longNoteMinimum = "24";  // 面条最小长度, in 1/192 of a measure
    bool percussion = false;             // 打击乐器
    bool useCustomTempo = false;         // 自定义
    std::string tempo = "0";             // BPM
    std::string gap = "100";             // K音间空隙, in ticks of the keysound MIDI file
    bool base62 = false;                 // 62进制编号: codes "01" to "zz" and a "#BASE 62" line
    std::string velocityStep = "1";      // 力度合并: velocities to the nearest multiple; 0 or 1 keeps them
    std::string lengthStep = "0";        // 长度合并, in 1/192 of a measure; 0 keeps lengths exact
    bool bmson = false;                  // the chart in bmson rather than BMS
};

// Everything a conversion needs from the dialog, checked and converted.
struct ConversionSettings {
    std::string startCode = "00";    // two characters 0-9, A-Z, a-z
    int startValue = 0;              // its value in the chart's base: keysound k gets startValue + k
    bool base62 = false;             // codes in base 62 (case matters) instead of base 36
    std::string keysoundName = "A";  // printable ASCII, no path or wildcard characters
    bool longNotes = false;
    bool percussion = false;
    bool useCustomTempo = false;
    // The long-note minimum length minus one, in 1/192 of a measure: a note held longer than
    // this is a long note.
    std::int32_t longNoteThreshold = 23;
    // Microseconds per quarter note for the keysound MIDI file when useCustomTempo is set;
    // 1 to 16,777,215 so that it fits the three bytes of a Set Tempo event.
    std::int32_t customTempo = 0;
    std::int32_t keysoundGap = 100;  // ticks of the keysound MIDI file (96 per quarter note), 0 to 2^28 - 1
    KeysoundMerge merge;             // both steps 0 unless the user asked for merging
    // The chart in bmson, with exact times and no code or measure limit, rather than BMS.
    bool bmson = false;

    // Percussion wins over long notes when both are set.
    ConversionMode mode() const;
};

// The values the dialog checks, for naming the one at fault.
enum class SettingsField { StartCode, KeysoundName, LongNoteMinimum, Tempo, Gap, VelocityStep, LengthStep };

// Checks and converts the dialog's entries. A refusal is InvalidSetting with a message that
// says which value is wrong and why (in English; each face words it for its own users):
// - start code: exactly two characters, each 0-9, A-Z or a-z (read in base 62 when base62 is set);
// - keysound name: printable ASCII (0x20 to 0x7E) without / \ : * ? " < > |, not "." or ".."
//   (empty is allowed);
// - long-note minimum and gap: [+-]digits[.digits] (".5" and "5." too), rounded half to even on
//   the exact decimal value, fitting a signed 32-bit integer; the gap 0 to 268435455 (a MIDI
//   delta time);
// - velocity step: a whole number 0 to 127; length step: a whole number 0 to 1,000,000;
// - tempo (only when useCustomTempo): a number x with round(60000000 / x) in 1 to 16,777,215.
// When the custom tempo is not ticked, customTempo keeps the value of `previous`, as the dialog
// keeps the last one entered.
Result<ConversionSettings> parseSettings(const SettingsTexts& texts, const ConversionSettings& previous = {});

// The first value parseSettings would refuse, in the order of the fields above; nothing if all
// are accepted.
std::optional<SettingsField> firstInvalidField(const SettingsTexts& texts);

}  // namespace zentrowe::convert

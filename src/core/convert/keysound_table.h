#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zentrowe::convert {

inline constexpr int kLargestCode = 1295;  // "ZZ": the last two-character base-36 code

// Keysound lengths are held at 2^50 ticks: far past anything "K-Midi.mid" can play (2^28 of its
// ticks at most) or a chart can place, and small enough that 192 times it fits in 64 bits.
inline constexpr std::int64_t kLongestDurationTicks = std::int64_t{1} << 50;

// The two-character code of a value 0 to 1295: "00", "01", ... "0Z", "10", ... "ZZ".
std::string encodeBase36(int value);

// The value of a two-character code, upper or lower case ("1z" is 71). Nothing if the text is
// not exactly two characters of 0-9, A-Z, a-z.
std::optional<int> decodeBase36(std::string_view code);

// One distinct keysound of a conversion.
struct KeysoundEntry {
    std::uint8_t note = 0;       // 1 to 126
    std::int64_t duration = 0;   // sounding length in ticks of the source song (100 in percussion)
    std::string code;            // its two-character code in the chart; empty past "ZZ" in a table without limit
    std::int64_t startTime = 0;  // absolute tick of the first note that made it
    std::uint8_t velocity = 0;   // Note On velocity

    friend bool operator==(const KeysoundEntry&, const KeysoundEntry&) = default;
};

// The distinct keysounds of one conversion in the order their first note was handled. Entry i
// (0-based) has the code startValue + i + 1. Lookup is by hash, so a track of a million notes
// costs a million constant-time lookups.
class KeysoundTable {
public:
    explicit KeysoundTable(int startValue = 0) : m_startValue(startValue) {}

    // The index of the keysound (note, duration, velocity), appending it with `startTime` if it
    // is new. Nothing if a new entry would need a code past "ZZ"; the table is then unchanged.
    std::optional<std::size_t> findOrAdd(std::uint8_t note, std::int64_t duration, std::uint8_t velocity,
                                         std::int64_t startTime);

    // Keysounds past "ZZ" are numbered on, without a code: for charts that name keysounds otherwise.
    void liftCodeLimit() { m_codeLimited = false; }

    int startValue() const { return m_startValue; }
    int codeValue(std::size_t index) const { return m_startValue + static_cast<int>(index) + 1; }
    const std::vector<KeysoundEntry>& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const KeysoundEntry& operator[](std::size_t index) const { return m_entries[index]; }

private:
    struct Identity {
        std::int64_t duration;
        std::uint16_t noteAndVelocity;
        friend bool operator==(const Identity&, const Identity&) = default;
    };
    struct IdentityHash {
        std::size_t operator()(const Identity& identity) const
        {
            return std::hash<std::int64_t>{}(identity.duration) * 31 + identity.noteAndVelocity;
        }
    };

    int m_startValue;
    bool m_codeLimited = true;
    std::vector<KeysoundEntry> m_entries;
    std::unordered_map<Identity, std::uint32_t, IdentityHash> m_index;
};

// A keysound's length in 1/192 of a measure: duration / ticksPerMeasure * 192, rounded to the
// nearest integer with ties to even, the duration held at kLongestDurationTicks first.
// ticksPerMeasure must be above 0.
std::int64_t keysoundLengthSlots(std::int64_t durationTicks, std::int32_t ticksPerMeasure);

// The file stem shared by the chart's "#WAV" definition and the cut WAV file:
// name + note + "-" + length in 1/192 of a measure + "-" + velocity, e.g. "A60-48-100".
std::string keysoundStem(std::string_view keysoundName, const KeysoundEntry& entry, std::int32_t ticksPerMeasure);

}  // namespace zentrowe::convert

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

inline constexpr int kLargestCode = 1295;    // "ZZ": the last two-character base-36 code
inline constexpr int kLargestCode62 = 3843;  // "zz": the last two-character base-62 code

// The last code of a chart in base 62 (digits 0-9, A-Z, a-z) or base 36.
constexpr int largestCode(bool base62)
{
    return base62 ? kLargestCode62 : kLargestCode;
}

// Keysound lengths are held at 2^50 ticks: far past anything "K-Midi.mid" can play (2^28 of its
// ticks at most) or a chart can place, and small enough that 192 times it fits in 64 bits.
inline constexpr std::int64_t kLongestDurationTicks = std::int64_t{1} << 50;

// The two-character code of a value 0 to 1295: "00", "01", ... "0Z", "10", ... "ZZ".
std::string encodeBase36(int value);

// The value of a two-character code, upper or lower case ("1z" is 71). Nothing if the text is
// not exactly two characters of 0-9, A-Z, a-z.
std::optional<int> decodeBase36(std::string_view code);

// The two-character code of a value 0 to largestCode(base62); base 62 writes 36 as "0a".
std::string encodeCode(int value, bool base62);

// The value of a code in base 62 (case matters: "0a" is 36, "0A" is 10) or in base 36.
std::optional<int> decodeCode(std::string_view code, bool base62);

// How keysounds that differ a little become one: velocities rounded to the nearest multiple of
// velocityStep (ties up, at most 127) and lengths to the nearest lengthStep units of 1/192
// measure (ties up). What would round to nothing, a velocity or a sounding length under half a
// step, takes a quarter step (at least 1): merging never silences a note nor holds a staccato
// for a whole step. 0 leaves either as it is.
inline constexpr std::int64_t kLargestLengthStep = 1'000'000;
inline constexpr int kLargestVelocityStep = 127;

struct KeysoundMerge {
    int velocityStep = 0;
    std::int64_t lengthStep = 0;

    bool active() const { return velocityStep > 1 || lengthStep > 0; }
};

std::uint8_t mergedVelocity(std::uint8_t velocity, int step);

// The length in ticks whose 1/192-measure count is the rounded one, so a keysound's name says
// exactly what it is: with a step of 1 two keysounds never share a file name. durationTicks is
// at most kLongestDurationTicks.
std::int64_t mergedDuration(std::int64_t durationTicks, std::int64_t step, std::int32_t ticksPerMeasure);

// A keysound as the table tells them apart: note, length and velocity, and in a build the
// variant of channel state it is rendered with (0 everywhere else).
struct KeysoundIdentity {
    std::int64_t duration;
    std::uint16_t noteAndVelocity;
    std::uint32_t variant = 0;

    KeysoundIdentity(std::uint8_t note, std::int64_t durationTicks, std::uint8_t velocity, std::uint32_t variantId = 0)
        : duration(durationTicks),
          noteAndVelocity(static_cast<std::uint16_t>((note << 8) | velocity)),
          variant(variantId)
    {
    }
    std::uint8_t note() const { return static_cast<std::uint8_t>(noteAndVelocity >> 8); }
    std::uint8_t velocity() const { return static_cast<std::uint8_t>(noteAndVelocity & 0xFF); }
    friend bool operator==(const KeysoundIdentity&, const KeysoundIdentity&) = default;
};

struct KeysoundIdentityHash {
    std::size_t operator()(const KeysoundIdentity& identity) const
    {
        return (std::hash<std::int64_t>{}(identity.duration) * 31 + identity.noteAndVelocity) * 31 + identity.variant;
    }
};

// One distinct keysound of a conversion.
struct KeysoundEntry {
    std::uint8_t note = 0;       // 1 to 126
    std::int64_t duration = 0;   // sounding length in ticks of the source song (100 in percussion)
    std::string code;            // its two-character code in the chart; empty past "ZZ" in a table without limit
    std::int64_t startTime = 0;  // absolute tick of the first note that made it
    std::uint8_t velocity = 0;   // Note On velocity

    friend bool operator==(const KeysoundEntry&, const KeysoundEntry&) = default;
};

// Where a keysound's first note came from: the index of its part in the conversion's list of
// parts (song::TrackPart) and the MIDI channel (index 0 to 15) it played on.
struct KeysoundSource {
    std::uint16_t part = 0;
    std::uint8_t channel = 0;

    friend bool operator==(const KeysoundSource&, const KeysoundSource&) = default;
};

// The distinct keysounds of one conversion in the order their first note was handled. Entry i
// (0-based) has the code startValue + i + 1. Lookup is by hash, so a track of a million notes
// costs a million constant-time lookups.
class KeysoundTable {
public:
    explicit KeysoundTable(int startValue = 0, bool base62 = false) : m_startValue(startValue), m_base62(base62) { }

    // The index of the keysound (note, duration, velocity, variant), appending it with
    // `startTime` if it is new. Nothing if a new entry would need a code past "ZZ" ("zz" in base
    // 62); the table is then unchanged.
    std::optional<std::size_t> findOrAdd(std::uint8_t note, std::int64_t duration, std::uint8_t velocity,
                                         std::int64_t startTime, std::uint32_t variant = 0);
    // Entry `index`'s variant (KeysoundVariants: the channel state a build renders it with; 0
    // outside a build) and what it adds to the entry's file stem (empty outside a build).
    std::uint32_t variant(std::size_t index) const { return m_variants[index]; }
    const std::string& suffix(std::size_t index) const;
    void setSuffix(std::size_t index, std::string suffix);
    // Entry `index`'s source (part 0, channel 0 where none was set).
    KeysoundSource source(std::size_t index) const;
    void setSource(std::size_t index, KeysoundSource source);

    // The index of a keysound already in the table.
    std::optional<std::size_t> find(std::uint8_t note, std::int64_t duration, std::uint8_t velocity,
                                    std::uint32_t variant = 0) const;
    // Keysounds past "ZZ" are numbered on, without a code: for charts that name keysounds otherwise.
    void liftCodeLimit() { m_codeLimited = false; }

    int startValue() const { return m_startValue; }
    bool base62() const { return m_base62; }
    // Keysounds that merging made one with another (set by the conversion).
    std::size_t mergedAway() const { return m_mergedAway; }
    void setMergedAway(std::size_t count) { m_mergedAway = count; }
    int codeValue(std::size_t index) const { return m_startValue + static_cast<int>(index) + 1; }
    const std::vector<KeysoundEntry>& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const KeysoundEntry& operator[](std::size_t index) const { return m_entries[index]; }

private:
    int m_startValue;
    bool m_base62;
    std::size_t m_mergedAway = 0;
    bool m_codeLimited = true;
    std::vector<KeysoundEntry> m_entries;
    std::vector<std::uint32_t> m_variants;  // per entry
    std::vector<std::string> m_suffixes;    // per entry up to the last one given a suffix
    std::vector<KeysoundSource> m_sources;  // per entry up to the last one given a source
    std::unordered_map<KeysoundIdentity, std::uint32_t, KeysoundIdentityHash> m_index;
};

// A keysound's length in 1/192 of a measure: duration / ticksPerMeasure * 192, rounded to the
// nearest integer with ties to even, the duration held at kLongestDurationTicks first.
// ticksPerMeasure must be above 0.
std::int64_t keysoundLengthSlots(std::int64_t durationTicks, std::int32_t ticksPerMeasure);

// The file stem shared by the chart's "#WAV" definition and the cut WAV file:
// name + note + "-" + length in 1/192 of a measure + "-" + velocity, e.g. "A60-48-100", then the
// entry's variant suffix (a build's, e.g. "A60-48-100-p32").
std::string keysoundStem(std::string_view keysoundName, const KeysoundEntry& entry, std::int32_t ticksPerMeasure,
                         std::string_view suffix = {});

}  // namespace zentrowe::convert

#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/base/result.h"
#include "core/convert/chart_lines.h"
#include "core/convert/keysound_table.h"
#include "core/convert/keysound_variants.h"
#include "core/convert/placed_note_sink.h"
#include "core/convert/settings.h"

namespace zentrowe::convert {

inline constexpr int kLanes = 7;
inline constexpr int kMaxBuffers = 2 * kLanes;
inline constexpr std::int64_t kMeasureLimit = 1000;  // BMS measure numbers have three digits
// A chart with exact times has no measure numbers, but a bar line for every measure: a song
// leaping a few billion ticks ahead would need gigabytes of them.
inline constexpr std::int64_t kExactMeasureLimit = 1'000'000;

// Lane k (0-based: note mod 7) writes to channel kLaneChannels[k]; its long notes to
// kLaneChannels[7 + k]. Lines of a measure are written in this order.
inline constexpr std::array<std::uint8_t, kMaxBuffers> kLaneChannels = {16, 11, 12, 13, 14, 15, 18,
                                                                        56, 51, 52, 53, 54, 55, 58};

// The lane a note goes to: its own lane (note mod 7) if `isFree(lane)`, else the highest-numbered
// free lane; nothing if every lane is taken.
template <typename IsFree>
std::optional<int> pickLane(std::uint8_t note, IsFree isFree)
{
    const int own = note % kLanes;
    if (isFree(own)) {
        return own;
    }
    std::optional<int> chosen;
    for (int lane = 0; lane < kLanes; ++lane) {
        if (isFree(lane)) {
            chosen = lane;
        }
    }
    return chosen;
}

// The state every mode shares: the keysound table, the lane and background lines of the measure
// being collected, the channel lines laid out so far (in the chart model, if one is given), the latest tick the chart
// places anything at, and the first refusal met.
class ChartBuilder {
public:
    // `lengthsMatter` is false for modes that give every keysound the same length, which
    // merging by length then leaves alone.
    ChartBuilder(int bufferCount, std::int32_t ticksPerMeasure, const ConversionSettings& settings, bool lengthsMatter,
                 chart::Chart* lines);

    // Tells `sink` of every note placed from now on. A chart whose notes are read from the sink
    // keeps its times exactly, so neither the code limit nor the measure limit applies; the lines
    // then written are only the bookkeeping that keeps lanes as the BMS chart has them.
    void reportPlacedNotes(PlacedNoteSink& sink);
    bool reportsPlacedNotes() const { return m_placed != nullptr; }
    // Reports the note of the keysound codeFor last gave out, if a sink listens.
    void notePlaced(std::int64_t startTick, std::optional<int> lane, std::int64_t heldTicks);

    bool failed() const { return m_error.has_value(); }
    void fail(Error error);
    // The first refusal. Running out of codes comes first: the
    // walk goes on after it to count the track's keysounds for the refusal.
    std::optional<Error> takeError();

    std::int32_t ticksPerMeasure() const { return m_ticksPerMeasure; }
    std::int64_t measureOf(std::int64_t time) const { return time / m_ticksPerMeasure; }
    int slotOf(std::int64_t time) const
    {
        return static_cast<int>((time % m_ticksPerMeasure) * kSlots / m_ticksPerMeasure);
    }

    // Whose notes the keysounds are, as a refusal words it: "the track has" unless said otherwise.
    void setWhoseNotes(std::string subjectAndVerb) { m_whoseNotes = std::move(subjectAndVerb); }

    // Tells keysounds apart by their variants too (a build's); none: by note, length and velocity.
    void setVariants(const KeysoundVariants* variants) { m_variants = variants; }

    // Where the next note start (in the order codeFor's startOrder counts them) comes from: a
    // keysound new to the table takes the source of the note that made it.
    void noteStarted(KeysoundSource source) { m_startSources.push_back(source); }

    // The code of the keysound of a note from `startTime` to `endTime` (merged as the settings
    // ask), the track's note start number `startOrder`, added to the table if new. When the codes
    // are used up, a stand-in code: the chart is then refused, but the rest of the track still
    // counts towards the keysounds it would need. Lengths past kLongestDurationTicks are held there.
    std::uint16_t codeFor(std::uint8_t note, std::int64_t startTime, std::int64_t endTime, std::uint8_t velocity,
                          std::uint64_t startOrder);

    // Makes the measure of a note starting at `time` the one being collected, flushing the
    // current one if it differs. False (with the refusal recorded) for a measure a chart cannot
    // hold.
    bool enterNote(std::int64_t time);

    // A slot is taken if the measure being collected holds a code there, or if a line already in
    // the chart put one there for this measure and channel: players keep only the last object at
    // a lane position, so a measure collected a second time must not reuse it.
    bool taken(int buffer, int slot) const;
    void put(int buffer, int slot, std::uint16_t code);

    // A note for which no lane is free plays from the background channel, so its keysound is
    // still heard: on the first background line of the measure whose slot is free, a new line
    // only when every earlier one holds that slot.
    void putBackground(int slot, std::uint16_t code);

    // A long note's end marker at `time`, in the measure being collected or, if later, written at
    // once on a line of its own. False (with the refusal recorded) past measure 999.
    bool putEndMarker(std::int64_t time, int buffer, std::int64_t measure, int slot, std::uint16_t code);

    // Writes the lines of the measure being collected and empties the buffers: lanes without a
    // code write nothing, except in the final flush, which writes every line of the mode; the last
    // line of the mode's channel order is followed by an empty line. The measure's background
    // lines follow its lane lines.
    void flush(bool final);

    // The latest tick of a note start or long-note end placed so far (0 without notes).
    std::int64_t lastPlacedTick() const { return m_lastPlacedTick; }

    // The table, its count of keysounds merged away set.
    KeysoundTable& keysounds();
    ChartLines& lines() { return m_lines; }

private:
    using IdentitySet = std::unordered_set<KeysoundIdentity, KeysoundIdentityHash>;

    Error codesExhausted() const;
    std::bitset<kSlots>& writtenBefore(std::int64_t measure, int buffer);
    const std::bitset<kSlots>& writtenBefore(std::int64_t measure, int buffer) const;

    KeysoundTable m_keysounds;
    KeysoundMerge m_merge;
    // The keysounds as the notes make them, before merging: kept while merging (to count what it
    // saved) and once the codes ran out (to say which merging would have fitted).
    IdentitySet m_unmerged;
    IdentitySet m_unnumbered;  // merged keysounds past the last code
    bool m_exhausted = false;
    int m_bufferCount;
    std::int32_t m_ticksPerMeasure;
    std::array<SlotCodes, kMaxBuffers> m_buffers{};
    std::array<bool, kMaxBuffers> m_used{};
    // Background codes of the measure being collected, per slot in line order: two bytes a note,
    // where whole lines would take 384 bytes for a note struck alone at a crowded slot.
    std::array<std::vector<std::uint16_t>, kSlots> m_background;
    std::size_t m_backgroundLines = 0;
    std::int64_t m_measure = 0;
    std::int64_t m_lastPlacedTick = 0;
    std::vector<std::bitset<kSlots>> m_written;  // per measure and buffer: slots already written
    std::vector<KeysoundSource> m_startSources;  // per note start, in start order
    std::string m_whoseNotes = "the track has";
    std::unordered_map<std::int64_t, std::bitset<kSlots>> m_writtenLater;  // measures past the limit
    PlacedNoteSink* m_placed = nullptr;
    const KeysoundVariants* m_variants = nullptr;
    std::size_t m_lastKeysound = 0;
    ChartLines m_lines;
    std::optional<Error> m_error;
};

}  // namespace zentrowe::convert

#include "core/convert/chart_generator.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/base/exact_ratio.h"
#include "core/song/track_walk.h"

namespace zentrowe::convert {

namespace {

constexpr int kSlots = 192;             // a measure line has 192 two-character slots
// Longer than any note a chart can place (1000 measures of the largest division, 4 x 32767
// ticks, and more 1/192 slots than a 32-bit threshold) by a wide margin, and small enough that
// 192 times it plus any start fits in 64 bits.
constexpr std::int64_t kFarEndTicks = std::int64_t{1} << 50;
constexpr std::int64_t kMeasureLimit = 1000;  // BMS measure numbers have three digits
constexpr int kLanes = 7;
constexpr int kMaxBuffers = 2 * kLanes;
constexpr std::int64_t kPercussionDurationTicks = 100;

// Lane k (0-based: note mod 7) writes to channel kLaneChannels[k]; its long notes to
// kLaneChannels[7 + k]. Lines of a measure are written in this order.
constexpr std::array<std::string_view, kMaxBuffers> kLaneChannels = {
    "16", "11", "12", "13", "14", "15", "18", "56", "51", "52", "53", "54", "55", "58"};
constexpr std::string_view kBackgroundChannel = "01";
constexpr std::string_view kTempoChannel = "08";
constexpr std::string_view kLineEnd = "\r\n";

using SlotCodes = std::array<std::uint16_t, kSlots>;  // 0 is an empty slot ("00")

constexpr std::size_t kSlotChars = 2 * kSlots;

// The two characters of every code value, "00" to "ZZ".
const std::array<std::array<char, 2>, kLargestCode + 1>& codeCharacters()
{
    static const auto table = [] {
        std::array<std::array<char, 2>, kLargestCode + 1> codes{};
        for (int value = 0; value <= kLargestCode; ++value) {
            const std::string code = encodeBase36(value);
            codes[static_cast<std::size_t>(value)] = {code[0], code[1]};
        }
        return codes;
    }();
    return table;
}

// Channel lines in blocks: a block never grows past the room it reserved, so no line is copied
// again as the chart grows, and memory holds the chart once. Blocks start small (most charts are
// a few kilobytes) and double up to a few megabytes.
class ChartText {
public:
    // `length` more characters of `fill` at the end, kept in one block; returns the first.
    char* grow(std::size_t length, char fill)
    {
        if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < length) {
            const std::size_t blockBytes =
                m_blocks.empty() ? kFirstBlockBytes : std::min(2 * m_blocks.back().capacity(), kLargestBlockBytes);
            m_blocks.emplace_back().reserve(std::max(blockBytes, length));
        }
        std::string& block = m_blocks.back();
        const std::size_t at = block.size();
        block.resize(at + length, fill);
        return block.data() + at;
    }

    std::vector<std::string> takeBlocks() { return std::move(m_blocks); }

private:
    static constexpr std::size_t kFirstBlockBytes = std::size_t{64} << 10;
    static constexpr std::size_t kLargestBlockBytes = std::size_t{4} << 20;

    std::vector<std::string> m_blocks;
};

// Grows `text` by one channel line, "#" + measure (at least three digits) + channel + ":" + 384
// characters of "0" + CR LF (twice with an empty line after), and returns where its slots start.
// One step per line: charts in long-note mode hold hundreds of thousands of lines.
char* appendBlankChannelLine(ChartText& text, std::int64_t measure, std::string_view channel, bool blankLineAfter)
{
    std::array<char, 24> digits{};
    const auto converted = std::to_chars(digits.data(), digits.data() + digits.size(), measure);
    const auto digitCount = static_cast<std::size_t>(converted.ptr - digits.data());
    const std::size_t padding = digitCount < 3 ? 3 - digitCount : 0;
    const std::size_t lineEnds = blankLineAfter ? 2 : 1;
    const std::size_t length = 1 + padding + digitCount + channel.size() + 1 + kSlotChars + lineEnds * kLineEnd.size();

    char* out = text.grow(length, '0');
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

void appendChannelLine(ChartText& text, std::int64_t measure, std::string_view channel, const SlotCodes& slots,
                       bool blankLineAfter)
{
    const auto& codes = codeCharacters();
    char* out = appendBlankChannelLine(text, measure, channel, blankLineAfter);
    for (const std::uint16_t value : slots) {
        *out++ = codes[value][0];
        *out++ = codes[value][1];
    }
}

// A line holding a single code, followed by an empty line.
void appendSingleCodeLine(ChartText& text, std::int64_t measure, std::string_view channel, int slot,
                          std::uint16_t code)
{
    const auto& characters = codeCharacters()[code];
    char* out = appendBlankChannelLine(text, measure, channel, true) + 2 * slot;
    out[0] = characters[0];
    out[1] = characters[1];
}

Error measureOutOfRange(std::string_view what, std::int64_t measure)
{
    return Error{ErrorCode::MeasureOutOfRange, std::string(what) + " falls in measure " + std::to_string(measure) +
                                                   ", but a chart holds measures 000 to 999 only"}
        .withNumber(measure);
}

Error codesExhausted(int startValue)
{
    return Error{ErrorCode::CodesExhausted,
                 "the track has more keysounds than the codes after start code " + encodeBase36(startValue) +
                     " up to ZZ can number"}
        .about("keysounds")
        .withValue(encodeBase36(startValue));
}

// The state every mode shares: the keysound table, the lane buffers of the measure being
// collected, the channel lines written so far, and the first refusal met.
class ChartBuilder {
public:
    ChartBuilder(int bufferCount, std::int32_t ticksPerMeasure, int startValue)
        : m_keysounds(startValue),
          m_bufferCount(bufferCount),
          m_ticksPerMeasure(ticksPerMeasure),
          m_written(static_cast<std::size_t>(kMeasureLimit * bufferCount))
    {
    }

    bool failed() const { return m_error.has_value(); }
    void fail(Error error)
    {
        if (!m_error) {
            m_error = std::move(error);
        }
    }
    std::optional<Error> takeError() { return std::move(m_error); }

    std::int32_t ticksPerMeasure() const { return m_ticksPerMeasure; }
    std::int64_t measureOf(std::int64_t time) const { return time / m_ticksPerMeasure; }
    int slotOf(std::int64_t time) const
    {
        return static_cast<int>((time % m_ticksPerMeasure) * kSlots / m_ticksPerMeasure);
    }

    // The code of a keysound, added to the table if new; 0 (after recording the refusal) when the
    // codes are used up.
    std::uint16_t codeFor(std::uint8_t note, std::int64_t duration, std::uint8_t velocity, std::int64_t startTime)
    {
        const auto index = m_keysounds.findOrAdd(note, duration, velocity, startTime);
        if (!index) {
            fail(codesExhausted(m_keysounds.startValue()));
            return 0;
        }
        return static_cast<std::uint16_t>(m_keysounds.codeValue(*index));
    }

    // Makes `measure` the one being collected, flushing the current one if it differs. False
    // (with the refusal recorded) for a measure a chart cannot hold.
    bool enterMeasure(std::int64_t measure)
    {
        if (measure >= kMeasureLimit) {
            fail(measureOutOfRange("a note", measure));
            return false;
        }
        if (measure != m_measure) {
            flush(false);
            m_measure = measure;
        }
        return true;
    }

    // A slot is taken if the measure being collected holds a code there, or if a line already in
    // the chart put one there for this measure and channel: players keep only the last object at
    // a lane position, so a measure collected a second time must not reuse it.
    bool taken(int buffer, int slot) const
    {
        return m_buffers[static_cast<std::size_t>(buffer)][static_cast<std::size_t>(slot)] != 0 ||
               writtenBefore(m_measure, buffer).test(static_cast<std::size_t>(slot));
    }

    void put(int buffer, int slot, std::uint16_t code)
    {
        m_buffers[static_cast<std::size_t>(buffer)][static_cast<std::size_t>(slot)] = code;
        m_used[static_cast<std::size_t>(buffer)] = true;
    }

    // A note for which no lane is free: it plays from the background channel, on a line of its
    // own, so its keysound is still heard.
    void appendBackgroundNote(int slot, std::uint16_t code)
    {
        appendSingleCodeLine(m_text, m_measure, kBackgroundChannel, slot, code);
    }

    // A long note's end marker in a later measure than its start, written at once on a line of
    // its own.
    bool appendLateEndMarker(std::int64_t measure, int buffer, int slot, std::uint16_t code)
    {
        if (measure >= kMeasureLimit) {
            fail(measureOutOfRange("a long note's end", measure));
            return false;
        }
        appendSingleCodeLine(m_text, measure, kLaneChannels[static_cast<std::size_t>(buffer)], slot, code);
        writtenBefore(measure, buffer).set(static_cast<std::size_t>(slot));
        return true;
    }

    // Writes the lines of the measure being collected and empties the buffers. Lanes without a
    // code write nothing, except in the final flush, which writes every line of the mode. The
    // last line of the mode's channel order is followed by an empty line.
    void flush(bool final)
    {
        for (int buffer = 0; buffer < m_bufferCount; ++buffer) {
            const auto index = static_cast<std::size_t>(buffer);
            if (!m_used[index] && !final) {
                continue;
            }
            appendChannelLine(m_text, m_measure, kLaneChannels[index], m_buffers[index], buffer == m_bufferCount - 1);
            if (m_used[index]) {
                auto& written = writtenBefore(m_measure, buffer);
                for (int slot = 0; slot < kSlots; ++slot) {
                    if (m_buffers[index][static_cast<std::size_t>(slot)] != 0) {
                        written.set(static_cast<std::size_t>(slot));
                    }
                }
                m_buffers[index].fill(0);
                m_used[index] = false;
            }
        }
    }

    KeysoundTable& keysounds() { return m_keysounds; }
    ChartText& text() { return m_text; }

private:
    std::bitset<kSlots>& writtenBefore(std::int64_t measure, int buffer)
    {
        return m_written[static_cast<std::size_t>(measure * m_bufferCount + buffer)];
    }
    const std::bitset<kSlots>& writtenBefore(std::int64_t measure, int buffer) const
    {
        return m_written[static_cast<std::size_t>(measure * m_bufferCount + buffer)];
    }

    KeysoundTable m_keysounds;
    int m_bufferCount;
    std::int32_t m_ticksPerMeasure;
    std::array<SlotCodes, kMaxBuffers> m_buffers{};
    std::array<bool, kMaxBuffers> m_used{};
    std::int64_t m_measure = 0;
    std::vector<std::bitset<kSlots>> m_written;  // per measure and buffer: slots already in m_text
    ChartText m_text;
    std::optional<Error> m_error;
};

// Note starts waiting for their ends, per MIDI channel and note number, oldest first: a note end
// closes the oldest start of its channel and note, so doubled note-offs, a key struck again
// while it sounds and the same note on two channels each pair up as they sound.
class PendingNoteTable {
public:
    struct PendingNote {
        std::int64_t startTime = 0;
        std::uint8_t velocity = 0;
    };

    void push(std::uint8_t channel, std::uint8_t note, PendingNote start) { m_queues[key(channel, note)].push(start); }

    std::optional<PendingNote> pop(std::uint8_t channel, std::uint8_t note) { return m_queues[key(channel, note)].pop(); }

private:
    class Queue {
    public:
        void push(PendingNote note) { m_notes.push_back(note); }
        std::optional<PendingNote> pop()
        {
            if (m_head == m_notes.size()) {
                return std::nullopt;
            }
            const PendingNote oldest = m_notes[m_head++];
            if (m_head == m_notes.size()) {
                m_notes.clear();
                m_head = 0;
            }
            return oldest;
        }

    private:
        std::vector<PendingNote> m_notes;
        std::size_t m_head = 0;
    };

    static std::size_t key(std::uint8_t channel, std::uint8_t note) { return std::size_t{channel} * 128 + note; }

    std::array<Queue, 16 * 128> m_queues;
};

// Plain mode: every note is a normal note on the lane of its note number, placed at its start
// when it ends.
class PlainMode {
public:
    static constexpr int kBuffers = kLanes;

    explicit PlainMode(ChartBuilder& chart) : m_chart(chart) {}

    void noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity)
    {
        m_pending.push(channel, note, {time, velocity});
    }

    void noteEnd(std::int64_t time, std::uint8_t channel, std::uint8_t note)
    {
        const auto start = m_pending.pop(channel, note);
        if (!start) {
            return;
        }
        const std::uint16_t code = m_chart.codeFor(note, time - start->startTime, start->velocity, start->startTime);
        placeNormal(m_chart, start->startTime, note, code);
    }

    // Own lane if its slot is free, else the highest-numbered lane whose slot is free, else the
    // background channel.
    static void placeNormal(ChartBuilder& chart, std::int64_t startTime, std::uint8_t note, std::uint16_t code)
    {
        if (code == 0 || !chart.enterMeasure(chart.measureOf(startTime))) {
            return;
        }
        const int slot = chart.slotOf(startTime);
        int lane = note % kLanes;
        if (chart.taken(lane, slot)) {
            lane = -1;
            for (int other = 0; other < kLanes; ++other) {
                if (!chart.taken(other, slot)) {
                    lane = other;
                }
            }
        }
        if (lane < 0) {
            chart.appendBackgroundNote(slot, code);
            return;
        }
        chart.put(lane, slot, code);
    }

private:
    ChartBuilder& m_chart;
    PendingNoteTable m_pending;
};

// Percussion mode: a chart note at every strike; lengths and note-offs play no part, and a
// keysound is a note number with a velocity.
class PercussionMode {
public:
    static constexpr int kBuffers = kLanes;

    explicit PercussionMode(ChartBuilder& chart) : m_chart(chart) {}

    void noteStart(std::int64_t time, std::uint8_t, std::uint8_t note, std::uint8_t velocity)
    {
        const auto code = m_chart.codeFor(note, kPercussionDurationTicks, velocity, time);
        PlainMode::placeNormal(m_chart, time, note, code);
    }

    void noteEnd(std::int64_t, std::uint8_t, std::uint8_t) {}

private:
    ChartBuilder& m_chart;
};

// Long-note mode: a note held for at least the threshold becomes a start and an end marker on
// the long-note channel of its lane, and no two notes of a lane overlap in time.
class LongNoteMode {
public:
    static constexpr int kBuffers = 2 * kLanes;

    LongNoteMode(ChartBuilder& chart, std::int32_t threshold) : m_chart(chart), m_threshold(threshold)
    {
        m_laneBusyUntil.fill(-1);
    }

    void noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity)
    {
        m_pending.push(channel, note, {time, velocity});
    }

    void noteEnd(std::int64_t time, std::uint8_t channel, std::uint8_t note)
    {
        const auto start = m_pending.pop(channel, note);
        if (!start) {
            return;
        }
        const std::int64_t startTime = start->startTime;
        const std::uint16_t code = m_chart.codeFor(note, time - startTime, start->velocity, startTime);
        if (code == 0) {
            return;
        }
        const std::int64_t measure = m_chart.measureOf(startTime);
        if (!m_chart.enterMeasure(measure)) {
            return;
        }
        const std::int32_t tpm = m_chart.ticksPerMeasure();
        const int slot = m_chart.slotOf(startTime);
        // An end this far out (2^50 ticks: held for more slots than any threshold, and far past
        // measure 999 at any division) only makes the note long and its end unplaceable; holding
        // it there keeps the arithmetic below in range without changing what happens to the note.
        time = std::min(time, startTime + kFarEndTicks);
        // Positions in 1/192 of a measure from the start of the song: rounded, while the slot
        // is floored.
        const std::int64_t startPosition = roundRatioHalfEven(startTime * kSlots, tpm);
        const std::int64_t endPosition = roundRatioHalfEven(time * kSlots, tpm);
        const std::int64_t heldSlots = floorRatio((time - startTime) * kSlots, tpm);
        // A long note held 0 slots would put its start and end marker on one slot, which breaks
        // the pairing of markers in every player: it is a normal note whatever the threshold.
        const bool isLong = heldSlots > 0 && heldSlots >= m_threshold;

        int lane = note % kLanes;
        if (!isFree(lane, slot, startPosition)) {
            lane = -1;
            for (int other = 0; other < kLanes; ++other) {
                if (isFree(other, slot, startPosition)) {
                    lane = other;
                }
            }
        }
        if (lane < 0) {
            m_chart.appendBackgroundNote(slot, code);
            return;
        }
        m_laneBusyUntil[static_cast<std::size_t>(lane)] = endPosition;
        if (!isLong) {
            m_chart.put(lane, slot, code);
            return;
        }
        const int longBuffer = kLanes + lane;
        m_chart.put(longBuffer, slot, code);
        const std::int64_t endSlot = slot + heldSlots;
        if (endSlot < kSlots) {
            m_chart.put(longBuffer, static_cast<int>(endSlot), code);
            return;
        }
        const std::int64_t over = endSlot - kSlots;
        m_chart.appendLateEndMarker(measure + over / kSlots + 1, longBuffer, static_cast<int>(over % kSlots), code);
    }

private:
    bool isFree(int lane, int slot, std::int64_t startPosition) const
    {
        return !m_chart.taken(lane, slot) && !m_chart.taken(kLanes + lane, slot) &&
               m_laneBusyUntil[static_cast<std::size_t>(lane)] < startPosition;
    }

    ChartBuilder& m_chart;
    std::int32_t m_threshold;
    PendingNoteTable m_pending;
    std::array<std::int64_t, kLanes> m_laneBusyUntil{};
};

// The one walk of every mode: note starts and ends go to the mode, everything else is stepped
// over. Notes 0 and 127 are never charted; data bytes of 0x80 and above (a damaged file) make no
// note either, as they could not be written back into the keysound MIDI file.
template <typename Mode>
class NoteVisitor {
public:
    explicit NoteVisitor(Mode& mode, const ChartBuilder& chart) : m_mode(mode), m_chart(chart) {}

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        const std::uint8_t kind = event.kind();
        if ((kind != 0x80 && kind != 0x90) || m_chart.failed()) {
            return;
        }
        const std::uint8_t note = event.data1;
        const std::uint8_t velocity = event.data2;
        if (note == 0 || note >= 127 || velocity > 127) {
            return;
        }
        if (kind == 0x90 && velocity != 0) {
            m_mode.noteStart(time, event.channel(), note, velocity);
        } else {
            m_mode.noteEnd(time, event.channel(), note);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const song::MetaEvent&) {}
    void onEvent(std::int64_t, std::uint32_t, const song::SysExEvent&) {}

private:
    Mode& m_mode;
    const ChartBuilder& m_chart;
};

template <typename Mode>
song::WalkEnd walkNotes(std::span<const std::uint8_t> file, song::TrackLocation where, Mode& mode,
                        const ChartBuilder& chart, ProgressThrottle& throttle)
{
    NoteVisitor<Mode> visitor(mode, chart);
    return song::walkTrack(file, where, visitor, throttle);
}

// The tempo changes the chart defines. A song that does not set its tempo at tick 0 plays at the
// standard's 500000 microseconds per quarter note until it does; players assume other tempos, so
// the chart says so explicitly.
struct ChartTempos {
    std::vector<song::TempoChange> changes;
    std::vector<std::uint16_t> codeOfChange;        // code value of each change
    std::vector<std::uint32_t> microsOfCode;        // "#BPM" definitions, code 1 first
};

Result<ChartTempos> chartTempos(const song::SongSummary& song)
{
    ChartTempos tempos;
    if (song.tempoMap.empty() || song.tempoMap.front().time != 0) {
        tempos.changes.push_back({song::kDefaultTempoMicros, 0});
    }
    tempos.changes.insert(tempos.changes.end(), song.tempoMap.begin(), song.tempoMap.end());

    if (tempos.changes.size() <= static_cast<std::size_t>(kLargestCode)) {
        for (std::size_t k = 0; k < tempos.changes.size(); ++k) {
            tempos.codeOfChange.push_back(static_cast<std::uint16_t>(k + 1));
            tempos.microsOfCode.push_back(tempos.changes[k].tempoMicros);
        }
        return tempos;
    }
    // Tempo ramps can hold thousands of changes; equal tempos then share one code, numbered in
    // order of first use.
    std::unordered_map<std::uint32_t, std::uint16_t> codeOfMicros;
    for (const auto& change : tempos.changes) {
        auto [found, added] = codeOfMicros.try_emplace(change.tempoMicros, 0);
        if (added) {
            if (tempos.microsOfCode.size() >= static_cast<std::size_t>(kLargestCode)) {
                return Error{ErrorCode::CodesExhausted, "the song has more than " + std::to_string(kLargestCode) +
                                                            " different tempos, more than a chart can number"}
                    .about("tempos")
                    .withNumber(kLargestCode);
            }
            tempos.microsOfCode.push_back(change.tempoMicros);
            found->second = static_cast<std::uint16_t>(tempos.microsOfCode.size());
        }
        tempos.codeOfChange.push_back(found->second);
    }
    return tempos;
}

// Beats per minute with at least three integer digits and exactly two decimals ("120.00",
// "095.50"), rounded to the nearest hundredth, ties to even.
std::string formatBpm(std::uint32_t tempoMicros)
{
    const std::int64_t hundredths = roundRatioHalfEven(std::int64_t{6000000000}, tempoMicros);
    std::string whole = std::to_string(hundredths / 100);
    if (whole.size() < 3) {
        whole.insert(0, 3 - whole.size(), '0');
    }
    const auto fraction = static_cast<int>(hundredths % 100);
    return whole + '.' + static_cast<char>('0' + fraction / 10) + static_cast<char>('0' + fraction % 10);
}

// The chart file's header: line type, tempo and keysound definitions, each block followed by
// two empty lines.
std::string chartHeader(const ChartTempos& tempos, const KeysoundTable& keysounds, const std::string& keysoundName,
                        std::int32_t ticksPerMeasure)
{
    std::string header;
    header.reserve(64 * (keysounds.size() + tempos.microsOfCode.size()) + 64);
    header += "#LNTYPE 01\r\n\r\n\r\n";
    for (std::size_t k = 0; k < tempos.microsOfCode.size(); ++k) {
        header += "#BPM" + encodeBase36(static_cast<int>(k + 1)) + ' ' + formatBpm(tempos.microsOfCode[k]) + "\r\n";
    }
    header += "\r\n\r\n";
    for (const auto& entry : keysounds.entries()) {
        header += "#WAV" + entry.code + ' ' + keysoundStem(keysoundName, entry, ticksPerMeasure) + ".OGG\r\n";
    }
    header += "\r\n\r\n";
    return header;
}

template <typename Mode, typename... ModeArguments>
Result<ChartPieces> convertTrack(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                 song::TrackLocation where, const ConversionSettings& settings, ProgressSink& progress,
                                 ModeArguments... modeArguments)
{
    auto tempos = chartTempos(song);
    if (!tempos) {
        return tempos.error();
    }
    ChartBuilder chart(Mode::kBuffers, song.ticksPerMeasure, settings.startValue);
    Mode mode(chart, modeArguments...);
    ProgressThrottle throttle(progress, where.dataLength);
    if (walkNotes(file, where, mode, chart, throttle) == song::WalkEnd::Cancelled) {
        return Error{ErrorCode::Cancelled, "conversion cancelled"};
    }
    if (auto error = chart.takeError()) {
        return *error;
    }
    chart.flush(true);

    ChartText& lines = chart.text();
    for (std::size_t k = 0; k < tempos->changes.size(); ++k) {
        const std::int64_t time = tempos->changes[k].time;
        const std::int64_t measure = chart.measureOf(time);
        if (measure >= kMeasureLimit) {
            return measureOutOfRange("a tempo change", measure);
        }
        appendSingleCodeLine(lines, measure, kTempoChannel, chart.slotOf(time), tempos->codeOfChange[k]);
    }
    std::copy(kLineEnd.begin(), kLineEnd.end(), lines.grow(kLineEnd.size(), '\n'));
    throttle.finish();

    ChartPieces result;
    result.pieces.push_back(chartHeader(*tempos, chart.keysounds(), settings.keysoundName, song.ticksPerMeasure));
    for (auto& block : lines.takeBlocks()) {
        result.pieces.push_back(std::move(block));
    }
    result.keysounds = std::move(chart.keysounds());
    return result;
}

}  // namespace

Result<ChartPieces> generateChartPieces(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                        int trackNumber, const ConversionSettings& settings, ProgressSink& progress)
{
    if (trackNumber < 1 || static_cast<std::size_t>(trackNumber) > song.tracks.size()) {
        return Error{ErrorCode::TrackOutOfRange,
                     trackNumber < 1 ? std::string("no track chosen")
                                     : "track " + std::to_string(trackNumber) + " does not exist; the song has " +
                                           std::to_string(song.tracks.size()) + " tracks"}
            .withNumber(trackNumber);
    }
    if (song.ticksPerMeasure <= 0) {
        return Error{ErrorCode::UnsupportedDivision,
                     "the song's division is 0 ticks per quarter note, so its notes have no place in a measure"}
            .about("division")
            .withNumber(0);
    }
    const song::TrackLocation where = song.tracks[static_cast<std::size_t>(trackNumber - 1)].location;
    switch (settings.mode()) {
    case ConversionMode::Percussion:
        return convertTrack<PercussionMode>(file, song, where, settings, progress);
    case ConversionMode::LongNotes:
        return convertTrack<LongNoteMode>(file, song, where, settings, progress, settings.longNoteThreshold);
    case ConversionMode::Plain:
        break;
    }
    return convertTrack<PlainMode>(file, song, where, settings, progress);
}

Result<Chart> generateChart(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                            const ConversionSettings& settings, ProgressSink& progress)
{
    auto pieces = generateChartPieces(file, song, trackNumber, settings, progress);
    if (!pieces) {
        return pieces.error();
    }
    Chart chart;
    std::size_t size = 0;
    for (const auto& piece : pieces->pieces) {
        size += piece.size();
    }
    chart.text.reserve(size);
    for (const auto& piece : pieces->pieces) {
        chart.text += piece;
    }
    chart.keysounds = std::move(pieces->keysounds);
    return chart;
}

}  // namespace zentrowe::convert

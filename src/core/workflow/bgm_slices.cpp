#include "core/workflow/bgm_slices.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <limits>

#include "core/audio/channel_prelude.h"
#include "core/base/number_text.h"

namespace zentrowe::workflow {

namespace {

constexpr std::size_t kNoEnd = std::numeric_limits<std::size_t>::max();

bool isNoteOn(const audio::TimedEvent& event)
{
    return (event.status & 0xF0) == 0x90 && event.data2 != 0;
}

bool isNoteOff(const audio::TimedEvent& event)
{
    return (event.status & 0xF0) == 0x80 || ((event.status & 0xF0) == 0x90 && event.data2 == 0);
}

// Where each Note On ends: the index of the Note Off that releases it, or of the next Note On of
// its key on its channel (which the synthesiser lets cut it), with `struck` set for the latter.
struct NoteEnds {
    std::vector<std::size_t> index;  // kNoEnd for a note never released, and for other events
    std::vector<bool> struck;
};

NoteEnds noteEnds(std::span<const audio::TimedEvent> events)
{
    NoteEnds ends{std::vector<std::size_t>(events.size(), kNoEnd), std::vector<bool>(events.size(), false)};
    std::array<std::vector<std::size_t>, 16 * 128> open;  // sounding Note Ons by channel and key
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto& event = events[i];
        const bool on = isNoteOn(event);
        if (!on && !isNoteOff(event)) {
            continue;
        }
        auto& sounding = open[static_cast<std::size_t>(event.status & 0x0F) * 128 + (event.data1 & 0x7F)];
        for (const auto start : sounding) {
            ends.index[start] = i;
            ends.struck[start] = on;
        }
        sounding.clear();
        if (on) {
            sounding.push_back(i);
        }
    }
    return ends;
}

std::int64_t measureFrame(const song::Timeline& timeline, std::int64_t measure, std::int32_t ticksPerMeasure)
{
    return timeline.frame(measure * ticksPerMeasure, audio::kSampleRate);
}

// The whole measures one slice covers, and their frames.
struct SliceSpan {
    std::int64_t firstMeasure = 0;
    std::int64_t startFrame = 0;
    std::int64_t endFrame = 0;  // one past the last measure; the largest frame for the song's last slice
};

// The slice of the measures from `measure` (at most `lastStartMeasure`) on that last at most
// kLongestSliceFrames together; from `lastStartMeasure`, every measure to the song's end.
SliceSpan sliceSpan(const song::Timeline& timeline, std::int64_t measure, std::int32_t ticksPerMeasure,
                    std::int32_t lastStartMeasure)
{
    const std::int64_t first = std::min<std::int64_t>(measure, lastStartMeasure);
    const std::int64_t start = measureFrame(timeline, first, ticksPerMeasure);
    if (first == lastStartMeasure) {
        return {first, start, std::numeric_limits<std::int64_t>::max()};
    }
    std::int64_t last = first + 1;  // one past the slice's last measure
    while (last < lastStartMeasure &&
           measureFrame(timeline, last + 1, ticksPerMeasure) - start <= kLongestSliceFrames) {
        ++last;
    }
    return {first, start, measureFrame(timeline, last, ticksPerMeasure)};
}

// Cuts the events into slices in one pass: each slice starts from the channel state the events
// before it leave and holds its notes to their ends, even past its last measure.
class Slicer {
public:
    explicit Slicer(std::span<const audio::TimedEvent> events)
        : m_events(events), m_ends(noteEnds(events)), m_endsHere(events.size(), false)
    {
    }

    // The slice of `span`; `after` becomes the first event past its measures.
    BgmSlice slice(const SliceSpan& span, std::size_t& after)
    {
        BgmSlice slice;
        slice.measure = static_cast<std::int32_t>(span.firstMeasure);
        slice.startFrame = span.startFrame;
        const auto first = static_cast<std::size_t>(
            std::lower_bound(m_events.begin(), m_events.end(), span.startFrame,
                             [](const audio::TimedEvent& e, std::int64_t frame) { return e.frame < frame; }) -
            m_events.begin());
        slice.events = preludeBefore(first);
        after = first;
        const std::size_t lastNeeded = markNoteEnds(first, span.endFrame, after);
        for (std::size_t i = first; i <= lastNeeded && i < m_events.size(); ++i) {
            copyEvent(slice, i, after);
        }
        return slice;
    }

private:
    // The channel state the events before `first` leave, as events.
    std::vector<audio::TimedEvent> preludeBefore(std::size_t first)
    {
        if (first < m_fed) {
            m_prelude = audio::ChannelPrelude();  // a slice starting before the last one's start
            m_fed = 0;
        }
        for (; m_fed < first; ++m_fed) {
            m_prelude.add(m_events[m_fed]);
        }
        return m_prelude.events();
    }

    // Walks the slice's events from `first` to `endFrame` (leaving `after` past them), marking
    // where each of its notes ends; gives the last event any of them waits for.
    std::size_t markNoteEnds(std::size_t first, std::int64_t endFrame, std::size_t& after)
    {
        std::size_t lastNeeded = first;
        for (; after < m_events.size() && m_events[after].frame < endFrame; ++after) {
            if (isNoteOn(m_events[after])) {
                const auto release = m_ends.index[after];
                lastNeeded = std::max(lastNeeded, release == kNoEnd ? m_events.size() - 1 : release);
                if (release != kNoEnd) {
                    m_endsHere[release] = true;
                }
            }
            lastNeeded = std::max(lastNeeded, after);
        }
        return lastNeeded;
    }

    // Event `i` into the slice, timed from its start: the slice's own events, and after its
    // measures only what ends its notes.
    void copyEvent(BgmSlice& slice, std::size_t i, std::size_t after)
    {
        audio::TimedEvent event = m_events[i];
        event.frame -= slice.startFrame;
        const bool on = isNoteOn(event);
        if (m_endsHere[i]) {
            m_endsHere[i] = false;
            if (on) {
                // Struck again by a later slice: this slice's note is cut here all the same.
                slice.events.push_back(
                    {event.frame, static_cast<std::uint8_t>(0x80 | (event.status & 0x0F)), event.data1, 0});
            } else {
                slice.events.push_back(event);
            }
            if (!on || i >= after) {
                return;
            }
        }
        if (on ? i < after : !isNoteOff(event)) {
            slice.events.push_back(event);
        }
    }

    std::span<const audio::TimedEvent> m_events;
    NoteEnds m_ends;
    std::vector<bool> m_endsHere;
    audio::ChannelPrelude m_prelude;  // the channel state the events before m_fed leave
    std::size_t m_fed = 0;
};

}  // namespace

std::vector<BgmSlice> sliceBgm(std::span<const audio::TimedEvent> events, const song::Timeline& timeline,
                               std::int32_t ticksPerMeasure, std::int32_t lastStartMeasure)
{
    std::vector<BgmSlice> slices;
    if (ticksPerMeasure <= 0) {
        return slices;
    }
    Slicer slicer(events);
    std::int64_t measure = 0;  // the measure of the event looked at, found by walking forward
    std::size_t next = 0;      // the first event not yet looked at for a slice's first note
    while (true) {
        while (next < events.size() && !isNoteOn(events[next])) {
            ++next;
        }
        if (next == events.size()) {
            break;
        }
        while (measureFrame(timeline, measure + 1, ticksPerMeasure) <= events[next].frame) {
            ++measure;
        }
        slices.push_back(slicer.slice(sliceSpan(timeline, measure, ticksPerMeasure, lastStartMeasure), next));
    }
    return slices;
}

BgmPlan planBgm(BgmMode mode, std::vector<audio::TimedEvent> events, const song::SongSummary& song,
                const convert::KeysoundTable& keysounds, bool bmson, const std::string& extension)
{
    BgmPlan plan;
    // The code of the BGM file `index`, if there is one.
    const auto code = [&](std::size_t index) -> std::optional<chart::ChartCode> {
        if (bmson) {
            return static_cast<chart::ChartCode>(keysounds.size() + 1 + index);
        }
        const int value = keysounds.codeValue(keysounds.size() + index);
        if (value > convert::largestCode(keysounds.base62())) {
            return std::nullopt;
        }
        return static_cast<chart::ChartCode>(value);
    };
    if (mode == BgmMode::Slices) {
        const song::Timeline timeline(song);
        constexpr std::int32_t kLastBmsMeasure = 999;
        auto slices = sliceBgm(events, timeline, song.ticksPerMeasure,
                               bmson ? std::numeric_limits<std::int32_t>::max() : kLastBmsMeasure);
        if (!slices.empty() && code(slices.size() - 1)) {
            for (std::size_t i = 0; i < slices.size(); ++i) {
                plan.files.push_back(
                    {bgmSliceName(i, extension), *code(i), slices[i].measure, std::move(slices[i].events)});
            }
            return plan;
        }
        plan.slicesWanted = slices.size();
        plan.skipped = SkipReason::NoCodesForSlices;
    }
    if (!code(0)) {
        plan.skipped = SkipReason::NoCodeForBgm;
        return plan;
    }
    plan.files.push_back({"bgm" + extension, *code(0), 0, std::move(events)});
    return plan;
}

std::string bgmSliceName(std::size_t index, const std::string& extension)
{
    return "bgm-" + paddedText(static_cast<std::int64_t>(index) + 1, 3) + extension;
}

bool isBgmFileName(const std::string& name)
{
    std::string stem = std::filesystem::path(name).stem().string();
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (stem == "bgm") {
        return true;
    }
    return stem.size() >= 7 && stem.compare(0, 4, "bgm-") == 0 &&
           std::all_of(stem.begin() + 4, stem.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace zentrowe::workflow

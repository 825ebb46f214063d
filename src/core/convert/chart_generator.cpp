#include "core/convert/chart_generator.h"

#include <algorithm>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "core/convert/chart_builder.h"
#include "core/convert/long_note_mode.h"
#include "core/convert/percussion_mode.h"
#include "core/convert/plain_mode.h"
#include "core/song/event_text.h"
#include "core/song/track_part.h"
#include "core/song/track_walk.h"

namespace zentrowe::convert {

namespace {

// The one walk of every mode: note starts and ends go to the mode, everything else is stepped
// over. Notes 0 and 127 are never charted, and note numbers of 0x80 and above (a damaged file)
// make no note, as they could not be written back into the keysound MIDI file. Velocities of 0x80
// and above, which some writers put in Note On events, are clipped to 127 as synthesisers do.
template <typename Mode>
class NoteVisitor {
public:
    explicit NoteVisitor(Mode& mode, ChartBuilder& chart) : m_mode(mode), m_chart(chart) { }

    void onPart(std::size_t part) { m_part = static_cast<std::uint16_t>(part); }

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        m_lastTime = time;
        const std::uint8_t kind = event.kind();
        if ((kind != 0x80 && kind != 0x90) || m_chart.failed()) {
            return;
        }
        const std::uint8_t note = event.data1;
        if (note == 0 || note >= 127) {
            return;
        }
        const auto velocity = std::min<std::uint8_t>(event.data2, 127);
        if (kind == 0x90 && velocity != 0) {
            m_chart.noteStarted({m_part, event.channel()});
            m_mode.noteStart(time, event.channel(), note, velocity);
        } else {
            m_mode.noteEnd(time, event.channel(), note);
        }
    }
    void onEvent(std::int64_t time, std::uint32_t, const song::MetaEvent&) { m_lastTime = time; }
    void onEvent(std::int64_t time, std::uint32_t, const song::SysExEvent&) { m_lastTime = time; }

    std::int64_t lastTime() const { return m_lastTime; }

private:
    Mode& m_mode;
    ChartBuilder& m_chart;
    std::int64_t m_lastTime = 0;
    std::uint16_t m_part = 0;  // of the event being visited
};

// The tempo changes the chart defines. A song that does not set its tempo at tick 0 plays at the
// standard's 500000 microseconds per quarter note until it does; players assume other tempos, so
// the chart says so explicitly.
struct ChartTempos {
    std::vector<song::TempoChange> changes;
    std::vector<std::uint16_t> codeOfChange;  // code value of each change
    std::vector<std::uint32_t> microsOfCode;  // "#BPM" definitions, code 1 first
};

// The tempo changes up to `lastTick`: later ones change nothing in a chart whose notes all lie
// before them.
Result<ChartTempos> chartTempos(const song::SongSummary& song, std::int64_t lastTick, bool base62)
{
    const int largest = largestCode(base62);
    ChartTempos tempos;
    if (song.tempoMap.empty() || song.tempoMap.front().time != 0) {
        tempos.changes.push_back({song::kDefaultTempoMicros, 0});
    }
    for (const auto& change : song.tempoMap) {
        if (change.time <= lastTick) {
            tempos.changes.push_back(change);
        }
    }

    if (tempos.changes.size() <= static_cast<std::size_t>(largest)) {
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
            if (tempos.microsOfCode.size() >= static_cast<std::size_t>(largest)) {
                // What lifts the limit: more codes, or a format that needs none for tempos.
                const std::string lift = base62 ? "; a bmson chart (--chart-format bmson) numbers any"
                                                : "; base-62 codes (--codes 62) number " +
                                                      std::to_string(largestCode(true)) +
                                                      ", a bmson chart (--chart-format bmson) any";
                return Error{ErrorCode::CodesExhausted, "the song has more than " + std::to_string(largest) +
                                                            " different tempos, more than a chart can number" + lift}
                    .about("tempos")
                    .withNumber(largest);
            }
            tempos.microsOfCode.push_back(change.tempoMicros);
            found->second = static_cast<std::uint16_t>(tempos.microsOfCode.size());
        }
        tempos.codeOfChange.push_back(found->second);
    }
    return tempos;
}

// The chart's line type, base and definitions: tempos as numbered, keysounds in table order.
void defineChart(chart::Chart& chart, const ChartTempos& tempos, const KeysoundTable& keysounds,
                 const std::string& keysoundName, std::int32_t ticksPerMeasure, std::string_view soundExtension)
{
    chart.header.base62 = keysounds.base62();
    chart.header.lnType = 1;
    chart.tempos.reserve(tempos.microsOfCode.size());
    for (std::size_t k = 0; k < tempos.microsOfCode.size(); ++k) {
        const std::uint32_t micros = tempos.microsOfCode[k];
        chart.tempos.push_back({static_cast<chart::ChartCode>(k + 1), 60'000'000.0 / micros, song::formatBpm(micros)});
    }
    chart.keysounds.reserve(keysounds.size());
    for (std::size_t k = 0; k < keysounds.size(); ++k) {
        chart.keysounds.push_back({static_cast<chart::ChartCode>(keysounds.codeValue(k)),
                                   keysoundStem(keysoundName, keysounds[k], ticksPerMeasure, keysounds.suffix(k)) +
                                       std::string(soundExtension)});
    }
}

template <typename Mode, typename... ModeArguments>
Result<GeneratedChart> convertTrack(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                    std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                    PlacedNoteSink* placedNotes, ProgressSink& progress,
                                    std::string_view soundExtension, const KeysoundVariants* variants,
                                    ModeArguments... modeArguments)
{
    GeneratedChart result;
    ChartBuilder chart(Mode::kBuffers, song.ticksPerMeasure, settings, !std::is_same_v<Mode, PercussionMode>,
                       placedNotes == nullptr ? &result.chart : nullptr);
    chart.setVariants(variants);
    if (parts.size() > 1 || parts.front().channel != 0) {
        chart.setWhoseNotes(song::partsName(parts) + (parts.size() > 1 ? " have" : " has"));
    }
    if (placedNotes != nullptr) {
        chart.reportPlacedNotes(*placedNotes);
    }
    Mode mode(chart, modeArguments...);
    ProgressThrottle throttle(progress, song::partsLength(song, parts));
    NoteVisitor<Mode> visitor(mode, chart);
    const auto onPart = [&visitor](std::size_t part) { visitor.onPart(part); };
    if (song::walkParts(file, song, parts, visitor, throttle, onPart) == song::WalkEnd::Cancelled) {
        return Error{ErrorCode::Cancelled, "conversion cancelled"};
    }
    if (!chart.failed()) {
        mode.trackEnd(visitor.lastTime());
    }
    if (auto error = chart.takeError()) {
        return *error;
    }
    result.lastPlacedTick = chart.lastPlacedTick();
    if (placedNotes != nullptr) {
        throttle.finish();
        result.keysounds = std::move(chart.keysounds());
        return result;
    }
    chart.flush(true);

    auto tempos = chartTempos(song, chart.lastPlacedTick(), settings.base62);
    if (!tempos) {
        return tempos.error();
    }
    ChartLines& lines = chart.lines();
    for (std::size_t k = 0; k < tempos->changes.size(); ++k) {
        // Every change kept lies at or before a placed note, so in a measure the chart holds.
        const std::int64_t time = tempos->changes[k].time;
        lines.appendSingleCode(chart.measureOf(time), chart::kTempoChannel, chart.slotOf(time),
                               tempos->codeOfChange[k]);
    }
    lines.appendLineEnd();
    throttle.finish();

    defineChart(result.chart, *tempos, chart.keysounds(), settings.keysoundName, song.ticksPerMeasure, soundExtension);
    result.keysounds = std::move(chart.keysounds());
    return result;
}

Error noSuchTrack(int trackNumber, std::size_t trackCount)
{
    return Error{ErrorCode::TrackOutOfRange, trackNumber < 1 ? std::string("no track chosen")
                                                             : "track " + std::to_string(trackNumber) +
                                                                   " does not exist; the song has " +
                                                                   std::to_string(trackCount) + " tracks"}
        .withNumber(trackNumber);
}

Result<GeneratedChart> convertSong(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                   std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                   PlacedNoteSink* placedNotes, ProgressSink& progress, std::string_view soundExtension,
                                   const KeysoundVariants* variants)
{
    if (parts.empty()) {
        return noSuchTrack(0, song.tracks.size());
    }
    for (const song::TrackPart& part : parts) {
        if (part.trackNumber < 1 || static_cast<std::size_t>(part.trackNumber) > song.tracks.size()) {
            return noSuchTrack(part.trackNumber, song.tracks.size());
        }
    }
    if (song.ticksPerMeasure <= 0) {
        return Error{ErrorCode::UnsupportedDivision,
                     "the song's division is 0 ticks per quarter note, so its notes have no place in a measure"}
            .about("division")
            .withNumber(0);
    }
    switch (settings.mode()) {
    case ConversionMode::Percussion:
        return convertTrack<PercussionMode>(file, song, parts, settings, placedNotes, progress, soundExtension,
                                            variants);
    case ConversionMode::LongNotes:
        return convertTrack<LongNoteMode>(file, song, parts, settings, placedNotes, progress, soundExtension, variants,
                                          settings.longNoteThreshold);
    case ConversionMode::Plain:
        break;
    }
    return convertTrack<PlainMode>(file, song, parts, settings, placedNotes, progress, soundExtension, variants);
}

}  // namespace

Result<GeneratedChart> generateChart(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                                     const ConversionSettings& settings, ProgressSink& progress,
                                     std::string_view soundExtension, const KeysoundVariants* variants)
{
    const song::TrackPart whole{trackNumber, 0};
    return convertSong(file, song, {&whole, 1}, settings, nullptr, progress, soundExtension, variants);
}

Result<GeneratedChart> generateChart(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                     std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                     ProgressSink& progress, std::string_view soundExtension,
                                     const KeysoundVariants* variants)
{
    return convertSong(file, song, parts, settings, nullptr, progress, soundExtension, variants);
}

Result<GeneratedChart> generatePlacedNotes(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                           int trackNumber, const ConversionSettings& settings, PlacedNoteSink& notes,
                                           ProgressSink& progress, const KeysoundVariants* variants)
{
    const song::TrackPart whole{trackNumber, 0};
    return convertSong(file, song, {&whole, 1}, settings, &notes, progress, {}, variants);
}

Result<GeneratedChart> generatePlacedNotes(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                           std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                           PlacedNoteSink& notes, ProgressSink& progress,
                                           const KeysoundVariants* variants)
{
    return convertSong(file, song, parts, settings, &notes, progress, {}, variants);
}

}  // namespace zentrowe::convert

#include "core/convert/chart_generator.h"

#include <algorithm>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "core/convert/chart_builder.h"
#include "core/convert/long_note_mode.h"
#include "core/convert/percussion_mode.h"
#include "core/convert/plain_mode.h"
#include "core/song/event_text.h"
#include "core/song/part_notes.h"
#include "core/song/track_part.h"

namespace zentrowe::convert {

namespace {

Error cancelled()
{
    return Error{ErrorCode::Cancelled, "conversion cancelled"};
}

// Hands every note start and end to the mode, stepping the progress a note at a time; false
// when the sink asks to stop. Notes met after the chart failed are stepped over.
template <typename Mode>
bool feedNotes(Mode& mode, ChartBuilder& chart, const song::PartNotes& notes, ProgressThrottle& throttle)
{
    std::int64_t done = 0;
    for (const song::PartNote& note : notes) {
        if (!throttle.step(done++)) {
            return false;
        }
        if (chart.failed()) {
            continue;
        }
        if (note.starts()) {
            chart.noteStarted({note.part, note.channel});
            mode.noteStart(note.time, note.channel, note.note, note.velocity);
        } else {
            mode.noteEnd(note.time, note.channel, note.note);
        }
    }
    return true;
}

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
Result<GeneratedChart> convertTrack(const song::PartNotes& notes, const song::SongSummary& song,
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
    ProgressThrottle throttle(progress, static_cast<std::int64_t>(notes.size()));
    if (!feedNotes(mode, chart, notes, throttle)) {
        return cancelled();
    }
    if (!chart.failed()) {
        mode.trackEnd(notes.lastTime());
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

// TrackOutOfRange for no parts or a part the song lacks, UnsupportedDivision for a division of 0.
std::optional<Error> refusal(const song::SongSummary& song, std::span<const song::TrackPart> parts)
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
    return std::nullopt;
}

// Every conversion, whether its notes were read beforehand or just now from the bytes.
Result<GeneratedChart> convertNotes(const song::PartNotes& notes, const song::SongSummary& song,
                                    std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                    PlacedNoteSink* placedNotes, ProgressSink& progress,
                                    std::string_view soundExtension, const KeysoundVariants* variants)
{
    if (auto refused = refusal(song, parts)) {
        return *refused;
    }
    switch (settings.mode()) {
    case ConversionMode::Percussion:
        return convertTrack<PercussionMode>(notes, song, parts, settings, placedNotes, progress, soundExtension,
                                            variants);
    case ConversionMode::LongNotes:
        return convertTrack<LongNoteMode>(notes, song, parts, settings, placedNotes, progress, soundExtension, variants,
                                          settings.longNoteThreshold);
    case ConversionMode::Plain:
        break;
    }
    return convertTrack<PlainMode>(notes, song, parts, settings, placedNotes, progress, soundExtension, variants);
}

// The parts' notes read from the bytes, then converted; progress counts the bytes read.
Result<GeneratedChart> convertSong(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                   std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                   PlacedNoteSink* placedNotes, ProgressSink& progress, std::string_view soundExtension,
                                   const KeysoundVariants* variants)
{
    if (auto refused = refusal(song, parts)) {
        return *refused;
    }
    ProgressThrottle throttle(progress, song::partsLength(song, parts));
    const auto notes = song::readPartNotes(file, song, parts, throttle);
    if (!notes) {
        return cancelled();
    }
    StopOnlyProgress stopOnly(progress);  // the reading counted the progress
    auto converted = convertNotes(*notes, song, parts, settings, placedNotes, stopOnly, soundExtension, variants);
    if (converted) {
        throttle.finish();
    }
    return converted;
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

Result<GeneratedChart> generateChart(const song::PartNotes& partNotes, const song::SongSummary& song,
                                     std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                     ProgressSink& progress, std::string_view soundExtension,
                                     const KeysoundVariants* variants)
{
    return convertNotes(partNotes, song, parts, settings, nullptr, progress, soundExtension, variants);
}

Result<GeneratedChart> generatePlacedNotes(const song::PartNotes& partNotes, const song::SongSummary& song,
                                           std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                           PlacedNoteSink& notes, ProgressSink& progress,
                                           const KeysoundVariants* variants)
{
    return convertNotes(partNotes, song, parts, settings, &notes, progress, {}, variants);
}

}  // namespace zentrowe::convert

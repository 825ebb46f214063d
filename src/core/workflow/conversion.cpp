#include "core/workflow/conversion.h"

#include <system_error>

#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/folder_lock.h"
#include "core/base/progress.h"
#include "core/base/utf8_path.h"
#include "core/chart/bms_writer.h"
#include "core/chart/bmson_writer.h"
#include "core/convert/chart_generator.h"
#include "core/convert/exact_chart.h"
#include "core/keysound/keysound_midi_writer.h"
#include "core/song/drum_channel.h"

namespace zentrowe::workflow {

namespace {

std::array<std::uint8_t, 3> keysoundTempoBytes(const convert::ConversionSettings& settings,
                                               const song::SongSummary& song)
{
    if (!settings.useCustomTempo) {
        return song.tempoBytes;
    }
    const auto bytes = keysound::encodeLongBytes(static_cast<std::uint32_t>(settings.customTempo));
    return {bytes[1], bytes[2], bytes[3]};
}

constexpr int kDrumChannel = 10;  // General MIDI's, as musicians count

// EmptyTrack for the first of several parts, or a single channel, that plays no note: charting
// the others alone would not be what was asked for. None for a single whole track, whose
// emptiness the conversion finds itself.
std::optional<Error> partWithoutNotes(const song::SongSummary& song, std::span<const song::TrackPart> parts,
                                      const song::PartNotes& notes)
{
    if (parts.size() == 1 && parts.front().channel == 0) {
        return std::nullopt;
    }
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const song::TrackPart& part = parts[k];
        if (part.trackNumber < 1 || static_cast<std::size_t>(part.trackNumber) > song.tracks.size()) {
            return std::nullopt;  // the conversion names it
        }
        if (notes.soundingNotes(k) == 0) {
            return Error{ErrorCode::EmptyTrack, song::partName(part) + " has no notes to convert; nothing was written"}
                .withValue(song::partText(part))
                .withNumber(part.trackNumber);
        }
    }
    return std::nullopt;
}

// EmptyTrack for a conversion whose parts made no keysound, naming them (a single track by its
// name too).
Error nothingToConvert(const ConversionRequest& request, std::span<const song::TrackPart> parts)
{
    const auto& track = request.song.tracks[static_cast<std::size_t>(request.trackNumber - 1)];
    std::string named = song::partsName(parts);
    if (!track.name.empty() && parts.size() == 1) {
        named += " (\"" + track.name + "\")";
    }
    return Error{ErrorCode::EmptyTrack, named + " has no notes to convert; nothing was written"}
        .withValue(track.name)
        .withNumber(request.trackNumber);
}

// The bmson chart's name: the BMS chart's with ".bmson" for its ".bms".
std::string bmsonFileName(std::string bmsName)
{
    if (bmsName.size() >= 4 && bmsName.compare(bmsName.size() - 4, 4, ".bms") == 0) {
        bmsName.resize(bmsName.size() - 4);
    }
    return bmsName + ".bmson";
}

}  // namespace

std::vector<song::TrackPart> chartedParts(const ConversionRequest& request)
{
    return song::requestedParts(request.trackNumber, request.channel, request.moreParts);
}

std::string convertedChartFileName(const ConversionRequest& request)
{
    return request.settings.bmson ? bmsonFileName(request.chartFileName) : request.chartFileName;
}

Result<ConversionOutcome> runConversion(const ConversionRequest& request, ProgressSink& progress)
{
    const auto source = song::readSongFile(request.sourceMidiPath);
    if (!source) {
        return source.error();
    }
    const auto lock = FolderLock::acquire(request.outputFolder);
    if (!lock) {
        return lock.error();
    }
    return convertTrack(request, source->bytes(), progress);
}

Result<std::vector<song::TrackPart>> partsToConvert(const ConversionRequest& request, const song::PartNotes& notes,
                                                    std::uint64_t sourceSize)
{
    // A pipe drained by the summary, or a file cut short since: converting what is left would
    // replace a good chart with a wrong one.
    if (auto same = song::checkUnchangedSince(request.song, sourceSize, request.sourceMidiPath); !same) {
        return same.error();
    }
    auto parts = chartedParts(request);
    if (auto silent = partWithoutNotes(request.song, parts, notes)) {
        return *silent;
    }
    return parts;
}

Result<std::vector<std::uint8_t>> keysoundMidiFile(const ConversionRequest& request,
                                                   std::span<const song::TrackPart> parts,
                                                   const convert::KeysoundTable& keysounds,
                                                   std::span<const song::ChannelInstrument> instruments)
{
    if (keysounds.empty()) {
        // An empty chart would replace an earlier one, and there is nothing to render.
        return nothingToConvert(request, parts);
    }
    return keysound::buildKeysoundMidi(keysounds, instruments, request.song.ticksPerQuarter,
                                       keysoundTempoBytes(request.settings, request.song),
                                       request.settings.keysoundGap);
}

Result<ConversionOutcome> outcomePaths(const ConversionRequest& request, ProgressSink& progress)
{
    ConversionOutcome outcome;
    outcome.chartPath = request.outputFolder / utf8Path(convertedChartFileName(request));
    outcome.keysoundMidiPath = request.outputFolder / kKeysoundMidiFileName;
    for (const auto& target : {outcome.chartPath, outcome.keysoundMidiPath}) {
        if (isSameFile(target, request.sourceMidiPath)) {
            return Error{ErrorCode::WouldOverwriteSource,
                         displayPath(target) + ": writing it would replace the MIDI file being converted"}
                .inFile(displayPath(target))
                .about("source");
        }
    }
    if (progress.stopRequested()) {
        return Error{ErrorCode::Cancelled, "conversion cancelled"};
    }
    return outcome;
}

Status writeConvertedFiles(const ConversionRequest& request, const ConversionOutcome& outcome,
                           std::span<const std::uint8_t> keysoundMidi, bool chart, ProgressSink& progress)
{
    FileSystem& files = request.fileSystem != nullptr ? *request.fileSystem : realFileSystem();
    AtomicFileWriter chartFile(outcome.chartPath, files);
    AtomicFileWriter keysoundFile(outcome.keysoundMidiPath, files);
    Status status;
    if (chart) {
        status = chartFile.open();
        if (status) {
            status = request.settings.bmson ? chart::writeBmson(outcome.chart, chartFile)
                                            : chart::writeBms(outcome.chart, chartFile);
        }
    }
    if (status && progress.stopRequested()) {
        status = Error{ErrorCode::Cancelled, "conversion cancelled"};
    }
    if (status) {
        status = keysoundFile.open();
    }
    if (status) {
        status = keysoundFile.write(keysoundMidi);
    }
    if (status) {
        // The chart names the keysounds whose timing "K-Midi.mid" holds: neither may replace an
        // earlier run's file without the other.
        status = chart ? commitTogether(chartFile, keysoundFile) : keysoundFile.commit();
    }
    return status;
}

Status completeOutcome(ConversionOutcome& outcome, const ConversionRequest& request,
                       std::span<const song::TrackPart> parts, const song::PartNotes& notes,
                       std::span<const std::uint8_t> keysoundMidi, convert::KeysoundTable keysounds)
{
    NullProgress quiet;
    auto readBack = keysound::readBackKeysoundBytes(keysoundMidi, displayPath(outcome.keysoundMidiPath),
                                                    request.settings.keysoundGap, quiet);
    if (!readBack) {
        return readBack.error();
    }
    outcome.keysounds = std::move(keysounds);
    outcome.keysoundSong = std::move(readBack->song);
    outcome.cuts = std::move(readBack->cuts);
    outcome.sourceTicksPerMeasure = request.song.ticksPerMeasure;
    outcome.keysoundName = request.settings.keysoundName;
    outcome.gapTicks = request.settings.keysoundGap;
    // Outside percussion mode, a single part whose notes all play on the drum channel: a hint that
    // percussion mode would suit.
    outcome.allNotesOnDrumChannel =
        !request.settings.percussion && parts.size() == 1 &&
        (request.channel == 0 ? song::allNotesOnDrumChannel(notes, 0) : request.channel == kDrumChannel);
    return {};
}

Result<ConversionOutcome> convertTrack(const ConversionRequest& request, std::span<const std::uint8_t> source,
                                       ProgressSink& progress)
{
    // The charted parts' notes, read once: progress counts the bytes read.
    const auto charted = chartedParts(request);
    ProgressThrottle throttle(progress, song::partsLength(request.song, charted));
    const auto notes = song::readPartNotes(source, request.song, charted, throttle);
    if (!notes) {
        return Error{ErrorCode::Cancelled, "conversion cancelled"};
    }
    const auto parts = partsToConvert(request, *notes, source.size());
    if (!parts) {
        return parts.error();
    }
    // A bmson chart keeps every note at its tick; the chart model holds a few bytes per object, so
    // a chart of millions of notes fits.
    const bool bmson = request.settings.bmson;
    convert::ExactNoteCollector placedNotes;
    StopOnlyProgress stopOnly(progress);
    auto chart =
        bmson ? convert::generatePlacedNotes(*notes, request.song, *parts, request.settings, placedNotes, stopOnly)
              : convert::generateChart(*notes, request.song, *parts, request.settings, stopOnly);
    if (!chart) {
        return chart.error();
    }
    throttle.finish();
    // Each keysound plays with the instrument the track gave its first note, so another synthesiser
    // renders K-Midi.mid as the song sounds.
    const auto instruments =
        keysound::keysoundInstruments(source, request.song, *parts, chart->keysounds, request.settings.percussion);
    const auto keysoundMidi = keysoundMidiFile(request, *parts, chart->keysounds, instruments);
    if (!keysoundMidi) {
        return keysoundMidi.error();
    }
    auto outcome = outcomePaths(request, progress);
    if (!outcome) {
        return outcome.error();
    }
    if (bmson) {
        const convert::ExactChartNaming naming{request.sourceMidiPath.stem().string(), std::string(),
                                               request.settings.keysoundName, ".ogg"};
        outcome->chart = convert::makeExactChart(request.song, *chart, placedNotes, naming);
    } else {
        outcome->chart = std::move(chart->chart);
    }
    if (auto written = writeConvertedFiles(request, *outcome, *keysoundMidi, true, progress); !written) {
        return written.error();
    }
    outcome->chart = {};  // on disk now; the window keeps the outcome, not the chart
    if (auto completed = completeOutcome(*outcome, request, *parts, *notes, *keysoundMidi, std::move(chart->keysounds));
        !completed) {
        return completed.error();
    }
    return outcome;
}

}  // namespace zentrowe::workflow

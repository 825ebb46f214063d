#include "core/workflow/conversion.h"

#include <system_error>

#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/folder_lock.h"
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
std::optional<Error> partWithoutNotes(const song::SongSummary& song, std::span<const std::uint8_t> source,
                                      std::span<const song::TrackPart> parts)
{
    if (parts.size() == 1 && parts.front().channel == 0) {
        return std::nullopt;
    }
    for (const auto& part : parts) {
        if (part.trackNumber < 1 || static_cast<std::size_t>(part.trackNumber) > song.tracks.size()) {
            return std::nullopt;  // the conversion names it
        }
        if (song::partNoteCount(source, song, part) == 0) {
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

// The chart (unless the request keeps it) and "K-Midi.mid", both complete in their temporary files
// before either replaces an earlier one.
Status writeConvertedFiles(const ConversionRequest& request, const ConversionOutcome& outcome,
                           std::span<const std::uint8_t> keysoundMidi, ProgressSink& progress)
{
    FileSystem& files = request.fileSystem != nullptr ? *request.fileSystem : realFileSystem();
    AtomicFileWriter chartFile(outcome.chartPath, files);
    AtomicFileWriter keysoundFile(outcome.keysoundMidiPath, files);
    Status status;
    if (request.writeChart) {
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
        status = request.writeChart ? commitTogether(chartFile, keysoundFile) : keysoundFile.commit();
    }
    return status;
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

Result<ConversionOutcome> convertTrack(const ConversionRequest& request, std::span<const std::uint8_t> source,
                                       ProgressSink& progress)
{
    // A pipe drained by the summary, or a file cut short since: converting what is left would
    // replace a good chart with a wrong one.
    if (auto same = song::checkUnchangedSince(request.song, source, request.sourceMidiPath); !same) {
        return same.error();
    }
    const bool bmson = request.settings.bmson;
    const std::string chartFileName = convertedChartFileName(request);
    const auto parts = chartedParts(request);
    if (auto silent = partWithoutNotes(request.song, source, parts)) {
        return *silent;
    }
    // The chart model holds a few bytes per object, so a chart of millions of notes fits.
    convert::ExactNoteCollector placedNotes;
    const bool exact = bmson || request.exactTimes;
    auto chart = exact ? convert::generatePlacedNotes(source, request.song, parts, request.settings, placedNotes,
                                                      progress, request.variants)
                       : convert::generateChart(source, request.song, parts, request.settings, progress,
                                                request.soundExtension.value_or(".OGG"), request.variants);
    if (!chart) {
        return chart.error();
    }
    if (chart->keysounds.empty()) {
        // An empty chart would replace an earlier one, and there is nothing to render.
        return nothingToConvert(request, parts);
    }
    // Each keysound plays with the instrument the track gave its first note, so another synthesiser
    // renders K-Midi.mid as the song sounds.
    const auto instruments =
        keysound::keysoundInstruments(source, request.song, parts, chart->keysounds, request.settings.percussion);
    const auto keysoundMidi =
        keysound::buildKeysoundMidi(chart->keysounds, instruments, request.song.ticksPerQuarter,
                                    keysoundTempoBytes(request.settings, request.song), request.settings.keysoundGap);
    if (!keysoundMidi) {
        return keysoundMidi.error();
    }

    ConversionOutcome outcome;
    outcome.chartPath = request.outputFolder / utf8Path(chartFileName);
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

    if (exact) {
        convert::ExactChartNaming naming{request.title.empty() ? request.sourceMidiPath.stem().string() : request.title,
                                         request.artist.value_or(std::string()), request.settings.keysoundName,
                                         request.soundExtension.value_or(bmson ? ".ogg" : ".OGG")};
        chart->lastPlacedTick = std::max(chart->lastPlacedTick, request.lastTick);
        outcome.chart = convert::makeExactChart(request.song, *chart, placedNotes, naming);
        if (!bmson) {
            auto numbered = convert::numberForBms(std::move(outcome.chart), chart->keysounds);
            if (!numbered) {
                return numbered.error();
            }
            outcome.chart = std::move(numbered).value();
        }
    } else {
        outcome.chart = std::move(chart->chart);
    }

    if (auto written = writeConvertedFiles(request, outcome, *keysoundMidi, progress); !written) {
        return written.error();
    }
    if (request.writeChart) {
        outcome.chart = {};  // on disk now; the window keeps the outcome, not the chart
    }

    NullProgress quiet;
    auto readBack = keysound::readBackKeysoundFile(outcome.keysoundMidiPath, request.settings.keysoundGap, quiet);
    if (!readBack) {
        return readBack.error();
    }
    outcome.keysounds = std::move(chart->keysounds);
    outcome.keysoundSong = std::move(readBack->song);
    outcome.cuts = std::move(readBack->cuts);
    outcome.sourceTicksPerMeasure = request.song.ticksPerMeasure;
    outcome.keysoundName = request.settings.keysoundName;
    outcome.gapTicks = request.settings.keysoundGap;
    outcome.allNotesOnDrumChannel =
        !request.settings.percussion && parts.size() == 1 &&
        (request.channel == 0 ? song::allNotesOnDrumChannel(source, request.song, request.trackNumber)
                              : request.channel == kDrumChannel);
    return outcome;
}

}  // namespace zentrowe::workflow

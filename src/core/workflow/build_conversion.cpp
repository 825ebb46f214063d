#include "core/workflow/build_conversion.h"

#include <algorithm>
#include <cassert>
#include <set>
#include <string>

#include "core/audio/sound_file_writer.h"
#include "core/convert/chart_generator.h"
#include "core/convert/exact_chart.h"
#include "core/convert/keysound_name.h"
#include "core/convert/keysound_table.h"
#include "core/keysound/keysound_states.h"

namespace zentrowe::workflow {

namespace {

// The chart of the placed notes with every object at its tick, numbered as a BMS chart numbers it
// unless it is a bmson chart.
Result<chart::Chart> exactChart(const BuildConversionRequest& request, convert::GeneratedChart& generated,
                                convert::ExactNoteCollector& placedNotes)
{
    const auto& conversion = request.conversion;
    const bool bmson = conversion.settings.bmson;
    const convert::ExactChartNaming naming{
        request.title.empty() ? conversion.sourceMidiPath.stem().string() : request.title,
        request.artist.value_or(std::string()), conversion.settings.keysoundName, request.soundExtension};
    generated.lastPlacedTick = std::max(generated.lastPlacedTick, request.lastTick);
    auto chart = convert::makeExactChart(conversion.song, generated, placedNotes, naming);
    if (bmson) {
        return chart;
    }
    return convert::numberForBms(std::move(chart), generated.keysounds);
}

}  // namespace

Result<ConversionOutcome> convertTrackForBuild(const BuildConversionRequest& request, const PreparedSong& prepared,
                                               ProgressSink& progress)
{
    const auto& conversion = request.conversion;
    const auto parts = partsToConvert(conversion, prepared.partNotes, prepared.sourceSize);
    if (!parts) {
        return parts.error();
    }
    // The prepared notes are those of the parts the request charts.
    assert(*parts == prepared.parts);
    convert::ExactNoteCollector placedNotes;
    auto generated = convert::generatePlacedNotes(prepared.partNotes, conversion.song, *parts, conversion.settings,
                                                  placedNotes, progress, request.variants);
    if (!generated) {
        return generated.error();
    }
    const auto instruments =
        keysound::keysoundInstruments(prepared.notes, generated->keysounds, conversion.settings.percussion);
    const auto keysoundMidi = keysoundMidiFile(conversion, *parts, generated->keysounds, instruments);
    if (!keysoundMidi) {
        return keysoundMidi.error();
    }
    auto outcome = outcomePaths(conversion, progress);
    if (!outcome) {
        return outcome.error();
    }
    auto chart = exactChart(request, *generated, placedNotes);
    if (!chart) {
        return chart.error();
    }
    outcome->chart = std::move(chart).value();
    if (auto written = writeConvertedFiles(conversion, *outcome, *keysoundMidi, false, progress); !written) {
        return written.error();
    }
    if (auto completed = completeOutcome(*outcome, conversion, *parts, prepared.partNotes, *keysoundMidi,
                                         std::move(generated->keysounds));
        !completed) {
        return completed.error();
    }
    return outcome;
}

namespace {

Result<ConvertedTrack> convertWith(const BuildRequest& request, const convert::ConversionSettings& settings,
                                   const PreparedSong& prepared, const base::StagingFolder& staging,
                                   ProgressSink& progress)
{
    ConvertedTrack converted;
    converted.settings = settings;
    converted.states =
        keysound::KeysoundStates(prepared.notes, keysound::stateMerge(settings, request.conversion.song));
    BuildConversionRequest conversionRequest{request.conversion, request.title, request.artist,
                                             std::string(audio::soundFileExtension(request.format)), &converted.states};
    conversionRequest.conversion.settings = settings;
    conversionRequest.conversion.outputFolder = staging.path();
    conversionRequest.conversion.fileSystem = &staging.fileSystem();
    if (request.bgm == BgmMode::Keysounds) {
        converted.background = backgroundKeysounds(prepared, request.conversion.song, settings);
        if (!converted.background.notes.empty()) {
            conversionRequest.lastTick = converted.background.notes.back().tick;
        }
    }
    auto conversion = convertTrackForBuild(conversionRequest, prepared, progress);
    if (!conversion) {
        return conversion.error();
    }
    converted.conversion = std::move(conversion).value();
    return converted;
}

// The codes the keysounds of `converted` take: one per file, the lanes' (whose lengths may round
// to one file name) and the other tracks'.
std::size_t codesNeeded(const ConvertedTrack& converted, std::int32_t ticksPerMeasure)
{
    const auto& keysounds = converted.conversion.keysounds;
    std::set<std::string> stems;
    for (std::size_t k = 0; k < keysounds.size(); ++k) {
        stems.insert(convert::keysoundStem({}, keysounds[k], ticksPerMeasure, keysounds.suffix(k)));
    }
    return stems.size() + converted.background.table.size();
}

bool codesFit(std::size_t codes, const convert::ConversionSettings& settings)
{
    return static_cast<std::int64_t>(codes) <= convert::largestCode(settings.base62) - settings.startValue;
}

// The keysounds of the song as `settings` tell them apart: the lanes' (`lanes`, counted by the
// conversion) and, with BgmMode::Keysounds, the other tracks'.
std::size_t songKeysounds(std::size_t lanes, const BuildRequest& request, const PreparedSong& prepared,
                          const convert::ConversionSettings& settings)
{
    if (request.bgm != BgmMode::Keysounds) {
        return lanes;
    }
    return lanes + backgroundKeysounds(prepared, request.conversion.song, settings).table.size();
}

// The track converted again with the mildest merging of kReliefSteps (never milder than asked)
// under which every file has a base-36 code; nothing when none does, for the caller to refuse
// naming the ways out. Velocities, and levels with them, within a step and lengths within a step
// of 1/192 measure sound alike to a listener. Every step is converted: counting a table merged
// again overcounts, its channel states having been told apart unmerged.
Result<std::optional<ConvertedTrack>> mergedToFit(std::size_t unmerged, const BuildRequest& request,
                                                  const PreparedSong& prepared, const base::StagingFolder& staging,
                                                  ProgressSink& progress)
{
    const auto& asked = request.conversion.settings;
    for (const auto& [velocityStep, lengthStep] : kReliefSteps) {
        auto settings = asked;
        settings.merge = {std::max(velocityStep, asked.merge.velocityStep),
                          std::max(lengthStep, asked.merge.lengthStep)};
        if (settings.merge.velocityStep <= std::max(asked.merge.velocityStep, 1) &&
            settings.merge.lengthStep <= asked.merge.lengthStep) {
            continue;
        }
        auto merged = convertWith(request, settings, prepared, staging, progress);
        if (!merged && merged.error().code == ErrorCode::CodesExhausted) {
            continue;  // the lanes alone still past the last code
        }
        if (!merged) {
            return merged.error();
        }
        if (const std::size_t codes = codesNeeded(*merged, request.conversion.song.ticksPerMeasure);
            codesFit(codes, settings)) {
            merged->mergedKeysounds = unmerged > codes ? unmerged - codes : 0;
            return std::optional<ConvertedTrack>(std::move(merged).value());
        }
    }
    return std::optional<ConvertedTrack>();
}

}  // namespace

// Converts the lanes' track; when its files and the other tracks' need more codes than base 36
// has, converts it again merged to fit (request.mergeToFit). Where nothing fits, the conversion
// as it was (the plan refuses it naming the ways out) or the lanes' own CodesExhausted.
Result<ConvertedTrack> convertForBuild(const BuildRequest& request, const PreparedSong& prepared,
                                       const base::StagingFolder& staging, ProgressSink& progress)
{
    const auto& settings = request.conversion.settings;
    progress.beginStage(ProgressStage::Converting);
    auto converted = convertWith(request, settings, prepared, staging, progress);
    if (settings.bmson || settings.base62 || !request.mergeToFit) {
        return converted;
    }
    const bool lanesExhausted = !converted && converted.error().code == ErrorCode::CodesExhausted;
    if (!converted && !lanesExhausted) {
        return converted;
    }
    std::size_t unmerged = 0;
    if (lanesExhausted) {
        // The conversion stopped at the lanes' count; the other tracks' are counted as asked.
        unmerged =
            songKeysounds(static_cast<std::size_t>(converted.error().number.value_or(0)), request, prepared, settings);
    } else {
        unmerged = codesNeeded(*converted, request.conversion.song.ticksPerMeasure);
        if (codesFit(unmerged, settings)) {
            return converted;
        }
    }
    auto merged = mergedToFit(unmerged, request, prepared, staging, progress);
    if (!merged) {
        return merged.error();
    }
    return *merged ? std::move(**merged) : std::move(converted);
}

}  // namespace zentrowe::workflow

#include "core/workflow/session_state.h"

#include <cassert>
#include <utility>

#include "core/song/chart_file_name.h"

namespace zentrowe::workflow {

void openSong(SongState& state, const std::filesystem::path& midiFile, song::SongSummary summary)
{
    state.stage = SessionStage::SongOpen;
    state.sourceMidiPath = midiFile;
    state.currentMidiPath = midiFile;
    state.chartFileName = song::deriveChartFileName(midiFile.string());
    state.song = std::move(summary);
    state.sourceTicksPerMeasure = state.song.ticksPerMeasure;
    state.cutList.clear();
    state.lastConversion.reset();
}

void finishConversion(SongState& state, ConversionOutcome outcome)
{
    state.stage = SessionStage::Converted;
    state.currentMidiPath = outcome.keysoundMidiPath;
    state.song = outcome.keysoundSong;
    state.sourceTicksPerMeasure = outcome.sourceTicksPerMeasure;
    state.cutList = outcome.cuts;
    state.lastConversion = std::move(outcome);
}

void returnToSource(SongState& state, song::SongSummary summary)
{
    state.stage = SessionStage::SongOpen;
    state.currentMidiPath = state.sourceMidiPath;
    state.song = std::move(summary);
    state.sourceTicksPerMeasure = state.song.ticksPerMeasure;
    state.lastConversion.reset();
}

ConversionRequest conversionRequest(const SongState& state, int trackNumber, convert::ConversionSettings settings)
{
    ConversionRequest request;
    request.sourceMidiPath = state.sourceMidiPath;
    request.song = state.song;
    request.chartFileName = state.chartFileName;
    request.outputFolder = state.outputFolder;
    request.trackNumber = trackNumber;
    request.settings = std::move(settings);
    return request;
}

ConversionRequest conversionRequest(const SongState& state, std::span<const song::TrackPart> parts,
                                    convert::ConversionSettings settings)
{
    assert(!parts.empty());
    ConversionRequest request = conversionRequest(state, parts.front().trackNumber, std::move(settings));
    request.channel = parts.front().channel;
    request.moreParts.assign(parts.begin() + 1, parts.end());
    return request;
}

CutPlanRequest cutPlanRequest(const SongState& state, std::filesystem::path recording,
                              std::optional<std::string> keysoundName, keysound::LeadIn leadIn)
{
    assert(state.lastConversion);
    CutPlanRequest request{std::move(recording), std::cref(*state.lastConversion), std::move(keysoundName), leadIn,
                           state.outputFolder};
    return request;
}

}  // namespace zentrowe::workflow

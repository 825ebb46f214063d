#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/audio/chart_mixer.h"
#include "core/audio/render_pool.h"
#include "core/audio/synth_renderer.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::workflow {

struct PreviewRequest {
    std::filesystem::path chartPath;
    std::filesystem::path outputPath;  // ".wav" or ".ogg", any case
    double fromSeconds = 0;            // counted from the chart's start, or from its first sound:
    bool fromFirstSound = false;
    // A start past the chart's last sound moves back to it: for a start given in the song's time,
    // which the chart's tempos (written to a few decimals) may place a little after its end.
    bool atMostLastSound = false;
    std::optional<double> lengthSeconds;  // to the end of the last sound when absent
    double fadeInSeconds = 0;
    double fadeOutSeconds = 0;
    unsigned jobs = 0;  // threads reading keysound files; 0: one per core
    // Sounds played from memory instead of the chart's folder (those it does not hold are read
    // from there); must outlive the call.
    const audio::HeldSounds* held = nullptr;
    // Where a keysound file the folder lacks is looked for next (audio::MixOptions::fallbackFolder).
    std::filesystem::path fallbackFolder;
    // Writes the OGG preview's mix instead of audio::writePreviewFile (as it would encode it):
    // for a build that keeps what it encoded. Empty: writePreviewFile.
    audio::SoundWriter oggWriter;
};

struct PreviewOutcome {
    std::vector<std::string> missingKeysounds;  // as the mixer lists them
    // Mixed only as far as kLongestSoundSeconds, as the mixer lists them.
    std::vector<std::string> cutShortKeysounds;
    std::vector<chart::ChartProblem> chartProblems;
    double seconds = 0;  // length of the file written
};

// What a chart folder gets beside its chart, for players to play while choosing: "preview.ogg",
// kFolderPreviewSeconds from the first sound, faded in over 1 second and out over 2.
PreviewRequest folderPreviewRequest(const std::filesystem::path& chartPath);

// How long a folder's preview plays, in seconds.
inline constexpr double kFolderPreviewSeconds = 20;

// Where the song is at its fullest for a preview of `lengthSeconds`: the start, in seconds of the
// events' own timeline (frames at audio::kSampleRate), of the window that begins at a Note On and
// holds the most notes, each counted by its velocity squared (as its loudness goes), so a loud
// chorus outweighs a quiet intro of as many notes. No window ends more than 2 s after the last
// note starts, so a song of the window's length or more fills it. The earliest of equal windows;
// 0 without notes.
double hookStartSeconds(std::span<const audio::TimedEvent> events, double lengthSeconds);

// Reads the chart, mixes it from the keysound files beside it and writes the mix. Progress counts
// keysound files read. InvalidSetting for an output name that is neither ".wav" nor ".ogg" (with
// nothing read) or for a start or length the mixer refuses; CannotOpen if the chart cannot be
// read; WouldOverwriteSource (nothing written) if the output is the chart or a file it names;
// MixTooLong; WriteFailed if the output cannot be written; Cancelled (polled while reading,
// mixing and encoding; nothing is left behind). A chart with bad lines or missing
// keysounds is still mixed; the outcome lists both.
Result<PreviewOutcome> writeChartPreview(const PreviewRequest& request, ProgressSink& progress);

// As writeChartPreview, of a chart already in memory and placed in time, its keysound files in
// `folder` (or request.held): nothing is read but the sounds. request.chartPath only names the
// chart in a refusal; the output is not checked against the chart's files (the caller writes
// where no keysound lies). chartProblems is left empty.
Result<PreviewOutcome> writeTimedChartPreview(const chart::TimedChart& chart, const std::filesystem::path& folder,
                                              const PreviewRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow

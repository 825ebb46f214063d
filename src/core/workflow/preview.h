#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::workflow {

struct PreviewRequest {
    std::filesystem::path chartPath;
    std::filesystem::path outputPath;  // ".wav" or ".ogg", any case
    double fromSeconds = 0;            // counted from the chart's start, or from its first sound:
    bool fromFirstSound = false;
    std::optional<double> lengthSeconds;  // to the end of the last sound when absent
    double fadeInSeconds = 0;
    double fadeOutSeconds = 0;
    unsigned jobs = 0;  // threads reading keysound files; 0: one per core
};

struct PreviewOutcome {
    std::vector<std::string> missingKeysounds;  // as the mixer lists them
    std::vector<chart::ChartProblem> chartProblems;
    double seconds = 0;  // length of the file written
};

// What a chart folder gets beside its chart, for players to play while choosing: "preview.ogg",
// 20 seconds from the first sound, faded in over 1 second and out over 2.
PreviewRequest folderPreviewRequest(const std::filesystem::path& chartPath);

// Reads the chart, mixes it from the keysound files beside it and writes the mix. Progress counts
// keysound files read. InvalidSetting for an output name that is neither ".wav" nor ".ogg" (with
// nothing read) or for a start or length the mixer refuses; CannotOpen if the chart cannot be
// read; WouldOverwriteSource (nothing written) if the output is the chart or a file it names;
// MixTooLong; WriteFailed if the output cannot be written; Cancelled (polled while reading,
// mixing and encoding; nothing is left behind). A chart with bad lines or missing
// keysounds is still mixed; the outcome lists both.
Result<PreviewOutcome> writeChartPreview(const PreviewRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow

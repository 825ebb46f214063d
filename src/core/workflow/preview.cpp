#include "core/workflow/preview.h"

#include "core/audio/chart_mixer.h"
#include "core/audio/preview_writer.h"
#include "core/base/file_error.h"

namespace zentrowe::workflow {

namespace {

constexpr double kFolderPreviewSeconds = 20;
constexpr double kFolderPreviewFadeInSeconds = 1;
constexpr double kFolderPreviewFadeOutSeconds = 2;

}  // namespace

PreviewRequest folderPreviewRequest(const std::filesystem::path& chartPath)
{
    PreviewRequest request;
    request.chartPath = chartPath;
    request.outputPath = chartPath.parent_path() / "preview.ogg";
    request.fromFirstSound = true;
    request.lengthSeconds = kFolderPreviewSeconds;
    request.fadeInSeconds = kFolderPreviewFadeInSeconds;
    request.fadeOutSeconds = kFolderPreviewFadeOutSeconds;
    return request;
}

Result<PreviewOutcome> writeChartPreview(const PreviewRequest& request, ProgressSink& progress)
{
    const auto format = audio::previewFormatOf(request.outputPath);
    if (!format) {
        return Error{ErrorCode::InvalidSetting,
                     displayPath(request.outputPath) + ": a preview is written as .wav or .ogg"};
    }
    auto chart = chart::readBmsChartFile(request.chartPath);
    if (!chart) {
        return chart.error();
    }
    audio::MixOptions options;
    options.fromSeconds = request.fromSeconds + (request.fromFirstSound ? chart::firstSoundSeconds(*chart) : 0);
    options.lengthSeconds = request.lengthSeconds;
    options.threads = request.jobs;
    const auto folder = request.chartPath.has_parent_path() ? request.chartPath.parent_path()
                                                            : std::filesystem::path(".");
    auto mix = audio::mixChart(*chart, folder, options, progress);
    if (!mix) {
        return mix.error();
    }
    audio::applyFades(mix->sound, request.fadeInSeconds, request.fadeOutSeconds);
    if (auto written = audio::writePreviewFile(request.outputPath, mix->sound, *format); !written) {
        return written.error();
    }
    PreviewOutcome outcome;
    outcome.missingKeysounds = std::move(mix->missing);
    outcome.chartProblems = std::move(chart->problems);
    outcome.seconds = static_cast<double>(mix->sound.frames()) / mix->sound.sampleRate;
    return outcome;
}

}  // namespace zentrowe::workflow

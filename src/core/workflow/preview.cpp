#include "core/workflow/preview.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/audio/chart_mixer.h"
#include "core/audio/keysound_finder.h"
#include "core/audio/preview_writer.h"
#include "core/base/file_error.h"
#include "core/base/same_file.h"
#include "core/chart/chart_file.h"
#include "core/workflow/conversion.h"

namespace zentrowe::workflow {

namespace {

constexpr double kFolderPreviewFadeInSeconds = 1;
constexpr double kFolderPreviewFadeOutSeconds = 2;
// How long the last notes of a song are let sound at the end of a preview from its hook.
constexpr double kHookTailSeconds = 2;

// The preview must not replace what it is mixed from: the chart, or a file the chart names,
// whether by the name written, the file the finder would take for it, or another link to it.
Status refuseOverwritingInputs(const std::filesystem::path& output, const std::filesystem::path& chartPath,
                               const chart::TimedChart& chart, const std::filesystem::path& folder)
{
    const auto refused = [&](const std::string& what) {
        return Error{ErrorCode::WouldOverwriteSource,
                     displayPath(output) + ": is " + what + "; write the preview elsewhere"}
            .inFile(displayPath(output));
    };
    if (isSameFile(output, chartPath)) {
        return refused("the chart itself");
    }
    audio::KeysoundFinder finder(folder);
    for (const auto& name : chart.keysoundNames) {
        if (name.empty()) {
            continue;
        }
        const auto found = finder.find(name);
        if ((found && *found && isSameFile(output, **found)) || (found && isSameFile(output, folder / name))) {
            return refused("the keysound \"" + name + "\" of the chart");
        }
    }
    return {};
}

}  // namespace

double hookStartSeconds(std::span<const audio::TimedEvent> events, double lengthSeconds)
{
    std::vector<std::pair<std::int64_t, double>> notes;  // frame, weight
    for (const auto& event : events) {
        if ((event.status & 0xF0) == 0x90 && event.data2 != 0) {
            const double velocity = std::min<double>(event.data2, 127) / 127;
            notes.emplace_back(event.frame, velocity * velocity);
        }
    }
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto window = static_cast<std::int64_t>(lengthSeconds * audio::kSampleRate);
    // A preview that runs past the song's end would be short or end in silence: no window starts
    // later than one that ends kHookTailSeconds after the last note starts.
    const auto tail = static_cast<std::int64_t>(kHookTailSeconds * audio::kSampleRate);
    const std::int64_t latestStart =
        notes.empty() ? 0 : std::max(notes.front().first, notes.back().first - window + tail);
    double best = -1;
    std::int64_t bestFrame = 0;
    double inWindow = 0;
    std::size_t end = 0;
    for (std::size_t first = 0; first < notes.size(); ++first) {
        if (first > 0 && notes[first].first == notes[first - 1].first) {
            inWindow -= notes[first].second;
            continue;  // a window starts at a time, not at each note of a chord
        }
        while (end < notes.size() && notes[end].first < notes[first].first + window) {
            inWindow += notes[end++].second;
        }
        // Sums compared with a little slack, so that rounding never prefers a later window.
        if (inWindow > best + 1e-9 && notes[first].first <= latestStart) {
            best = inWindow;
            bestFrame = notes[first].first;
        }
        inWindow -= notes[first].second;
    }
    return static_cast<double>(bestFrame) / audio::kSampleRate;
}

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
    if (!audio::previewFormatOf(request.outputPath)) {
        return Error{ErrorCode::InvalidSetting,
                     displayPath(request.outputPath) + ": a preview is written as .wav or .ogg"};
    }
    auto chart = chart::readChartFile(request.chartPath);
    if (!chart) {
        return chart.error();
    }
    const auto folder =
        request.chartPath.has_parent_path() ? request.chartPath.parent_path() : std::filesystem::path(".");
    if (auto clash = refuseOverwritingInputs(request.outputPath, request.chartPath, *chart, folder); !clash) {
        return clash.error();
    }
    auto outcome = writeTimedChartPreview(*chart, folder, request, progress);
    if (outcome) {
        outcome->chartProblems = std::move(chart->problems);
    }
    return outcome;
}

Result<PreviewOutcome> writeTimedChartPreview(const chart::TimedChart& chart, const std::filesystem::path& folder,
                                              const PreviewRequest& request, ProgressSink& progress)
{
    const auto format = audio::previewFormatOf(request.outputPath);
    if (!format) {
        return Error{ErrorCode::InvalidSetting,
                     displayPath(request.outputPath) + ": a preview is written as .wav or .ogg"};
    }
    audio::MixOptions options;
    options.fromSeconds = request.fromSeconds + (request.fromFirstSound ? chart::firstSoundSeconds(chart) : 0);
    if (request.atMostLastSound) {
        options.fromSeconds = std::min(options.fromSeconds, chart::lastSoundSeconds(chart));
    }
    options.lengthSeconds = request.lengthSeconds;
    options.threads = request.jobs;
    options.held = request.held;
    options.fallbackFolder = request.fallbackFolder;
    auto mix = audio::mixChart(chart, folder, options, progress);
    if (!mix) {
        return mix.error();
    }
    if (mix->filesRead == 0 && !mix->missing.empty()) {
        // Nothing to hear: a silent file would pass for a preview of the chart.
        const auto count = mix->missing.size();
        const std::string what = count == 1 ? "the chart's one keysound file could not be read (" + mix->missing.front()
                                            : "none of the chart's " + std::to_string(count) +
                                                  " keysound files could be read (the first: " + mix->missing.front();
        return Error{ErrorCode::CannotOpen, displayPath(request.chartPath) + ": " + what + "); no preview was written"}
            .inFile(displayPath(request.chartPath))
            .about("read");
    }
    audio::applyFades(mix->sound, request.fadeInSeconds, request.fadeOutSeconds);
    const bool ownWriter =
        request.oggWriter && *format == audio::PreviewFormat::Ogg && mix->sound.sampleRate == audio::kSampleRate;
    if (auto written = ownWriter ? request.oggWriter(request.outputPath, mix->sound.samples)
                                 : audio::writePreviewFile(request.outputPath, mix->sound, *format, progress);
        !written) {
        return written.error();
    }
    PreviewOutcome outcome;
    outcome.missingKeysounds = std::move(mix->missing);
    outcome.cutShortKeysounds = std::move(mix->cutShort);
    outcome.seconds = static_cast<double>(mix->sound.frames()) / mix->sound.sampleRate;
    return outcome;
}

}  // namespace zentrowe::workflow

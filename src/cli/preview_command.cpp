#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/audio/sound_file_reader.h"
#include "core/base/file_error.h"
#include "core/base/number_text.h"
#include "core/base/utf8_path.h"
#include "core/workflow/preview.h"

namespace zentrowe::cli {

namespace {

// A finite number of seconds, 0 or more (above 0 when `positive`). Not CLI's own range checks:
// they print their bound, the largest double, in 300 digits, and let "nan" pass.
CLI::Validator secondsValidator(std::string option, bool positive)
{
    return CLI::Validator(
        [option, positive](std::string& text) {
            const auto value = parseDecimal(text);
            return value && (positive ? *value > 0 : *value >= 0)
                       ? std::string()
                       : option + " " + text + " is not a number of seconds " + (positive ? "above 0" : "from 0 up");
        },
        positive ? "above 0" : "0 or more");
}

// The chart's problems, missing keysounds and cut-short sounds as warnings, then the file written.
int reportPreview(const workflow::PreviewRequest& request, const workflow::PreviewOutcome& outcome)
{
    const std::string chartName = displayPath(request.chartPath);
    for (const auto& problem : outcome.chartProblems) {
        reportWarning(chartName + ": line " + std::to_string(problem.line) + ": " + problem.message);
    }
    for (const auto& missing : outcome.missingKeysounds) {
        reportWarning("missing keysound: " + missing);
    }
    for (const auto& name : outcome.cutShortKeysounds) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.0f s", audio::kLongestSoundSeconds);
        reportWarning(name + ": lasts " + seconds + " or more; the mix plays only its first " + seconds);
    }
    Output out;
    out.write("wrote " + displayPath(request.outputPath) + " (" + fixedText(outcome.seconds, 3) + " s)\n");
    if (!outcome.missingKeysounds.empty()) {
        out.write(std::to_string(outcome.missingKeysounds.size()) + " keysound files missing\n");
    }
    return out.finishWithExitCode();
}

struct PreviewOptions {
    std::string chart;
    std::string out;
    double from = 0;
    double length = 0;
    unsigned jobs = 0;
};

int runPreview(const PreviewOptions& options, bool lengthGiven)
{
    workflow::PreviewRequest request;
    request.chartPath = utf8Path(options.chart);
    request.outputPath = utf8Path(options.out);
    request.fromSeconds = options.from;
    request.jobs = options.jobs;
    if (lengthGiven) {
        request.lengthSeconds = options.length;
    }
    auto outcome = runStoppable("read", "keysounds",
                                [&](ProgressSink& stop) { return workflow::writeChartPreview(request, stop); });
    if (const auto stopped = SignalStop::exitCodeIfStopped()) {
        return *stopped;
    }
    if (!outcome) {
        reportError(outcome.error().message);
        return outcome.error().code == ErrorCode::InvalidSetting ? kExitUsage : kExitBadInput;
    }
    return reportPreview(request, *outcome);
}

}  // namespace

Command addPreviewCommand(CLI::App& app)
{
    auto options = std::make_shared<PreviewOptions>();
    Command command;
    command.app =
        app.add_subcommand("preview", "Mix a BMS chart from the keysound files beside it into one sound file");
    auto* sub = command.app;
    sub->add_option("CHART", options->chart, "any BMS chart")->required();
    sub->add_option("--out", options->out, "the mix, FILE.ogg or FILE.wav")->required();
    sub->add_option("--from", options->from, "chart time in seconds where the mix starts")
        ->check(secondsValidator("--from", false))
        ->type_name("SECONDS");
    sub->add_option("--length", options->length, "seconds to mix (default: to the end of the last sound)")
        ->check(secondsValidator("--length", true))
        ->type_name("SECONDS");
    sub->add_option("--jobs", options->jobs, "threads reading keysound files (default: one per core, at most 8)")
        ->check(CLI::Range(1u, 8u));
    command.run = [options, sub] { return runPreview(*options, sub->count("--length") > 0); };
    return command;
}

}  // namespace zentrowe::cli

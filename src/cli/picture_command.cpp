#include <algorithm>

#include "app/picture/picture_file.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/base/file_error.h"
#include "core/chart/chart_file.h"
#include "core/chart/chart_score.h"
#include "core/workflow/picture_plan.h"

namespace zentrowe::cli {

namespace {

int drawPicture(const std::filesystem::path& chart, const std::filesystem::path& out)
{
    const auto score = chart::readChartScore(chart);
    if (!score) {
        reportError(score.error().message);
        return kExitBadInput;
    }
    if (auto written = picture::writeChartPicture(*score, out); !written) {
        reportError(displayPath(chart) + ": " + written.error().message);
        return kExitBadInput;
    }
    return kExitDone;
}

}  // namespace

Command addPictureCommand(CLI::App& app)
{
    struct Options {
        std::string chart;
        std::string out;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("picture", "Draw a chart as a PNG picture: its measures, notes and tempo changes");
    command.app->add_option("CHART", options->chart, "BMS or bmson chart, or a folder: every chart in it")->required();
    command.app->add_option("--out", options->out, "PNG file to write; for a folder, the folder to write into")
        ->required();
    command.run = [options] {
        if (refuseEmpty(options->out, "--out")) {
            return kExitUsage;
        }
        const auto pictures = workflow::planPictures(options->chart, options->out);
        if (!pictures) {
            reportError(pictures.error().message);
            return kExitBadInput;
        }
        if (pictures->size() > 1 || pictures->front().chart != options->chart) {
            std::error_code error;
            std::filesystem::create_directories(options->out, error);
        }
        int exitCode = kExitDone;
        for (const auto& picture : *pictures) {
            exitCode = std::max(exitCode, drawPicture(picture.chart, picture.picture));
        }
        return exitCode;
    };
    return command;
}

}  // namespace zentrowe::cli

#include <algorithm>

#if ZENTROWE_WITH_PICTURE
#include "app/picture/picture_file.h"
#endif
#include "cli/commands.h"
#include "cli/output.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/chart/chart_file.h"
#include "core/chart/chart_score.h"
#include "core/workflow/picture_plan.h"

namespace zentrowe::cli {

namespace {

#if ZENTROWE_WITH_PICTURE
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

// Every picture asked for; the worst exit code of them.
int drawPictures(const std::filesystem::path& chartOrFolder, const std::filesystem::path& out)
{
    const auto pictures = workflow::planPictures(chartOrFolder, out);
    if (!pictures) {
        reportError(pictures.error().message);
        return kExitBadInput;
    }
    if (pictures->size() > 1 || pictures->front().chart != chartOrFolder) {
        std::error_code error;
        std::filesystem::create_directories(out, error);
    }
    int exitCode = kExitDone;
    for (const auto& picture : *pictures) {
        exitCode = std::max(exitCode, drawPicture(picture.chart, picture.picture));
    }
    return exitCode;
}
#else
// The picture is drawn with Qt's painter, which a build without Qt leaves out.
int drawPictures(const std::filesystem::path&, const std::filesystem::path&)
{
    reportError("picture needs Qt 6, which this zentrowe-cli was built without: configure it with "
                "-DZENTROWE_WITH_QT=ON (the default) and Qt 6 installed (scripts/install-deps)");
    return kExitBadInput;
}
#endif

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
        return drawPictures(utf8Path(options->chart), utf8Path(options->out));
    };
    return command;
}

}  // namespace zentrowe::cli

#include "core/workflow/picture_plan.h"

#include <algorithm>
#include <map>
#include <string>
#include <system_error>

#include "core/base/file_error.h"
#include "core/base/text_decoding.h"
#include "core/chart/chart_file.h"
#include "core/workflow/chart_inputs.h"

namespace zentrowe::workflow {

namespace {

namespace fs = std::filesystem;

// Every chart of the folder with its picture in `out`, named by stem unless two charts share
// one (compared without case, as the pictures would be on Windows).
std::vector<PictureToDraw> folderPictures(const fs::path& folder, const fs::path& out)
{
    const std::vector<fs::path> charts = chartsInFolder(folder);
    std::map<std::string, int> stems;
    for (const auto& chart : charts) {
        ++stems[lowerAscii(chart.stem().string())];
    }
    std::vector<PictureToDraw> pictures;
    for (const auto& chart : charts) {
        const bool shared = stems[lowerAscii(chart.stem().string())] > 1;
        const fs::path name = shared ? fs::path(chart.filename().string() + ".png")
                                     : fs::path(chart.filename()).replace_extension(".png");
        pictures.push_back({chart, out / name});
    }
    return pictures;
}

}  // namespace

Result<std::vector<PictureToDraw>> planPictures(const fs::path& target, const fs::path& out)
{
    std::error_code error;
    const bool folder = fs::is_directory(target, error);
    const auto pictures = folder ? folderPictures(target, out) : std::vector<PictureToDraw>{{target, out}};
    if (pictures.empty()) {
        return Error{ErrorCode::CannotOpen, displayPath(target) + ": the folder holds no BMS or bmson chart to draw"}
            .inFile(displayPath(target))
            .about("chart");
    }
    const fs::path chartFolder = folder ? target : target.has_parent_path() ? target.parent_path() : fs::path(".");
    auto inputs = folderInputs(chartFolder);
    inputs.push_back({target, "the chart " + displayPath(target.filename())});  // whatever its name
    for (const auto& picture : pictures) {
        if (auto refused =
                refuseOverwritingInput(picture.picture, inputs, "nothing was drawn; write the pictures elsewhere");
            !refused) {
            return refused.error();
        }
    }
    return pictures;
}

}  // namespace zentrowe::workflow

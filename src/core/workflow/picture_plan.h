#pragma once

#include <filesystem>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::workflow {

// One chart and the picture file drawn of it.
struct PictureToDraw {
    std::filesystem::path chart;
    std::filesystem::path picture;
};

// The pictures `picture` draws of `target` into `out`: the chart and `out` itself; or, for a
// folder, every chart in it in name order, each as "<stem>.png" in the folder `out`, or as
// "<name>.png" ("a.bms.png", "a.bmson.png") where two charts share a stem. CannotOpen naming the
// folder if it holds no chart; WouldOverwriteSource (nothing drawn) if a picture would replace a
// chart of the charts' folder or a file any of them names.
Result<std::vector<PictureToDraw>> planPictures(const std::filesystem::path& target, const std::filesystem::path& out);

}  // namespace zentrowe::workflow

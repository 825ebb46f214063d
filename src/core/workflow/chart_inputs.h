#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::workflow {

// A file the charts of a folder read, and how a refusal names it.
struct ChartInput {
    std::filesystem::path path;
    std::string what;  // "the chart song.bms", "\"stage.png\", which song.bms names"
};

// The regular files of `folder` whose names chart::isChartPath takes, in name order;
// none for a folder that cannot be read.
std::vector<std::filesystem::path> chartsInFolder(const std::filesystem::path& folder);

// The charts of `folder` (every BMS or bmson file in it) and every file each names on any branch
// of its #RANDOM blocks: as players find it, and as the chart spells it, there or not (a file
// written under that name would be the one played). A chart that cannot be read is an input
// naming nothing; never fails.
std::vector<ChartInput> folderInputs(const std::filesystem::path& folder);

// WouldOverwriteSource naming `target` and the input, ending in `advice`, if writing `target`
// would replace one of `inputs`: the same file under any name or link, or a name beside it
// that differs only in ASCII case (one file on Windows and macOS).
Status refuseOverwritingInput(const std::filesystem::path& target, const std::vector<ChartInput>& inputs,
                              std::string_view advice);

}  // namespace zentrowe::workflow

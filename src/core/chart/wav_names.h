#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::chart {

// The name of every "#WAVxx name" line of a BMS chart, in file order, read in blocks with only
// those lines kept, so a chart of any size costs little memory. Lines are told apart as the chart
// reader tells them: "#wav01" is "#WAV01", blanks around the name are not part of it. CannotOpen
// naming the file if it cannot be read or is not a regular file; InvalidSetting for a NUL byte
// (the file is no chart: a huge sparse file is refused after its first block) or for a command
// starting "#WAV" that is not "#WAVxx name" (naming the chart and the line).
Result<std::vector<std::string>> readWavNames(const std::filesystem::path& chart);

}  // namespace zentrowe::chart

#pragma once

#include <filesystem>

#include "core/base/result.h"
#include "core/chart/chart_score.h"

// No Qt type here: the command line draws through this header, without a window.
namespace zentrowe::picture {

// Draws the score (see drawChartPicture) and writes it as a PNG file through a temporary file
// beside `out`. Without a QGuiApplication, one on Qt's offscreen platform is made for the call,
// so that no display is needed. InvalidSetting for a chart too long for one picture; WriteFailed
// naming `out` if it cannot be written.
Status writeChartPicture(const chart::ChartScore& score, const std::filesystem::path& out);

}  // namespace zentrowe::picture

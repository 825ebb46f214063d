#pragma once

#include <QImage>
#include <QString>

#include "core/chart/chart_score.h"

namespace zentrowe::picture {

// The largest picture drawn, in pixels a side: a chart whose measures would need more (a bmson
// chart of a hundred thousand measures) is refused rather than drawn into gigabytes.
inline constexpr int kLargestSide = 30000;

// Draws a chart as players' score viewers show one: its measures stacked bottom to top in
// columns read left to right, the scratch and seven keys (and the second player's, if the chart
// uses them) with notes and long notes coloured by key, measure numbers, tempo changes, and a
// graph of notes per second along the bottom. A null image if the picture would be larger than
// kLargestSide a side. Needs a QGuiApplication (for its fonts).
QImage drawChartPicture(const chart::ChartScore& score);

}  // namespace zentrowe::picture

#pragma once

#include "core/chart/chart_model.h"

namespace zentrowe::chart {

// Writes every line of `chart` with the fewest slots that still place its objects exactly: BMS
// lets a line hold any number of slots, and one whose objects all lie on every g-th slot says the
// same with slotCount / g of them ("#00111:0000AB00" is "#00111:00AB"), so a chart placed at the
// song's own ticks stays as short as its rhythm allows. Before that, the lines of one measure and
// channel other than the background channel (whose lines are layers that all sound) become one
// where each slot count divides the largest of them; an object at a place an earlier of those
// lines holds replaces it, as players read lines in order. Blank lines after a line taken into
// another follow the line before it. A line without objects keeps one slot.
void fitLineSlots(Chart& chart);

}  // namespace zentrowe::chart

#pragma once

#include <cstddef>
#include <set>
#include <span>
#include <string>

#include "core/chart/chart_model.h"

namespace zentrowe::chart {

// True for the channels whose objects play a keysound code: the background channel, the visible
// and invisible lanes of both sides and their long-note channels (11 to 69). Tempo, stop and
// measure-length channels hold codes of their own lists.
constexpr bool holdsKeysoundCode(int channel)
{
    return channel == kBackgroundChannel || (channel >= 11 && channel <= 69);
}

// The names of the files the objects of `chart` play, as its definitions name them.
std::set<std::string> placedFileNames(const Chart& chart);

// Numbers the keysound codes of charts that share their sound files (the charts of one set), so
// that a file has one code, the same in every chart, and only a file some chart places has one:
// codes from `firstCode` on, one per distinct file name placed, in the order of the files' first
// definitions (the first chart's first). A chart's definitions become exactly the files it places
// (a file defined but never placed is dropped; players and checkers read codes without case or
// not at all, and a file under two codes is two sounds to them). An object whose code no
// definition names is left out. Every other part of the charts stays as it was. Returns the
// number of codes given.
std::size_t numberCodesByFile(std::span<Chart* const> charts, ChartCode firstCode);

}  // namespace zentrowe::chart

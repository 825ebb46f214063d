#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/chart/chart_model.h"
#include "core/chartset/chart_set.h"
#include "core/convert/keysound_table.h"
#include "core/song/song_summary.h"

namespace zentrowe::chartset {

// The charts a build writes: makeChartSet's one set when request.partSets is empty, else one set
// per part of it, each made as makeChartSet makes a set whose chosen part is that part alone
// (following the music into the other parts where it rests, when request.follow). Every chart of
// every set plays every object of `converted` once, from its lanes or the background, with the
// same keysound definitions, so the sets share their sound files. A set's charts are named
// "NAME_TAG_X.bms" (partChartFileName) and their #SUBTITLE starts with the part's name.
std::vector<SetChart> makePartSets(const chart::Chart& converted, const convert::KeysoundTable& keysounds,
                                   const song::SongSummary& song, std::string_view chartFileName,
                                   const ChartSetRequest& request, bool percussion);

// The conversion's chart name a part's set is named after: "song.bms" and tag "4" give
// "song_4.bms" (its charts "song_4_N.bms" ...).
std::string partChartFileName(std::string_view chartFileName, std::string_view tag);

}  // namespace zentrowe::chartset

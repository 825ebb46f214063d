#pragma once

#include <string>

#include "core/base/atomic_file_writer.h"
#include "core/base/result.h"
#include "core/chart/chart_model.h"

namespace zentrowe::chart {

// The bmson lane of a lane channel: 11 to 15 are lanes 1 to 5, 18 lane 6, 19 lane 7 and 16 the
// scratch, lane 8; the second player's channels 21..29 the same lanes plus 8. 0 for the
// background channel.
int bmsonLane(int channel);

// A chart whose header says "#PLAYER 3" plays both sides: its bmson mode_hint is "beat-14k"
// (lanes 1-16), any other "beat-7k".
inline constexpr int kBmsonDoublePlayPlayer = 3;

// bmson's judge_rank is the timing window in percent of the normal one (100), where BMS's #RANK
// names it 0 (very hard) to 4 (very easy): the windows players give #RANK 0..3 stand about as
// 1:2:3:4, NORMAL being 3, so 33, 67, 100, 133 and 167. A #RANK outside 0..4 gives 100.
int bmsonJudgeRank(int bmsRank);

// bmson's total is relative, in percent of the gauge the player itself gives the chart's notes:
// 100 asks for the player's own, where a BMS #TOTAL (160, 300) is the gauge's whole rise.
inline constexpr int kBmsonPlayersOwnTotal = 100;

// The chart as bmson 1.0.0 JSON, every time in ticks of header.resolution per quarter note: a
// bar line at every measure up to the end of the last one holding a note, the tempo changes and
// stops in time order, and one sound channel per keysound definition (named by its file) whose
// notes are in start order, a long note holding until its end. The info block has the title,
// subtitle, artist, genre, level (#PLAYLEVEL), preview_music (#PREVIEW), init_bpm, resolution,
// judge_rank and total that are known. Text is UTF-8: bytes of a name that are not UTF-8 become
// U+FFFD, one for each broken-off sequence or stray byte.
std::string bmsonText(const Chart& chart);

// bmsonText into a file being written.
Status writeBmson(const Chart& chart, AtomicFileWriter& file);

}  // namespace zentrowe::chart

#pragma once

#include <string>
#include <string_view>

namespace zentrowe::song {

// The chart's file name for a MIDI file: its base name (the text after the last "/" or "\")
// up to the last ".mid" in any letter case, keeping the name's own case, plus ".bms".
// "C:\songs\My Song.MID" gives "My Song.bms"; "v1.midi" gives "v1.bms" (the last ".mid" may sit
// inside a longer extension). A name without ".mid" gets ".bms" appended whole:
// "song.kar" gives "song.kar.bms".
std::string deriveChartFileName(std::string_view path);

}  // namespace zentrowe::song

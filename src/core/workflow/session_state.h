#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/keysound/keysound_cuts.h"
#include "core/song/song_summary.h"

namespace zentrowe::workflow {

// The song the user works on, owned by whoever drives the workflow (the window or the command
// line) and handed to each pass. Opening a file, going back to it, and reading back the keysound
// file after a conversion replace its fields.
struct SongState {
    std::filesystem::path sourceMidiPath;   // the file the user opened
    std::filesystem::path currentMidiPath;  // the file listed now: the source or the keysound file
    std::string chartFileName;              // deriveChartFileName(sourceMidiPath)
    std::filesystem::path outputFolder;     // where every output goes
    song::SongSummary song;                 // summary of currentMidiPath
    // The source song's ticks per measure, kept when the keysound file replaces it; names the
    // cut files' lengths.
    std::int32_t sourceTicksPerMeasure = 0;
    keysound::CutList cutList;              // from the last read-back
};

}  // namespace zentrowe::workflow

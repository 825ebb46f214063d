#include "core/convert/track_note.h"

#include <algorithm>

namespace zentrowe::convert {

double playingSeconds(std::span<const TrackNote> notes, const song::TempoClock& clock)
{
    if (notes.empty()) {
        return 1.0;
    }
    std::int64_t lastEnd = notes.front().startTick;
    for (const TrackNote& note : notes) {
        lastEnd = std::max({lastEnd, note.startTick, note.endTick});
    }
    return std::max(1.0, clock.seconds(lastEnd) - clock.seconds(notes.front().startTick));
}

}  // namespace zentrowe::convert

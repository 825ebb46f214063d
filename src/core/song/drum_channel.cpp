#include "core/song/drum_channel.h"

#include "core/base/progress.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

namespace {

constexpr std::uint8_t kDrumChannelIndex = 9;

// Counts a track's sounding notes on the drum channel and on the others.
class DrumChannelCount final {
public:
    void onEvent(std::int64_t, std::uint32_t, const ChannelEvent& event)
    {
        if (event.kind() == 0x90 && event.data2 != 0) {
            ++(event.channel() == kDrumChannelIndex ? drumNotes : otherNotes);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) {}
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) {}

    std::int64_t drumNotes = 0;
    std::int64_t otherNotes = 0;
};

}  // namespace

bool allNotesOnDrumChannel(std::span<const std::uint8_t> file, const SongSummary& song, int trackNumber)
{
    if (trackNumber < 1 || trackNumber > static_cast<int>(song.tracks.size())) {
        return false;
    }
    DrumChannelCount count;
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    walkTrack(file, song.tracks[static_cast<std::size_t>(trackNumber - 1)].location, count, throttle);
    return count.drumNotes > 0 && count.otherNotes == 0;
}

}  // namespace zentrowe::song

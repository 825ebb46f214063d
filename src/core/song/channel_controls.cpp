#include "core/song/channel_controls.h"

#include <algorithm>

#include "core/base/progress.h"

namespace zentrowe::song {

namespace {

bool isNote(const ChannelEvent& event)
{
    return event.kind() == 0x80 || event.kind() == 0x90 || event.kind() == 0xA0;
}

struct ReachWalk {
    TrackReach& reach;

    void onEvent(std::int64_t time, std::uint32_t, const ChannelEvent& event)
    {
        reach.lastTick = std::max(reach.lastTick, time);
        reach.channels[event.channel()] = reach.channels[event.channel()] || event.kind() == 0x90;
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }
};

struct ControlsWalk {
    const TrackReach& reach;
    std::size_t track;
    std::vector<PlacedControl>& out;

    void onEvent(std::int64_t time, std::uint32_t, const ChannelEvent& event)
    {
        if (time <= reach.lastTick && reach.channels[event.channel()] && event.status >= 0x80 && event.status < 0xF0 &&
            !isNote(event)) {
            out.push_back({time, track, event});
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }
};

}  // namespace

TrackReach reachOf(SongSource file, const SongSummary& song, const std::function<bool(std::size_t)>& tracks)
{
    TrackReach reach;
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    for (std::size_t track = 0; track < song.tracks.size(); ++track) {
        if (tracks(track)) {
            ReachWalk walk{reach};
            walkTrack(file, song.tracks[track].location, walk, throttle);
        }
    }
    return reach;
}

std::vector<PlacedControl> sharedControls(SongSource file, const SongSummary& song,
                                          const std::function<bool(std::size_t)>& from, const TrackReach& reach)
{
    std::vector<PlacedControl> controls;
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    for (std::size_t track = 0; track < song.tracks.size(); ++track) {
        if (from(track)) {
            ControlsWalk walk{reach, track, controls};
            walkTrack(file, song.tracks[track].location, walk, throttle);
        }
    }
    std::stable_sort(controls.begin(), controls.end(), [](const PlacedControl& a, const PlacedControl& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });
    return controls;
}

}  // namespace zentrowe::song

#include "core/song/drum_channel.h"

#include "core/base/progress.h"
#include "core/song/channel_state.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

namespace {

// Counts a track's sounding notes on the drum channel and on the others.
class DrumChannelCount final {
public:
    void onEvent(std::int64_t, std::uint32_t, const ChannelEvent& event)
    {
        if (event.kind() == 0x90 && event.data2 != 0) {
            ++(event.channel() == kDrumChannelIndex ? drumNotes : otherNotes);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }

    std::int64_t drumNotes = 0;
    std::int64_t otherNotes = 0;
};

// One note on another channel settles it: the rest of the track need not be read.
class UntilOtherNote final : public ProgressSink {
public:
    explicit UntilOtherNote(const DrumChannelCount& count) : m_count(count) { }
    void advance(std::int64_t, std::int64_t) override { }
    bool stopRequested() const override { return m_count.otherNotes > 0; }

private:
    const DrumChannelCount& m_count;
};

}  // namespace

bool allNotesOnDrumChannel(std::span<const std::uint8_t> file, const SongSummary& song, int trackNumber)
{
    if (trackNumber < 1 || trackNumber > static_cast<int>(song.tracks.size())) {
        return false;
    }
    DrumChannelCount count;
    UntilOtherNote untilOtherNote(count);
    ProgressThrottle throttle(untilOtherNote, 0);
    walkTrack(file, song.tracks[static_cast<std::size_t>(trackNumber - 1)].location, count, throttle);
    return count.drumNotes > 0 && count.otherNotes == 0;
}

bool allNotesOnDrumChannel(const PartNotes& notes, std::size_t part)
{
    const std::int64_t drumNotes = notes.soundingNotesByChannel(part)[std::size_t{kDrumChannelIndex}];
    return drumNotes > 0 && notes.soundingNotes(part) == drumNotes;
}

}  // namespace zentrowe::song

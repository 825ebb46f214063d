#include "core/song/drum_channel.h"

#include "core/song/channel_state.h"

namespace zentrowe::song {

bool allNotesOnDrumChannel(const PartNotes& notes, std::size_t part)
{
    const std::int64_t drumNotes = notes.soundingNotesByChannel(part)[std::size_t{kDrumChannelIndex}];
    return drumNotes > 0 && notes.soundingNotes(part) == drumNotes;
}

}  // namespace zentrowe::song

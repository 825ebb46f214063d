#pragma once

#include <cstddef>

#include "core/song/part_notes.h"

namespace zentrowe::song {

// True when every sounding note of part `part` (0-based) of notes read beforehand plays on the
// General MIDI drum channel (channel 10, index 9): such a part is a drum part, which percussion
// mode keysounds as drum strikes. False for a part without notes or not read.
bool allNotesOnDrumChannel(const PartNotes& notes, std::size_t part);

}  // namespace zentrowe::song

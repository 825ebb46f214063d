#pragma once

#include <cstddef>
#include <string_view>

#include "core/base/result.h"

namespace zentrowe::convert {

// Bytes a file name may take on the file systems players run on.
inline constexpr std::size_t kLongestFileName = 255;

// The keysound name is the start of every keysound's file name, so it must be a safe part of
// one on every player's file system: printable ASCII (0x20 to 0x7E) without / \ : * ? " < > |,
// and not "." or "..", and at most kLongestKeysoundName bytes. Empty is allowed (the note number
// then starts the name).
bool isAcceptableKeysoundName(std::string_view name);

// A keysound's file name is name + note + "-" + units + "-" + velocity + ".wav" (or ".ogg").
// The note and velocity take at most 3 digits; the units (its length in 1/192 of a measure) are
// a 64-bit signed count, so at most 19 digits whatever the song. File systems allow 255 bytes
// per name: 255 - (3 + 1 + 19 + 1 + 3) - 4 = 224 leaves every keysound a name the disk takes.
inline constexpr std::size_t kLongestKeysoundName = kLongestFileName - (3 + 1 + 19 + 1 + 3) - 4;
static_assert(kLongestKeysoundName == 224);

// The name as a whole file stem (a chart's "#WAV" stem, a cut file's name): the same characters,
// not empty, and short enough for ".wav" to follow within 255 bytes.
bool isAcceptableFileStem(std::string_view stem);

// Nothing for an acceptable name; otherwise InvalidSetting with the one sentence both faces
// show: "the keysound name must be printable ASCII without / \ : * ? " < > |, not "a/b"",
// or for a long one "the keysound name is 300 bytes; file names allow it 224".
Status checkKeysoundName(std::string_view name);

}  // namespace zentrowe::convert

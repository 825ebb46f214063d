#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/base/result.h"

namespace zentrowe::workflow {

// The folder a song builds into by default: `<library>/<song folder name>`, one per song, so that
// two songs never share a folder unless the user picks one for both.

// The name of the song's folder: the MIDI file's stem, made a name every desktop system can
// hold, since a library is often synchronised or copied to another system. Characters Windows
// refuses (< > : " / \ | ? * and control characters) become "_", trailing dots and spaces go, a
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension, in any case) gets a "_";
// "song" if nothing is left.
std::string songFolderName(const std::filesystem::path& midiFile);

// Whether `name` can be a song's folder as it is, on Windows and Linux alike; InvalidSetting
// naming it otherwise, the subject saying why: "folderNameEmpty" (empty, "." or ".."),
// "folderNameCharacter" (one of < > : " / \ | ? * or a control character; the value is the name),
// "folderNameEnding" (ends in a dot or a space), "folderNameReserved" (a device name).
Status checkSongFolderName(std::string_view name);

// Makes the folder `folder` ready for a build: its name checked as checkSongFolderName does, the
// library above it and the folder made if missing. WriteFailed naming the folder that could not
// be made, or a path that is there but is not a folder; nothing is made then.
Status prepareSongFolder(const std::filesystem::path& folder);

// Removes `folder` if it is a folder (not a link to one) with nothing in it: the song's folder a
// refused pass made and left empty. False, and nothing touched, if it is not there, holds
// anything or cannot be removed.
bool removeEmptySongFolder(const std::filesystem::path& folder);

}  // namespace zentrowe::workflow

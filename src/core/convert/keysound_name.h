#pragma once

#include <string_view>

#include "core/base/result.h"

namespace zentrowe::convert {

// The keysound name is the start of every keysound's file name, so it must be a safe part of
// one on every player's file system: printable ASCII (0x20 to 0x7E) without / \ : * ? " < > |,
// and not "." or "..". Empty is allowed (the note number then starts the name).
bool isAcceptableKeysoundName(std::string_view name);

// The name as a whole file stem (a chart's "#WAV" stem, a cut file's name): the same rule, and
// not empty.
bool isAcceptableFileStem(std::string_view stem);

// Nothing for an acceptable name; otherwise InvalidSetting with the one sentence both faces
// show: "输入有误: the keysound name must be printable ASCII without / \ : * ? " < > |, not "a/b"".
Status checkKeysoundName(std::string_view name);

}  // namespace zentrowe::convert

#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/base/result.h"

namespace zentrowe {

// The path as the user would recognise it in a message.
std::string displayPath(const std::filesystem::path& path);

// The one sentence for a file the system could not use: "PATH: cannot VERB: REASON", the reason
// being the system's text for `errnoValue` ("song.mid: cannot open: No such file or directory").
Error fileError(ErrorCode code, const std::filesystem::path& path, std::string_view verb, int errnoValue);
// The same sentence with a reason of our own ("not a regular file"). Both also give the values
// apart: path, the verb as subject, the reason as value, and errnoValue as systemError.
Error fileError(ErrorCode code, const std::filesystem::path& path, std::string_view verb, std::string_view reason);

// The sentence both faces show when a pass ran out of memory (a std::bad_alloc reached them):
// every file is written through a temporary file, so nothing was changed.
Error outOfMemoryError();

}  // namespace zentrowe

#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/base/result.h"

namespace zentrowe {

// The text with its control bytes (0x00..0x1F, 0x7F) written as "\xNN": names from the user or
// from a file must not move a terminal's cursor, clear its screen or split a message in two.
// Other bytes, UTF-8 included, are kept.
std::string escapeControlBytes(std::string_view text);

// The path as the user would recognise it in a message, control bytes escaped.
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

// The sentence for an exception that reached a face or a job runner; call it only while handling
// one (in a catch block). A std::bad_alloc, or a length past what a container holds, is
// outOfMemoryError(); anything else a WriteFailed about "fault", the exception's text as value:
// "an internal fault stopped the work: vector::_M_range_check; no file was left half-written".
Error caughtExceptionError();

}  // namespace zentrowe

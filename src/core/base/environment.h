#pragma once

#include <optional>
#include <string>

namespace zentrowe {

// The value of the environment variable `name` as UTF-8 text; none when it is not set. Windows'
// is read through its wide-character call, so a value in any script (a user folder named 曲)
// comes whole, where the C library's getenv gives it in the system's code page.
std::optional<std::string> environmentVariable(const char* name);

}  // namespace zentrowe

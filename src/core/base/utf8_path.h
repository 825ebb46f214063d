#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zentrowe {

// A path from UTF-8 text: the engine keeps names (a song's, a chart's, a keysound's) as UTF-8,
// and path::string() gives them back as UTF-8 on every system. The other way needs saying:
// std::filesystem::path(std::string) reads the text in the narrow encoding of the standard
// library, which is UTF-8 on Linux but, on Windows with MinGW's libstdc++, one character per
// byte, so that 夜明け.mid would name a file nobody made.
inline std::filesystem::path utf8Path(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace zentrowe

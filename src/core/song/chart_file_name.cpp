#include "core/song/chart_file_name.h"

namespace zentrowe::song {

namespace {

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string deriveChartFileName(std::string_view path)
{
    const auto separator = path.find_last_of("/\\");
    const std::string_view base = separator == std::string_view::npos ? path : path.substr(separator + 1);

    std::string upper(base);
    for (char& c : upper) {
        c = asciiUpper(c);
    }
    const auto extension = upper.rfind(".MID");
    if (extension == std::string::npos) {
        return std::string(base) + ".bms";
    }
    return std::string(base.substr(0, extension)) + ".bms";
}

}  // namespace zentrowe::song

#include "core/base/shift_jis.h"

#include <iconv.h>

#include <cerrno>

namespace zentrowe {

namespace {

// The whole text through iconv; nothing unless every byte converted.
std::optional<std::string> convertWhole(const char* to, const char* from, std::string_view text)
{
    const iconv_t handle = iconv_open(to, from);
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string converted;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    bool whole = true;
    char buffer[512];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(handle, &in, &inLeft, &out, &outLeft);
        converted.append(buffer, static_cast<std::size_t>(out - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            whole = false;  // EILSEQ (no such character) or EINVAL (the text ends inside one)
            break;
        }
    }
    iconv_close(handle);
    return whole ? std::optional<std::string>(std::move(converted)) : std::nullopt;
}

}  // namespace

bool isShiftJisText(std::span<const std::uint8_t> bytes)
{
    return decodeShiftJis({reinterpret_cast<const char*>(bytes.data()), bytes.size()}).has_value();
}

std::optional<std::string> decodeShiftJis(std::string_view bytes)
{
    return convertWhole("UTF-8", "CP932", bytes);
}

bool fitsShiftJis(std::string_view utf8)
{
    return convertWhole("CP932", "UTF-8", utf8).has_value();
}

}  // namespace zentrowe

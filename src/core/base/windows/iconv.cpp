#include "iconv.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

struct Conversion {
    UINT from;
    UINT to;
};

UINT codePageOf(std::string_view name)
{
    if (name == "UTF-8") {
        return CP_UTF8;
    }
    if (name == "CP932" || name == "SHIFT_JIS") {
        return 932;
    }
    if (name == "CP936" || name == "GBK") {
        return 936;
    }
    if (name == "CP1252") {
        return 1252;
    }
    return 0;
}

// The single bytes each code page leaves undefined. Windows passes them through (as C1 controls
// or private-use characters), iconv refuses them: refused here too, so that a text decodes, or
// fails to, as it does on Linux.
bool isUndefinedByte(UINT codePage, unsigned char byte)
{
    switch (codePage) {
    case 932:
        return byte == 0x80 || byte == 0xA0 || byte >= 0xFD;
    case 936:
        return byte == 0xFF;
    case 1252:
        return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
    default:
        return false;
    }
}

// The bytes of the character `text` starts with in `codePage` (0 for a byte that starts none).
std::size_t characterLength(UINT codePage, const unsigned char* text)
{
    if (isUndefinedByte(codePage, text[0])) {
        return 0;
    }
    if (codePage == CP_UTF8) {
        const unsigned char lead = text[0];
        return lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    }
    return IsDBCSLeadByteEx(codePage, text[0]) ? 2 : 1;
}

// One character from `from` to `to` into `out`: its length there, 0 if it has no form in `to`.
std::size_t convertOne(const Conversion& conversion, const char* in, std::size_t length, char* out, std::size_t room)
{
    wchar_t wide[2];
    const int units = MultiByteToWideChar(conversion.from, MB_ERR_INVALID_CHARS, in, static_cast<int>(length), wide, 2);
    if (units <= 0) {
        return 0;
    }
    char buffer[8];
    BOOL usedDefault = FALSE;
    const bool toUtf8 = conversion.to == CP_UTF8;
    const int bytes = WideCharToMultiByte(conversion.to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, buffer,
                                          sizeof buffer, nullptr, toUtf8 ? nullptr : &usedDefault);
    if (bytes <= 0 || usedDefault ||
        (bytes == 1 && isUndefinedByte(conversion.to, static_cast<unsigned char>(buffer[0])))) {
        return 0;
    }
    if (static_cast<std::size_t>(bytes) > room) {
        return static_cast<std::size_t>(-1);
    }
    std::memcpy(out, buffer, static_cast<std::size_t>(bytes));
    return static_cast<std::size_t>(bytes);
}

}  // namespace

iconv_t iconv_open(const char* to, const char* from)
{
    const UINT toPage = codePageOf(to);
    const UINT fromPage = codePageOf(from);
    if (toPage == 0 || fromPage == 0) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    return new Conversion{fromPage, toPage};
}

std::size_t iconv(iconv_t handle, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft)
{
    if (in == nullptr || *in == nullptr) {
        return 0;  // no shift state to reset in these encodings
    }
    const auto& conversion = *static_cast<Conversion*>(handle);
    while (*inLeft > 0) {
        const std::size_t length = characterLength(conversion.from, reinterpret_cast<unsigned char*>(*in));
        if (length == 0) {
            errno = EILSEQ;
            return static_cast<std::size_t>(-1);
        }
        if (length > *inLeft) {
            errno = EINVAL;
            return static_cast<std::size_t>(-1);
        }
        const std::size_t written = convertOne(conversion, *in, length, *out, *outLeft);
        if (written == static_cast<std::size_t>(-1)) {
            errno = E2BIG;
            return written;
        }
        if (written == 0) {
            errno = EILSEQ;
            return static_cast<std::size_t>(-1);
        }
        *in += length;
        *inLeft -= length;
        *out += written;
        *outLeft -= written;
    }
    return 0;
}

int iconv_close(iconv_t handle)
{
    delete static_cast<Conversion*>(handle);
    return 0;
}

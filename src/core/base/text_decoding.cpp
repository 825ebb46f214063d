#include "core/base/text_decoding.h"

#include <iconv.h>

#include <cerrno>

namespace zentrowe {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

class Converter {
public:
    Converter() : m_handle(iconv_open("UTF-8", "CP936")) {}
    ~Converter()
    {
        if (valid()) {
            iconv_close(m_handle);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_handle; }

private:
    iconv_t m_handle;
};

}  // namespace

bool isValidUtf8(std::span<const std::uint8_t> bytes)
{
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t lowest = 0;
        std::uint32_t value = 0;
        if ((b & 0xE0) == 0xC0) {
            length = 2;
            lowest = 0x80;
            value = b & 0x1Fu;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            lowest = 0x800;
            value = b & 0x0Fu;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4;
            lowest = 0x10000;
            value = b & 0x07u;
        } else {
            return false;
        }
        if (length > n - i) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const std::uint8_t c = bytes[i + k];
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (c & 0x3Fu);
        }
        if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string decodeMidiText(std::span<const std::uint8_t> bytes)
{
    if (isValidUtf8(bytes)) {
        return std::string(bytes.begin(), bytes.end());
    }
    std::string out;
    Converter converter;
    if (!converter.valid()) {
        // No code page 936 table on this system: keep ASCII, mark everything else.
        for (const std::uint8_t b : bytes) {
            if (b < 0x80) {
                out += static_cast<char>(b);
            } else {
                out += kReplacement;
            }
        }
        return out;
    }
    out.reserve(bytes.size() * 2);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter.handle(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ (no character starts here) or EINVAL (the text ends inside a character).
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(converter.handle(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace zentrowe

namespace zentrowe {

namespace {

void appendUtf8(std::string& out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

std::optional<std::string> decodeUtf16WithByteOrderMark(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2 || !((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        return std::nullopt;
    }
    const bool bigEndian = bytes[0] == 0xFE;
    const auto unitAt = [&](std::size_t k) {
        return static_cast<std::uint32_t>(bigEndian ? (bytes[k] << 8) | bytes[k + 1] : (bytes[k + 1] << 8) | bytes[k]);
    };
    constexpr std::uint32_t kReplacementCharacter = 0xFFFD;
    std::string out;
    out.reserve(bytes.size() / 2);
    std::size_t k = 2;
    for (; k + 1 < bytes.size(); k += 2) {
        const std::uint32_t unit = unitAt(k);
        if (unit >= 0xD800 && unit <= 0xDBFF && k + 3 < bytes.size()) {
            const std::uint32_t low = unitAt(k + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                k += 2;
                continue;
            }
        }
        appendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacementCharacter : unit);
    }
    if (k < bytes.size()) {
        appendUtf8(out, kReplacementCharacter);
    }
    return out;
}

}  // namespace zentrowe

#include "core/base/text_decoding.h"

#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string_view>

namespace zentrowe {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

class Converter {
public:
    Converter() : m_handle(iconv_open("UTF-8", "CP936")) { }
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

namespace zentrowe {

namespace {

// The whole text through iconv from one encoding to another; nothing if a byte sequence has no
// form in the target or breaks off.
std::optional<std::string> convertWhole(std::string_view text, const char* to, const char* from)
{
    const iconv_t handle = iconv_open(to, from);
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string out;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char buffer[256];
    bool whole = true;
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            whole = false;
            break;
        }
        // glibc counts characters it put in a substitute form as irreversible: not this text's.
        if (result != static_cast<std::size_t>(-1) && result > 0) {
            whole = false;
            break;
        }
    }
    iconv_close(handle);
    if (!whole) {
        return std::nullopt;
    }
    return out;
}

bool isAscii(std::uint8_t b)
{
    return b < 0x80;
}

// How Japanese the bytes read as Shift_JIS: kana and level-1 kanji count most, half-width
// katakana (single bytes 0xA1..0xDF, which Chinese and Latin bytes fall on) against.
int shiftJisScore(std::span<const std::uint8_t> bytes)
{
    int score = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t lead = bytes[i];
        if (isAscii(lead)) {
            continue;
        }
        if (lead >= 0xA1 && lead <= 0xDF) {
            score -= 1;
            continue;
        }
        ++i;  // the trail byte
        if (lead == 0x82 || lead == 0x83) {
            score += 2;  // hiragana, katakana, full-width letters
        } else if (lead == 0x81 || (lead >= 0x88 && lead <= 0x98)) {
            score += 2;  // punctuation, level-1 kanji
        } else if ((lead >= 0x99 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEA)) {
            score += 1;  // level-2 kanji
        } else {
            score -= 1;  // vendor extensions and user-defined rows
        }
    }
    return score;
}

// How Chinese the bytes read as GBK: the GB2312 rows count, GBK's extension rows (where
// Shift_JIS kana fall) against.
int gbkScore(std::span<const std::uint8_t> bytes)
{
    int score = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t lead = bytes[i];
        if (isAscii(lead)) {
            continue;
        }
        const std::uint8_t trail = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        ++i;
        if (trail >= 0xA1 && lead >= 0xB0 && lead <= 0xD7) {
            score += 2;  // level-1 hanzi
        } else if (trail >= 0xA1 && lead >= 0xA1 && lead <= 0xF7) {
            score += 1;  // level-2 hanzi, punctuation
        } else {
            score -= 1;
        }
    }
    return score;
}

// How Latin the bytes read as cp1252: a letter or sign beside ASCII counts, runs of high bytes
// (as multi-byte text makes) against.
int cp1252Score(std::span<const std::uint8_t> bytes)
{
    int score = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes[i];
        if (isAscii(b)) {
            continue;
        }
        const bool besideAscii = (i > 0 && isAscii(bytes[i - 1])) || (i + 1 < bytes.size() && isAscii(bytes[i + 1]));
        const bool letterOrSign =
            b >= 0xC0 || b == 0xA9 || b == 0xAE || b == 0xB0 || b == 0x99 || (b >= 0x91 && b <= 0x97) || b == 0x85;
        score += besideAscii && letterOrSign ? 1 : -1;
    }
    return score;
}

// The text without U+FFFD and without the control characters a header line cannot hold.
std::string cleaned(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8.substr(i, kReplacement.size()) == kReplacement) {
            i += kReplacement.size() - 1;
            continue;
        }
        const auto c = static_cast<unsigned char>(utf8[i]);
        out += c < 0x20 || c == 0x7F ? ' ' : utf8[i];
    }
    return out;
}

}  // namespace

namespace {

// The text decoded whole by the encoding detection finds likeliest; nothing if no encoding
// takes every byte.
std::optional<std::string> decodeWholeByDetection(std::span<const std::uint8_t> bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    struct Candidate {
        const char* encoding;
        int score;
    };
    const Candidate candidates[] = {
        {"CP936", gbkScore(bytes)},
        {"CP932", shiftJisScore(bytes)},
        {"CP1252", cp1252Score(bytes)},
    };
    std::optional<std::string> best;
    int bestScore = 0;
    for (const auto& candidate : candidates) {
        if (best && candidate.score <= bestScore) {
            continue;
        }
        if (auto decoded = convertWhole(text, "UTF-8", candidate.encoding)) {
            best = std::move(decoded);
            bestScore = candidate.score;
        }
    }
    return best;
}

}  // namespace

std::string decodeDetectedText(std::span<const std::uint8_t> bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (isValidUtf8(bytes)) {
        return cleaned(text);
    }
    if (auto best = decodeWholeByDetection(bytes)) {
        return cleaned(*best);
    }
    // No encoding takes every byte: cp1252 without the five bytes it leaves undefined.
    std::string latin;
    for (const std::uint8_t b : bytes) {
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {
            latin += static_cast<char>(b);
        }
    }
    return cleaned(convertWhole(latin, "UTF-8", "CP1252").value_or(std::string()));
}

std::string decodeListedText(std::span<const std::uint8_t> bytes)
{
    if (isValidUtf8(bytes)) {
        return std::string(bytes.begin(), bytes.end());
    }
    if (auto best = decodeWholeByDetection(bytes)) {
        return std::move(*best);
    }
    return decodeMidiText(bytes);
}

std::optional<std::string> encodeShiftJis(std::string_view utf8)
{
    if (!isValidUtf8({reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()})) {
        return std::nullopt;
    }
    return convertWhole(utf8, "CP932", "UTF-8");
}

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace zentrowe

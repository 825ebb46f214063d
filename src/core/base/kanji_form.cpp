#include "core/base/kanji_form.h"

#include <opencc.h>

#include <vector>

#include "core/base/program_folder.h"
#include "core/base/shift_jis.h"
#include "core/base/text_decoding.h"

namespace zentrowe {

namespace {

const opencc_t kNotOpened = reinterpret_cast<opencc_t>(-1);  // what opencc_open returns on failure

// One OpenCC converter, closed with its owner.
class Converter {
public:
    explicit Converter(const char* config) : m_handle(opencc_open(config)) { }
    ~Converter()
    {
        if (m_handle != kNotOpened) {
            opencc_close(m_handle);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_handle != kNotOpened; }

    std::optional<std::string> convert(std::string_view utf8) const
    {
        char* converted = opencc_convert_utf8(m_handle, utf8.data(), utf8.size());
        if (converted == nullptr) {
            return std::nullopt;
        }
        std::string out(converted);
        opencc_convert_utf8_free(converted);
        return out;
    }

private:
    opencc_t m_handle;
};

// The text cut into its characters (code points), each as its UTF-8 bytes; the text must be
// valid UTF-8.
std::vector<std::string_view> charactersOf(std::string_view utf8)
{
    std::vector<std::string_view> characters;
    for (std::size_t at = 0; at < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        characters.push_back(utf8.substr(at, length));
        at += length;
    }
    return characters;
}

// A configuration Debian's opencc data installs, found by OpenCC in its own data folder; on
// Windows, in the opencc folder the zip puts beside the program.
std::string configuration(const char* name)
{
    const auto folder = programFolder();
    return folder.empty() ? std::string(name) : (folder / "opencc" / name).string();
}

}  // namespace

struct KanjiForms::Tables {
    Converter simplifiedToTraditional{configuration("s2t.json").c_str()};
    Converter traditionalToJapanese{configuration("t2jp.json").c_str()};
};

KanjiForms::KanjiForms() = default;
KanjiForms::~KanjiForms() = default;

std::optional<std::string> KanjiForms::shiftJisForm(std::string_view utf8)
{
    if (!isValidUtf8({reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()})) {
        return std::nullopt;
    }
    if (fitsShiftJis(utf8)) {
        return std::string(utf8);
    }
    if (!m_opened) {
        m_opened = true;
        m_tables = std::make_unique<Tables>();
        if (!m_tables->simplifiedToTraditional.ok() || !m_tables->traditionalToJapanese.ok()) {
            m_tables.reset();
        }
    }
    if (!m_tables) {
        return std::nullopt;
    }
    const auto traditional = m_tables->simplifiedToTraditional.convert(utf8);
    const auto japanese = traditional ? m_tables->traditionalToJapanese.convert(*traditional) : std::nullopt;
    if (!japanese) {
        return std::nullopt;
    }
    // The tables map a character to a character, save for a few phrases; where the counts agree,
    // what was Shift_JIS already (kana, a kanji both languages share) is kept as written.
    const auto original = charactersOf(utf8);
    const auto converted = charactersOf(*japanese);
    std::string merged;
    if (original.size() == converted.size()) {
        for (std::size_t k = 0; k < original.size(); ++k) {
            merged += fitsShiftJis(original[k]) ? original[k] : converted[k];
        }
    } else {
        merged = *japanese;
    }
    return fitsShiftJis(merged) ? std::optional<std::string>(std::move(merged)) : std::nullopt;
}

}  // namespace zentrowe

#include "core/workflow/build_manifest.h"

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "core/base/file_reading.h"

namespace zentrowe::workflow {

namespace {

using Json = nlohmann::json;

// A name the manifest may list: a plain file name inside the folder, never a path out of it.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The words "options" gives each way of playing the other tracks; "settings" says "no" for None.
constexpr std::pair<BgmMode, const char*> kBgmNames[] = {
    {BgmMode::Keysounds, "keysounds"}, {BgmMode::Slices, "slices"}, {BgmMode::One, "one"}, {BgmMode::None, "none"}};

std::optional<BgmMode> bgmModeNamed(std::string_view name)
{
    for (const auto& [mode, word] : kBgmNames) {
        if (name == word) {
            return mode;
        }
    }
    return std::nullopt;
}

const char* bgmModeName(BgmMode mode)
{
    for (const auto& [known, word] : kBgmNames) {
        if (known == mode) {
            return word;
        }
    }
    return "none";
}

// A record written before "options" were kept: what its settings, worded for a reader, show.
void completeOlderOptions(BuildRecord& record)
{
    for (const auto& [name, value] : record.settings) {
        if (name == "bgm" && !record.options.bgm) {
            record.options.bgm = value == "no" ? std::optional<BgmMode>(BgmMode::None) : bgmModeNamed(value);
        } else if (name == "codes" && !record.options.codeBase && (value == "36" || value == "62")) {
            record.options.codeBase = value == "36" ? 36 : 62;
        }
    }
}

// Reads the manifest's JSON as the parser meets it, keeping only the records: the text may be
// tens of megabytes, and a tree of it would take many times that. Where a key repeats in an
// object the last value counts, as in any JSON reader that keeps one value per key.
class ManifestReader final : public nlohmann::json_sax<Json> {
public:
    // The records read; empty unless the text was a JSON object.
    BuildManifest take() { return m_rootIsObject ? std::move(m_manifest) : BuildManifest{}; }

    bool null() override { return scalar(nullptr, nullptr); }
    bool boolean(bool) override { return scalar(nullptr, nullptr); }
    bool number_integer(number_integer_t value) override
    {
        const std::int64_t whole = value;
        return scalar(nullptr, &whole);
    }
    bool number_unsigned(number_unsigned_t value) override
    {
        if (value > static_cast<number_unsigned_t>(INT64_MAX)) {
            return scalar(nullptr, nullptr);
        }
        const auto whole = static_cast<std::int64_t>(value);
        return scalar(nullptr, &whole);
    }
    bool number_float(number_float_t, const string_t&) override { return scalar(nullptr, nullptr); }
    bool string(string_t& value) override { return scalar(&value, nullptr); }
    bool binary(binary_t&) override { return scalar(nullptr, nullptr); }

    bool start_object(std::size_t) override
    {
        if (m_skipDepth > 0 || !enterObject()) {
            ++m_skipDepth;
        }
        return true;
    }

    bool end_object() override
    {
        if (m_skipDepth > 0) {
            --m_skipDepth;
        } else if (m_place == Place::Record) {
            finishRecord();
            m_place = Place::Builds;
        } else if (m_place == Place::Settings || m_place == Place::Options) {
            m_place = Place::Record;
        } else if (m_place == Place::Sound) {
            finishSound();
            m_place = Place::Sounds;
        } else if (m_place == Place::Sounds) {
            m_place = Place::Root;
        } else if (m_place == Place::Root) {
            m_place = Place::Done;
        }
        return true;
    }

    bool start_array(std::size_t) override
    {
        if (m_skipDepth > 0 || !enterArray()) {
            ++m_skipDepth;
        }
        return true;
    }

    bool end_array() override
    {
        if (m_skipDepth > 0) {
            --m_skipDepth;
        } else if (m_place == Place::Builds) {
            m_place = Place::Root;
        } else if (m_place == Place::Files) {
            m_place = Place::Record;
        }
        return true;
    }

    bool key(string_t& name) override
    {
        if (m_skipDepth > 0) {
            return true;
        }
        m_key = name;
        if (m_place == Place::Root && m_key == "builds") {
            m_manifest.builds.clear();
            m_charts.clear();
        } else if (m_place == Place::Root && m_key == "sounds") {
            m_manifest.sounds.clear();
            m_soundNames.clear();
        } else if (m_place == Place::Record) {
            resetField();
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Place { Top, Root, Builds, Record, Files, Settings, Options, Sounds, Sound, Done };

    // Whether the object starting here is one the manifest's shape has a place for.
    bool enterObject()
    {
        switch (m_place) {
        case Place::Top:
            m_rootIsObject = true;
            m_place = Place::Root;
            return true;
        case Place::Root:
            if (m_key == "sounds") {
                m_place = Place::Sounds;
                return true;
            }
            return false;
        case Place::Sounds:
            m_soundName = m_key;
            m_sound = SoundSource{};
            m_place = Place::Sound;
            return true;
        case Place::Builds:
            m_record = BuildRecord{};
            m_settingIndex.clear();
            m_place = Place::Record;
            return true;
        case Place::Record:
            if (m_key == "settings") {
                m_place = Place::Settings;
                return true;
            }
            if (m_key == "options") {
                m_place = Place::Options;
                return true;
            }
            return false;
        default:
            return false;
        }
    }

    bool enterArray()
    {
        if (m_place == Place::Root && m_key == "builds") {
            m_place = Place::Builds;
            return true;
        }
        if (m_place == Place::Record && m_key == "files") {
            m_place = Place::Files;
            return true;
        }
        return false;
    }

    // A value that is neither object nor array: text (a string), whole (an integer), or neither.
    bool scalar(const std::string* text, const std::int64_t* whole)
    {
        if (m_skipDepth > 0) {
            return true;
        }
        switch (m_place) {
        case Place::Record:
            if (text != nullptr && m_key == "chart") {
                m_record.chart = *text;
            } else if (text != nullptr && m_key == "song") {
                // A manifest written before fingerprints were kept holds the absolute path.
                m_record.song = std::filesystem::path(*text).filename().string();
            } else if (text != nullptr && m_key == "songHash") {
                m_record.songHash = *text;
            } else if (whole != nullptr && m_key == "track" && *whole >= INT_MIN && *whole <= INT_MAX) {
                m_record.track = static_cast<int>(*whole);
            }
            break;
        case Place::Sound:
            if (whole != nullptr && m_key == "track") {
                m_sound.track = *whole >= 1 && *whole <= 65535 ? static_cast<int>(*whole) : -1;
            } else if (whole != nullptr && m_key == "channel") {
                m_sound.channel = *whole >= 1 && *whole <= 16 ? static_cast<int>(*whole) : -1;
            }
            break;
        case Place::Files:
            if (text != nullptr && isPlainName(*text)) {
                m_record.files.push_back(*text);
            }
            break;
        case Place::Options:
            if (text != nullptr && m_key == "bgm") {
                m_record.options.bgm = bgmModeNamed(*text);
            } else if (m_key == "codeBase") {
                m_record.options.codeBase = whole != nullptr && (*whole == 36 || *whole == 62)
                                                ? std::optional<int>(static_cast<int>(*whole))
                                                : std::nullopt;
            }
            break;
        case Place::Settings:
            if (text != nullptr) {
                const auto [at, added] = m_settingIndex.try_emplace(m_key, m_record.settings.size());
                if (added) {
                    m_record.settings.emplace_back(m_key, *text);
                } else {
                    m_record.settings[at->second].second = *text;
                }
            }
            break;
        default:
            break;
        }
        return true;
    }

    // A key of the record met again: what it held before no longer counts.
    void resetField()
    {
        if (m_key == "chart") {
            m_record.chart.clear();
        } else if (m_key == "song") {
            m_record.song.clear();
        } else if (m_key == "songHash") {
            m_record.songHash.clear();
        } else if (m_key == "track") {
            m_record.track = 0;
        } else if (m_key == "files") {
            m_record.files.clear();
        } else if (m_key == "settings") {
            m_record.settings.clear();
            m_settingIndex.clear();
        } else if (m_key == "options") {
            m_record.options = BuildRecordOptions{};
        }
    }

    void finishRecord()
    {
        completeOlderOptions(m_record);
        if (isPlainName(m_record.chart) && m_charts.insert(m_record.chart).second) {
            m_manifest.builds.push_back(std::move(m_record));
        }
        m_record = BuildRecord{};
    }

    void finishSound()
    {
        if (isPlainName(m_soundName) && m_sound.track > 0 && m_sound.channel > 0 &&
            m_soundNames.insert(m_soundName).second) {
            m_manifest.sounds.emplace_back(std::move(m_soundName), m_sound);
        }
        m_soundName.clear();
    }

    BuildManifest m_manifest;
    std::unordered_set<std::string> m_soundNames;  // the names of m_manifest.sounds
    std::string m_soundName;                       // the sound being read
    SoundSource m_sound;
    std::unordered_set<std::string> m_charts;                     // the charts of m_manifest.builds
    BuildRecord m_record;                                         // the record being read
    std::unordered_map<std::string, std::size_t> m_settingIndex;  // into m_record.settings
    std::string m_key;                                            // the last key of the innermost object read
    Place m_place = Place::Top;
    std::size_t m_skipDepth = 0;  // objects and arrays entered inside one the manifest has no place for
    bool m_rootIsObject = false;
};

// `text` as a JSON string; bytes that are not UTF-8 become U+FFFD (names are bytes as the file
// system gives them).
void appendString(std::string& out, const std::string& text)
{
    out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ",\n      "options": {...}" for the options a record has; nothing for none.
void appendOptions(std::string& out, const BuildRecordOptions& options)
{
    if (!options.bgm && !options.codeBase) {
        return;
    }
    out += ",\n      \"options\": {";
    const char* separator = "\n        ";
    if (options.bgm) {
        out += separator;
        out += "\"bgm\": ";
        appendString(out, bgmModeName(*options.bgm));
        separator = ",\n        ";
    }
    if (options.codeBase) {
        out += separator;
        out += "\"codeBase\": " + std::to_string(*options.codeBase);
    }
    out += "\n      }";
}

}  // namespace

const BuildRecord* BuildManifest::find(const std::string& chart) const
{
    const auto found =
        std::find_if(builds.begin(), builds.end(), [&](const BuildRecord& r) { return r.chart == chart; });
    return found == builds.end() ? nullptr : &*found;
}

bool BuildManifest::uses(const std::string& file) const
{
    return std::any_of(builds.begin(), builds.end(), [&](const BuildRecord& record) {
        return record.chart == file || std::find(record.files.begin(), record.files.end(), file) != record.files.end();
    });
}

std::string songFingerprint(std::span<const std::uint8_t> bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "fnv1a64:";
    for (int shift = 60; shift >= 0; shift -= 4) {
        text += kDigits[(hash >> shift) & 0xF];
    }
    return text;
}

bool isSameSong(const BuildRecord& record, std::string_view songName, std::string_view songHash, int track)
{
    if (record.track != track) {
        return false;
    }
    // The same bytes under another name are the same song. A file of the same name is the song
    // edited since (or a record from before fingerprints, which knows it by name only): its set
    // has the same chart names, so the new set replaces every chart of the earlier one and no
    // chart is left naming a file with other sounds.
    return record.song == songName || (!record.songHash.empty() && record.songHash == songHash);
}

// Laid out as a JSON library indents by two, written piece by piece: a manifest of millions of
// names is a string, not a tree of them.
std::string manifestText(const BuildManifest& manifest)
{
    std::string out = "{\n  \"builds\": [";
    for (std::size_t k = 0; k < manifest.builds.size(); ++k) {
        const BuildRecord& record = manifest.builds[k];
        out += k == 0 ? "\n    {\n" : ",\n    {\n";
        out += "      \"chart\": ";
        appendString(out, record.chart);
        out += ",\n      \"song\": ";
        appendString(out, record.song);
        if (!record.songHash.empty()) {
            out += ",\n      \"songHash\": ";
            appendString(out, record.songHash);
        }
        out += ",\n      \"track\": " + std::to_string(record.track) + ",\n      \"files\": [";
        for (std::size_t f = 0; f < record.files.size(); ++f) {
            out += f == 0 ? "\n        " : ",\n        ";
            appendString(out, record.files[f]);
        }
        out += record.files.empty() ? "],\n      \"settings\": {" : "\n      ],\n      \"settings\": {";
        for (std::size_t s = 0; s < record.settings.size(); ++s) {
            out += s == 0 ? "\n        " : ",\n        ";
            appendString(out, record.settings[s].first);
            out += ": ";
            appendString(out, record.settings[s].second);
        }
        out += record.settings.empty() ? "}" : "\n      }";
        appendOptions(out, record.options);
        out += "\n    }";
    }
    out += manifest.builds.empty() ? "]" : "\n  ]";
    if (!manifest.sounds.empty()) {
        out += ",\n  \"sounds\": {";
        for (std::size_t k = 0; k < manifest.sounds.size(); ++k) {
            const auto& [name, source] = manifest.sounds[k];
            out += k == 0 ? "\n    " : ",\n    ";
            appendString(out, name);
            out += ": {\"track\": " + std::to_string(source.track) +
                   ", \"channel\": " + std::to_string(source.channel) + "}";
        }
        out += "\n  }";
    }
    out += "\n}\n";
    return out;
}

BuildManifest parseBuildManifest(std::span<const std::uint8_t> text)
{
    ManifestReader reader;
    if (!Json::sax_parse(text.begin(), text.end(), &reader)) {
        return {};
    }
    return reader.take();
}

BuildManifest readBuildManifest(const std::filesystem::path& folder)
{
    const auto bytes = readFileBytes(folder / kBuildManifestFileName);
    if (!bytes) {
        return {};
    }
    return parseBuildManifest(bytes->bytes());
}

}  // namespace zentrowe::workflow

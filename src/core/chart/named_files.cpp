#include "core/chart/named_files.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "core/base/text_decoding.h"
#include "core/chart/bms_line.h"

namespace zentrowe::chart {

namespace {

// The first blank-separated word of `text`, and `text` after it.
std::string_view takeWord(std::string_view& text)
{
    text = trimBmsBlanks(text);
    const auto end = static_cast<std::size_t>(std::find_if(text.begin(), text.end(), isBmsBlank) - text.begin());
    const auto word = text.substr(0, end);
    text = trimBmsBlanks(text.substr(end));
    return word;
}

// "#EXWAVxx pvf pan volume frequency name": the letters say how many numbers come before the
// name, one for each of p, v and f.
std::string_view exWavName(std::string_view value)
{
    const auto flags = takeWord(value);
    if (flags.empty() || !std::all_of(flags.begin(), flags.end(), [](char c) {
            return c == 'p' || c == 'v' || c == 'f' || c == 'P' || c == 'V' || c == 'F';
        })) {
        return {};
    }
    for (std::size_t k = 0; k < flags.size(); ++k) {
        takeWord(value);
    }
    return value;
}

// The role and name of one header line that names a file ("#WAV01 kick.wav"), if it does.
std::optional<FileReference> referenceOf(std::string_view line)
{
    const BmsLine scanned = scanBmsLine(line);
    if (scanned.kind != BmsLine::Kind::Command) {
        return std::nullopt;
    }
    const std::string& command = scanned.command;
    std::string_view name = scanned.argument;
    FileRole role = FileRole::Other;
    if (command.size() == 5 && command.starts_with("WAV")) {
        role = FileRole::Keysound;
    } else if (command.size() == 7 && command.starts_with("EXWAV")) {
        role = FileRole::Keysound;
        name = exWavName(scanned.argument);
    } else if (command.size() == 5 && command.starts_with("BMP")) {
        role = FileRole::Picture;
    } else if (command.size() == 7 && command.starts_with("EXBMP")) {
        role = FileRole::Picture;
        takeWord(name);  // "a,r,g,b", the colour drawn transparent
    } else if (command == "STAGEFILE" || command == "BANNER" || command == "BACKBMP") {
        role = FileRole::Picture;
    } else if (command == "PREVIEW") {
        role = FileRole::Preview;
    } else if (command == "VIDEOFILE") {
        role = FileRole::Movie;
    } else if (command != "CHARFILE" && command != "MIDIFILE") {
        return std::nullopt;
    }
    if (name.empty()) {
        return std::nullopt;
    }
    return FileReference{std::string(name), role, 0};
}

void addString(std::vector<FileReference>& out, const nlohmann::json& object, const char* key, FileRole role)
{
    if (!object.is_object()) {
        return;
    }
    const auto value = object.find(key);
    if (value != object.end() && value->is_string() && !value->get_ref<const std::string&>().empty()) {
        out.push_back({value->get<std::string>(), role, 0});
    }
}

void addEach(std::vector<FileReference>& out, const nlohmann::json& object, const char* list, FileRole role)
{
    const auto items = object.is_object() ? object.find(list) : object.end();
    if (items == object.end() || !items->is_array()) {
        return;
    }
    for (const auto& item : *items) {
        addString(out, item, "name", role);
    }
}

}  // namespace

std::vector<FileReference> bmsFileReferences(std::span<const std::uint8_t> bytes)
{
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto utf16 = decodeUtf16WithByteOrderMark(bytes);
    if (utf16) {
        text = *utf16;
    }
    std::vector<FileReference> references;
    forEachBmsLine(text, [&references](std::uint32_t lineNumber, std::string_view line) {
        if (auto reference = referenceOf(line)) {
            reference->line = lineNumber;
            references.push_back(std::move(*reference));
        }
    });
    return references;
}

std::vector<FileReference> bmsonFileReferences(std::span<const std::uint8_t> bytes)
{
    std::vector<FileReference> references;
    const auto json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false, true);
    if (json.is_discarded() || !json.is_object()) {
        return references;
    }
    if (const auto info = json.find("info"); info != json.end()) {
        for (const char* key : {"back_image", "eyecatch_image", "banner_image", "title_image"}) {
            addString(references, *info, key, FileRole::Picture);
        }
        addString(references, *info, "preview_music", FileRole::Preview);
    }
    if (const auto bga = json.find("bga"); bga != json.end()) {
        addEach(references, *bga, "bga_header", FileRole::Picture);
    }
    for (const char* channels : {"sound_channels", "key_channels", "mine_channels"}) {
        addEach(references, json, channels, FileRole::Keysound);
    }
    return references;
}

}  // namespace zentrowe::chart

#include "core/workflow/build_manifest.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/base/file_reading.h"

namespace zentrowe::workflow {

namespace {

// A name the manifest may list: a plain file name inside the folder, never a path out of it.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::optional<BuildRecord> recordOf(const nlohmann::json& json)
{
    if (!json.is_object() || !json.contains("chart") || !json.at("chart").is_string()) {
        return std::nullopt;
    }
    BuildRecord record;
    record.chart = json.at("chart").get<std::string>();
    if (!isPlainName(record.chart)) {
        return std::nullopt;
    }
    if (json.contains("song") && json.at("song").is_string()) {
        record.song = json.at("song").get<std::string>();
    }
    if (json.contains("track") && json.at("track").is_number_integer()) {
        record.track = json.at("track").get<int>();
    }
    if (json.contains("files") && json.at("files").is_array()) {
        for (const auto& name : json.at("files")) {
            if (name.is_string() && isPlainName(name.get<std::string>())) {
                record.files.push_back(name.get<std::string>());
            }
        }
    }
    if (json.contains("settings") && json.at("settings").is_object()) {
        for (const auto& [name, value] : json.at("settings").items()) {
            if (value.is_string()) {
                record.settings.emplace_back(name, value.get<std::string>());
            }
        }
    }
    return record;
}

}  // namespace

const BuildRecord* BuildManifest::find(const std::string& chart) const
{
    const auto found = std::find_if(builds.begin(), builds.end(), [&](const BuildRecord& r) { return r.chart == chart; });
    return found == builds.end() ? nullptr : &*found;
}

bool BuildManifest::uses(const std::string& file) const
{
    return std::any_of(builds.begin(), builds.end(), [&](const BuildRecord& record) {
        return record.chart == file || std::find(record.files.begin(), record.files.end(), file) != record.files.end();
    });
}

std::string manifestText(const BuildManifest& manifest)
{
    nlohmann::ordered_json builds = nlohmann::ordered_json::array();
    for (const auto& record : manifest.builds) {
        nlohmann::ordered_json json;
        json["chart"] = record.chart;
        json["song"] = record.song;
        json["track"] = record.track;
        json["files"] = record.files;
        auto& settings = json["settings"] = nlohmann::ordered_json::object();
        for (const auto& [name, value] : record.settings) {
            settings[name] = value;
        }
        builds.push_back(std::move(json));
    }
    nlohmann::ordered_json json;
    json["builds"] = std::move(builds);
    // Names are bytes as the file system gives them; replace what is not UTF-8 rather than throw.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

BuildManifest readBuildManifest(const std::filesystem::path& folder)
{
    BuildManifest manifest;
    const auto bytes = readWholeFile(folder / kBuildManifestFileName);
    if (!bytes) {
        return manifest;
    }
    const auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("builds") || !json.at("builds").is_array()) {
        return manifest;
    }
    for (const auto& entry : json.at("builds")) {
        if (auto record = recordOf(entry); record && !manifest.find(record->chart)) {
            manifest.builds.push_back(std::move(*record));
        }
    }
    return manifest;
}

}  // namespace zentrowe::workflow

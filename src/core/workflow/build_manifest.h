#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zentrowe::workflow {

// The file in a built folder that lists what the build made there, so that the next build into
// the folder knows which files are its own to remove and which chart it would replace.
inline constexpr const char* kBuildManifestFileName = ".zentrowe-build.json";

// One chart's build. A folder may hold several charts (one per difficulty, say) sharing files.
struct BuildRecord {
    std::string chart;               // the chart's file name
    std::vector<std::string> files;  // every other file the build made, by name
    std::string song;                // the MIDI file, absolute
    int track = 0;                   // 1-based
    std::vector<std::pair<std::string, std::string>> settings;  // name and value, in order
};

struct BuildManifest {
    std::vector<BuildRecord> builds;  // one per chart

    const BuildRecord* find(const std::string& chart) const;
    // True if some record is the chart `file` or lists it among its files.
    bool uses(const std::string& file) const;
};

// The manifest as JSON text, ending with a line break.
std::string manifestText(const BuildManifest& manifest);

// The folder's manifest; an empty one if there is none or none that reads as one (a damaged
// manifest names no file a build may remove).
BuildManifest readBuildManifest(const std::filesystem::path& folder);

}  // namespace zentrowe::workflow

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/workflow/bgm_slices.h"

namespace zentrowe::workflow {

// The file in a built folder that lists what the build made there, so that the next build into
// the folder knows which files are its own to remove and which song the folder holds.
inline constexpr const char* kBuildManifestFileName = ".zentrowe-build.json";

// The settings of a build that other passes act on, as values ("options" in the text; "settings"
// holds every setting as the user would read it). Each is none where the record does not say:
// a record written before they were kept gives what its "settings" show, or none.
struct BuildRecordOptions {
    std::optional<BgmMode> bgm;   // how the other tracks were played
    std::optional<int> codeBase;  // 36 or 62: the last code the chart may use is ZZ or zz

    friend bool operator==(const BuildRecordOptions&, const BuildRecordOptions&) = default;
};

// One chart's build. A folder holds one song; its charts (one per difficulty, say) share files.
struct BuildRecord {
    std::string chart;               // the chart's file name
    std::vector<std::string> files;  // every other file the build made, by name
    std::string song;                // the MIDI file's name, without its folder: a folder goes public
    int track = 0;                   // 1-based
    std::vector<std::pair<std::string, std::string>> settings;  // name and value, in order
    // songFingerprint of the MIDI file's bytes. Empty in a record written before fingerprints
    // were kept (whose "song" held the file's absolute path, read as its name): the song is then
    // known by its file name alone.
    std::string songHash;
    BuildRecordOptions options{};
};

// Where a sound file's notes came from, so that a tool can tell which instrument a lane plays.
struct SoundSource {
    int track = 0;    // 1-based
    int channel = 0;  // 1 to 16, as musicians count

    friend bool operator==(const SoundSource&, const SoundSource&) = default;
};

struct BuildManifest {
    std::vector<BuildRecord> builds;  // one per chart, in the order they were built
    // Per keysound file a record lists, its source; a file's name once ("sounds" in the text).
    std::vector<std::pair<std::string, SoundSource>> sounds;

    const BuildRecord* find(const std::string& chart) const;
    // True if some record is the chart `file` or lists it among its files.
    bool uses(const std::string& file) const;
};

// What tells one song from another: the 64-bit FNV-1a hash of the file's bytes (offset basis
// 0xcbf29ce484222325, prime 0x100000001b3), as "fnv1a64:" and 16 lower-case hex digits. Not a
// guard against forgery; it tells an edited or other song from the one built before, whatever
// the file is called and wherever it lies.
std::string songFingerprint(std::span<const std::uint8_t> bytes);

// True if `record` was built from track `track` of the song whose fingerprint is `songHash` and
// whose file is named `songName`: by fingerprint (the bytes under another name), or by name (the
// song edited since its build).
bool isSameSong(const BuildRecord& record, std::string_view songName, std::string_view songHash, int track);

// The manifest as JSON text, ending with a line break.
std::string manifestText(const BuildManifest& manifest);

// The manifest in `text`; an empty one if the text is not JSON or not a manifest (a damaged
// manifest names no file a build may remove). Records that are not objects or name no plain
// chart file are left out, and so are names in "files" that are not plain file names; of two
// records of one chart the first counts. A manifest without "sounds" (written before they were
// kept) has none; a sound whose name is not a plain file name or whose track or channel is not a
// whole number in range is left out, and of a name given twice the first counts. Reads as it goes, keeping only the
// records: memory grows with what they hold, not with the text. Throws std::bad_alloc only.
BuildManifest parseBuildManifest(std::span<const std::uint8_t> text);

// parseBuildManifest on the folder's manifest; an empty one if there is none or it cannot be read.
BuildManifest readBuildManifest(const std::filesystem::path& folder);

}  // namespace zentrowe::workflow

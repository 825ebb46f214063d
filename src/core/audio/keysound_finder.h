#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/result.h"

namespace zentrowe::audio {

// Finds keysound files the way players do: a chart names "kick.wav" and the folder holds
// "KICK.ogg" because the sounds were converted after the chart was written. Like players, it
// reads only inside the chart's folder: a chart is often downloaded, and its names must not
// reach the rest of the disk.
class KeysoundFinder {
public:
    explicit KeysoundFinder(std::filesystem::path folder) : m_folder(std::move(folder)) { }

    // The file for a "#WAV" name (bytes as the chart has them; "\" separates folders as well as
    // "/"): the exact name if it is a file, else the first of the name itself, its stem + ".wav",
    // ".ogg", ".flac" that the folder holds, names compared without regard to ASCII case.
    // nullopt if there is none. CannotOpen for a name that leads out of the folder: an absolute
    // path, a ".." step, or a file (or a folder on the way) that is a link to somewhere outside.
    Result<std::optional<std::filesystem::path>> find(std::string_view name);

private:
    // A folder's file names by their ASCII lower-case form; of names differing only in case, the
    // first in byte order.
    const std::map<std::string, std::string>& listing(const std::filesystem::path& folder);

    // Whether a found file, its links followed, still lies inside the folder.
    bool inside(const std::filesystem::path& file);

    std::filesystem::path m_folder;
    std::optional<std::filesystem::path> m_realFolder;  // m_folder with its links followed
    std::map<std::filesystem::path, std::map<std::string, std::string>> m_listings;
};

}  // namespace zentrowe::audio

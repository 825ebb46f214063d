#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zentrowe::audio {

// Finds keysound files the way players do: a chart names "kick.wav" and the folder holds
// "KICK.ogg" because the sounds were converted after the chart was written.
class KeysoundFinder {
public:
    explicit KeysoundFinder(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    // The file for a "#WAV" name (bytes as the chart has them; "\" separates folders as well as
    // "/"): the exact name if it is a file, else the first of the name itself, its stem + ".wav",
    // ".ogg", ".flac" that the folder holds, names compared without regard to ASCII case.
    // nullopt if there is none.
    std::optional<std::filesystem::path> find(std::string_view name);

private:
    // A folder's file names by their ASCII lower-case form; of names differing only in case, the
    // first in byte order.
    const std::map<std::string, std::string>& listing(const std::filesystem::path& folder);

    std::filesystem::path m_folder;
    std::map<std::filesystem::path, std::map<std::string, std::string>> m_listings;
};

}  // namespace zentrowe::audio

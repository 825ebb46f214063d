#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "support/test_support.h"

namespace zentrowe::testing {

// Every file of a folder, below it too, by name relative to it, with its bytes (a folder as no
// bytes): two builds wrote the same folder when their snapshots are equal.
inline std::map<std::string, Bytes> folderSnapshot(const std::filesystem::path& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const auto name = std::filesystem::relative(entry.path(), folder).generic_string();
        files[name] = entry.is_regular_file() ? readFile(entry.path()) : Bytes{};
    }
    return files;
}

}  // namespace zentrowe::testing

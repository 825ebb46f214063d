#pragma once

#include <filesystem>

namespace zentrowe {

// True if writing `target` would replace `kept`: the same path, or another name (a link, a
// different spelling such as "a/../b") for the same file. A path that cannot be resolved, or a
// `target` not there yet under another spelling, is not the same file.
bool isSameFile(const std::filesystem::path& target, const std::filesystem::path& kept);

}  // namespace zentrowe

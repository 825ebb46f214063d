#include "core/audio/keysound_finder.h"

#include <algorithm>
#include <array>
#include <string>
#include <system_error>

namespace zentrowe::audio {

namespace {

std::string lowered(std::string text)
{
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

bool isFile(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

}  // namespace

const std::map<std::string, std::string>& KeysoundFinder::listing(const std::filesystem::path& folder)
{
    const auto known = m_listings.find(folder);
    if (known != m_listings.end()) {
        return known->second;
    }
    std::map<std::string, std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        auto [entry, fresh] = names.try_emplace(lowered(name), name);
        if (!fresh && name < entry->second) {
            entry->second = std::move(name);  // the same choice whatever order the folder lists
        }
    }
    return m_listings.emplace(folder, std::move(names)).first->second;
}

bool KeysoundFinder::inside(const std::filesystem::path& file)
{
    std::error_code error;
    if (!m_realFolder) {
        m_realFolder = std::filesystem::canonical(m_folder.empty() ? "." : m_folder, error);
        if (error) {
            m_realFolder = std::filesystem::path();
        }
    }
    const auto real = std::filesystem::canonical(file, error);
    if (error || m_realFolder->empty()) {
        return false;
    }
    const auto mismatch = std::mismatch(m_realFolder->begin(), m_realFolder->end(), real.begin(), real.end());
    return mismatch.first == m_realFolder->end();
}

Result<std::optional<std::filesystem::path>> KeysoundFinder::find(std::string_view name)
{
    std::string relative(name);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    if (relative.empty()) {
        return std::optional<std::filesystem::path>();
    }
    const auto outside = [&] {
        return Error{ErrorCode::CannotOpen, "leads out of the chart's folder"}.withValue(std::string(name));
    };
    const bool drive = relative.size() >= 2 && relative[1] == ':';  // "C:/..." as Windows charts name files
    if (relative.front() == '/' || drive) {
        return outside();
    }
    for (const auto& step : std::filesystem::path(relative)) {
        if (step == "..") {
            return outside();
        }
    }
    const auto found = [&](const std::filesystem::path& file) -> Result<std::optional<std::filesystem::path>> {
        if (!inside(file)) {
            return outside();
        }
        return std::optional<std::filesystem::path>(file);
    };
    const std::filesystem::path exact = m_folder / relative;
    if (isFile(exact)) {
        return found(exact);
    }
    const auto slash = relative.rfind('/');
    const std::filesystem::path folder = slash == std::string::npos ? m_folder : m_folder / relative.substr(0, slash);
    const std::string fileName = slash == std::string::npos ? relative : relative.substr(slash + 1);
    const auto dot = fileName.rfind('.');
    const std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);

    const std::array<std::string, 4> candidates = {fileName, stem + ".wav", stem + ".ogg", stem + ".flac"};
    const auto& names = listing(folder);
    for (const auto& candidate : candidates) {
        const auto present = names.find(lowered(candidate));
        if (present != names.end() && isFile(folder / present->second)) {
            return found(folder / present->second);
        }
    }
    return std::optional<std::filesystem::path>();
}

}  // namespace zentrowe::audio

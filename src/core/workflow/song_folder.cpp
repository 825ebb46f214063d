#include "core/workflow/song_folder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "core/base/file_error.h"

namespace zentrowe::workflow {

namespace {

bool isRefusedCharacter(unsigned char c)
{
    return c < 0x20 || c == 0x7F ||
           std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos;
}

// Windows keeps these names for devices, with any extension ("con.txt" too), in any case.
bool isDeviceName(std::string_view name)
{
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::toupper(c); });
    static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) {
        return true;
    }
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::string songFolderName(const std::filesystem::path& midiFile)
{
    std::string name = midiFile.stem().string();
    std::replace_if(
        name.begin(), name.end(), [](char c) { return isRefusedCharacter(static_cast<unsigned char>(c)); }, '_');
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        name.pop_back();
    }
    if (name.empty() || std::all_of(name.begin(), name.end(), [](char c) { return c == '.'; })) {
        return "song";
    }
    if (isDeviceName(name)) {
        name += '_';
    }
    return name;
}

Status checkSongFolderName(std::string_view name)
{
    const std::string shown(name);
    if (name.empty() || name == "." || name == "..") {
        return Error{ErrorCode::InvalidSetting, "\"" + escapeControlBytes(shown) + "\": a folder needs a name"}
            .about("folderNameEmpty")
            .withValue(shown);
    }
    if (std::any_of(name.begin(), name.end(),
                    [](char c) { return isRefusedCharacter(static_cast<unsigned char>(c)); })) {
        return Error{ErrorCode::InvalidSetting, "\"" + escapeControlBytes(shown) +
                                                    "\": not a folder name (< > : \" / \\ | ? * and control "
                                                    "characters cannot be in one)"}
            .about("folderNameCharacter")
            .withValue(shown);
    }
    if (name.back() == '.' || name.back() == ' ') {
        return Error{ErrorCode::InvalidSetting,
                     "\"" + shown + "\": not a folder name (Windows drops a trailing dot or space)"}
            .about("folderNameEnding")
            .withValue(shown);
    }
    if (isDeviceName(name)) {
        return Error{ErrorCode::InvalidSetting, "\"" + shown + "\": not a folder name (Windows keeps it for a device)"}
            .about("folderNameReserved")
            .withValue(shown);
    }
    return {};
}

Status prepareSongFolder(const std::filesystem::path& folder)
{
    if (auto checked = checkSongFolderName(folder.filename().string()); !checked) {
        return checked;
    }
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        return {};
    }
    if (std::filesystem::exists(folder, error)) {
        return fileError(ErrorCode::WriteFailed, folder, "create the folder", "a file of that name is there");
    }
    // create_directories makes the library too; a failure names the song's folder, which the
    // reason (a read-only library, a missing drive) explains.
    std::filesystem::create_directories(folder, error);
    if (error) {
        return fileError(ErrorCode::WriteFailed, folder, "create the folder", error.value());
    }
    return {};
}

bool removeEmptySongFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)) ||
        !std::filesystem::is_empty(folder, error) || error) {
        return false;
    }
    // A folder that gained a file since is not removed: rmdir refuses it.
    return std::filesystem::remove(folder, error) && !error;
}

}  // namespace zentrowe::workflow

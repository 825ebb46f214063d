#include "core/workflow/staging_folder.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include "core/base/file_error.h"

namespace zentrowe::workflow {

namespace {

constexpr const char* kReplacedFolderName = "replaced";

bool renameFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error)
{
    std::filesystem::rename(from, to, error);
    return !error;
}

}  // namespace

StagingFolder::StagingFolder(std::filesystem::path outputFolder, std::filesystem::path path)
    : m_outputFolder(std::move(outputFolder)), m_path(std::move(path))
{
}

StagingFolder::StagingFolder(StagingFolder&& other) noexcept
    : m_outputFolder(std::move(other.m_outputFolder)), m_path(std::exchange(other.m_path, {}))
{
}

StagingFolder::~StagingFolder()
{
    if (!m_path.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
}

Result<StagingFolder> StagingFolder::create(const std::filesystem::path& outputFolder)
{
    const auto path = outputFolder / kName;
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error) {
        return fileError(ErrorCode::WriteFailed, path, "remove the folder", error.value());
    }
    if (!std::filesystem::create_directory(path, error) || !std::filesystem::create_directory(path / kReplacedFolderName, error)) {
        const int reason = error ? error.value() : EEXIST;
        std::filesystem::remove_all(path, error);
        return fileError(ErrorCode::WriteFailed, path, "create the folder", reason);
    }
    return StagingFolder(outputFolder, path);
}

Status StagingFolder::commit(const std::vector<std::string>& names)
{
    struct Move {
        std::string name;
        bool replaced = false;  // an earlier file of the name waits in the replaced folder
        bool moved = false;     // the new file is in the output folder
    };
    std::vector<Move> moves;
    moves.reserve(names.size());
    const auto replacedFolder = m_path / kReplacedFolderName;
    std::error_code error;
    std::filesystem::path failed;
    for (const auto& name : names) {
        Move& move = moves.emplace_back(Move{name});
        const auto target = m_outputFolder / name;
        if (std::filesystem::exists(std::filesystem::symlink_status(target, error))) {
            if (!renameFile(target, replacedFolder / name, error)) {
                failed = target;
                break;
            }
            move.replaced = true;
        }
        if (!renameFile(m_path / name, target, error)) {
            failed = target;
            break;
        }
        move.moved = true;
    }
    if (failed.empty()) {
        return {};
    }
    const int reason = error.value();
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        std::error_code ignored;
        const auto target = m_outputFolder / move->name;
        if (move->moved) {
            std::filesystem::remove(target, ignored);
        }
        if (move->replaced) {
            std::filesystem::rename(replacedFolder / move->name, target, ignored);
        }
    }
    return fileError(ErrorCode::WriteFailed, failed, "move into place", reason);
}

}  // namespace zentrowe::workflow

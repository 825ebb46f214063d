#pragma once

// The real file system with faults put in on purpose, so that a failing rename, an unwritable
// folder or a pass killed halfway through a commit is a test case, and one that also runs as root.
// Render threads write kept sounds through it at once: its tallies are kept under a lock.

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/base/file_system.h"

namespace zentrowe::testing {

class FaultyFileSystem final : public RealFileSystem {
public:
    int failMoveAt = 0;                // the Nth rename or exchange (from 1) fails with EIO; 0: none
    std::filesystem::path failAt;      // every change to this path (either end of a move) fails with EACCES
    int stopAfter = -1;                // after this many changes every further one fails, as if the pass
                                       // had been killed there; -1: never
    bool stopAtFirstFault = false;     // after the first fault put in, every further change fails too
    bool noExchange = false;           // exchange fails with EINVAL, as on file systems without it
    std::filesystem::path fullUnder;   // every file written below this folder fails with ENOSPC, as on a full disk

    int changes = 0;  // changes made
    int moves = 0;    // renames and exchanges tried
    std::vector<std::filesystem::path> touched;  // every path a change was tried on (both ends of a move)
    std::vector<std::filesystem::path> synced;  // files put on the disk, in order
    std::size_t syncedAtDurableWrite = 0;       // how many of them, when writeDurably last wrote
    int changesAtDurableWrite = 0;              // changes made before writeDurably last wrote
    int movesAtDurableWrite = 0;                // renames and exchanges tried by then

    mutable std::vector<std::filesystem::path> read;  // every file read whole through readText, in order

    std::error_code rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        if (auto fault = move(from, to)) {
            return fault;
        }
        return made(RealFileSystem::rename(from, to));
    }
    std::error_code exchange(const std::filesystem::path& first, const std::filesystem::path& second) override
    {
        if (auto fault = move(first, second)) {
            return fault;
        }
        if (noExchange) {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return made(RealFileSystem::exchange(first, second));
    }
    std::error_code remove(const std::filesystem::path& path) override
    {
        if (auto fault = change(path)) {
            return fault;
        }
        return made(RealFileSystem::remove(path));
    }
    std::error_code removeAll(const std::filesystem::path& path) override
    {
        if (auto fault = change(path)) {
            return fault;
        }
        return made(RealFileSystem::removeAll(path));
    }
    std::error_code createFolder(const std::filesystem::path& path) override
    {
        if (auto fault = change(path)) {
            return fault;
        }
        return made(RealFileSystem::createFolder(path));
    }
    std::error_code writeDurably(const std::filesystem::path& path, std::string_view text) override
    {
        if (auto fault = change(path)) {
            return fault;
        }
        {
            const std::lock_guard lock(m_lock);
            syncedAtDurableWrite = synced.size();
            changesAtDurableWrite = changes;
            movesAtDurableWrite = moves;
        }
        return made(RealFileSystem::writeDurably(path, text));
    }
    std::error_code writeFile(const std::filesystem::path& path, std::string_view bytes) override
    {
        if (auto fault = change(path)) {
            return fault;
        }
        const auto below = std::filesystem::relative(path, fullUnder);
        if (!fullUnder.empty() && !below.empty() && *below.begin() != "..") {
            return std::make_error_code(std::errc::no_space_on_device);
        }
        return made(RealFileSystem::writeFile(path, bytes));
    }
    std::optional<std::string> readText(const std::filesystem::path& path, std::size_t limit,
                                        std::error_code& error) const override
    {
        {
            const std::lock_guard lock(m_lock);
            read.push_back(path);
        }
        return RealFileSystem::readText(path, limit, error);
    }
    // Not a change: only failAt (one of the files) fails it.
    std::error_code syncFiles(const std::filesystem::path& folder, const std::vector<std::string>& names) override
    {
        for (const auto& name : names) {
            if (!failAt.empty() && folder / name == failAt) {
                return std::make_error_code(std::errc::io_error);
            }
            const std::lock_guard lock(m_lock);
            synced.push_back(folder / name);
        }
        return RealFileSystem::syncFiles(folder, names);
    }

private:
    std::error_code fault(std::errc reason)
    {
        const std::lock_guard lock(m_lock);
        m_faulted = m_faulted || stopAtFirstFault;
        return std::make_error_code(reason);
    }
    std::error_code change(const std::filesystem::path& path)
    {
        const std::lock_guard lock(m_lock);
        touched.push_back(path);
        if (m_faulted || (stopAfter >= 0 && changes >= stopAfter)) {
            return std::make_error_code(std::errc::io_error);
        }
        if (!failAt.empty() && path == failAt) {
            return fault(std::errc::permission_denied);
        }
        return {};
    }
    std::error_code move(const std::filesystem::path& from, const std::filesystem::path& to)
    {
        if (auto stopped = change(from)) {
            return stopped;
        }
        if (auto refused = change(to)) {
            return refused;
        }
        const std::lock_guard lock(m_lock);
        if (++moves == failMoveAt) {
            return fault(std::errc::io_error);
        }
        return {};
    }
    std::error_code made(std::error_code error)
    {
        const std::lock_guard lock(m_lock);
        if (!error) {
            ++changes;
        }
        return error;
    }

    mutable std::recursive_mutex m_lock;
    bool m_faulted = false;
};

}  // namespace zentrowe::testing

#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "core/base/file_system.h"

namespace zentrowe {

// How much a cache keeps before it lets the least recently used entries go: 2 GB, a few songs'
// keysounds in every form a build keeps.
inline constexpr std::uintmax_t kDefaultCacheBytes = std::uintmax_t{2} << 30;

// The user's cache folder for this program: `xdgCacheHome`/zentrowe when it is an absolute path
// (the XDG rule: a relative one is ignored), else `home`/.cache/zentrowe; none when neither is set.
std::optional<std::filesystem::path> userCacheFolder(std::string_view xdgCacheHome, std::string_view home);

// The user's cache folder for this program on Windows: `localAppData`\zentrowe when it is an
// absolute path (UTF-8 text), else none.
std::optional<std::filesystem::path> localAppDataCacheFolder(std::string_view localAppData);

// The user's cache folder for this program, as this system's environment places it: on Windows
// %LOCALAPPDATA%\zentrowe, elsewhere the XDG rule over $XDG_CACHE_HOME and $HOME.
std::optional<std::filesystem::path> userCacheFolder();

// What went wrong with a cache while a pass used it; the pass works on without it.
struct CacheTrouble {
    std::size_t damagedEntries = 0;  // found damaged (cut short, another key or version): removed, made again
    std::optional<std::error_code> writeError;  // the first write that failed (a full disk, no permission)
    std::filesystem::path folder;
};

// A folder of entries, each the bytes a key names, safe to use from several threads and several
// processes at once. An entry is one file holding a version, its whole key and a checksum of its
// bytes, so a file cut short, written by another version or named by another key is told from a
// good one and read as absent. Entries are written under a temporary name and renamed. A hit
// marks the entry used (its time), and trim() lets the least recently used go. Nothing the cache
// does fails the pass using it: a write that fails is noted (trouble()) and the next are skipped.
class FileCache {
public:
    // The cache in `folder`, made if missing; an error code when the folder cannot be made.
    static std::optional<FileCache> open(const std::filesystem::path& folder, std::uintmax_t mostBytes,
                                         FileSystem& fileSystem, std::error_code& error);

    FileCache(FileCache&& other) noexcept;

    // The bytes kept under `key` on `shelf` (a subfolder: one per kind of entry), or none.
    std::optional<std::string> find(std::string_view shelf, std::string_view key);
    // Keeps `bytes` under `key`; a failure is noted and turns the cache's writing off.
    void put(std::string_view shelf, std::string_view key, std::span<const std::uint8_t> bytes);
    // Lets the least recently used entries go until the whole is at most the bound; leftovers
    // of a writer killed mid-write go too. Nothing, when this cache kept nothing.
    void trim();

    CacheTrouble trouble() const;
    const std::filesystem::path& folder() const { return m_folder; }

private:
    FileCache(std::filesystem::path folder, std::uintmax_t mostBytes, FileSystem& fileSystem);
    std::filesystem::path entryPath(std::string_view shelf, std::string_view key) const;
    void noteWriteError(std::error_code error);

    std::filesystem::path m_folder;
    std::uintmax_t m_mostBytes;
    FileSystem* m_fileSystem;
    std::uint64_t m_writerTag;  // tells this cache's temporary files from another process's
    std::atomic<std::uint64_t> m_written{0};
    std::atomic<std::size_t> m_damaged{0};
    std::atomic<bool> m_writing{true};
    mutable std::mutex m_mutex;
    std::optional<std::error_code> m_writeError;
};

}  // namespace zentrowe

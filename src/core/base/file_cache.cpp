#include "core/base/file_cache.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "core/base/byte_reader.h"
#include "core/base/content_hash.h"
#include "core/base/environment.h"
#include "core/base/utf8_path.h"

namespace zentrowe {

namespace {

// An entry: the tag, the format version, the key's length and bytes, the length of the bytes
// kept and their checksum, then the bytes; numbers little-endian.
constexpr std::string_view kEntryTag = "ZWKEPT\r\n";
constexpr std::uint32_t kEntryVersion = 1;
constexpr std::string_view kTemporaryMark = ".part-";

void putLe(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The kept bytes of `entry` when it is a whole entry of this version for `key`; none otherwise.
std::optional<std::size_t> payloadOffset(std::string_view entry, std::string_view key)
{
    ByteReader reader(bytesOf(entry));
    const auto tag = reader.take(kEntryTag.size());
    const auto version = reader.u32le();
    const auto keyLength = reader.u32le();
    if (!tag || std::memcmp(tag->data(), kEntryTag.data(), kEntryTag.size()) != 0 || version != kEntryVersion ||
        keyLength != key.size()) {
        return std::nullopt;
    }
    const auto keptKey = reader.take(key.size());
    const auto length = reader.u64le();
    const auto checksum = reader.u64le();
    if (!keptKey || std::memcmp(keptKey->data(), key.data(), key.size()) != 0 || !length || !checksum ||
        *length != reader.remaining()) {
        return std::nullopt;
    }
    const std::size_t offset = entry.size() - reader.remaining();
    if (contentHash(entry.substr(offset)) != *checksum) {
        return std::nullopt;
    }
    return offset;
}

}  // namespace

std::optional<std::filesystem::path> userCacheFolder(std::string_view xdgCacheHome, std::string_view home)
{
    if (!xdgCacheHome.empty() && std::filesystem::path(xdgCacheHome).is_absolute()) {
        return std::filesystem::path(xdgCacheHome) / "zentrowe";
    }
    if (!home.empty()) {
        return std::filesystem::path(home) / ".cache" / "zentrowe";
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> localAppDataCacheFolder(std::string_view localAppData)
{
    const auto folder = utf8Path(localAppData);
    if (localAppData.empty() || !folder.is_absolute()) {
        return std::nullopt;
    }
    return folder / "zentrowe";
}

std::optional<std::filesystem::path> userCacheFolder()
{
#if defined(_WIN32)
    return localAppDataCacheFolder(environmentVariable("LOCALAPPDATA").value_or(""));
#else
    return userCacheFolder(environmentVariable("XDG_CACHE_HOME").value_or(""),
                           environmentVariable("HOME").value_or(""));
#endif
}

FileCache::FileCache(std::filesystem::path folder, std::uintmax_t mostBytes, FileSystem& fileSystem)
    : m_folder(std::move(folder)),
      m_mostBytes(mostBytes),
      m_fileSystem(&fileSystem),
      m_writerTag((std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}())
{
}

FileCache::FileCache(FileCache&& other) noexcept
    : m_folder(std::move(other.m_folder)),
      m_mostBytes(other.m_mostBytes),
      m_fileSystem(other.m_fileSystem),
      m_writerTag(other.m_writerTag),
      m_written(other.m_written.load()),
      m_damaged(other.m_damaged.load()),
      m_writing(other.m_writing.load()),
      m_writeError(other.m_writeError)
{
}

std::optional<FileCache> FileCache::open(const std::filesystem::path& folder, std::uintmax_t mostBytes,
                                         FileSystem& fileSystem, std::error_code& error)
{
    error = {};
    std::filesystem::create_directories(folder, error);
    if (!error && fileSystem.status(folder).kind != FileKind::Folder) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        return std::nullopt;
    }
    return FileCache(folder, mostBytes, fileSystem);
}

std::filesystem::path FileCache::entryPath(std::string_view shelf, std::string_view key) const
{
    return m_folder / std::string(shelf) / hashText(contentHash(key));
}

std::optional<std::string> FileCache::find(std::string_view shelf, std::string_view key)
{
    const auto path = entryPath(shelf, key);
    std::error_code error;
    auto entry = m_fileSystem->readText(path, static_cast<std::size_t>(m_mostBytes), error);
    if (!entry) {
        return std::nullopt;
    }
    const auto offset = payloadOffset(*entry, key);
    if (!offset) {
        // Damaged, another version's, or another key under the same name: made again and replaced.
        ++m_damaged;
        m_fileSystem->remove(path);
        return std::nullopt;
    }
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now(), error);  // used now
    entry->erase(0, *offset);
    return entry;
}

void FileCache::put(std::string_view shelf, std::string_view key, std::span<const std::uint8_t> bytes)
{
    if (!m_writing) {
        return;
    }
    const auto path = entryPath(shelf, key);
    std::string entry(kEntryTag);
    putLe(entry, kEntryVersion, 4);
    putLe(entry, key.size(), 4);
    entry += key;
    putLe(entry, bytes.size(), 8);
    putLe(entry, contentHash(bytes), 8);
    entry.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (auto error = m_fileSystem->createFolder(path.parent_path());
        error && error != std::make_error_code(std::errc::file_exists)) {
        noteWriteError(error);
        return;
    }
    auto temporary = path;
    temporary += std::string(kTemporaryMark) + hashText(m_writerTag + m_written++);
    std::error_code error = m_fileSystem->writeFile(temporary, entry);
    if (!error) {
        error = m_fileSystem->rename(temporary, path);
    }
    if (error) {
        m_fileSystem->remove(temporary);
        noteWriteError(error);
    }
}

void FileCache::noteWriteError(std::error_code error)
{
    m_writing = false;
    std::lock_guard lock(m_mutex);
    if (!m_writeError) {
        m_writeError = error;
    }
}

void FileCache::trim()
{
    // A pass that kept nothing new grew nothing: listing every entry would cost a rebuild that
    // found all it needed more than the rest of its use of the cache. A killed writer's leftovers
    // wait for the next pass that keeps something.
    if (m_written == 0) {
        return;
    }
    struct Entry {
        std::filesystem::path path;
        std::filesystem::file_time_type used;
        std::uintmax_t bytes;
    };
    std::vector<Entry> entries;
    std::uintmax_t total = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(m_folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError)) {
            continue;
        }
        Entry entry{it->path(), it->last_write_time(entryError), it->file_size(entryError)};
        if (!entryError) {
            total += entry.bytes;
            entries.push_back(std::move(entry));
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
    // A temporary file an hour old is a writer's that was killed.
    const auto abandoned = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : entries) {
        const bool leftover =
            entry.path.filename().string().find(kTemporaryMark) != std::string::npos && entry.used < abandoned;
        if (total > m_mostBytes || leftover) {
            if (!m_fileSystem->remove(entry.path)) {
                total -= entry.bytes;
            }
        }
    }
}

CacheTrouble FileCache::trouble() const
{
    std::lock_guard lock(m_mutex);
    return {m_damaged.load(), m_writeError, m_folder};
}

}  // namespace zentrowe

#include "core/base/file_cache.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/base/content_hash.h"
#include "core/base/utf8_path.h"
#include "support/faulty_file_system.h"
#include "support/scoped_environment.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void putText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The one file an entry of `shelf` is kept in.
std::filesystem::path onlyEntry(const std::filesystem::path& folder, const std::string& shelf)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder / shelf)) {
        files.push_back(entry.path());
    }
    EXPECT_EQ(files.size(), 1U);
    return files.empty() ? std::filesystem::path() : files.front();
}

TEST(FileCache, KeepsBytesByKeyAndShelf)
{
    TempDir dir;
    std::error_code error;
    auto cache = FileCache::open(dir.path() / "cache", kDefaultCacheBytes, realFileSystem(), error);
    ASSERT_TRUE(cache) << error.message();
    const std::string sound(10'000, '\x7F');
    cache->put("renders", "note 60", bytesOf(sound));
    cache->put("renders", "note 61", bytesOf("other"));
    EXPECT_EQ(cache->find("renders", "note 60"), sound);
    EXPECT_EQ(cache->find("renders", "note 61"), "other");
    EXPECT_EQ(cache->find("encoded", "note 60"), std::nullopt);
    EXPECT_EQ(cache->find("renders", "note 62"), std::nullopt);
    cache->put("renders", "empty", {});
    EXPECT_EQ(cache->find("renders", "empty"), "");  // a silent render is a render
    EXPECT_FALSE(cache->trouble().writeError);
    EXPECT_EQ(cache->trouble().damagedEntries, 0U);
}

// An entry is a tag, version 1 (4 bytes), the key's length (4) and key, the kept length (8) and
// checksum (8), then the bytes: damage anywhere is read as no entry, counted, and removed.
TEST(FileCache, ADamagedEntryIsReadAsAbsentAndMadeAgain)
{
    const std::string key = "note 60";
    const std::size_t versionAt = 8;
    const std::size_t keptAt = versionAt + 8 + key.size() + 16;
    struct Case {
        const char* name;
        std::function<std::string(const std::string&)> damage;
    };
    const std::vector<Case> cases = {
        {"cut short", [&](const std::string& entry) { return entry.substr(0, entry.size() - 1); }},
        {"cut inside the key", [&](const std::string& entry) { return entry.substr(0, versionAt + 10); }},
        {"empty", [](const std::string&) { return std::string(); }},
        {"another version's", [&](std::string entry) { return entry.replace(versionAt, 1, "\x02"); }},
        {"a byte of the sound changed", [&](std::string entry) { return entry.replace(keptAt + 3, 1, "!"); }},
        {"one byte longer", [](const std::string& entry) { return entry + "x"; }},
        {"not an entry", [](const std::string& entry) { return std::string(entry.size(), 'A'); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::error_code error;
        auto cache = FileCache::open(dir.path(), kDefaultCacheBytes, realFileSystem(), error);
        ASSERT_TRUE(cache);
        cache->put("renders", key, bytesOf("0123456789"));
        const auto path = onlyEntry(dir.path(), "renders");
        putText(path, c.damage(fileText(path)));
        EXPECT_EQ(cache->find("renders", key), std::nullopt);
        EXPECT_EQ(cache->trouble().damagedEntries, 1U);
        EXPECT_FALSE(std::filesystem::exists(path));
        cache->put("renders", key, bytesOf("0123456789"));
        EXPECT_EQ(cache->find("renders", key), "0123456789");
    }
}

TEST(FileCache, AnEntryUnderAnotherKeysNameIsNotTaken)
{
    TempDir dir;
    std::error_code error;
    auto cache = FileCache::open(dir.path(), kDefaultCacheBytes, realFileSystem(), error);
    ASSERT_TRUE(cache);
    cache->put("renders", "note 60", bytesOf("sixty"));
    const auto sixty = onlyEntry(dir.path(), "renders");
    // As if two keys had the same name: the entry names its whole key.
    std::filesystem::rename(sixty, dir.path() / "renders" / hashText(contentHash(std::string_view("note 61"))));
    EXPECT_EQ(cache->find("renders", "note 61"), std::nullopt);
    EXPECT_EQ(cache->trouble().damagedEntries, 1U);
}

TEST(FileCache, AFullDiskIsNotedOnceAndTheCacheWorksOnWithoutWriting)
{
    TempDir dir;
    FaultyFileSystem disk;
    disk.fullUnder = dir.path() / "cache";
    std::error_code error;
    auto cache = FileCache::open(dir.path() / "cache", kDefaultCacheBytes, disk, error);
    ASSERT_TRUE(cache);
    cache->put("renders", "note 60", bytesOf("sixty"));
    cache->put("renders", "note 61", bytesOf("sixty-one"));
    EXPECT_EQ(cache->find("renders", "note 60"), std::nullopt);
    const auto trouble = cache->trouble();
    ASSERT_TRUE(trouble.writeError);
    EXPECT_EQ(*trouble.writeError, std::make_error_code(std::errc::no_space_on_device));
    EXPECT_EQ(trouble.folder, dir.path() / "cache");
    // Nothing half-written is left behind.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "cache" / "renders"));
}

TEST(FileCache, AFolderThatCannotBeMadeIsAnErrorNotACache)
{
    TempDir dir;
    putText(dir.path() / "file", "not a folder");
    std::error_code error;
    EXPECT_FALSE(FileCache::open(dir.path() / "file" / "cache", kDefaultCacheBytes, realFileSystem(), error));
    EXPECT_TRUE(error);
}

TEST(FileCache, TrimLetsTheLeastRecentlyUsedGoFirst)
{
    TempDir dir;
    std::error_code error;
    const std::string sound(1000, 's');
    // Room for about two entries of 1000 bytes and their heads.
    auto cache = FileCache::open(dir.path(), 2200, realFileSystem(), error);
    ASSERT_TRUE(cache);
    const auto now = std::filesystem::file_time_type::clock::now();
    for (int k = 0; k < 3; ++k) {
        cache->put("renders", "note " + std::to_string(k), bytesOf(sound));
    }
    // Note 0 oldest, then 2, then 1; a hit marks an entry used now.
    const std::vector<std::int64_t> ages = {300, 100, 200};
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "renders")) {
        for (std::size_t k = 0; k < 3; ++k) {
            if (entry.path().filename() == hashText(contentHash("note " + std::to_string(k)))) {
                std::filesystem::last_write_time(entry.path(), now - std::chrono::seconds(ages[k]));
            }
        }
    }
    ASSERT_TRUE(cache->find("renders", "note 0"));
    cache->trim();
    EXPECT_TRUE(cache->find("renders", "note 0"));
    EXPECT_TRUE(cache->find("renders", "note 1"));
    EXPECT_FALSE(cache->find("renders", "note 2"));
}

// What makes a path absolute on this system: Windows' has a drive.
std::string absoluteRoot()
{
#ifdef _WIN32
    return "C:";
#else
    return "";
#endif
}

TEST(FileCache, TheUsersCacheFolderFollowsTheXdgRule)
{
    const std::string root = absoluteRoot();
    const std::filesystem::path home = root + "/home/me";
    struct Case {
        std::string xdg;
        std::string home;
        std::optional<std::filesystem::path> folder;
    };
    const std::vector<Case> cases = {
        {root + "/var/cache/me", home.string(), std::filesystem::path(root + "/var/cache/me") / "zentrowe"},
        {"", home.string(), home / ".cache" / "zentrowe"},
        {"relative/cache", home.string(), home / ".cache" / "zentrowe"},  // a relative one is ignored
        {"", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg + " | " + c.home);
        EXPECT_EQ(userCacheFolder(c.xdg, c.home), c.folder);
    }
}

TEST(FileCache, TheUsersCacheFolderIsWhereThisSystemsVariablesSay)
{
    // Linux follows the XDG rule; Windows takes %LOCALAPPDATA% alone, read whole in any script.
    const std::string root = absoluteRoot();
    const std::string xdg = root + "/var/cache/曲";
    const std::string home = root + "/home/me";
    const std::string local = root + "/Users/夜明け/AppData/Local";
    const auto in = [](const std::string& folder) { return std::optional(utf8Path(folder) / "zentrowe"); };
    const auto homeCache = std::optional(utf8Path(home) / ".cache" / "zentrowe");
    using Variable = std::optional<std::string>;
    struct Case {
        Variable xdg;
        Variable home;
        Variable localAppData;
        std::optional<std::filesystem::path> onLinux;
        std::optional<std::filesystem::path> onWindows;
    };
    const std::vector<Case> cases = {
        {xdg, home, local, in(xdg), in(local)},
        {{}, home, local, homeCache, in(local)},
        {"relative/cache", home, {}, homeCache, std::nullopt},
        {{}, {}, local, std::nullopt, in(local)},
        {{}, {}, "AppData/Local", std::nullopt, std::nullopt},  // a relative one is ignored
        {{}, {}, "", std::nullopt, std::nullopt},
        {{}, {}, {}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg.value_or("-") + " | " + c.home.value_or("-") + " | " + c.localAppData.value_or("-"));
        ScopedEnvironment environment;
        environment.set("XDG_CACHE_HOME", c.xdg);
        environment.set("HOME", c.home);
        environment.set("LOCALAPPDATA", c.localAppData);
#ifdef _WIN32
        EXPECT_EQ(userCacheFolder(), c.onWindows);
#else
        EXPECT_EQ(userCacheFolder(), c.onLinux);
#endif
    }
}

TEST(ContentHash, TheSameBytesHashTheSameHoweverTheyAreFed)
{
    std::string bytes;
    for (int k = 0; k < 100; ++k) {
        bytes.push_back(static_cast<char>(k * 37));
    }
    const auto whole = contentHash(bytes);
    for (const std::size_t piece : {1U, 3U, 7U, 8U, 9U, 64U}) {
        SCOPED_TRACE(piece);
        ContentHash hash;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            hash.add(std::string_view(bytes).substr(at, piece));
        }
        EXPECT_EQ(hash.value(), whole);
    }
    // Trailing zero bytes, and any one byte changed, make another value.
    EXPECT_NE(contentHash(std::string(8, '\0')), contentHash(std::string(9, '\0')));
    EXPECT_NE(contentHash(std::string(1, '\0')), contentHash(std::string_view()));
    std::string changed = bytes;
    changed[50] ^= 1;
    EXPECT_NE(contentHash(changed), whole);
    EXPECT_EQ(hashText(0x0123456789ABCDEFULL), "0123456789abcdef");
}

}  // namespace
}  // namespace zentrowe::testing

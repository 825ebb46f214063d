// Arbitrary bytes as the commit journal a build finds in the staging folder of a folder from
// anywhere. Whatever the bytes: no crash; a journal read names only plain file names and reads
// back the same once written; and the next build's recovery of it (on a real folder holding an
// earlier build's files, a file set aside, and a file of the user's beside the output folder)
// changes nothing outside the output folder and leaves the user's file as it was.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include "core/base/commit_journal.h"
#include "core/base/staging_folder.h"

namespace {

using namespace zentrowe;

void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "journal rule broken: %s\n", rule);
        std::abort();
    }
}

// The real file system, refusing (and reporting) any change outside `inside`.
class FencedFileSystem final : public RealFileSystem {
public:
    explicit FencedFileSystem(std::filesystem::path inside) : m_inside(std::move(inside)) { }

    std::error_code rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        fence(from);
        fence(to);
        return RealFileSystem::rename(from, to);
    }
    std::error_code exchange(const std::filesystem::path& first, const std::filesystem::path& second) override
    {
        fence(first);
        fence(second);
        return RealFileSystem::exchange(first, second);
    }
    std::error_code remove(const std::filesystem::path& path) override
    {
        fence(path);
        return RealFileSystem::remove(path);
    }
    std::error_code removeAll(const std::filesystem::path& path) override
    {
        fence(path);
        return RealFileSystem::removeAll(path);
    }
    std::error_code createFolder(const std::filesystem::path& path) override
    {
        fence(path);
        return RealFileSystem::createFolder(path);
    }
    std::error_code writeDurably(const std::filesystem::path& path, std::string_view text) override
    {
        fence(path);
        return RealFileSystem::writeDurably(path, text);
    }

private:
    void fence(const std::filesystem::path& path) const
    {
        const auto relative = path.lexically_normal().lexically_relative(m_inside);
        require(!relative.empty() && *relative.begin() != "..", "no change outside the output folder");
    }

    std::filesystem::path m_inside;
};

void writeFile(const std::filesystem::path& path, std::string_view text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A folder of the user's with the output folder inside it, made once, removed at exit.
class WorkFolder {
public:
    WorkFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "journal-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "a temporary folder can be made");
        m_path = pattern;
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder() { std::filesystem::remove_all(m_path); }

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

const std::filesystem::path& workFolder()
{
    static const WorkFolder folder;
    return folder.path();
}

void recoverFrom(std::string_view journal)
{
    const auto user = workFolder();
    const auto out = user / "out";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out / base::StagingFolder::kName / "replaced");
    writeFile(user / "precious.txt", "precious");
    writeFile(out / "a.wav", "new a");
    writeFile(out / "song_N.bms", "new chart");
    writeFile(out / base::StagingFolder::kName / "replaced" / "a.wav", "old a");
    writeFile(out / base::StagingFolder::kName / "commit-journal", journal);
    FencedFileSystem fileSystem(out);
    {
        const auto staging = base::StagingFolder::create(out, fileSystem);
        (void)staging;
    }
    std::ifstream kept(user / "precious.txt", std::ios::binary);
    std::string text;
    std::getline(kept, text);
    require(text == "precious", "the user's file beside the folder is untouched");
    for (const auto& entry : std::filesystem::directory_iterator(user)) {
        const auto name = entry.path().filename();
        require(name == "out" || name == "precious.txt", "nothing appears beside the output folder");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto read = base::parseCommitJournal(text);
    if (const auto* journal = std::get_if<base::CommitJournal>(&read)) {
        require(!journal->moves.empty(), "a journal moves a file");
        for (const auto& move : journal->moves) {
            require(base::isPlainFileName(move.name), "a move names a plain file");
        }
        for (const auto& name : journal->removals) {
            require(base::isPlainFileName(name), "a removal names a plain file");
        }
        const auto again = base::parseCommitJournal(base::commitJournalText(*journal));
        const auto* same = std::get_if<base::CommitJournal>(&again);
        require(same != nullptr && same->removals == journal->removals && same->moves.size() == journal->moves.size(),
                "a journal written reads back the same");
        for (std::size_t k = 0; k < journal->moves.size(); ++k) {
            require(same->moves[k].name == journal->moves[k].name && same->moves[k].id == journal->moves[k].id,
                    "a move written reads back the same");
        }
    }
    recoverFrom(text);
    return 0;
}

// Leaves an output folder as a build killed during its commit leaves it, for the next build to
// recover: moves the files of a finished build's folder in through the staging folder and its
// journal, as a build's last step does, and ends the process with no clean-up after a given
// number of changes to the disk, as a kill there would.
//   zentrowe_killed_commit FROM TO CHANGES
// Sounds go in first, then the charts, then the build's manifest. Exits 9 when killed as asked,
// 1 when the commit ended first (CHANGES too many), 2 on bad arguments or a failure.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "core/base/file_system.h"
#include "core/base/staging_folder.h"
#include "core/base/utf8_path.h"

namespace {

using zentrowe::RealFileSystem;

// The real file system, ending the process just before the change after the last one allowed.
class KillingFileSystem final : public RealFileSystem {
public:
    int changesLeft = -1;  // -1: never

    std::error_code rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return step(), RealFileSystem::rename(from, to);
    }
    std::error_code exchange(const std::filesystem::path& first, const std::filesystem::path& second) override
    {
        return step(), RealFileSystem::exchange(first, second);
    }
    std::error_code remove(const std::filesystem::path& path) override { return step(), RealFileSystem::remove(path); }
    std::error_code removeAll(const std::filesystem::path& path) override
    {
        return step(), RealFileSystem::removeAll(path);
    }
    std::error_code createFolder(const std::filesystem::path& path) override
    {
        return step(), RealFileSystem::createFolder(path);
    }
    std::error_code writeDurably(const std::filesystem::path& path, std::string_view text) override
    {
        return step(), RealFileSystem::writeDurably(path, text);
    }

private:
    void step()
    {
        if (changesLeft == 0) {
            std::fflush(nullptr);
            std::_Exit(9);
        }
        if (changesLeft > 0) {
            --changesLeft;
        }
    }
};

// Sounds first, charts after them, the manifest last: the order a build commits in.
int rankOf(const std::filesystem::path& name)
{
    const auto extension = name.extension();
    if (name.filename() == ".zentrowe-build.json") {
        return 2;
    }
    return extension == ".bms" || extension == ".bmson" ? 1 : 0;
}

std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().filename());
        }
    }
    std::vector<std::string> names;
    for (int rank = 0; rank < 3; ++rank) {
        for (const auto& file : files) {
            if (rankOf(file) == rank) {
                const auto text = file.u8string();
                names.emplace_back(reinterpret_cast<const char*>(text.data()), text.size());
            }
        }
    }
    return names;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: zentrowe_killed_commit FROM TO CHANGES\n";
        return 2;
    }
    const auto from = zentrowe::utf8Path(argv[1]);
    const auto to = zentrowe::utf8Path(argv[2]);
    KillingFileSystem files;
    auto staging = zentrowe::base::StagingFolder::create(to, files);
    if (!staging) {
        std::cerr << staging.error().message << '\n';
        return 2;
    }
    const auto names = namesIn(from);
    for (const auto& name : names) {
        std::filesystem::copy_file(from / zentrowe::utf8Path(name), staging->path() / zentrowe::utf8Path(name));
    }
    files.changesLeft = std::atoi(argv[3]);
    const auto committed = staging->commit(names, std::set<std::string>(names.begin(), names.end()));
    files.changesLeft = -1;
    std::cerr << "zentrowe_killed_commit: the commit ended before " << argv[3] << " changes"
              << (committed ? "" : ": " + committed.error().message) << '\n';
    return 1;
}

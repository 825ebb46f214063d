#include "core/workflow/build_commit.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/file_system.h"
#include "core/base/same_file.h"
#include "core/base/utf8_path.h"
#include "core/chartset/chart_set.h"
#include "core/workflow/conversion.h"

namespace zentrowe::workflow {

namespace {

Status writeTextFile(const std::filesystem::path& path, std::string_view text, FileSystem& files)
{
    return writeFileAtomically(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, files);
}

// Whether writing the file `name` of `folder` would replace `song`, as isSameFile tells, for the
// thousand names of a build: the folder and the song are resolved once, not once a name.
class SongInFolder {
public:
    SongInFolder(std::filesystem::path folder, std::filesystem::path song)
        : m_folder(std::move(folder)), m_song(std::move(song))
    {
        std::error_code folderError;
        std::error_code songError;
        m_resolvedFolder = std::filesystem::weakly_canonical(m_folder, folderError);
        m_resolvedSong = std::filesystem::weakly_canonical(m_song, songError);
        m_resolved = !folderError && !songError;
    }

    bool replacedBy(const std::string& name) const
    {
        const auto file = utf8Path(name);
        const auto target = m_folder / file;
        if (file.has_parent_path() || !file.has_filename() || file == "." || file == "..") {
            return isSameFile(target, m_song);
        }
        // A file there is the song only as the same file on disk; one not there yet, as the path
        // the song resolves to.
        return sameFileOnDisk(target, m_song) || (m_resolved && m_resolvedFolder / file == m_resolvedSong);
    }

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_song;
    std::filesystem::path m_resolvedFolder;
    std::filesystem::path m_resolvedSong;
    bool m_resolved = false;
};

// WouldOverwriteSource if a file the commit moves in, or a chart, would replace the song.
Status refuseReplacingSource(const std::vector<BuildRecord>& records, const BuildRequest& request)
{
    const auto& folder = request.conversion.outputFolder;
    std::vector<std::string> arriving = records.front().files;  // and the charts
    for (const auto& record : records) {
        arriving.push_back(record.chart);
    }
    const SongInFolder song(folder, request.conversion.sourceMidiPath);
    for (const auto& name : arriving) {
        if (song.replacedBy(name)) {
            return Error{ErrorCode::WouldOverwriteSource,
                         displayPath(folder / utf8Path(name)) +
                             ": writing it would replace the MIDI file being converted"}
                .inFile(displayPath(folder / utf8Path(name)))
                .about("source");
        }
    }
    return {};
}

// What the earlier builds this one replaces made: the charts first, then their files. The charts
// of a set share their files, so a build killed while removing them never leaves a chart naming
// a file already gone.
std::vector<std::string> replacedByBuild(const BuildManifest& manifest, const std::vector<BuildRecord>& records,
                                         const std::string& setName)
{
    std::vector<std::string> earlier;
    std::vector<std::string> earlierFiles;
    const BuildRecord& incoming = records.front();
    for (const auto& record : manifest.builds) {
        const bool rebuilt =
            std::any_of(records.begin(), records.end(), [&](const BuildRecord& r) { return r.chart == record.chart; });
        // Another song's charts are here only when the request asked to replace them.
        const bool replaced = !isSameSong(record, incoming.song, incoming.songHash, incoming.track);
        if (rebuilt || replaced || chartset::belongsToChartSet(record.chart, setName)) {
            earlier.push_back(record.chart);
            earlierFiles.insert(earlierFiles.end(), record.files.begin(), record.files.end());
        }
    }
    earlier.insert(earlier.end(), earlierFiles.begin(), earlierFiles.end());
    return earlier;
}

// The manifest with this build's records in place of those of the charts in `earlier`, and only
// the sounds some record still lists.
void recordBuild(BuildManifest& manifest, std::vector<BuildRecord> records, const std::vector<std::string>& earlier)
{
    std::erase_if(manifest.builds, [&](const BuildRecord& r) {
        return std::find(earlier.begin(), earlier.end(), r.chart) != earlier.end();
    });
    for (auto& record : records) {
        manifest.builds.push_back(std::move(record));
    }
    std::set<std::string> listed;
    for (const auto& record : manifest.builds) {
        listed.insert(record.files.begin(), record.files.end());
    }
    std::erase_if(manifest.sounds, [&](const auto& sound) { return listed.count(sound.first) == 0; });
}

// The files of `earlier` the commit removes: plain files of the folder that the commit does not
// replace, no build of the manifest uses and that are not the song.
std::vector<std::string> commitRemovals(const std::vector<std::string>& earlier, const std::set<std::string>& kept,
                                        const BuildManifest& manifest, const BuildRequest& request,
                                        const FileSystem& files)
{
    std::vector<std::string> removals;
    for (const auto& name : earlier) {
        const auto path = request.conversion.outputFolder / utf8Path(name);
        if (kept.count(name) != 0 || manifest.uses(name) ||
            std::find(removals.begin(), removals.end(), name) != removals.end() || !files.status(path).regular ||
            isSameFile(path, request.conversion.sourceMidiPath)) {
            continue;
        }
        removals.push_back(name);
    }
    return removals;
}

}  // namespace

// Writes the manifest into the staging folder and lists the commit: every new file, and then
// what the earlier builds of the set's charts made and this one did not (their charts too),
// unless another chart's build uses it: a folder rebuilt many times holds only what its charts
// name. The records share their files.
Result<CommitList> stageCommit(const base::StagingFolder& staging, BuildManifest manifest,
                               std::vector<BuildRecord> records, const BuildRequest& request, ProgressSink& progress)
{
    if (auto refused = refuseReplacingSource(records, request); !refused) {
        return refused.error();
    }
    std::vector<std::string> commitOrder = records.front().files;
    const std::size_t builds = records.size();
    const std::vector<std::string> earlier =
        replacedByBuild(manifest, records, convertedChartFileName(request.conversion));
    recordBuild(manifest, std::move(records), earlier);
    if (auto written =
            writeTextFile(staging.path() / kBuildManifestFileName, manifestText(manifest), staging.fileSystem());
        !written) {
        return written.error();
    }
    commitOrder.push_back(kBuildManifestFileName);
    for (std::size_t k = manifest.builds.size() - builds; k < manifest.builds.size(); ++k) {
        commitOrder.push_back(manifest.builds[k].chart);
    }
    if (progress.stopRequested()) {
        return Error{ErrorCode::Cancelled, ""};
    }
    const std::set<std::string> kept(commitOrder.begin(), commitOrder.end());
    auto removals = commitRemovals(earlier, kept, manifest, request, staging.fileSystem());
    return CommitList{std::move(commitOrder), std::move(removals)};
}

}  // namespace zentrowe::workflow

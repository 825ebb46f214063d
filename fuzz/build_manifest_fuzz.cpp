// Arbitrary bytes as the .zentrowe-build.json `zentrowe-cli build` finds in its output folder.
// Whatever the bytes: no crash; every record read names a plain chart file no other record names
// and lists only plain file names (a build removes what the manifest lists: never a path out of
// the folder); every sound names a plain file with a track and a channel of 1 to 16; and the
// manifest written from them reads back as the same records and sounds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <set>
#include <string>

#include "core/workflow/build_manifest.h"

namespace {

using namespace zentrowe::workflow;

void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "manifest rule broken: %s\n", rule);
        std::abort();
    }
}

bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool sameRecords(const BuildManifest& a, const BuildManifest& b)
{
    if (a.builds.size() != b.builds.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.builds.size(); ++k) {
        const auto& x = a.builds[k];
        const auto& y = b.builds[k];
        if (x.chart != y.chart || x.files != y.files || x.song != y.song || x.songHash != y.songHash ||
            x.track != y.track || x.settings != y.settings) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto manifest = parseBuildManifest(std::span<const std::uint8_t>(data, size));
    std::set<std::string> charts;
    for (const auto& record : manifest.builds) {
        require(isPlainName(record.chart), "a chart is a plain file name");
        require(charts.insert(record.chart).second, "one record per chart");
        require(record.song.find('/') == std::string::npos, "the song is known by its file name");
        for (const auto& file : record.files) {
            require(isPlainName(file), "a file listed is a plain file name");
        }
    }
    std::set<std::string> sounds;
    for (const auto& [name, source] : manifest.sounds) {
        require(isPlainName(name), "a sound is a plain file name");
        require(sounds.insert(name).second, "one source per sound");
        require(source.track >= 1 && source.channel >= 1 && source.channel <= 16, "a source is a track and a channel");
    }
    const std::string text = manifestText(manifest);
    const auto again = parseBuildManifest({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    require(sameRecords(manifest, again), "the manifest written reads back as the same records");
    require(again.sounds == manifest.sounds, "the manifest written reads back with the same sounds");
    return 0;
}

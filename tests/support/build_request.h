#pragma once

#include <filesystem>
#include <string>

#include "core/convert/convert_test_support.h"
#include "core/song/chart_file_name.h"
#include "core/workflow/build.h"
#include "core/workflow/prepared_song.h"

namespace zentrowe::testing {

// A WAV build of track 1 of `song` (written to `source`) into `out`, without BGM: where the build
// tests start; each sets what it looks at.
inline workflow::BuildRequest wavBuildRequest(const Bytes& song, const std::filesystem::path& source,
                                              const std::filesystem::path& out)
{
    writeFile(source, song);
    std::filesystem::create_directories(out);
    workflow::BuildRequest request;
    request.conversion.sourceMidiPath = source;
    request.conversion.song = summaryOf(song);
    request.conversion.chartFileName = song::deriveChartFileName(source.string());
    request.conversion.outputFolder = out;
    request.conversion.trackNumber = 1;
    request.format = audio::SoundFormat::Wave;
    request.bgm = workflow::BgmMode::None;
    return request;
}

// A build of `song` charting `parts` (the first one the chosen part) with `bgm`, its source
// written into `dir`.
inline workflow::BuildRequest partsBuildRequest(const Bytes& song, const std::filesystem::path& dir,
                                                const std::vector<song::TrackPart>& parts,
                                                workflow::BgmMode bgm = workflow::BgmMode::None)
{
    auto request = wavBuildRequest(song, dir / "song.mid", dir / "out");
    request.conversion.trackNumber = parts.front().trackNumber;
    request.conversion.channel = parts.front().channel;
    request.conversion.moreParts.assign(parts.begin() + 1, parts.end());
    request.bgm = bgm;
    return request;
}

// `song` prepared for that build.
inline workflow::PreparedSong preparedSong(const Bytes& song, const std::filesystem::path& dir,
                                           const std::vector<song::TrackPart>& parts,
                                           workflow::BgmMode bgm = workflow::BgmMode::None)
{
    return workflow::prepareSong(partsBuildRequest(song, dir, parts, bgm), song);
}

// An OGG build of `song` (written to dir/song.mid) into dir/`folder` on two threads, every note of
// the other tracks a keysound; with the kept sounds in dir/cache when `cached`: where the tests
// of a rebuild start.
inline workflow::BuildRequest keptSoundsBuildRequest(const Bytes& song, const std::filesystem::path& dir,
                                                     const std::string& folder, bool cached)
{
    auto request = wavBuildRequest(song, dir / "song.mid", dir / folder);
    request.format = audio::SoundFormat::OggVorbis;
    request.bgm = workflow::BgmMode::Keysounds;
    request.threads = 2;
    if (cached) {
        request.cacheFolder = dir / "cache";
    }
    return request;
}

}  // namespace zentrowe::testing

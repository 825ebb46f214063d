#pragma once

#include <filesystem>

#include "core/convert/convert_test_support.h"
#include "core/song/chart_file_name.h"
#include "core/workflow/build.h"

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

}  // namespace zentrowe::testing

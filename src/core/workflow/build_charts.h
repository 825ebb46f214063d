#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "core/base/file_system.h"
#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/chartset/chart_set.h"
#include "core/song/song_credits.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/build_request.h"
#include "core/workflow/silent_keysounds.h"

namespace zentrowe::workflow {

// The lead-in every chart of a set was moved behind.
struct LeadIn {
    std::int32_t measures = 0;
    double seconds = 0;            // at the song's first tempo
    double firstSoundSeconds = 0;  // when the charts' first object sounds, the lead-in included
};

// Completes each chart of the set (header texts from the song's `credits`, #VOLWAV, #PREVIEW, the
// BGM files after the keysounds on the background channel, without the silent keysounds'
// definitions), moves them all behind one lead-in of whole measures and writes each whole into
// `stage` in its format, through `files`. The charts' models are emptied once written.
// WriteFailed.
Result<LeadIn> writeBuildCharts(std::vector<chartset::SetChart>& charts, const BuildRequest& request,
                                const song::SongCredits& credits, const std::vector<BgmFile>& bgmFiles,
                                std::span<const SilentKeysound> silent, const std::filesystem::path& stage,
                                FileSystem& files);

}  // namespace zentrowe::workflow

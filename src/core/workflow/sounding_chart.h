#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/chart/chart_model.h"
#include "core/workflow/background_keysounds.h"
#include "core/workflow/bgm_slices.h"

namespace zentrowe::workflow {

// What the charts of a set sound besides their lanes' track: the other tracks' notes as
// keysounds (with BgmMode::Keysounds; their files by keysound and first code) or the BGM files.
struct SetBackground {
    const BackgroundKeysounds* keysounds = nullptr;  // none: no background keysounds
    std::span<const std::string> keysoundFileNames;
    std::span<const audio::RenderJob> keysoundJobs;  // to tell the silent ones by file name
    chart::ChartCode firstCode = 0;
    std::span<const BgmFile> bgmFiles;
};

// Every sound each chart of a set plays, each once, at the song's own time: the lanes' track as
// converted (`converted`, before any chart of the set thins, lays out or moves its notes: a chart
// puts on its background channel what its lanes leave out), then the other tracks' notes as
// keysounds on the background channel, and the BGM files at the first slot of their measures.
// A keysound in `silentNames` sounds nowhere: its notes are left out. Codes are one per file,
// from 1, as chart::numberCodesByFile gives them. No lead-in: the song's
// first measure is measure 0. Whatever chart options a set is made with, this is the same chart,
// so a loudness measured on it is too.
chart::Chart soundingChart(chart::Chart converted, const SetBackground& background,
                           const std::set<std::string>& silentNames, std::int32_t ticksPerMeasure);

}  // namespace zentrowe::workflow

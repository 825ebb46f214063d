#pragma once

#include <filesystem>
#include <span>

#include "core/audio/loudness.h"
#include "core/audio/render_pool.h"
#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::workflow {

// Brings a build to one loudness: every sound is rendered first into a folder of its own as
// 32-bit float WAV (so a render waits on disk, not in memory, and loses nothing), the chart's
// autoplay is mixed from those and measured, and only then is each file encoded, every one with
// the same gain, so the keysounds keep their levels against each other and against the BGM.
class LoudnessPass {
public:
    explicit LoudnessPass(std::filesystem::path spillFolder) : m_folder(std::move(spillFolder)) {}

    // A writer for the render pool: keeps the sound for `target` in the spill folder, named by
    // the target's stem and ".wav". WriteFailed if it cannot.
    audio::SoundWriter spillWriter() const;

    // Mixes what the chart at `chartPath` plays (every keysound at each of its objects, the BGM
    // files as placed) from the spilled sounds, and gives the gain that meets `target` and the
    // measure the mix then has. The chart's own folder is not read. The refusals of
    // chart::readChartFile and audio::mixChart; Cancelled if the sink asks to stop.
    Result<audio::LoudnessGain> measure(const std::filesystem::path& chartPath, const audio::LoudnessTarget& target,
                                        unsigned threads, ProgressSink& progress) const;

    // Encodes each target from its spilled sound through `writer`, `gainDb` applied, on up to
    // `threads` threads (0: one per core, at most audio::kMostRenderThreads); each spilled file is
    // removed once encoded. Progress in files. The first failure is returned; Cancelled if the
    // sink asks to stop.
    Status encode(std::span<const std::filesystem::path> targets, double gainDb, const audio::SoundWriter& writer,
                  unsigned threads, ProgressSink& progress) const;

    std::filesystem::path spillPath(const std::filesystem::path& target) const;

private:
    std::filesystem::path m_folder;
};

}  // namespace zentrowe::workflow

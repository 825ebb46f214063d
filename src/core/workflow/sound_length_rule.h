#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <span>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/audio/synth_renderer.h"

namespace zentrowe::workflow {

// Events accept no sound file of a minute or more.
inline constexpr std::int64_t kEventLongestSoundFrames = 60LL * audio::kSampleRate;
// A BGM slice ends here at the latest, its note starts (bgm_slices.h) and their tails included,
// well inside the event rule.
inline constexpr std::int64_t kLongestSliceFileFrames = 45LL * audio::kSampleRate;
// A slice cut at its end fades out over this much, so that it ends without a click.
inline constexpr std::int64_t kSliceFadeFrames = audio::kSampleRate / 4;

// A sound file that lasts past the event rule.
struct LongSoundFile {
    std::filesystem::path path;
    double seconds = 0;
};

// Holds a build's sound files to the event rule: the writer it wraps cuts the files named
// `capped` (the BGM slices) at kLongestSliceFileFrames with a short fade, and remembers every
// other file that reaches kEventLongestSoundFrames. The pool's threads write through it at once.
class SoundLengthRule {
public:
    explicit SoundLengthRule(std::set<std::filesystem::path> capped) : m_capped(std::move(capped)) { }

    // `inner` behind the rule; the rule must outlive the writer returned.
    audio::SoundWriter wrap(audio::SoundWriter inner);

    // The files written that last a minute or more, by path: the same list whatever order the
    // pool's threads wrote them in.
    std::vector<LongSoundFile> pastTheRule() const;
    // Notes files past the rule that an earlier build with the same sounds found, none written here.
    void recall(std::vector<LongSoundFile> files);

private:
    std::set<std::filesystem::path> m_capped;
    mutable std::mutex m_mutex;
    std::vector<LongSoundFile> m_long;
};

// The first `frames` frames of interleaved stereo `samples`, the last kSliceFadeFrames of them
// faded out linearly; the samples as they are when they are no longer.
std::vector<float> cutWithFade(std::span<const float> samples, std::int64_t frames);

}  // namespace zentrowe::workflow

#include "core/workflow/sound_length_rule.h"

#include <algorithm>

namespace zentrowe::workflow {

namespace {

constexpr std::size_t kStereo = audio::kChannelCount;

}  // namespace

std::vector<float> cutWithFade(std::span<const float> samples, std::int64_t frames)
{
    const auto kept = std::min(samples.size(), static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)) * kStereo);
    std::vector<float> out(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(kept));
    if (kept == samples.size()) {
        return out;
    }
    const std::size_t keptFrames = kept / kStereo;
    const std::size_t fade = std::min(keptFrames, static_cast<std::size_t>(kSliceFadeFrames));
    for (std::size_t k = 0; k < fade; ++k) {
        const std::size_t frame = keptFrames - fade + k;
        const float gain = static_cast<float>(fade - k) / static_cast<float>(fade + 1);
        for (std::size_t c = 0; c < kStereo; ++c) {
            out[frame * kStereo + c] *= gain;
        }
    }
    return out;
}

audio::SoundWriter SoundLengthRule::wrap(audio::SoundWriter inner)
{
    return [this, inner = std::move(inner)](const std::filesystem::path& target, std::span<const float> samples) {
        const auto frames = static_cast<std::int64_t>(samples.size() / kStereo);
        if (m_capped.contains(target) && frames > kLongestSliceFileFrames) {
            const auto cut = cutWithFade(samples, kLongestSliceFileFrames);
            return inner(target, cut);
        }
        if (frames >= kEventLongestSoundFrames) {
            std::lock_guard lock(m_mutex);
            m_long.push_back({target, static_cast<double>(frames) / audio::kSampleRate});
        }
        return inner(target, samples);
    };
}

void SoundLengthRule::recall(std::vector<LongSoundFile> files)
{
    std::lock_guard lock(m_mutex);
    m_long.insert(m_long.end(), files.begin(), files.end());
}

std::vector<LongSoundFile> SoundLengthRule::pastTheRule() const
{
    std::vector<LongSoundFile> files;
    {
        std::lock_guard lock(m_mutex);
        files = m_long;
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return files;
}

}  // namespace zentrowe::workflow

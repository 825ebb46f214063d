#include "core/audio/sound_comparison.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zentrowe::audio {
namespace {

constexpr int kRate = 44100;

struct Tone {
    double start;    // seconds
    double hertz;
    double seconds;
};

// Decaying sine tones, the same on both sides, at `level`.
StereoSound tones(const std::vector<Tone>& list, double totalSeconds, float level = 0.5F)
{
    StereoSound sound{kRate, std::vector<float>(static_cast<std::size_t>(totalSeconds * kRate) * 2, 0.0F)};
    for (const auto& tone : list) {
        const auto first = static_cast<std::size_t>(tone.start * kRate);
        for (std::size_t i = 0; i < static_cast<std::size_t>(tone.seconds * kRate) && first + i < sound.frames(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            const auto value = static_cast<float>(level * std::exp(-3 * t) * std::sin(2 * std::numbers::pi * tone.hertz * t));
            sound.samples[2 * (first + i)] += value;
            sound.samples[2 * (first + i) + 1] += value;
        }
    }
    return sound;
}

TEST(SoundComparison, AlikeOnlyWithTheSameNotesAtTheSameTimes)
{
    // A scale of eight quarter-second notes from middle C.
    const std::vector<double> scale = {261.63, 293.66, 329.63, 349.23, 392.00, 440.00, 493.88, 523.25};
    std::vector<Tone> melody;
    std::vector<Tone> late;
    std::vector<Tone> swapped;
    for (std::size_t i = 0; i < scale.size(); ++i) {
        const double start = 0.25 * static_cast<double>(i);
        melody.push_back({start, scale[i], 0.25});
        late.push_back({start + 0.125, scale[i], 0.25});
        // D and A trade places, as two keysound files renamed into each other.
        const double hertz = i == 1 ? scale[5] : i == 5 ? scale[1] : scale[i];
        swapped.push_back({start, hertz, 0.25});
    }
    const auto reference = tones(melody, 2.25);
    {
        SCOPED_TRACE("the same sound, quieter");
        const auto result = compareSounds(reference, tones(melody, 2.25, 0.1F));
        EXPECT_NEAR(result.similarity, 1.0, 1e-9);
        EXPECT_NEAR(result.worstSimilarity, 1.0, 1e-9);
    }
    {
        SCOPED_TRACE("an eighth of a second late");
        EXPECT_LT(compareSounds(reference, tones(late, 2.25)).similarity, 0.7);
    }
    {
        SCOPED_TRACE("two notes swapped");
        const auto result = compareSounds(reference, tones(swapped, 2.25));
        EXPECT_LT(result.worstSimilarity, 0.8);  // one wrong note of the four in a second
    }
    {
        SCOPED_TRACE("silence against sound, and silence against silence");
        EXPECT_NEAR(compareSounds(reference, tones({}, 2.25)).similarity, 0.0, 1e-9);
        EXPECT_NEAR(compareSounds(tones({}, 1), tones({}, 2)).similarity, 1.0, 1e-9);
    }
    {
        SCOPED_TRACE("a rate under 50 Hz: a hop of at least one frame");
        StereoSound slow;
        slow.sampleRate = 40;
        slow.samples.assign(400 * 2, 0.25F);
        EXPECT_GE(compareSounds(slow, slow).similarity, 0.99);
    }
}

}  // namespace
}  // namespace zentrowe::audio

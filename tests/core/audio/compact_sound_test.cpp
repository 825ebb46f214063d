#include "core/audio/compact_sound.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

#include "core/audio/float_wave.h"
#include "support/test_support.h"

namespace zentrowe::audio {
namespace {

TEST(CompactSound, EachStretchKeepsItsOwnPeakToOneStepIn32767)
{
    // A loud stretch, a stretch 80 dB quieter, a silent one and one part-filled at the end.
    std::vector<float> sound(kCompactStretchFrames * 2 * 3 + 10);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const float level = i < kCompactStretchFrames * 2 ? 0.9f : i < kCompactStretchFrames * 4 ? 9e-5f : 0.0f;
        sound[i] = level * static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
    }
    sound.back() = -0.5f;
    ChunkArena memory;
    const auto compact = compactSound(sound, memory);
    ASSERT_EQ(compact.samples.size(), sound.size());
    ASSERT_EQ(compact.steps.size(), 4u);
    EXPECT_EQ(compact.steps[2], 0.0f);
    std::vector<float> back(sound.size(), 1.0f);
    expandSound(compact, 0, back, 1, false);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const float step = compact.steps[i / (kCompactStretchFrames * 2)];
        // Half a step of rounding, and the float arithmetic's own.
        ASSERT_NEAR(back[i], sound[i], step / 2 + std::fabs(sound[i]) * 1e-6f) << "sample " << i;
    }
    // Added at twice the gain from the middle of a stretch on: on top of what is there.
    std::vector<float> added(100, 1.0f);
    expandSound(compact, kCompactStretchFrames * 2 - 50, added, 2, true);
    EXPECT_NEAR(added[0], 1 + 2 * back[kCompactStretchFrames * 2 - 50], 1e-6f);
    EXPECT_NEAR(added[99], 1 + 2 * back[kCompactStretchFrames * 2 + 49], 1e-6f);
}

// Samples round to the nearest step, ties to the even one; a stretch that is no sound, or too
// quiet for its step to have an inverse, is kept as silence rather than as full-scale steps.
TEST(CompactSound, RoundsTiesToEvenAndKeepsWhatIsNoSoundAsSilence)
{
    constexpr float kStep = 1.0f / 32768;  // the step of a stretch whose peak is 32767 / 32768
    const float nan = std::nanf("");
    struct Case {
        const char* name;
        std::vector<float> sound;
        float step;
        std::vector<std::int16_t> samples;
    };
    const Case cases[] = {
        {"halves go to the even step", {32767 * kStep, 2.5f * kStep, 3.5f * kStep, -2.5f * kStep, -3.5f * kStep, 0},
         kStep, {32767, 2, 4, -2, -4, 0}},
        {"a NaN among the samples", {0.5f, nan, -0.25f, 0.1f}, 0, {0, 0, 0, 0}},
        {"an infinity", {0.5f, -std::numeric_limits<float>::infinity()}, 0, {0, 0}},
        {"a peak of 1e-38", {1e-38f, -5e-39f, 0, 1e-39f}, 0, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChunkArena memory;
        const auto compact = compactSound(c.sound, memory);
        ASSERT_EQ(compact.steps.size(), 1u);
        EXPECT_EQ(compact.steps[0], c.step);
        EXPECT_EQ(std::vector<std::int16_t>(compact.samples.begin(), compact.samples.end()), c.samples);
    }
}

TEST(FloatWave, SpilledSamplesComeBackBitForBit)
{
    testing::TempDir dir;
    const std::vector<float> sound = {0.0f, -1.0f, 1e-30f, 0.123456789f, -0.5f, 3.0f};
    ASSERT_TRUE(writeFloatWave(dir / "spill.wav", sound).ok());
    EXPECT_EQ(std::filesystem::file_size(dir / "spill.wav"), 44 + sound.size() * 4);
    const auto read = readFloatWave(dir / "spill.wav");
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(*read, sound);
    EXPECT_EQ(readFloatWave(dir / "missing.wav").error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(writeFloatWave(dir / "none" / "spill.wav", sound).error().code, ErrorCode::WriteFailed);
}

// The RIFF and data sizes as the format counts them (the RIFF size is the file's less 8 bytes);
// past 32 bits both say 0xFFFFFFFF rather than a size wrapped round to a few bytes.
TEST(FloatWave, SizesPast32BitsAreWrittenAsTheLargestNotWrapped)
{
    const auto u32At = [](const std::array<char, kFloatWaveHeaderBytes>& header, std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value |= std::uint32_t{static_cast<std::uint8_t>(header[at + i])} << (8 * i);
        }
        return value;
    };
    const std::tuple<std::uint64_t, std::uint32_t, std::uint32_t> cases[] = {
        {24, 60, 24},
        {0xFFFFFFFFULL - 36, 0xFFFFFFFF, 0xFFFFFFFF - 36},
        {0xFFFFFFFFULL - 35, 0xFFFFFFFF, 0xFFFFFFFF - 35},
        {(1ULL << 32) + 24, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& [dataBytes, riffSize, dataSize] : cases) {
        SCOPED_TRACE(dataBytes);
        const auto header = floatWaveHeader(dataBytes);
        EXPECT_EQ(std::string(header.data(), 4), "RIFF");
        EXPECT_EQ(u32At(header, 4), riffSize);
        EXPECT_EQ(std::string(header.data() + 36, 4), "data");
        EXPECT_EQ(u32At(header, 40), dataSize);
    }
}

}  // namespace
}  // namespace zentrowe::audio

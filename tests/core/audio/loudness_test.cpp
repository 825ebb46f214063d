#include "core/audio/loudness.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace zentrowe::audio {
namespace {

std::vector<float> stereoSine(double frequency, double peakDbfs, double seconds, int rate)
{
    const auto frames = static_cast<std::size_t>(seconds * rate);
    const double amplitude = amplitudeOfDb(peakDbfs);
    std::vector<float> samples(frames * 2);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const auto value = static_cast<float>(
            amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / rate));
        samples[2 * frame] = value;
        samples[2 * frame + 1] = value;
    }
    return samples;
}

// The broadcasters' own check of a meter: a stereo 1 kHz sine at -23 dBFS reads -23.0 LUFS, and
// at -20 dBFS -20.0 LUFS, whatever the rate and however the sound is handed over.
TEST(LoudnessMeter, ReadsTheReferenceSinesAtTheirLevel)
{
    struct Case {
        double dbfs;
        int rate;
        std::size_t pieceFrames;
    };
    for (const Case& c : {Case{-23, 48000, 1u << 30}, Case{-20, 44100, 4096}, Case{-23, 44100, 333}}) {
        SCOPED_TRACE(std::to_string(c.dbfs) + " dBFS at " + std::to_string(c.rate));
        auto meter = LoudnessMeter::open(c.rate);
        ASSERT_TRUE(meter);
        const auto sine = stereoSine(1000, c.dbfs, 20, c.rate);
        for (std::size_t at = 0; at < sine.size(); at += 2 * c.pieceFrames) {
            const std::size_t count = std::min(sine.size() - at, 2 * c.pieceFrames);
            meter->add(std::span(sine).subspan(at, count));
        }
        const auto measured = meter->measure();
        EXPECT_NEAR(measured.integratedLufs, c.dbfs, 0.1);
        EXPECT_NEAR(measured.truePeakDbtp, c.dbfs, 0.2);
    }
}

// A meter asked for one measure gives the other as -infinity, and the one it gives as a meter of
// both would.
TEST(LoudnessMeter, MetersOfOneMeasureGiveItAsAMeterOfBoth)
{
    const auto sine = stereoSine(997, -6, 3, 44100);
    auto both = LoudnessMeter::open(44100);
    auto loudness = LoudnessMeter::open(44100, LoudnessMeter::Measures::Loudness);
    auto peak = LoudnessMeter::open(44100, LoudnessMeter::Measures::TruePeak);
    ASSERT_TRUE(both && loudness && peak);
    for (auto* meter : {&*both, &*loudness, &*peak}) {
        meter->add(sine);
    }
    EXPECT_DOUBLE_EQ(loudness->measure().integratedLufs, both->measure().integratedLufs);
    EXPECT_TRUE(std::isinf(loudness->measure().truePeakDbtp));
    EXPECT_DOUBLE_EQ(peak->measure().truePeakDbtp, both->measure().truePeakDbtp);
    EXPECT_TRUE(std::isinf(peak->measure().integratedLufs));
}

TEST(LoudnessMeter, SilenceAndBadRatesHaveNoLoudness)
{
    auto meter = LoudnessMeter::open(44100);
    ASSERT_TRUE(meter);
    meter->add(std::vector<float>(2 * 44100 * 3, 0.0f));
    const auto measured = meter->measure();
    EXPECT_TRUE(std::isinf(measured.integratedLufs) && measured.integratedLufs < 0);
    EXPECT_TRUE(std::isinf(measured.truePeakDbtp) && measured.truePeakDbtp < 0);
    EXPECT_EQ(normalisingGain(measured, {}).bound, LoudnessBound::Silent);
    EXPECT_EQ(normalisingGain(measured, {}).gainDb, 0);

    for (const int rate : {0, 999, 768001}) {
        const auto refused = LoudnessMeter::open(rate);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, ErrorCode::InvalidSetting);
        EXPECT_EQ(refused.error().number, rate);
    }
}

TEST(NormalisingGain, StopsAtWhicheverBoundComesFirst)
{
    struct Case {
        LoudnessMeasure measured;
        double gainDb;
        LoudnessBound bound;
    };
    // A quiet, even programme reaches -14 LUFS; a programme with sharp peaks stops at -1 dBTP.
    for (const Case& c : {Case{{-29.4, -20.0}, 15.4, LoudnessBound::Loudness},
                          Case{{-22.0, -3.0}, 2.0, LoudnessBound::TruePeak},
                          Case{{-8.0, -0.5}, -6.0, LoudnessBound::Loudness},
                          Case{{-14.0, -1.0}, 0.0, LoudnessBound::Loudness}}) {
        SCOPED_TRACE(c.measured.integratedLufs);
        const auto gain = normalisingGain(c.measured, {-14, -1});
        EXPECT_NEAR(gain.gainDb, c.gainDb, 1e-9);
        EXPECT_EQ(gain.bound, c.bound);
        EXPECT_LE(gain.after.truePeakDbtp, -1 + 1e-9);
        EXPECT_LE(gain.after.integratedLufs, -14 + 1e-9);
    }
}

TEST(NormalisingGain, AppliedToTheSoundMeasuresAsPredicted)
{
    const auto sine = stereoSine(440, -30, 10, 44100);
    auto before = LoudnessMeter::open(44100);
    ASSERT_TRUE(before);
    before->add(sine);
    const auto gain = normalisingGain(before->measure(), {-14, -1});
    ASSERT_EQ(gain.bound, LoudnessBound::Loudness);

    auto louder = sine;
    const auto factor = static_cast<float>(amplitudeOfDb(gain.gainDb));
    for (auto& sample : louder) {
        sample *= factor;
    }
    auto after = LoudnessMeter::open(44100);
    ASSERT_TRUE(after);
    after->add(louder);
    EXPECT_NEAR(after->measure().integratedLufs, -14, 0.5);
}

}  // namespace
}  // namespace zentrowe::audio

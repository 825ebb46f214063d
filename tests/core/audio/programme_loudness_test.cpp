#include "core/audio/programme_loudness.h"

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zentrowe::audio {
namespace {

// Programmes that exercise the gates, the filters' low and high ends and inter-sample peaks,
// measured by the programme meter on one and on several threads and by the library meter.
TEST(ProgrammeLoudness, AgreesWithTheLibraryMeterOnOneThreadOrMany)
{
    constexpr int kRate = 44100;
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0, 0.1F);
    const auto seconds = [](double s) { return static_cast<std::size_t>(s * kRate); };
    struct Case {
        std::string name;
        std::vector<float> samples;
        double truePeak = 0;  // dBTP when known exactly (the library's reading may overshoot it)
    };
    std::vector<Case> cases;
    {
        // Loud and quiet noise with silence between: the relative gate leaves the quiet part out.
        std::vector<float> samples(seconds(40) * 2, 0.0F);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double at = static_cast<double>(i / 2) / kRate;
            const float level = at < 12 ? 1.0F : at < 20 ? 0.0F : at < 30 ? 0.03F : 0.5F;
            samples[i] = level * noise(random);
        }
        cases.push_back({"gated noise", std::move(samples)});
    }
    {
        // 40 Hz left, 12 kHz right; then a quarter-rate sine whose samples fall 45 degrees off
        // its crests: its true peak is 3 dB above them.
        std::vector<float> samples(seconds(25) * 2);
        for (std::size_t frame = 0; frame < samples.size() / 2; ++frame) {
            const double t = static_cast<double>(frame) / kRate;
            if (t < 15) {
                samples[2 * frame] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 40 * t));
                samples[2 * frame + 1] = static_cast<float>(0.2 * std::sin(2 * std::numbers::pi * 12000 * t));
            } else {
                const auto quarter = static_cast<float>(0.5 * std::sin(std::numbers::pi / 2 * static_cast<double>(frame) + std::numbers::pi / 4));
                samples[2 * frame] = quarter;
                samples[2 * frame + 1] = -quarter;
            }
        }
        cases.push_back({"low, high and between the samples", std::move(samples), 20 * std::log10(0.5)});
    }
    cases.push_back({"shorter than a gating block", std::vector<float>(seconds(0.3) * 2, 0.25F)});
    cases.push_back({"silence", std::vector<float>(seconds(5) * 2, 0.0F)});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto meter = LoudnessMeter::open(kRate);
        ASSERT_TRUE(meter.ok());
        meter->add(c.samples);
        const auto expected = meter->measure();
        const auto frames = static_cast<std::int64_t>(c.samples.size() / 2);
        const ProgrammeReader read = [&](std::int64_t from, std::int64_t to, const SoundBlockSink& take) {
            // In uneven pieces, as a mix hands them over.
            for (std::int64_t at = from; at < to; at += 3001) {
                const auto count = static_cast<std::size_t>(std::min<std::int64_t>(3001, to - at));
                take(std::span<const float>(c.samples).subspan(static_cast<std::size_t>(at) * 2, count * 2));
            }
        };
        for (const unsigned threads : {1U, 3U}) {
            SCOPED_TRACE(std::to_string(threads) + " threads");
            const auto measured = measureProgramme(read, frames, kRate, threads);
            ASSERT_TRUE(measured.ok());
            if (std::isinf(expected.integratedLufs)) {
                EXPECT_TRUE(std::isinf(measured->integratedLufs)) << measured->integratedLufs;
            } else {
                EXPECT_NEAR(measured->integratedLufs, expected.integratedLufs, 0.01);
            }
            if (c.truePeak != 0) {
                EXPECT_NEAR(measured->truePeakDbtp, c.truePeak, 0.05);
            } else if (std::isinf(expected.truePeakDbtp)) {
                EXPECT_TRUE(std::isinf(measured->truePeakDbtp)) << measured->truePeakDbtp;
            } else {
                EXPECT_NEAR(measured->truePeakDbtp, expected.truePeakDbtp, 0.1);
            }
        }
    }
}

}  // namespace
}  // namespace zentrowe::audio

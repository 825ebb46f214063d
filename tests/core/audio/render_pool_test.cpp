#include "core/audio/render_pool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zentrowe::audio {
namespace {

TEST(RenderPool, ThreadsAreAtLeastOneAndAtMostEightOrOnePerJob)
{
    struct Case {
        unsigned asked;
        std::size_t jobs;
        unsigned expected;
    };
    for (const auto& c : {Case{1, 100, 1}, Case{4, 100, 4}, Case{64, 1000, kMostRenderThreads}, Case{4, 2, 2},
                          Case{3, 0, 1}}) {
        SCOPED_TRACE(std::to_string(c.asked) + " asked, " + std::to_string(c.jobs) + " jobs");
        EXPECT_EQ(renderThreadCount(c.asked, c.jobs), c.expected);
    }
    EXPECT_GE(renderThreadCount(0, 1000), 1u);
    EXPECT_LE(renderThreadCount(0, 1000), kMostRenderThreads);
}

// Synthesisers made, used and let go on eight threads at once share the library's state (its
// tables, its sample cache): each sound must come out as on one thread alone. Every job is a
// sequence, after which its thread lets its synthesiser go and makes a new one, so that each
// sound is rendered by a fresh synthesiser whichever thread takes it.
TEST(RenderPool, SynthesisersMadeAndLetGoOnManyThreadsRenderWhatOneDoes)
{
    const std::filesystem::path font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::exists(font)) {
        FAIL() << "no General MIDI soundfont at " << font << "; scripts/install-deps installs it";
    }
    std::vector<std::vector<TimedEvent>> sequences;
    for (int i = 0; i < 12; ++i) {
        const auto program = static_cast<std::uint8_t>((i * 8) % 128);
        const auto note = static_cast<std::uint8_t>(40 + i);
        sequences.push_back({{0, 0xC0, program, 0}, {0, 0x90, note, 100}, {1024, 0x80, note, 0}});
    }
    std::vector<RenderJob> jobs;
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        RenderJob job;
        job.target = "sound" + std::to_string(i);
        job.name = job.target.string();
        job.sequence = true;
        job.events = sequences[i];
        job.tailFrames = 2048;
        jobs.push_back(job);
    }
    const RendererFactory factory = []() -> Result<std::unique_ptr<Renderer>> {
        auto synth = SynthRenderer::open("/usr/share/sounds/sf2/TimGM6mb.sf2");
        if (!synth) {
            return synth.error();
        }
        return std::unique_ptr<Renderer>(std::make_unique<SynthRenderer>(std::move(synth).value()));
    };
    const auto renderWith = [&](unsigned threads) {
        std::mutex mutex;
        std::map<std::string, std::vector<float>> sounds;
        const SoundWriter keep = [&](const std::filesystem::path& target, std::span<const float> samples) -> Status {
            std::lock_guard lock(mutex);
            sounds[target.string()].assign(samples.begin(), samples.end());
            return {};
        };
        NullProgress progress;
        EXPECT_TRUE(renderAll(jobs, nullptr, factory, keep, threads, progress));
        return sounds;
    };
    const auto alone = renderWith(1);
    ASSERT_EQ(alone.size(), jobs.size());
    const auto together = renderWith(8);
    for (const auto& [name, samples] : alone) {
        SCOPED_TRACE(name);
        ASSERT_EQ(together.count(name), 1U);
        EXPECT_FALSE(samples.empty());
        EXPECT_TRUE(together.at(name) == samples);
    }
}

}  // namespace
}  // namespace zentrowe::audio

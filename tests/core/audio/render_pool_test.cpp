#include "core/audio/render_pool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
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
    for (const auto& c :
         {Case{1, 100, 1}, Case{4, 100, 4}, Case{64, 1000, kMostRenderThreads}, Case{4, 2, 2}, Case{3, 0, 1}}) {
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

// The synthesiser, counting the notes it renders.
class CountingSynth final : public Renderer {
public:
    CountingSynth(SynthRenderer synth, int& notes) : m_synth(std::move(synth)), m_notes(notes) { }
    Result<std::vector<float>> renderNote(const NoteSound& sound) override
    {
        ++m_notes;
        return m_synth.renderNote(sound);
    }
    Result<std::vector<float>> renderEvents(std::span<const TimedEvent> events, std::int64_t tailFrames,
                                            ProgressSink& progress) override
    {
        return m_synth.renderEvents(events, tailFrames, progress);
    }
    NoteSound playedAs(const NoteSound& sound) const override { return m_synth.playedAs(sound); }

private:
    SynthRenderer m_synth;
    int& m_notes;  // the pool lets its renderers go: the count outlives them
};

// Two notes the synthesiser plays alike are rendered once and both files get that sound, which
// is the sound each renders on its own; any difference it hears renders both.
TEST(RenderPool, NotesPlayedAlikeRenderOnceAsEachWouldAlone)
{
    const std::filesystem::path font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    NoteSound drum{{0, 0, true}, 38, 100, {}, 2000, std::nullopt};
    NoteSound piano{{0, 0, false}, 60, 90, {}, 10'000, std::nullopt};
    const auto with = [](NoteSound sound, auto change) {
        change(sound);
        return sound;
    };
    struct Case {
        const char* what;
        NoteSound first;
        NoteSound second;
        int renders;
    };
    const Case cases[] = {
        {"a drum struck for longer", drum, with(drum, [](NoteSound& s) { s.noteFrames = 30'000; }), 1},
        {"a note a few frames longer", piano, with(piano, [](NoteSound& s) { s.noteFrames += 3; }), 1},
        {"a note twice as long", piano, with(piano, [](NoteSound& s) { s.noteFrames *= 2; }), 2},
        {"a note struck harder", piano, with(piano, [](NoteSound& s) { s.velocity = 120; }), 2},
        {"a drum panned left", drum, with(drum, [](NoteSound& s) { s.controls.pan = 0; }), 2},
        {"a drum choked", drum, with(drum, [](NoteSound& s) { s.cutFrames = 5000; }), 2},
        {"a drum of another kit", drum, with(drum, [](NoteSound& s) { s.instrument.program = 8; }), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto synth = SynthRenderer::open(font);
        ASSERT_TRUE(synth);
        int notes = 0;
        auto counting = std::make_unique<CountingSynth>(std::move(synth).value(), notes);
        std::map<std::string, std::vector<float>> sounds;
        const SoundWriter keep = [&](const std::filesystem::path& target, std::span<const float> samples) -> Status {
            sounds[target.string()].assign(samples.begin(), samples.end());
            return {};
        };
        std::vector<RenderJob> jobs(2);
        jobs[0].target = jobs[0].name = "first";
        jobs[0].note = c.first;
        jobs[1].target = jobs[1].name = "second";
        jobs[1].note = c.second;
        NullProgress progress;
        const RendererFactory none = []() -> Result<std::unique_ptr<Renderer>> {
            return Error{ErrorCode::CannotOpen, "one thread only"};
        };
        ASSERT_TRUE(renderAll(jobs, std::move(counting), none, keep, 1, progress));
        EXPECT_EQ(notes, c.renders);
        auto alone = SynthRenderer::open(font);
        ASSERT_TRUE(alone);
        for (const auto& job : jobs) {
            SCOPED_TRACE(job.name);
            const auto own = alone->renderNote(job.note);
            ASSERT_TRUE(own);
            EXPECT_FALSE(own->empty());
            EXPECT_TRUE(sounds.at(job.name) == *own);
        }
    }
}

}  // namespace
}  // namespace zentrowe::audio

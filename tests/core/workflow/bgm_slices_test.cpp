#include "core/workflow/bgm_slices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "core/audio/sound_comparison.h"
#include "support/memory_bound.h"

namespace zentrowe::audio {
// Found by the comparisons of event lists below.
bool operator==(const TimedEvent& a, const TimedEvent& b)
{
    return a.frame == b.frame && a.status == b.status && a.data1 == b.data1 && a.data2 == b.data2;
}
}  // namespace zentrowe::audio

namespace zentrowe::testing {
namespace {

using audio::TimedEvent;
using workflow::sliceBgm;

// At the standard's 120 BPM, with 96 ticks a quarter, a measure is 2 s: 10 make a slice.
constexpr std::int32_t kTicksPerMeasure = 4 * 96;
constexpr std::int64_t kMeasureFrames = 2 * audio::kSampleRate;
const song::Timeline kClock(96, {});

TimedEvent at(std::int64_t measure, std::int64_t frames, int status, int data1, int data2)
{
    return {measure * kMeasureFrames + frames, static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1),
            static_cast<std::uint8_t>(data2)};
}

TEST(BgmSlices, ASliceHoldsTheNotesStartingInItsMeasuresWithTheirTailsAndTheStateBeforeIt)
{
    struct Case {
        const char* name;
        TimedEvent before;  // a channel event at measure 0, before any slice but the first
    };
    const std::vector<Case> cases = {
        {"program change", at(0, 0, 0xC1, 40, 0)},
        {"volume", at(0, 0, 0xB1, 7, 30)},
        {"bank select", at(0, 0, 0xB1, 0, 1)},
        {"pitch bend", at(0, 0, 0xE1, 0, 80)},
        {"channel pressure", at(0, 0, 0xD1, 90, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TimedEvent> events = {
            c.before,
            at(0, 100, 0x91, 60, 100),
            at(9, 0, 0x91, 62, 90),        // starts in the first slice, ends in the second's time
            at(11, 0, 0x81, 62, 0),
            at(11, 10, 0xB1, 64, 127),     // a pedal both slices' notes hear
            at(20, 0, 0x91, 64, 80),
            at(21, 0, 0x81, 60, 0),        // the first note's end, long after
            at(21, 0, 0x81, 64, 0),
        };
        const auto slices = sliceBgm(events, kClock, kTicksPerMeasure, 999);
        ASSERT_EQ(slices.size(), 2u);
        EXPECT_EQ(slices[0].measure, 0);
        EXPECT_EQ(slices[0].startFrame, 0);
        const std::vector<TimedEvent> first = {
            c.before, events[1], events[2], events[3], events[4], events[6],
        };
        EXPECT_EQ(slices[0].events, first);
        EXPECT_EQ(slices[1].measure, 20);
        EXPECT_EQ(slices[1].startFrame, 20 * kMeasureFrames);
        const std::vector<TimedEvent> second = {
            {0, c.before.status, c.before.data1, c.before.data2},
            {0, 0xB1, 64, 127},
            at(0, 0, 0x91, 64, 80),
            at(1, 0, 0x81, 64, 0),
        };
        EXPECT_EQ(slices[1].events, second);
    }
}

TEST(BgmSlices, SlicesAreWholeMeasuresOfAtMostTwentySecondsAndSkipTheSilentOnes)
{
    struct Case {
        const char* name;
        std::vector<std::int64_t> noteMeasures;
        std::int32_t lastStartMeasure;
        std::vector<std::int32_t> sliceMeasures;
    };
    const std::vector<Case> cases = {
        {"one measure", {3}, 999, {3}},
        {"ten measures are twenty seconds", {0, 9}, 999, {0}},
        {"the eleventh starts another", {0, 10}, 999, {0, 10}},
        {"silence between gets no slice", {0, 40, 41}, 999, {0, 40}},
        {"the chart's last measure takes the rest", {0, 990, 1200, 1300}, 999, {0, 990, 999}},
        {"a first note past the last measure", {1200}, 999, {999}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TimedEvent> events;
        for (const auto measure : c.noteMeasures) {
            events.push_back(at(measure, 500, 0x90, 60, 100));
            events.push_back(at(measure, 1000, 0x80, 60, 0));
        }
        const auto slices = sliceBgm(events, kClock, kTicksPerMeasure, c.lastStartMeasure);
        std::vector<std::int32_t> measures;
        std::size_t notes = 0;
        for (const auto& slice : slices) {
            measures.push_back(slice.measure);
            for (const auto& event : slice.events) {
                EXPECT_GE(event.frame, 0);
                notes += event.status == 0x90 ? 1 : 0;
            }
        }
        EXPECT_EQ(measures, c.sliceMeasures);
        EXPECT_EQ(notes, c.noteMeasures.size());  // every note in exactly one slice
    }
}

TEST(BgmSlices, ANoteStruckAgainInALaterSliceEndsThereAsTheSynthesiserCutsIt)
{
    const std::vector<TimedEvent> events = {
        at(0, 0, 0x92, 50, 100),
        at(16, 0, 0x92, 50, 90),  // the key again: the first voice is cut here
        at(17, 0, 0x82, 50, 0),
    };
    const auto slices = sliceBgm(events, kClock, kTicksPerMeasure, 999);
    ASSERT_EQ(slices.size(), 2u);
    const std::vector<TimedEvent> first = {events[0], at(16, 0, 0x82, 50, 0)};
    EXPECT_EQ(slices[0].events, first);
    const std::vector<TimedEvent> second = {at(0, 0, 0x92, 50, 90), at(1, 0, 0x82, 50, 0)};
    EXPECT_EQ(slices[1].events, second);
}

// A controller sweep before the slices: each slice starts from the state it reached, not from a
// copy of the sweep.
TEST(BgmSlices, ASliceStartsFromTheStateInForceNotTheEventsThatMadeIt)
{
    const auto run = runWithinMemoryBound([] {
        std::vector<TimedEvent> events;
        events.reserve(1'000'100);
        for (int i = 0; i < 1'000'000; ++i) {
            events.push_back(at(0, i / 100, 0xE3, i % 128, i / 128 % 128));
        }
        events.push_back(at(0, 20'000, 0xB3, 7, 90));
        for (std::int64_t measure = 0; measure < 40 * 20; measure += 20) {
            events.push_back(at(measure, 30'000, 0x93, 60, 100));
            events.push_back(at(measure, 40'000, 0x83, 60, 0));
        }
        std::vector<workflow::BgmSlice> slices;
        const auto grown = residentGrowth([&] { slices = sliceBgm(events, kClock, kTicksPerMeasure, 999); });
        const std::vector<TimedEvent> state = {
            {0, 0xE3, (999'999 % 128), (999'999 / 128 % 128)},
            {0, 0xB3, 7, 90},
        };
        if (slices.size() != 40) {
            return 1;
        }
        for (std::size_t k = 1; k < slices.size(); ++k) {
            const std::vector<TimedEvent> prelude(slices[k].events.begin(), slices[k].events.begin() + 2);
            if (slices[k].events.size() != 4 || prelude != state) {
                return 2;
            }
        }
        // The first slice holds the events, 16 MB, and grew to hold them; a copy of them in every
        // slice took 640 MB more. (Sanitizers keep what is freed a while.)
        std::fprintf(stderr, "resident memory grew by %lld bytes\n", static_cast<long long>(grown));
        return grown < (std::int64_t{256} << 20) ? 0 : 3;
    });
    EXPECT_EQ(run.exitCode, 0);
}

TEST(BgmSlices, BuildFileNamesAreKnownAsTheBgm)
{
    EXPECT_EQ(workflow::bgmSliceName(0, ".ogg"), "bgm-001.ogg");
    EXPECT_EQ(workflow::bgmSliceName(1233, ".wav"), "bgm-1234.wav");
    for (const auto* name : {"bgm.ogg", "BGM.WAV", "bgm-001.ogg", "Bgm-1234.flac"}) {
        EXPECT_TRUE(workflow::isBgmFileName(name)) << name;
    }
    for (const auto* name : {"bgm-01.ogg", "bgm-001x.ogg", "bgmx.ogg", "A60-48-100.ogg", "bgm-.ogg"}) {
        EXPECT_FALSE(workflow::isBgmFileName(name)) << name;
    }
}

// The real synthesiser: the slices, each placed at its start, sound as the whole rendering does.
TEST(BgmSlices, MixedAtTheirStartsTheSlicesSoundLikeTheWholeRendering)
{
    const std::filesystem::path soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::exists(soundFont)) {
        FAIL() << "no General MIDI soundfont at " << soundFont << "; scripts/install-deps installs it";
    }
    // 34 s: chords, one held across the first slice's end, a bass line with a program change,
    // drums, and a bend; at 120 BPM a measure is 2 s.
    std::vector<TimedEvent> events = {at(0, 0, 0xC0, 48, 0), at(0, 0, 0xC1, 33, 0), at(0, 0, 0xB1, 7, 100)};
    for (int measure = 0; measure < 17; ++measure) {
        for (int beat = 0; beat < 4; ++beat) {
            const std::int64_t frame = beat * kMeasureFrames / 4;
            events.push_back(at(measure, frame, 0x99, beat % 2 == 0 ? 36 : 38, 100));
            events.push_back(at(measure, frame + 2000, 0x89, beat % 2 == 0 ? 36 : 38, 0));
            const int bass = 36 + (measure * 4 + beat) % 12;
            events.push_back(at(measure, frame + 10, 0x91, bass, 90));
            events.push_back(at(measure, frame + 15000, 0x81, bass, 0));
        }
        if (measure % 7 == 6 || measure == 9) {
            events.push_back(at(measure, 50, 0x90, 60, 70));
            events.push_back(at(measure, 60, 0x90, 64, 70));
            events.push_back(at(measure, 70, 0x90, 67, 70));
            events.push_back(at(measure + 1, kMeasureFrames / 2, 0x80, 60, 0));
            events.push_back(at(measure + 1, kMeasureFrames / 2, 0x80, 64, 0));
            events.push_back(at(measure + 1, kMeasureFrames / 2, 0x80, 67, 0));
        }
        if (measure == 10) {
            events.push_back(at(measure, 3000, 0xC1, 38, 0));
            events.push_back(at(measure, 3000, 0xE0, 0, 80));
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent& a, const TimedEvent& b) { return a.frame < b.frame; });
    auto renderer = audio::SynthRenderer::open(soundFont);
    ASSERT_TRUE(renderer.ok()) << renderer.error().message;
    NullProgress quiet;
    constexpr std::int64_t kTail = 30LL * audio::kSampleRate;
    auto whole = renderer->renderEvents(events, kTail, quiet);
    ASSERT_TRUE(whole.ok());

    const auto slices = sliceBgm(events, kClock, kTicksPerMeasure, 999);
    ASSERT_EQ(slices.size(), 2u);
    audio::StereoSound mixed{audio::kSampleRate, {}};
    for (const auto& slice : slices) {
        auto renderedSlice = renderer->renderEvents(slice.events, kTail, quiet);
        ASSERT_TRUE(renderedSlice.ok());
        EXPECT_LT(renderedSlice->size() / 2, static_cast<std::size_t>(60 * audio::kSampleRate));
        const auto offset = static_cast<std::size_t>(slice.startFrame) * 2;
        mixed.samples.resize(std::max(mixed.samples.size(), offset + renderedSlice->size()));
        for (std::size_t i = 0; i < renderedSlice->size(); ++i) {
            mixed.samples[offset + i] += (*renderedSlice)[i];
        }
    }
    // Compared where slicing could show: six seconds around the slices' meeting at 20 s (the
    // comparison's spectra are what takes time, not the rendering).
    const auto stretch = [](const std::vector<float>& samples) {
        const auto from = static_cast<std::ptrdiff_t>(17 * audio::kSampleRate * 2);
        const auto to = std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(samples.size()), from + 6 * audio::kSampleRate * 2);
        return audio::StereoSound{audio::kSampleRate, std::vector<float>(samples.begin() + from, samples.begin() + to)};
    };
    const auto comparison = audio::compareSounds(stretch(*whole), stretch(mixed.samples));
    RecordProperty("similarity", std::to_string(comparison.similarity));
    EXPECT_GE(comparison.similarity, 0.99) << "least alike at " << comparison.worstSecond << " s: "
                                           << comparison.worstSimilarity;
}

}  // namespace
}  // namespace zentrowe::testing

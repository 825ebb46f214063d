// Comparing two one-minute sounds as `check` does (semitone bands every 10 ms), which is mostly
// spectra of 4096-sample windows: the figure to watch when the transform changes.
//
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTROWE_BUILD_BENCH=ON
//         -DZENTROWE_BUILD_TESTS=OFF -DZENTROWE_BUILD_APP=OFF
//   cmake --build build/release --target compare_bench && build/release/bench/compare_bench

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include "core/audio/sound_comparison.h"

namespace {

using namespace zentrowe;

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

// A note a beat (A3 up a semitone each time, two octaves round), each decaying; `detune` in
// semitones sets the candidate apart from the reference.
audio::StereoSound notes(double detune)
{
    audio::StereoSound sound;
    sound.sampleRate = kRate;
    sound.samples.resize(static_cast<std::size_t>(kRate) * kSeconds * 2);
    const std::size_t beat = kRate / 2;
    for (std::size_t i = 0; i < sound.frames(); ++i) {
        const std::size_t note = i / beat;
        const double hertz = 220.0 * std::pow(2.0, (static_cast<double>(note % 24) + detune) / 12.0);
        const double t = static_cast<double>(i % beat) / kRate;
        const auto value = static_cast<float>(0.3 * std::exp(-3 * t) * std::sin(2 * std::numbers::pi * hertz * t));
        sound.samples[2 * i] = value;
        sound.samples[2 * i + 1] = value;
    }
    return sound;
}

void compareOneMinute(benchmark::State& state)
{
    const auto reference = notes(0);
    const auto candidate = notes(0.1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(audio::compareSounds(reference, candidate));
    }
}
BENCHMARK(compareOneMinute)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

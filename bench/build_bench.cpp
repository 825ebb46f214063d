// One-step building of a song of 1,000 keysounds of 1.5 s each (1.25 s of note, 0.25 s of gap),
// beside the yardstick measured in the same run: Debian's `oggenc` encoding the same keysounds,
// written as WAV by `build --format wav`, one process per core (`xargs -P $(nproc)`). And the
// rendering alone on one thread, reported as seconds of sound per second of time
// ("realtime_x", per core). The song is generated into a temporary folder (ZENTROWE_BENCH_DIR
// chooses another).
//
//   cmake -S . -B build/bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTROWE_BUILD_BENCH=ON
//         -DZENTROWE_BUILD_TESTS=OFF -DZENTROWE_BUILD_APP=OFF
//   cmake --build build/bench-release --target build_bench && build/bench-release/bench/build_bench

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/audio/synth_renderer.h"
#include "core/base/progress.h"
#include "core/song/chart_file_name.h"
#include "core/workflow/build.h"

namespace {

using namespace zentrowe;

constexpr int kKeysounds = 1000;
constexpr int kNoteTicks = 240;  // 1.25 s at 96 ticks a quarter and 120 BPM
constexpr int kGapTicks = 48;    // 0.25 s

std::filesystem::path benchFolder()
{
    const char* chosen = std::getenv("ZENTROWE_BENCH_DIR");
    return chosen != nullptr ? std::filesystem::path(chosen) : std::filesystem::temp_directory_path() / "zentrowe-build-bench";
}

void putVarLen(std::string& out, std::uint32_t value)
{
    std::string groups(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0) {
        groups.insert(groups.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    }
    out += groups;
}

// One track of 1,000 notes, each a keysound of its own: 50 pitches at 20 velocities.
std::filesystem::path song()
{
    static const std::filesystem::path path = [] {
        const auto folder = benchFolder();
        std::filesystem::create_directories(folder);
        std::string events = std::string("\x00\xFF\x51\x03\x07\xA1\x20", 7);
        for (int i = 0; i < kKeysounds; ++i) {
            putVarLen(events, i == 0 ? 0 : 48);
            events += static_cast<char>(0x90);
            events += static_cast<char>(36 + i % 50);
            events += static_cast<char>(30 + i / 50 * 4);
            putVarLen(events, kNoteTicks);
            events += static_cast<char>(0x80);
            events += static_cast<char>(36 + i % 50);
            events += '\0';
        }
        events += std::string("\x00\xFF\x2F\x00", 4);
        std::string file = std::string("MThd\0\0\0\x06\0\0\0\x01\0\x60MTrk", 18);
        for (int shift = 24; shift >= 0; shift -= 8) {
            file += static_cast<char>(events.size() >> shift);
        }
        file += events;
        const auto songPath = folder / "keysounds.mid";
        std::ofstream(songPath, std::ios::binary) << file;
        return songPath;
    }();
    return path;
}

workflow::BuildRequest request(const std::filesystem::path& out, audio::SoundFormat format)
{
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    NullProgress quiet;
    workflow::BuildRequest request;
    request.conversion.sourceMidiPath = song();
    request.conversion.song = song::readSongSummary(song(), quiet).value();
    request.conversion.chartFileName = song::deriveChartFileName(song().string());
    request.conversion.outputFolder = out;
    request.conversion.trackNumber = 1;
    request.conversion.settings.keysoundGap = kGapTicks;
    request.format = format;
    request.bgm = workflow::BgmMode::None;
    return request;
}

// The whole build: rendering, the loudness pass (unless `loudness` is off) and encoding.
void buildOgg(benchmark::State& state, bool loudness)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto req = request(benchFolder() / "ogg", audio::SoundFormat::OggVorbis);
        if (!loudness) {
            req.loudness = std::nullopt;
        }
        NullProgress quiet;
        state.ResumeTiming();
        const auto outcome = workflow::runBuild(req, quiet);
        if (!outcome) {
            state.SkipWithError(outcome.error().message.c_str());
            return;
        }
    }
}

// The yardstick: the WAV keysounds of a build encoded by oggenc at the same quality (0.5 is
// oggenc's -q 5), one process per core.
void oggencWavKeysounds(benchmark::State& state)
{
    const auto folder = benchFolder() / "wav";
    NullProgress quiet;
    const auto built = workflow::runBuild(request(folder, audio::SoundFormat::Wave), quiet);
    if (!built) {
        state.SkipWithError(built.error().message.c_str());
        return;
    }
    const std::string command = "cd '" + folder.string() +
                                "' && rm -f ./*.ogg && ls ./*.wav | xargs -P \"$(nproc)\" -n 1 oggenc -Q -q 5";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("oggenc failed (is vorbis-tools installed?)");
            return;
        }
    }
}

// Rendering alone, one thread: 1.5 s keysounds of the piano across the keyboard.
void renderKeysounds(benchmark::State& state)
{
    auto renderer = audio::SynthRenderer::open(audio::defaultSoundFont());
    if (!renderer) {
        state.SkipWithError(renderer.error().message.c_str());
        return;
    }
    constexpr std::int64_t kNoteFrames = audio::kSampleRate * 5 / 4;
    std::int64_t frames = 0;
    int i = 0;
    for (auto _ : state) {
        audio::NoteSound sound;
        sound.note = static_cast<std::uint8_t>(36 + i % 50);
        sound.velocity = static_cast<std::uint8_t>(30 + i % 20 * 4);
        sound.noteFrames = kNoteFrames;
        const auto samples = renderer->renderNote(sound);
        benchmark::DoNotOptimize(samples.ok());
        frames += samples ? static_cast<std::int64_t>(samples->size() / 2) : 0;
        ++i;
    }
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(frames) / audio::kSampleRate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(buildOgg, loudness, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(buildOgg, loudness_off, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(oggencWavKeysounds)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(renderKeysounds)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

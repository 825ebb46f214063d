// Previewing a 5-minute chart of 2,000 OGG Vorbis keysounds, beside the yardstick measured in the
// same run: Debian's `oggdec` decoding the same files (one chained stream) to /dev/null. Reading
// the keysounds dominates a preview, and the mixer decodes them on every core, so the preview
// should take no longer than the single `oggdec` (a factor of 1.0 on two cores). The keysound
// folder is generated once (set ZENTROWE_BENCH_DIR to choose where) and reused.
//
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTROWE_BUILD_BENCH=ON
//         -DZENTROWE_BUILD_TESTS=OFF -DZENTROWE_BUILD_APP=OFF
//   cmake --build build/release --target preview_bench && build/release/bench/preview_bench

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/audio/preview_writer.h"
#include "core/workflow/preview.h"

namespace {

using namespace zentrowe;

constexpr int kKeysounds = 2000;
constexpr int kNotesPerMeasure = 14;  // 143 measures of 2 s at 120 BPM: 4 min 46 s
constexpr int kRate = 44100;
constexpr double kKeysoundSeconds = 0.6;

std::filesystem::path benchFolder()
{
    const char* chosen = std::getenv("ZENTROWE_BENCH_DIR");
    return chosen != nullptr ? std::filesystem::path(chosen)
                             : std::filesystem::temp_directory_path() / "zentrowe-preview-bench";
}

std::string base62(int value)
{
    constexpr const char* kDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    return {kDigits[value / 62], kDigits[value % 62]};
}

// Keysound i: a decaying stereo tone of its own pitch, as a rendered note would be.
audio::StereoSound keysound(int i)
{
    audio::StereoSound sound;
    sound.sampleRate = kRate;
    const auto frames = static_cast<std::size_t>(kKeysoundSeconds * kRate);
    sound.samples.resize(frames * 2);
    const double hertz = 110 * std::pow(2.0, (i % 48) / 12.0);
    for (std::size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / kRate;
        const auto value = static_cast<float>(0.3 * std::exp(-4 * t) * std::sin(2 * M_PI * hertz * t));
        sound.samples[f * 2] = value;
        sound.samples[f * 2 + 1] = value * 0.8F;
    }
    return sound;
}

const std::filesystem::path& chart()
{
    static const std::filesystem::path path = [] {
        const auto folder = benchFolder();
        std::filesystem::create_directories(folder);
        std::string text = "#BPM 120\r\n#BASE 62\r\n";
        std::string lines;
        for (int i = 0; i < kKeysounds; ++i) {
            const auto name = "k" + std::to_string(i) + ".ogg";
            if (!std::filesystem::exists(folder / name)) {
                NullProgress quiet;
                if (!audio::writePreviewFile(folder / name, keysound(i), audio::PreviewFormat::Ogg, quiet)) {
                    std::fprintf(stderr, "cannot write %s\n", name.c_str());
                    std::exit(1);
                }
            }
            text += "#WAV" + base62(i + 1) + " " + name + "\r\n";
        }
        for (int measure = 0; measure * kNotesPerMeasure < kKeysounds; ++measure) {
            char head[16];
            std::snprintf(head, sizeof head, "#%03d11:", measure);
            std::string data;
            for (int slot = 0; slot < 16; ++slot) {
                const int i = measure * kNotesPerMeasure + slot;
                data += slot < kNotesPerMeasure && i < kKeysounds ? base62(i + 1) : "00";
            }
            lines += head + data + "\r\n";
        }
        const auto file = folder / "chart.bms";
        std::ofstream(file, std::ios::binary) << text << lines;
        return file;
    }();
    return path;
}

void previewChart(benchmark::State& state, const char* outputName)
{
    workflow::PreviewRequest request;
    request.chartPath = chart();
    request.outputPath = benchFolder() / "out" / outputName;
    std::filesystem::create_directories(request.outputPath.parent_path());
    NullProgress quiet;
    for (auto _ : state) {
        const auto outcome = workflow::writeChartPreview(request, quiet);
        if (!outcome || !outcome->missingKeysounds.empty()) {
            state.SkipWithError("the preview failed");
            break;
        }
        benchmark::DoNotOptimize(outcome->seconds);
    }
}

void oggdecSameFiles(benchmark::State& state)
{
    const std::string command = "cat '" + benchFolder().string() + "'/k*.ogg | oggdec -Q -o /dev/null -";
    chart();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("oggdec failed");
            break;
        }
    }
}

BENCHMARK(oggdecSameFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK_CAPTURE(previewChart, wav, "preview.wav")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK_CAPTURE(previewChart, ogg, "preview.ogg")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();

// Cutting 1,000 keysounds out of a 30-minute recording (44.1 kHz 16-bit stereo, about 300 MB),
// beside the two yardsticks measured in the same run: `cp` of the whole recording, and one
// `sox ... trim` per keysound. The recording is generated into a temporary folder once (set
// ZENTROWE_BENCH_DIR to choose where) and stays in the page cache, as it would after rendering.
//
//   cmake -S . -B build/cutter-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTROWE_BUILD_BENCH=ON
//         -DZENTROWE_BUILD_TESTS=OFF -DZENTROWE_BUILD_APP=OFF
//   cmake --build build/cutter-release --target cut_bench && build/cutter-release/bench/cut_bench

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/keysound/wav_cutter.h"

namespace {

using namespace zentrowe;

constexpr std::uint32_t kByteRate = 176400;
constexpr std::uint64_t kSeconds = 30 * 60;
constexpr int kKeysounds = 1000;
// 1.8 s a keysound: 345 ticks at 96 a quarter and 120 BPM.
constexpr std::int64_t kTicksEach = 345;

std::filesystem::path benchFolder()
{
    const char* chosen = std::getenv("ZENTROWE_BENCH_DIR");
    return chosen != nullptr ? std::filesystem::path(chosen) : std::filesystem::temp_directory_path() / "zentrowe-cut-bench";
}

void putU32le(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
}

const std::filesystem::path& recording()
{
    static const std::filesystem::path path = [] {
        const auto folder = benchFolder();
        std::filesystem::create_directories(folder);
        const auto file = folder / "recording.wav";
        const std::uint64_t dataSize = kSeconds * kByteRate;
        if (!std::filesystem::exists(file) || std::filesystem::file_size(file) != 44 + dataSize) {
            std::string header = "RIFF";
            putU32le(header, static_cast<std::uint32_t>(36 + dataSize));
            header += "WAVEfmt ";
            putU32le(header, 16);
            header += std::string("\x01\x00\x02\x00", 4);
            putU32le(header, 44100);
            putU32le(header, kByteRate);
            header += std::string("\x04\x00\x10\x00", 4);
            header += "data";
            putU32le(header, static_cast<std::uint32_t>(dataSize));
            std::ofstream out(file, std::ios::binary);
            out.write(header.data(), static_cast<std::streamsize>(header.size()));
            std::vector<char> block(1 << 20);
            for (std::size_t i = 0; i < block.size(); ++i) {
                block[i] = static_cast<char>((i * 2654435761u) >> 13);
            }
            for (std::uint64_t left = dataSize; left > 0;) {
                const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(left, block.size()));
                out.write(block.data(), n);
                left -= static_cast<std::uint64_t>(n);
            }
        }
        return file;
    }();
    return path;
}

std::filesystem::path freshOutput(const char* name)
{
    const auto folder = benchFolder() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

keysound::CutRequest request(const std::filesystem::path& out)
{
    keysound::CutRequest r;
    r.recording = recording();
    r.outputFolder = out;
    for (int i = 0; i < kKeysounds; ++i) {
        r.keysoundStems.push_back("A" + std::to_string(i) + "-48-100");
        r.cuts.push_back({60, kTicksEach, i * kTicksEach});
    }
    r.gapTicks = 100;
    r.leadIn = keysound::LeadIn::FirstNote;
    return r;
}

void cutRecording(benchmark::State& state)
{
    const auto r = request(freshOutput("cut"));
    NullProgress quiet;
    for (auto _ : state) {
        if (state.range(0) != 0) {
            state.PauseTiming();
            freshOutput("cut");
            state.ResumeTiming();
        }
        const auto report = keysound::cutRecording(r, quiet);
        if (!report) {
            state.SkipWithError(report.error().message.c_str());
            break;
        }
        benchmark::DoNotOptimize(report->written.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSeconds * kByteRate));
}

void copyWholeRecording(benchmark::State& state)
{
    const auto target = freshOutput("cp") / "copy.wav";
    const std::string command = "cp '" + recording().string() + "' '" + target.string() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("cp failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSeconds * kByteRate));
}

void soxTrimPerKeysound(benchmark::State& state)
{
    const auto out = freshOutput("sox");
    // One sox run per keysound: how a shell script would cut the recording.
    std::string script;
    for (int i = 0; i < kKeysounds; ++i) {
        const double start = static_cast<double>(i * kTicksEach) * 0.5 / 96;
        const double length = static_cast<double>(kTicksEach) * 0.5 / 96;
        script += "sox '" + recording().string() + "' '" + (out / ("A" + std::to_string(i) + ".wav")).string() +
                  "' trim " + std::to_string(start) + " " + std::to_string(length) + " || exit 1\n";
    }
    const auto scriptPath = out / "cut.sh";
    std::ofstream(scriptPath) << script;
    const std::string command = "sh '" + scriptPath.string() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("sox failed");
            break;
        }
    }
}

BENCHMARK(copyWholeRecording)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(cutRecording)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(soxTrimPerKeysound)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

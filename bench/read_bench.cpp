// Speed of the reading passes on big generated files:
//   read_bench                     runs the benchmarks (writes the files first if needed)
//   read_bench --write-files       only writes the files and prints their paths
// The files go to /tmp/zentrowe-bench/ and are kept for the next run. To compare the command
// line with midicsv on the same files (Release build, -DZENTROWE_BUILD_BENCH=ON):
//   hyperfine -w 1 --output=/dev/null 'zentrowe-cli tracks /tmp/zentrowe-bench/song-129x10M.mid'
//             'midicsv /tmp/zentrowe-bench/song-129x10M.mid'
//   hyperfine -w 1 --output=/dev/null 'zentrowe-cli events /tmp/zentrowe-bench/track-1x1M.mid --track 1'
//             'midicsv /tmp/zentrowe-bench/track-1x1M.mid'

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "core/base/file_reading.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "midi_generator.h"

namespace {

using namespace zentrowe;

const std::filesystem::path kFolder = "/tmp/zentrowe-bench";

// 1 conductor + 128 tracks of 78,125 notes: 10,000,000 notes, about 70 MB.
std::filesystem::path bigSong()
{
    static const auto path = [] {
        std::filesystem::create_directories(kFolder);
        return bench::writeMidiFileOnce(kFolder / "song-129x10M.mid", 129, 78125, {.conductorTrack = true});
    }();
    return path;
}

// One track of 1,000,000 notes: 2,000,000 note events.
std::filesystem::path longTrack()
{
    static const auto path = [] {
        std::filesystem::create_directories(kFolder);
        return bench::writeMidiFileOnce(kFolder / "track-1x1M.mid", 1, 1000000);
    }();
    return path;
}

std::vector<std::uint8_t> load(const std::filesystem::path& path)
{
    auto bytes = readWholeFile(path);
    if (!bytes) {
        std::fprintf(stderr, "%s\n", bytes.error().message.c_str());
        std::exit(1);
    }
    return std::move(bytes).value();
}

class CountRows final : public song::EventRowSink {
public:
    void addRow(std::string_view delta, std::string_view label, std::string_view description) override
    {
        ++rows;
        bytes += delta.size() + label.size() + description.size() + 3;
    }
    std::int64_t rows = 0;
    std::int64_t bytes = 0;
};

// The whole summary pass as the program runs it: read the file, walk every track.
void SummaryFromDisk(benchmark::State& state)
{
    const auto path = bigSong();
    NullProgress quiet;
    for (auto _ : state) {
        auto song = song::readSongSummary(path, quiet);
        benchmark::DoNotOptimize(song);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(SummaryFromDisk)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The walk alone, the file already in memory.
void SummaryInMemory(benchmark::State& state)
{
    const auto file = load(bigSong());
    NullProgress quiet;
    std::size_t tracks = 0;
    for (auto _ : state) {
        auto song = song::summarizeSong(file, "song.mid", quiet);
        tracks = song->tracks.size();
        benchmark::DoNotOptimize(song);
    }
    state.counters["tracks"] = static_cast<double>(tracks);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(SummaryInMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Every row of a 2,000,000-event track, texts built but not printed.
void ListTrackEvents(benchmark::State& state)
{
    const auto file = load(longTrack());
    NullProgress quiet;
    const auto song = song::summarizeSong(file, "track.mid", quiet);
    CountRows rows;
    for (auto _ : state) {
        rows = {};
        const auto listed = song::listTrackEvents(file, *song, 1, rows, quiet);
        benchmark::DoNotOptimize(listed);
    }
    state.counters["rows"] = static_cast<double>(rows.rows);
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows.rows) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(ListTrackEvents)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--write-files") == 0) {
        std::printf("%s\n%s\n", bigSong().c_str(), longTrack().c_str());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

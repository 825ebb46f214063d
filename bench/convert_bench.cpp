// Conversion of a generated track of 1,000,000 notes in 999 measures (about five notes at every
// 1/192 slot, at most 1,000 distinct keysounds), in each mode.
//
//   convert_bench                       run the benchmarks
//   convert_bench --write FILE.mid      write the generated song, for timing zentrowe-cli

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "core/base/progress.h"
#include "core/chart/bms_writer.h"
#include "core/convert/chart_generator.h"
#include "core/song/song_summary.h"

namespace {

using namespace zentrowe;

// 480 ticks per quarter: a measure of 1920 ticks, a slot of 10.
std::vector<std::uint8_t> generateSong(int noteCount)
{
    struct Event {
        std::uint32_t time;
        std::uint8_t status;
        std::uint8_t note;
        std::uint8_t velocity;
    };
    constexpr std::uint32_t kSlotTicks = 10;
    constexpr std::uint32_t kSlots = 999 * 192;
    const std::uint32_t lengths[] = {10, 20, 30, 40, 50};  // 1 to 5 slots
    std::uint32_t state = 12345;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    std::vector<Event> events;
    events.reserve(2 * static_cast<std::size_t>(noteCount));
    for (int k = 0; k < noteCount; ++k) {
        const auto slot = static_cast<std::uint32_t>(static_cast<std::uint64_t>(k) * kSlots / static_cast<std::uint64_t>(noteCount));
        const std::uint32_t start = slot * kSlotTicks;
        const auto note = static_cast<std::uint8_t>(40 + next() % 50);           // 50 notes
        const auto velocity = static_cast<std::uint8_t>(8 + 7 * (next() % 16));  // 800 keysounds at most
        // One length per note number, so that the ends of overlapping strokes of a note come
        // in the order of their starts and every note keeps its length.
        const std::uint32_t length = lengths[note % 5];
        const auto channel = static_cast<std::uint8_t>(next() % 16);
        events.push_back({start, static_cast<std::uint8_t>(0x90 | channel), note, velocity});
        events.push_back({start + length, static_cast<std::uint8_t>(0x80 | channel), note, 0x40});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.time < b.time; });

    std::vector<std::uint8_t> track{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
    std::uint32_t now = 0;
    for (const auto& event : events) {
        std::uint32_t delta = event.time - now;
        now = event.time;
        std::uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = static_cast<std::uint8_t>(delta & 0x7F);
            delta >>= 7;
        } while (delta != 0);
        while (n > 1) {
            track.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
        }
        track.push_back(groups[0]);
        track.push_back(event.status);
        track.push_back(event.note);
        track.push_back(event.velocity);
    }
    for (const int byte : {0x00, 0xFF, 0x2F, 0x00}) {
        track.push_back(static_cast<std::uint8_t>(byte));
    }

    const auto size = static_cast<std::uint32_t>(track.size());
    const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k',
                                   static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                                   static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    std::vector<std::uint8_t> file(sizeof header + track.size());
    std::memcpy(file.data(), header, sizeof header);
    std::memcpy(file.data() + sizeof header, track.data(), track.size());
    return file;
}

const std::vector<std::uint8_t>& generatedSong()
{
    static const auto bytes = generateSong(1000000);
    return bytes;
}

void convertTrack(benchmark::State& state, convert::ConversionMode mode)
{
    NullProgress quiet;
    const auto summary = song::summarizeSong(generatedSong(), "generated.mid", quiet);
    if (!summary) {
        state.SkipWithError(summary.error().message.c_str());
        return;
    }
    convert::ConversionSettings settings;
    settings.longNotes = mode == convert::ConversionMode::LongNotes;
    settings.percussion = mode == convert::ConversionMode::Percussion;
    for (auto _ : state) {
        // The chart model, then its text written and counted but not kept.
        auto chart = convert::generateChart(generatedSong(), *summary, 1, settings, quiet);
        if (!chart) {
            state.SkipWithError(chart.error().message.c_str());
            return;
        }
        std::size_t bytes = 0;
        const auto written = chart::writeBms(chart->chart, [&bytes](std::string_view block) -> Status {
            bytes += block.size();
            return {};
        });
        benchmark::DoNotOptimize(written.ok());
        state.counters["keysounds"] = static_cast<double>(chart->keysounds.size());
        state.counters["chartBytes"] = static_cast<double>(bytes);
        state.counters["modelObjects"] = static_cast<double>(chart->chart.objects.size());
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}

BENCHMARK_CAPTURE(convertTrack, plain, convert::ConversionMode::Plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convertTrack, longNotes, convert::ConversionMode::LongNotes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convertTrack, percussion, convert::ConversionMode::Percussion)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        std::ofstream out(argv[2], std::ios::binary);
        out.write(reinterpret_cast<const char*>(generatedSong().data()), static_cast<std::streamsize>(generatedSong().size()));
        return out ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

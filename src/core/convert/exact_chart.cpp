#include "core/convert/exact_chart.h"

#include <algorithm>

#include "core/convert/chart_builder.h"
#include "core/convert/keysound_table.h"

namespace zentrowe::convert {

double bpmOfMicros(std::uint32_t tempoMicros)
{
    return 60'000'000.0 / static_cast<double>(tempoMicros);
}

chart::Chart makeExactChart(const song::SongSummary& song, const GeneratedChart& generated, ExactNoteCollector& notes,
                            const ExactChartNaming& naming)
{
    chart::Chart chart;
    auto& header = chart.header;
    header.title = naming.title;
    header.artist = naming.artist;
    header.resolution = song.ticksPerQuarter;
    const auto ticksPerMeasure = static_cast<std::uint32_t>(song.ticksPerMeasure);
    const auto place = [&](std::int64_t tick, std::uint8_t channel, chart::ChartCode code) {
        // Below kExactMeasureLimit measures: the generator refuses later notes.
        chart.addLine(static_cast<std::int32_t>(tick / ticksPerMeasure), channel, ticksPerMeasure);
        chart.addObject(static_cast<std::uint32_t>(tick % ticksPerMeasure), code);
    };

    // Before the song's first Set Tempo it plays at the standard's default; a later change at
    // tick 0 overrides an earlier one there.
    header.initialBpm = bpmOfMicros(song::kDefaultTempoMicros);
    for (const auto& change : song.tempoMap) {
        if (change.time > generated.lastPlacedTick) {
            break;
        }
        if (change.time == 0) {
            header.initialBpm = bpmOfMicros(change.tempoMicros);
        } else {
            const auto code = static_cast<chart::ChartCode>(chart.tempos.size() + 1);
            chart.tempos.push_back({code, bpmOfMicros(change.tempoMicros), {}});
            place(change.time, chart::kTempoChannel, code);
        }
    }

    chart.keysounds.reserve(generated.keysounds.size());
    for (std::size_t k = 0; k < generated.keysounds.size(); ++k) {
        chart.keysounds.push_back(
            {static_cast<chart::ChartCode>(k + 1), keysoundStem(naming.keysoundName, generated.keysounds[k],
                                                                song.ticksPerMeasure, generated.keysounds.suffix(k)) +
                                                       naming.soundExtension});
    }
    auto& placed = notes.notes();
    std::stable_sort(placed.begin(), placed.end(),
                     [](const PlacedNote& a, const PlacedNote& b) { return a.startTick < b.startTick; });
    for (const auto& note : placed) {
        const auto code = static_cast<chart::ChartCode>(note.keysound + 1);
        if (!note.lane) {
            place(note.startTick, chart::kBackgroundChannel, code);
            continue;
        }
        const std::uint8_t channel = kLaneChannels[static_cast<std::size_t>(*note.lane)];
        if (note.heldTicks > 0) {
            place(note.startTick, static_cast<std::uint8_t>(channel + 40), code);
            place(note.startTick + note.heldTicks, static_cast<std::uint8_t>(channel + 40), code);
        } else {
            place(note.startTick, channel, code);
        }
    }
    placed = {};
    return chart;
}

}  // namespace zentrowe::convert

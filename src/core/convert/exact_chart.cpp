#include "core/convert/exact_chart.h"

#include <algorithm>
#include <cmath>

#include "core/convert/chart_builder.h"
#include "core/convert/keysound_table.h"
#include "core/song/event_text.h"

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
            header.initialBpmText = song::formatExactBpm(change.tempoMicros);
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

namespace {

// The chart's tempos under codes 01 on, equal tempos sharing one where there are more changes
// than codes; the new code of each old one (old code k + 1 at index k).
Result<std::vector<chart::ChartCode>> numberTempos(chart::Chart& chart, bool base62)
{
    const int largest = largestCode(base62);
    std::vector<chart::ChartCode> codeOf;
    if (chart.tempos.size() <= static_cast<std::size_t>(largest)) {
        for (const auto& tempo : chart.tempos) {
            codeOf.push_back(tempo.code);
        }
        return codeOf;
    }
    std::vector<chart::TimingDefinition> distinct;
    for (const auto& tempo : chart.tempos) {
        const auto same = std::find_if(distinct.begin(), distinct.end(),
                                       [&](const chart::TimingDefinition& t) { return t.value == tempo.value; });
        if (same != distinct.end()) {
            codeOf.push_back(same->code);
            continue;
        }
        if (distinct.size() >= static_cast<std::size_t>(largest)) {
            // What lifts the limit, worded as a conversion words it: more codes, or bmson.
            const std::string lift = base62
                                         ? "; a bmson chart (--chart-format bmson) numbers any"
                                         : "; base-62 codes (--codes 62) number " + std::to_string(largestCode(true)) +
                                               ", a bmson chart (--chart-format bmson) any";
            return Error{ErrorCode::CodesExhausted, "the song has more than " + std::to_string(largest) +
                                                        " different tempos, more than a chart can number" + lift}
                .about("tempos")
                .withNumber(largest);
        }
        distinct.push_back({static_cast<chart::ChartCode>(distinct.size() + 1), tempo.value, tempo.text});
        codeOf.push_back(distinct.back().code);
    }
    chart.tempos = std::move(distinct);
    return codeOf;
}

}  // namespace

Result<chart::Chart> numberForBms(chart::Chart chart, const KeysoundTable& keysounds)
{
    for (const auto& line : chart.lines) {
        if (line.measure >= kMeasureLimit) {
            return Error{ErrorCode::MeasureOutOfRange,
                         "a note falls in measure " + std::to_string(line.measure) +
                             ", but a BMS chart holds measures 000 to 999 only; a bmson chart (--chart-format "
                             "bmson) holds " +
                             std::to_string(kExactMeasureLimit)}
                .withNumber(line.measure);
        }
    }
    const auto tempoCodes = numberTempos(chart, keysounds.base62());
    if (!tempoCodes) {
        return tempoCodes.error();
    }
    // As convert writes them ("090.00"), with the decimals it takes to keep every beat on time.
    for (auto& tempo : chart.tempos) {
        tempo.text = song::formatExactBpm(static_cast<std::uint32_t>(std::llround(60'000'000.0 / tempo.value)));
    }
    chart.header.base62 = keysounds.base62();
    chart.header.lnType = 1;
    // makeExactChart numbers keysound k as k + 1; the table numbers it from its start code.
    const auto shift = static_cast<chart::ChartCode>(keysounds.startValue());
    for (auto& definition : chart.keysounds) {
        definition.code += shift;
    }
    for (const auto& line : chart.lines) {
        const bool tempo = line.channel == chart::kTempoChannel;
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            auto& code = chart.objects[line.firstObject + k].code;
            code = tempo ? (*tempoCodes)[code - 1] : code + shift;
        }
    }
    return chart;
}

}  // namespace zentrowe::convert

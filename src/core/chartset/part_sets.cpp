#include "core/chartset/part_sets.h"

#include <algorithm>
#include <utility>

namespace zentrowe::chartset {

namespace {

// Where part `part` of the conversion stands when `chosen` is put first: the chosen part takes
// index 0 and the parts before it move up one, so that makeChartSet's chosen prefix is it alone.
std::uint16_t chosenFirst(std::uint16_t part, std::size_t chosen)
{
    if (part == chosen) {
        return 0;
    }
    return part < chosen ? static_cast<std::uint16_t>(part + 1) : part;
}

// The conversion's index of what chosenFirst put at `index`.
std::uint16_t asConverted(std::uint16_t index, std::size_t chosen)
{
    if (index == 0) {
        return static_cast<std::uint16_t>(chosen);
    }
    return index <= chosen ? static_cast<std::uint16_t>(index - 1) : index;
}

// The chart's report with its parts named as the conversion names them.
void reportAsConverted(ChartReport& report, std::size_t chosen)
{
    for (auto& stretch : report.borrowed) {
        stretch.part = asConverted(stretch.part, chosen);
    }
    std::vector<std::int64_t> byPart(report.notesByPart.size(), 0);
    for (std::size_t k = 0; k < report.notesByPart.size(); ++k) {
        const auto part = asConverted(static_cast<std::uint16_t>(k), chosen);
        byPart.resize(std::max<std::size_t>(byPart.size(), part + 1u), 0);
        byPart[part] = report.notesByPart[k];
    }
    report.notesByPart = std::move(byPart);
}

}  // namespace

std::vector<SetChart> makePartSets(const chart::Chart& converted, const convert::KeysoundTable& keysounds,
                                   const song::SongSummary& song, std::string_view chartFileName,
                                   const ChartSetRequest& request, bool percussion)
{
    if (request.partSets.empty()) {
        return makeChartSet(converted, keysounds, song, chartFileName, request, percussion);
    }
    std::vector<SetChart> charts;
    for (const PartSet& set : request.partSets) {
        convert::KeysoundTable reordered = keysounds;
        for (std::size_t k = 0; k < reordered.size(); ++k) {
            auto source = reordered.source(k);
            source.part = chosenFirst(source.part, set.part);
            reordered.setSource(k, source);
        }
        ChartSetRequest one = request;
        one.partSets.clear();
        one.chosenParts = 1;
        one.strikeEveryChord = true;
        auto made =
            makeChartSet(converted, reordered, song, partChartFileName(chartFileName, set.tag), one, percussion);
        for (auto& chart : made) {
            reportAsConverted(chart.report, set.part);
            auto& subtitle = chart.chart.header.subtitle;
            subtitle = set.name.empty() ? subtitle : set.name + " " + subtitle;
            chart.part = set.tag;
            charts.push_back(std::move(chart));
        }
    }
    return charts;
}

std::string partChartFileName(std::string_view chartFileName, std::string_view tag)
{
    std::string_view extension;
    for (const std::string_view known : {std::string_view(".bmson"), std::string_view(".bms")}) {
        if (chartFileName.ends_with(known)) {
            extension = known;
            break;
        }
    }
    const auto stem = chartFileName.substr(0, chartFileName.size() - extension.size());
    return std::string(stem) + "_" + std::string(tag) + std::string(extension);
}

}  // namespace zentrowe::chartset

#include "core/chart/code_numbering.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zentrowe::chart {

namespace {

// The file each code of `chart` names: a later definition of a code wins, as players read them.
std::unordered_map<ChartCode, std::string_view> filesByCode(const Chart& chart)
{
    std::unordered_map<ChartCode, std::string_view> files;
    for (const auto& definition : chart.keysounds) {
        files[definition.code] = definition.fileName;
    }
    return files;
}

// The files the objects of `chart` play.
std::unordered_set<std::string_view> placedFiles(const Chart& chart,
                                                 const std::unordered_map<ChartCode, std::string_view>& files)
{
    std::unordered_set<std::string_view> placed;
    for (const auto& line : chart.lines) {
        if (!holdsKeysoundCode(line.channel)) {
            continue;
        }
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            if (const auto found = files.find(chart.objects[line.firstObject + k].code); found != files.end()) {
                placed.insert(found->second);
            }
        }
    }
    return placed;
}

// The objects of `chart` under the new codes, those of a code without a file left out.
void renumberObjects(Chart& chart, const std::unordered_map<ChartCode, std::string_view>& files,
                     const std::unordered_map<std::string_view, ChartCode>& codeOfFile)
{
    std::vector<LineObject> objects;
    objects.reserve(chart.objects.size());
    for (auto& line : chart.lines) {
        const auto first = static_cast<std::uint32_t>(objects.size());
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            LineObject object = chart.objects[line.firstObject + k];
            if (holdsKeysoundCode(line.channel)) {
                const auto file = files.find(object.code);
                if (file == files.end()) {
                    continue;
                }
                object.code = codeOfFile.at(file->second);
            }
            objects.push_back(object);
        }
        line.firstObject = first;
        line.objectCount = static_cast<std::uint32_t>(objects.size()) - first;
    }
    chart.objects = std::move(objects);
}

}  // namespace

std::set<std::string> placedFileNames(const Chart& chart)
{
    const auto placed = placedFiles(chart, filesByCode(chart));
    return {placed.begin(), placed.end()};
}

std::size_t numberCodesByFile(std::span<Chart* const> charts, ChartCode firstCode)
{
    std::vector<std::unordered_map<ChartCode, std::string_view>> files;
    std::vector<std::unordered_set<std::string_view>> placed;
    for (const Chart* chart : charts) {
        files.push_back(filesByCode(*chart));
        placed.push_back(placedFiles(*chart, files.back()));
    }
    // The names are held as views of the definitions, which stay until every chart is renumbered.
    std::vector<std::vector<KeysoundDefinition>> definitions(charts.size());
    std::unordered_map<std::string_view, ChartCode> codeOfFile;
    std::unordered_set<std::string_view> defined;
    ChartCode next = firstCode;
    for (std::size_t c = 0; c < charts.size(); ++c) {
        defined.clear();
        for (const auto& definition : charts[c]->keysounds) {
            const std::string_view file = definition.fileName;
            if (placed[c].count(file) == 0) {
                continue;
            }
            const auto [known, added] = codeOfFile.emplace(file, next);
            next += added ? 1 : 0;
            if (defined.insert(file).second) {
                definitions[c].push_back({known->second, definition.fileName});
            }
        }
    }
    for (std::size_t c = 0; c < charts.size(); ++c) {
        renumberObjects(*charts[c], files[c], codeOfFile);
    }
    for (std::size_t c = 0; c < charts.size(); ++c) {
        std::sort(definitions[c].begin(), definitions[c].end(),
                  [](const KeysoundDefinition& a, const KeysoundDefinition& b) { return a.code < b.code; });
        charts[c]->keysounds = std::move(definitions[c]);
    }
    return codeOfFile.size();
}

}  // namespace zentrowe::chart

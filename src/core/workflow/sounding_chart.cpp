#include "core/workflow/sounding_chart.h"

#include "core/chart/code_numbering.h"
#include "core/convert/chart_lines.h"
#include "core/workflow/silent_keysounds.h"

namespace zentrowe::workflow {

chart::Chart soundingChart(chart::Chart converted, const SetBackground& background,
                           const std::set<std::string>& silentNames, std::int32_t ticksPerMeasure)
{
    if (background.keysounds != nullptr && !background.keysounds->notes.empty()) {
        addBackgroundKeysounds(converted, *background.keysounds, background.keysoundFileNames, background.firstCode,
                               ticksPerMeasure);
    }
    // The silent lanes' keysounds are gone from the converted chart already; the background's
    // go here as they do from every chart of the set.
    dropSilentNotes(converted, background.keysoundJobs, silentNames, {});
    for (const auto& file : background.bgmFiles) {
        converted.keysounds.push_back({file.code, file.name});
        converted.addLine(file.measure, chart::kBackgroundChannel, convert::kSlots);
        converted.addObject(0, file.code);
    }
    // One code per file, as the written charts have it: a file struck again cuts itself off,
    // whichever of the keysounds sharing it struck it.
    chart::Chart* const charts[] = {&converted};
    chart::numberCodesByFile(charts, 1);
    return converted;
}

}  // namespace zentrowe::workflow

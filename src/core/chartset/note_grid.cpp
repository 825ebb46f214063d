#include "core/chartset/note_grid.h"

#include <algorithm>
#include <cmath>

namespace zentrowe::chartset {

namespace {

// The distance from a point of a measure (slot of slotCount) to the nearest line of `grid`, in
// the grid's steps (0 to 0.5).
double offGridSteps(std::uint32_t slot, std::uint32_t slotCount, std::uint32_t grid)
{
    const double steps = static_cast<double>(slot) * grid / std::max<std::uint32_t>(slotCount, 1);
    return std::abs(steps - std::round(steps));
}

}  // namespace

GridFit gridFit(const chart::Chart& converted)
{
    GridFit fit;
    std::array<std::int64_t, kNoteGrids.size()> off{};
    for (const auto& line : converted.lines) {
        if (!chart::isLaneChannel(line.channel) && !chart::isLongNoteChannel(line.channel)) {
            continue;
        }
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = converted.objects[line.firstObject + k];
            ++fit.notes;
            for (std::size_t g = 0; g < kNoteGrids.size(); ++g) {
                off[g] += offGridSteps(object.slot, line.slotCount, kNoteGrids[g]) > 0.125 ? 1 : 0;
            }
        }
    }
    fit.performance = fit.notes > 0;
    for (std::size_t g = 0; g < kNoteGrids.size(); ++g) {
        fit.offShare[g] = fit.notes > 0 ? static_cast<double>(off[g]) / static_cast<double>(fit.notes) : 0.0;
        fit.performance = fit.performance && fit.offShare[g] > kPerformanceShare;
    }
    return fit;
}

std::optional<std::uint32_t> parseQuantizeGrid(std::string_view text)
{
    for (const std::uint32_t grid : kNoteGrids) {
        if (text == std::to_string(grid)) {
            return grid;
        }
    }
    return std::nullopt;
}

std::pair<std::int32_t, std::uint32_t> nearestGridLine(std::int32_t measure, std::uint32_t slot,
                                                       std::uint32_t slotCount, std::uint32_t grid)
{
    const auto line = static_cast<std::uint32_t>(
        std::llround(static_cast<double>(slot) * grid / std::max<std::uint32_t>(slotCount, 1)));
    return line >= grid ? std::pair{measure + 1, line - grid} : std::pair{measure, line};
}

}  // namespace zentrowe::chartset

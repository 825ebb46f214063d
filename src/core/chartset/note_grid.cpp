#include "core/chartset/note_grid.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zentrowe::chartset {

namespace {

// The distance from a point of a measure (slot of slotCount) to the nearest line of `grid`, in
// the grid's steps (0 to 0.5).
double offGridSteps(std::uint32_t slot, std::uint32_t slotCount, std::uint32_t grid)
{
    const double steps = static_cast<double>(slot) * grid / std::max<std::uint32_t>(slotCount, 1);
    return std::abs(steps - std::round(steps));
}

// Counts notes onto a fit, each given as a point of its measure (slot of slotCount). A strum
// or a roll (notes within kStrikeMeasures of the one before) counts once, by its first note:
// its later notes lie off the grid by design, not by the player's hand.
class GridCount {
public:
    void add(std::int64_t measure, std::uint32_t slot, std::uint32_t slotCount)
    {
        const std::uint32_t count = std::max<std::uint32_t>(slotCount, 1);
        m_points.push_back({static_cast<double>(measure) + static_cast<double>(slot) / count, slot, count});
    }

    GridFit fit()
    {
        std::sort(m_points.begin(), m_points.end(),
                  [](const Point& a, const Point& b) { return a.measures < b.measures; });
        std::array<std::int64_t, kNoteGrids.size()> off{};
        GridFit fit;
        double last = -1;
        for (const Point& point : m_points) {
            if (fit.notes > 0 && point.measures - last < kStrikeMeasures) {
                continue;
            }
            last = point.measures;
            ++fit.notes;
            for (std::size_t g = 0; g < kNoteGrids.size(); ++g) {
                off[g] += offGridSteps(point.slot, point.slotCount, kNoteGrids[g]) > 0.125 ? 1 : 0;
            }
        }
        fit.performance = fit.notes > 0;
        for (std::size_t g = 0; g < kNoteGrids.size(); ++g) {
            fit.offShare[g] = fit.notes > 0 ? static_cast<double>(off[g]) / static_cast<double>(fit.notes) : 0.0;
            fit.performance = fit.performance && fit.offShare[g] > kPerformanceShare;
        }
        return fit;
    }

private:
    static constexpr double kStrikeMeasures = 1.0 / 64;
    struct Point {
        double measures;
        std::uint32_t slot;
        std::uint32_t slotCount;
    };
    std::vector<Point> m_points;
};

}  // namespace

GridFit gridFit(const chart::Chart& converted)
{
    GridCount count;
    for (const auto& line : converted.lines) {
        if (!chart::isLaneChannel(line.channel) && !chart::isLongNoteChannel(line.channel)) {
            continue;
        }
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            count.add(line.measure, converted.objects[line.firstObject + k].slot, line.slotCount);
        }
    }
    return count.fit();
}

GridFit gridFit(std::span<const TrackNote> notes, std::int32_t ticksPerMeasure)
{
    GridCount count;
    const auto measureTicks = static_cast<std::uint32_t>(std::max(ticksPerMeasure, 1));
    for (const TrackNote& note : notes) {
        const std::int64_t tick = std::max<std::int64_t>(note.startTick, 0);
        count.add(tick / measureTicks, static_cast<std::uint32_t>(tick % measureTicks), measureTicks);
    }
    return count.fit();
}

std::vector<std::uint32_t> advisedQuantizeGrids(const GridFit& fit)
{
    std::vector<std::uint32_t> grids;
    for (std::size_t g = 0; g < kNoteGrids.size() && fit.performance; ++g) {
        if (fit.meanShiftSeconds[g] <= kQuantizeShiftLimitSeconds) {
            grids.push_back(kNoteGrids[g]);
        }
    }
    return grids;
}

std::int64_t nearestGridTick(std::int64_t tick, std::int32_t ticksPerMeasure, std::uint32_t grid)
{
    const std::int64_t measureTicks = std::max(ticksPerMeasure, 1);
    const auto [measure, line] =
        nearestGridLine(static_cast<std::int32_t>(tick / measureTicks), static_cast<std::uint32_t>(tick % measureTicks),
                        static_cast<std::uint32_t>(measureTicks), grid);
    return measure * measureTicks + static_cast<std::int64_t>(line) * measureTicks / grid;
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

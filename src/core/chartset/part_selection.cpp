#include "core/chartset/part_selection.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "core/chartset/difficulty.h"
#include "core/chartset/lane_layout.h"

namespace zentrowe::chartset {

std::vector<PartRole> partRoles(std::span<const TrackNote> notes)
{
    std::map<std::uint16_t, std::vector<std::uint8_t>> pitches;
    std::map<std::uint16_t, bool> drums;
    std::size_t parts = 0;
    for (const TrackNote& note : notes) {
        pitches[note.part].push_back(note.note);
        drums[note.part] = drums[note.part] || note.drums;
        parts = std::max<std::size_t>(parts, note.part + 1u);
    }
    std::vector<PartRole> roles(parts, PartRole::Other);
    bool melodyFound = false;
    for (auto& [part, notesOfPart] : pitches) {
        auto middle = notesOfPart.begin() + static_cast<std::ptrdiff_t>(notesOfPart.size() / 2);
        std::nth_element(notesOfPart.begin(), middle, notesOfPart.end());
        if (drums[part]) {
            roles[part] = PartRole::Drums;
        } else if (*middle < kBassMedianNote) {
            roles[part] = PartRole::Bass;
        } else if (!melodyFound) {
            roles[part] = PartRole::Melody;
            melodyFound = true;
        }
    }
    return roles;
}

bool drawsOnSeveralParts(std::span<const TrackNote> notes)
{
    return std::any_of(notes.begin(), notes.end(),
                       [&](const TrackNote& note) { return note.part != notes.front().part; });
}

PartTiers tierNotes(std::span<const TrackNote> notes, std::int32_t ticksPerMeasure)
{
    const auto roles = partRoles(notes);
    // The top voice of each part's chord: the highest note of the part at its start tick.
    std::map<std::pair<std::int64_t, std::uint16_t>, std::uint8_t> top;
    for (const TrackNote& note : notes) {
        auto& highest = top[{note.startTick, note.part}];
        highest = std::max(highest, note.note);
    }
    PartTiers tiers;
    std::vector<NoteWeight> weights;
    for (const TrackNote& note : notes) {
        weights.push_back(noteWeight(note, top[{note.startTick, note.part}] == note.note, ticksPerMeasure));
        const PartRole role = roles[note.part];
        const bool accent = note.velocity >= kAccentVelocity || beatStrength(note.startTick, ticksPerMeasure) >= 2;
        const bool rhythm = role == PartRole::Drums || role == PartRole::Bass;
        tiers.tierOf.push_back(role == PartRole::Melody || note.carries ? 0 : rhythm && accent ? 1 : 2);
    }
    tiers.order.resize(notes.size());
    std::iota(tiers.order.begin(), tiers.order.end(), std::size_t{0});
    std::stable_sort(tiers.order.begin(), tiers.order.end(), [&](std::size_t a, std::size_t b) {
        if (tiers.tierOf[a] != tiers.tierOf[b]) {
            return tiers.tierOf[a] < tiers.tierOf[b];
        }
        return weights[a] > weights[b];
    });
    return tiers;
}

}  // namespace zentrowe::chartset

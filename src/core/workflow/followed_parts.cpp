#include "core/workflow/followed_parts.h"

#include <algorithm>
#include <limits>

#include "core/base/number_text.h"

namespace zentrowe::workflow {

namespace {

bool covers(const song::TrackPart& chosen, const song::TrackPart& other)
{
    return chosen.trackNumber == other.trackNumber && (chosen.channel == 0 || chosen.channel == other.channel);
}

// Every note the conversion would make of `parts`, as the lanes weigh it (TrackNote::part the
// index in `parts`), in time order.
std::vector<chartset::TrackNote> songNotes(SongParts& song, std::span<const song::TrackPart> parts)
{
    constexpr std::uint8_t kDrumChannelIndex = 9;  // General MIDI's channel 10
    std::vector<chartset::TrackNote> notes;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        for (const auto& start : song.noteStarts(parts[k])) {
            chartset::TrackNote note;
            note.startTick = start.startTick;
            note.endTick = start.startTick + start.lengthTicks;
            note.note = start.note;
            note.velocity = start.velocity;
            note.part = static_cast<std::uint16_t>(k);
            note.channel = start.channel;
            note.drums = start.channel == kDrumChannelIndex;
            notes.push_back(note);
        }
    }
    std::stable_sort(notes.begin(), notes.end(), [](const chartset::TrackNote& a, const chartset::TrackNote& b) {
        return a.startTick != b.startTick ? a.startTick < b.startTick : a.note < b.note;
    });
    return notes;
}

}  // namespace

bool followSetAside(const BuildRequest& request)
{
    return request.charts.follow && (request.bgm != BgmMode::Keysounds || request.conversion.settings.percussion ||
                                     request.charts.lanes != chartset::LaneRule::Playable);
}

BuildRequest withFollowedParts(BuildRequest request, SongParts& song)
{
    request.charts.chosenParts = 0;
    if (!request.charts.follow || followSetAside(request)) {
        return request;
    }
    const auto chosen = chartedParts(request.conversion);
    std::vector<song::TrackPart> parts = chosen;
    for (const auto& row : song.rows()) {
        const bool taken = std::any_of(chosen.begin(), chosen.end(),
                                       [&](const song::TrackPart& part) { return covers(part, row.part); });
        if (!taken && row.noteCount > 0 && parts.size() < std::numeric_limits<std::uint16_t>::max()) {
            parts.push_back(row.part);
        }
    }
    const auto notes = songNotes(song, parts);
    if (notes.empty()) {
        return request;
    }
    const auto followed = chartset::followMusic(notes, chosen.size(), song::Timeline(request.conversion.song));
    std::vector<bool> carries(parts.size(), false);
    for (const auto& stretch : followed.stretches) {
        carries[stretch.part] = true;
    }
    for (std::size_t k = chosen.size(); k < parts.size(); ++k) {
        if (carries[k]) {
            request.conversion.moreParts.push_back(parts[k]);
        }
    }
    request.charts.chosenParts = followed.stretches.empty() ? 0 : chosen.size();
    return request;
}

std::vector<FollowedStretch> followedStretches(std::span<const chartset::BorrowedStretch> borrowed,
                                               std::span<const song::TrackPart> parts, const song::Timeline& clock)
{
    std::vector<FollowedStretch> stretches;
    for (const auto& stretch : borrowed) {
        if (stretch.part < parts.size()) {
            stretches.push_back(
                {parts[stretch.part], clock.seconds(stretch.startTick), clock.seconds(stretch.endTick)});
        }
    }
    return stretches;
}

std::string followedText(std::span<const FollowedStretch> stretches)
{
    std::string text;
    for (const auto& stretch : stretches) {
        text += (text.empty() ? "" : ",") + song::partText(stretch.part) + " " + fixedText(stretch.startSeconds, 1) +
                "-" + fixedText(stretch.endSeconds, 1);
    }
    return text;
}

}  // namespace zentrowe::workflow

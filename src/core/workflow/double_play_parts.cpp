#include "core/workflow/double_play_parts.h"

#include <algorithm>
#include <limits>

#include "core/song/track_part.h"

namespace zentrowe::workflow {

namespace {

bool covers(const song::TrackPart& chosen, const song::TrackPart& other)
{
    return chosen.trackNumber == other.trackNumber && (chosen.channel == 0 || chosen.channel == other.channel);
}

}  // namespace

std::optional<SinglePlayReason> doublePlaySetAside(const BuildRequest& request)
{
    if (request.charts.play != chartset::Play::Double) {
        return std::nullopt;
    }
    if (request.conversion.settings.percussion) {
        return SinglePlayReason::Percussion;
    }
    if (request.charts.lanes != chartset::LaneRule::Playable) {
        return SinglePlayReason::SeedLanes;
    }
    if (request.bgm != BgmMode::Keysounds) {
        return SinglePlayReason::BgmNotKeysounds;
    }
    if (request.charts.setPerPart) {
        return SinglePlayReason::PartSets;
    }
    return std::nullopt;
}

BuildRequest withDoublePlayParts(BuildRequest followed, const BuildRequest& asked, SongParts& song,
                                 std::optional<SinglePlayReason>& setAside)
{
    setAside = doublePlaySetAside(asked);
    if (asked.charts.play != chartset::Play::Double || setAside) {
        followed.charts.play = chartset::Play::Single;
        return followed;
    }
    const auto chosen = chartedParts(asked.conversion);
    std::vector<song::TrackPart> others;
    for (const auto& row : song.rows()) {
        const bool taken = std::any_of(chosen.begin(), chosen.end(),
                                       [&](const song::TrackPart& part) { return covers(part, row.part); });
        if (!taken && row.noteCount > 0 && chosen.size() + others.size() < std::numeric_limits<std::uint16_t>::max()) {
            others.push_back(row.part);
        }
    }
    if (others.empty()) {
        setAside = SinglePlayReason::OnePart;
        followed.charts.play = chartset::Play::Single;
        return followed;
    }
    followed.conversion.moreParts = asked.conversion.moreParts;
    followed.conversion.moreParts.insert(followed.conversion.moreParts.end(), others.begin(), others.end());
    followed.charts.tuneParts = chosen.size();
    return followed;
}

}  // namespace zentrowe::workflow

#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/workflow/build_request.h"
#include "core/workflow/song_parts.h"

namespace zentrowe::workflow {

// Why a build asked for double play makes single-play charts instead.
enum class SinglePlayReason {
    OnePart,          // the chosen parts are all the song has: nothing for the second side
    BgmNotKeysounds,  // the other parts play from BGM files, which the second side cannot take notes from
    Percussion,       // percussion mode charts one drum kit
    SeedLanes,        // convert's own lanes have no second side
    PartSets,         // a set per part: each part takes the lanes in its own set, not a second side
};

// Why `request`'s settings alone keep it to single play; none when they allow double play or it
// is not asked for.
std::optional<SinglePlayReason> doublePlaySetAside(const BuildRequest& request);

// The request a double-play build converts: `followed` (withFollowedParts of `asked`) with every
// other part of the song that has notes (song::listChannelParts, tracks and channels the chosen
// parts do not cover, in file order) after the chosen ones, so that their notes are the
// conversion's keysounds and the second side can take them; charts.tuneParts says how many were
// chosen. The borrowing stays as following found it. Where double play cannot be made
// (doublePlaySetAside, or no other part has notes) the request goes on as single play and
// `setAside` says why; otherwise it is left alone. `song` is the asked request's song.
BuildRequest withDoublePlayParts(BuildRequest followed, const BuildRequest& asked, SongParts& song,
                                 std::optional<SinglePlayReason>& setAside);

}  // namespace zentrowe::workflow

#pragma once

#include <string>
#include <vector>

#include "core/workflow/build_manifest.h"
#include "core/workflow/build_plan.h"
#include "core/workflow/build_request.h"
#include "core/workflow/conversion.h"
#include "core/workflow/prepared_song.h"

namespace zentrowe::workflow {

// The manifest's record of each chart of the set: the files they share, the song, the settings.
std::vector<BuildRecord> buildRecords(const BuildPlan& plan, const RenderResult& rendered, const BuildRequest& request,
                                      const PreparedSong& prepared, const std::string& songHash);

// The folder's manifest with the source of every keysound file the plan writes: the track and
// channel of the note that made it (of keysounds sharing a file, the first). Earlier entries of
// those names give way; stageCommit drops those of files no record lists any more.
BuildManifest withSoundSources(BuildManifest manifest, const RenderResult& rendered,
                               const ConversionOutcome& conversion, const BuildRequest& request,
                               const PreparedSong& prepared);

}  // namespace zentrowe::workflow

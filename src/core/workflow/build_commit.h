#pragma once

#include <string>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/base/staging_folder.h"
#include "core/workflow/build_manifest.h"
#include "core/workflow/build_request.h"

namespace zentrowe::workflow {

// What the commit moves in, in order (the charts last), and what it removes afterwards.
struct CommitList {
    std::vector<std::string> moves;
    std::vector<std::string> removals;
};

// Writes the manifest into the staging folder and lists the commit: every new file, and then
// what the earlier builds of the set's charts made and this one did not (their charts too),
// unless another chart's build uses it: a folder rebuilt many times holds only what its charts
// name. The records share their files. WouldOverwriteSource, naming the file, where one would
// replace the song; WriteFailed for the manifest; Cancelled.
Result<CommitList> stageCommit(const base::StagingFolder& staging, BuildManifest manifest,
                               std::vector<BuildRecord> records, const BuildRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow

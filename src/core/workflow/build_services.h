#pragma once

#include "core/workflow/build.h"
#include "core/workflow/kept_sounds.h"
#include "core/workflow/unchanged_files.h"

namespace zentrowe::workflow {

// The synthesiser with the request's soundfont and the real file system, where the caller gave no
// stand-ins; with kept sounds (none: nullptr), the renderers take what they can from them.
BuildServices withDefaultServices(BuildServices services, const BuildRequest& request, KeptSounds* kept);

// The sound file and preview writers in the request's format, where the caller gave no stand-ins,
// for a build whose folder is staged: they take what they can from the kept sounds (none:
// nullptr) and leave a file the folder holds already with the same bytes where it is
// (`unchanged`, which must outlive them).
BuildServices withStagedWriters(BuildServices services, const BuildRequest& request, KeptSounds* kept,
                                UnchangedFiles& unchanged);

}  // namespace zentrowe::workflow

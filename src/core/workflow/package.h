#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/audit.h"

namespace zentrowe::workflow {

struct PackageRequest {
    std::filesystem::path zipPath;
    bool replace = false;  // replace a zip file already at zipPath
};

struct PackageOutcome {
    std::string folderName;            // the one folder inside the zip
    std::vector<std::string> entries;  // the files inside it, as the zip names them
};

// The name of the one folder inside a package: the song's title in ASCII (full-width letters and
// digits as their ASCII forms, other characters dropped, characters file systems refuse made
// spaces), the part the charts' titles share ("Song [HYPER]" and "Song [ANOTHER]" give "Song");
// else the folder's own name made ASCII the same way; else "song".
std::string packageFolderName(const AuditReport& audit);

// Writes a zip of one folder holding the audited charts and every file they use, nothing else
// (no file of this program's own, none that no chart uses), under the names they have in the
// folder. Compressed formats (OGG, FLAC, MP3) are stored, the rest deflated. The zip is written
// to a temporary file beside the target and renamed onto it once whole. Progress counts
// thousandths of the writing. AuditFailed (nothing written) while the audit has an error;
// WouldOverwriteSource (nothing written, `replace` or not) if the target is a chart of the
// folder or a file its charts name;
// WriteFailed naming the target if it is a folder, if it exists and `replace` is not set, or if
// it cannot be written (a file of the folder that cannot be read included); Cancelled.
Result<PackageOutcome> writePackage(const AuditReport& audit, const PackageRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow

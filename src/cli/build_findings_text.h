#pragma once

#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "core/workflow/build_findings.h"

namespace zentrowe::cli {

// What a build's reader needs beside the finding itself to word it.
struct FindingContext {
    std::string soundFont;         // as shown: the soundfont the build rendered with
    std::filesystem::path folder;  // the output folder
};

// The English sentence of one finding, as the command line has always said it. Silent keysounds
// and long files are worded together (findingsSentence).
std::string findingSentence(const workflow::Finding& finding, const FindingContext& context);

// Prints on stderr every finding `which` takes, in order: a warning as "zentrowe-cli: warning:
// ...", a notice as a line of its own. The silent keysounds are one warning at the first one's
// place, and so are the files over 60 s; an item said alike several times is said once with
// "(N times)".
void reportFindings(std::span<const workflow::Finding> findings, const FindingContext& context,
                    const std::function<bool(const workflow::Finding&)>& which);

}  // namespace zentrowe::cli

#include "core/workflow/chart_inputs.h"

#include <algorithm>
#include <system_error>

#include "core/audio/keysound_finder.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/same_file.h"
#include "core/base/text_decoding.h"
#include "core/chart/chart_file.h"
#include "core/chart/named_files.h"

namespace zentrowe::workflow {

namespace {

namespace fs = std::filesystem;

// Whether two paths name files in one folder whose names differ at most in ASCII case.
bool sameNameButCase(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    const auto folderA = fs::weakly_canonical(a.has_parent_path() ? a.parent_path() : fs::path("."), error);
    if (error) {
        return false;
    }
    const auto folderB = fs::weakly_canonical(b.has_parent_path() ? b.parent_path() : fs::path("."), error);
    return !error && folderA == folderB && lowerAscii(a.filename().string()) == lowerAscii(b.filename().string());
}

}  // namespace

std::vector<fs::path> chartsInFolder(const fs::path& folder)
{
    std::vector<fs::path> charts;
    std::error_code error;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code kindError;
        if (chart::isChartPath(it->path()) && it->is_regular_file(kindError)) {
            charts.push_back(it->path());
        }
    }
    std::sort(charts.begin(), charts.end());
    return charts;
}

std::vector<ChartInput> folderInputs(const fs::path& folder)
{
    const std::vector<fs::path> charts = chartsInFolder(folder);
    std::vector<ChartInput> inputs;
    audio::KeysoundFinder finder(folder);
    for (const auto& chartPath : charts) {
        const std::string chartName = displayPath(chartPath.filename());
        inputs.push_back({chartPath, "the chart " + chartName});
        const auto bytes = readFileBytes(chartPath);
        if (!bytes) {
            continue;
        }
        const auto references = chart::isBmsonPath(chartPath) ? chart::bmsonFileReferences(bytes->bytes())
                                                              : chart::bmsFileReferences(bytes->bytes());
        for (const auto& reference : references) {
            const std::string what = "\"" + reference.name + "\", which " + chartName + " names";
            const auto found = finder.find(reference.name);
            if (found && *found) {
                inputs.push_back({**found, what});
            }
            std::string spelled = reference.name;
            std::replace(spelled.begin(), spelled.end(), '\\', '/');
            if (found) {  // a name that stays inside the folder
                inputs.push_back({(folder / spelled).lexically_normal(), what});
            }
        }
    }
    return inputs;
}

Status refuseOverwritingInput(const fs::path& target, const std::vector<ChartInput>& inputs, std::string_view advice)
{
    for (const auto& input : inputs) {
        if (isSameFile(target, input.path) || sameNameButCase(target, input.path)) {
            return Error{ErrorCode::WouldOverwriteSource,
                         displayPath(target) + ": is " + input.what + "; " + std::string(advice)}
                .inFile(displayPath(target))
                .withValue(displayPath(input.path));
        }
    }
    return {};
}

}  // namespace zentrowe::workflow

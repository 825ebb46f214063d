#pragma once

#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/audit.h"
#include "core/workflow/build.h"

namespace zentrowe::app {

// 一键生成: the folder `zentrowe-cli build` writes for the same request, then the release
// checklist on it, whose findings the window lists beside the build's own.
class BuildPass final {
public:
    struct Output {
        Result<workflow::BuildOutcome> built;
        std::vector<workflow::AuditFinding> audit;  // empty if the build failed or the audit did

        static Output failed(Error error) { return Output{std::move(error), {}}; }
    };

    explicit BuildPass(workflow::BuildRequest request) : m_request(std::move(request)) { }

    Output operator()(ProgressSink& progress) const;

private:
    workflow::BuildRequest m_request;
};

}  // namespace zentrowe::app

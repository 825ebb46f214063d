#pragma once

#include <filesystem>
#include <optional>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/audit.h"
#include "core/workflow/package.h"

namespace zentrowe::app {

// 发布检查 and 打包: the release checklist on a chart folder (or one chart), and with a zip to
// write, the package `zentrowe-cli package` makes of it.
class PublishPass final {
public:
    struct Output {
        Result<workflow::AuditReport> audit;
        // Only with a zip to write and an audit that ran.
        std::optional<Result<workflow::PackageOutcome>> packaged;

        static Output failed(Error error) { return Output{std::move(error), std::nullopt}; }
    };

    PublishPass(std::filesystem::path target, std::optional<std::filesystem::path> zip)
        : m_target(std::move(target)), m_zip(std::move(zip))
    {
    }

    Output operator()(ProgressSink& progress) const;

private:
    std::filesystem::path m_target;
    std::optional<std::filesystem::path> m_zip;
};

}  // namespace zentrowe::app

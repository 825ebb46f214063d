#include "app/ui/passes/build_pass.h"

namespace zentrowe::app {

BuildPass::Output BuildPass::operator()(ProgressSink& progress) const
{
    Output output{workflow::runBuild(m_request, progress), {}};
    if (output.built) {
        // The checklist's progress would start the bar again after the build's last stage.
        NullProgress quiet;
        if (auto report = workflow::auditFolder(m_request.conversion.outputFolder, quiet)) {
            output.audit = std::move(report->findings);
        }
    }
    return output;
}

}  // namespace zentrowe::app

#include "app/ui/passes/publish_pass.h"

namespace zentrowe::app {

PublishPass::Output PublishPass::operator()(ProgressSink& progress) const
{
    Output output{workflow::auditFolder(m_target, progress), std::nullopt};
    if (output.audit && m_zip) {
        // What `zentrowe-cli package` does: an existing zip is refused, never replaced.
        output.packaged =
            workflow::writePackage(output.audit.value(), workflow::PackageRequest{*m_zip, false}, progress);
    }
    return output;
}

}  // namespace zentrowe::app

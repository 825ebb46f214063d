#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/workflow/package.h"

namespace zentrowe::cli {

Command addPackageCommand(CLI::App& app)
{
    struct Options {
        std::string folder;
        std::string out;
        bool replace = false;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("package", "Zip a chart folder for release: the charts and the files they use");
    auto* sub = command.app;
    sub->add_option("DIR", options->folder, "the chart folder")->required();
    sub->add_option("--out", options->out, "the zip file to write")->required();
    sub->add_flag("--replace", options->replace, "replace a zip file of that name");
    command.run = [options] {
        if (refuseEmpty(options->folder, "DIR") || refuseEmpty(options->out, "--out")) {
            return kExitUsage;
        }
        const auto report = runAudit(utf8Path(options->folder));
        if (const auto stopped = SignalStop::exitCodeIfStopped("nothing was written")) {
            return *stopped;
        }
        if (!report) {
            reportError(report.error().message);
            return kExitBadInput;
        }
        for (const auto& finding : report->findings) {
            if (finding.severity == workflow::AuditSeverity::Error) {
                reportError(findingLine(*report, finding));
            }
        }
        workflow::PackageRequest request;
        request.zipPath = utf8Path(options->out);
        request.replace = options->replace;
        const auto outcome = runStoppable("zipped", "thousandths", [&](ProgressSink& stop) {
            return workflow::writePackage(*report, request, stop);
        });
        if (const auto stopped = SignalStop::exitCodeIfStopped("nothing was written")) {
            return *stopped;
        }
        if (!outcome) {
            const bool exists = outcome.error().subject == "exists";
            reportError(outcome.error().message + (exists ? " (--replace replaces it)" : ""));
            return kExitBadInput;
        }
        Output out;
        out.write("wrote " + displayPath(request.zipPath) + ": " + std::to_string(outcome->entries.size()) +
                  " files in " + outcome->folderName + "/\n");
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli

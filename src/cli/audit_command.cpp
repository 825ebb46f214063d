#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"

namespace zentrowe::cli {

std::string findingLine(const workflow::AuditReport& report, const workflow::AuditFinding& finding)
{
    const auto file = finding.file.empty() ? report.folder : report.folder / finding.file;
    return std::string(workflow::severityWord(finding.severity)) + ": " + displayPath(file) + ": " +
           escapeControlBytes(finding.message);
}

void writeFindings(Output& out, const workflow::AuditReport& report)
{
    for (const auto& finding : report.findings) {
        out.write(findingLine(report, finding) + "\n");
    }
}

Result<workflow::AuditReport> runAudit(const std::filesystem::path& target)
{
    return runStoppable("read", "sound files", [&](ProgressSink& stop) { return workflow::auditFolder(target, stop); });
}

Command addAuditCommand(CLI::App& app)
{
    auto target = std::make_shared<std::string>();
    Command command;
    command.app = app.add_subcommand("audit", "Check a chart folder against the BMS release checklist");
    command.app->add_option("DIR|CHART", *target, "a chart folder, or one chart in it")->required();
    command.run = [target] {
        if (refuseEmpty(*target, "DIR|CHART")) {
            return kExitUsage;
        }
        const auto report = runAudit(utf8Path(*target));
        if (const auto stopped = SignalStop::exitCodeIfStopped("nothing was written")) {
            return *stopped;
        }
        if (!report) {
            reportError(report.error().message);
            return kExitBadInput;
        }
        Output out;
        writeFindings(out, *report);
        const int written = out.finishWithExitCode();
        return written != kExitDone ? written : report->hasError() ? kExitBadInput : kExitDone;
    };
    return command;
}

}  // namespace zentrowe::cli

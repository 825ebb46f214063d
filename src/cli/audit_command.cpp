#include <memory>
#include <string>
#include <vector>

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

void writeFindingsOnce(Output& out, const workflow::AuditReport& report)
{
    std::vector<bool> said(report.findings.size(), false);
    for (std::size_t k = 0; k < report.findings.size(); ++k) {
        if (said[k]) {
            continue;
        }
        const auto& finding = report.findings[k];
        std::vector<std::string> files;
        for (std::size_t j = k; j < report.findings.size(); ++j) {
            const auto& other = report.findings[j];
            if (!said[j] && other.severity == finding.severity && other.check == finding.check &&
                other.message == finding.message) {
                said[j] = true;
                files.push_back(displayPath(other.file));
            }
        }
        std::string line = findingLine(report, finding);
        if (files.size() > 1) {
            line += " (" + std::to_string(files.size()) + " times: " + files.front();
            for (std::size_t j = 1; j < files.size(); ++j) {
                line += ", " + files[j];
            }
            line += ")";
        }
        out.write(line + "\n");
    }
}

Result<workflow::AuditReport> runAudit(const std::filesystem::path& target)
{
    return runAudit(target, std::nullopt, 0);
}

Result<workflow::AuditReport> runAudit(const std::filesystem::path& target,
                                       const std::optional<std::filesystem::path>& cacheFolder,
                                       std::uintmax_t cacheBytes)
{
    std::error_code error;  // a cache that cannot be opened only costs decoding
    auto cache = cacheFolder ? FileCache::open(*cacheFolder, cacheBytes, realFileSystem(), error) : std::nullopt;
    return runStoppable("read", "sound files", [&](ProgressSink& stop) {
        return workflow::auditFolder(target, stop, cache ? &*cache : nullptr);
    });
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

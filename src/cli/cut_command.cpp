#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/workflow/cut_plan.h"

namespace zentrowe::cli {

Command addCutCommand(CLI::App& app)
{
    struct Options {
        std::string recording;
        std::string chart;
        std::string name;
        std::string leadIn = "auto";
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("cut", "Cut a rendering of K-Midi.mid into one WAV file per keysound");
    auto* sub = command.app;
    sub->add_option("RECORDING", options->recording, "WAV rendering of K-Midi.mid")->required();
    sub->add_option("--chart", options->chart, "the chart written with K-Midi.mid; files go beside it")->required();
    // An empty name is a valid keysound name, so "--name=" must parse.
    sub->add_option("--name", options->name, "new keysound name, the prefix of every keysound file")
        ->expected(0, 1)
        ->default_str("");
    sub->add_option("--lead-in", options->leadIn,
                    "where the recording starts: first-note, file-start (time 0 of K-Midi.mid) or auto")
        ->check(CLI::IsMember({"auto", "first-note", "file-start"}));

    command.run = [options, sub] {
        if (refuseEmpty(options->chart, "--chart")) {
            return kExitUsage;
        }
        workflow::CutPlanRequest plan;
        plan.recording = options->recording;
        plan.source = utf8Path(options->chart);
        if (sub->count("--name") > 0) {
            plan.keysoundName = options->name;
        }
        plan.leadIn = options->leadIn == "first-note"   ? keysound::LeadIn::FirstNote
                      : options->leadIn == "file-start" ? keysound::LeadIn::FileStart
                                                        : keysound::LeadIn::Auto;
        auto report =
            runStoppable("cut", "keysounds", [&](ProgressSink& stop) { return workflow::cutKeysounds(plan, stop); });
        if (const auto stopped = SignalStop::exitCodeIfStopped()) {
            return *stopped;
        }
        if (!report) {
            const auto& error = report.error();
            // The refusals of a keysound name: the only setting cut takes.
            const bool aboutTheName = error.subject == "keysoundName" || error.subject == "keysoundNameLength";
            reportError(aboutTheName ? "--name: " + error.message : error.message);
            return kExitBadInput;
        }
        for (const auto& warning : report->warnings) {
            reportWarning(warning);
        }
        std::fprintf(stderr, "lead-in: %s\n",
                     report->leadInUsed == keysound::LeadIn::FileStart ? "file start" : "first note");
        Output out;
        for (const auto& written : report->written) {
            out.write("wrote " + displayPath(written) + "\n");
        }
        out.write(std::to_string(report->written.size()) + " keysounds cut\n");
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli

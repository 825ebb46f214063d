#include <algorithm>
#include <array>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/conversion_options.h"
#include "cli/loaded_track.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "core/workflow/conversion.h"
#include "core/workflow/session_state.h"

namespace zentrowe::cli {

void reportMerging(const convert::ConversionSettings& settings, const convert::KeysoundTable& keysounds)
{
    if (settings.merge.active()) {
        std::cerr << "zentrowe-cli: merging saved " << keysounds.mergedAway() << " keysounds ("
                  << keysounds.size() + keysounds.mergedAway() << " became " << keysounds.size() << ")\n";
    }
}

Command addConvertCommand(CLI::App& app)
{
    auto options = std::make_shared<ConversionOptions>();
    Command command;
    command.app = app.add_subcommand("convert", "Convert one track into a BMS chart and K-Midi.mid");
    auto* sub = command.app;
    addConversionOptions(*sub, *options);

    command.run = [options, sub] {
        if (refuseEmpty(options->out, "--out")) {
            return kExitUsage;
        }
        auto settings = conversionSettings(*sub, *options);
        if (!settings) {
            return kExitBadInput;
        }

        SignalStop stop;
        auto loaded = loadTrack(options->file, options->track, stop);
        if (!loaded) {
            return loaded.exitCode;
        }
        if (loaded.parts.size() > 1) {
            reportError("--track " + options->track + ": convert charts one track or channel; build takes several");
            return kExitUsage;
        }
        if (loaded.song.warning) {
            reportWarning(*loaded.song.warning);
        }
        workflow::SongState state;
        state.outputFolder = utf8Path(options->out);
        workflow::openSong(state, utf8Path(options->file), std::move(loaded.song));
        auto request = workflow::conversionRequest(state, loaded.parts, std::move(settings).value());
        const auto outcome = workflow::runConversion(request, stop);
        if (const auto stopped = SignalStop::exitCodeIfStopped()) {
            return *stopped;
        }
        if (!outcome) {
            reportError(outcome.error().message);
            return kExitBadInput;
        }
        reportMerging(request.settings, outcome->keysounds);
        if (outcome->allNotesOnDrumChannel) {
            reportWarning("every note of this track is on channel 10 (drums): --mode percussion makes drum keysounds");
        }
        Output out;
        out.write("wrote " + displayPath(outcome->chartPath) + "\n");
        out.write("wrote " + displayPath(outcome->keysoundMidiPath) + "\n");
        out.write(std::to_string(outcome->keysounds.size()) + " keysounds\n");
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli

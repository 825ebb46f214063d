#include "cli/commands.h"
#include "cli/output.h"
#include "core/song/song_summary.h"

namespace zentrowe::cli {

Command addTracksCommand(CLI::App& app)
{
    auto file = std::make_shared<std::string>();
    Command command;
    command.app = app.add_subcommand("tracks", "List the tracks of a MIDI file");
    command.app->add_option("FILE", *file, "MIDI file")->required();
    command.run = [file] {
        NullProgress quiet;
        const auto summary = song::readSongSummary(*file, quiet);
        if (!summary) {
            reportError(summary.error().message);
            return kExitBadInput;
        }
        Output out;
        for (const auto& track : summary->tracks) {
            out.write(track.label);
            out.put('\t');
            out.write(std::to_string(track.noteCount));
            out.put('\t');
            out.write(track.name);
            out.put('\t');
            out.write(track.family);
            out.put('\t');
            out.write(track.instrument);
            out.put('\n');
        }
        if (summary->warning) {
            reportWarning(*summary->warning);
        }
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli

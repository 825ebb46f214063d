#include "cli/commands.h"
#include "cli/output.h"
#include "core/base/file_reading.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::cli {

namespace {

// One line per channel that plays notes in a track: "1:2", as --track takes it, the notes and
// the instrument.
int writeChannelParts(const std::string& file, const song::SongSummary& summary)
{
    const auto bytes = readFileBytes(file);
    if (!bytes) {
        reportError(bytes.error().message);
        return kExitBadInput;
    }
    Output out;
    for (const auto& row : song::listChannelParts(bytes->bytes(), summary)) {
        out.write(song::partText(row.part) + '\t' + std::to_string(row.noteCount) + '\t' + row.instrument + '\n');
    }
    return out.finishWithExitCode();
}

}  // namespace

Command addTracksCommand(CLI::App& app)
{
    auto file = std::make_shared<std::string>();
    auto channels = std::make_shared<bool>(false);
    Command command;
    command.app = app.add_subcommand("tracks", "List the tracks of a MIDI file");
    command.app->add_option("FILE", *file, "MIDI file")->required();
    command.app->add_flag("--channels", *channels,
                          "list the parts instead: each channel that plays notes in a track, as --track N:C names it");
    command.run = [file, channels] {
        NullProgress quiet;
        const auto summary = song::readSongSummary(*file, quiet);
        if (!summary) {
            reportError(summary.error().message);
            return kExitBadInput;
        }
        if (*channels) {
            if (summary->warning) {
                reportWarning(*summary->warning);
            }
            return writeChannelParts(*file, *summary);
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


#include "cli/commands.h"
#include "cli/output.h"
#include "core/base/file_reading.h"
#include "core/base/number_text.h"
#include "core/base/utf8_path.h"
#include "core/song/song_summary.h"
#include "core/song/track_details.h"
#include "core/song/track_part.h"

namespace zentrowe::cli {

namespace {

// The columns --details adds: channels, first and last note (s), notes per second on average
// and at most, pitch range, and "melody" on the likely tune.
std::string detailColumns(const song::TrackDetails& details, bool melody)
{
    if (details.noteCount == 0) {
        return "\t-\t-\t-\t0.0\t0.0\t-\t";
    }
    return "\t" + song::channelListText(details.channels) + "\t" + fixedText(details.firstNoteSeconds, 2) + "\t" +
           fixedText(details.lastNoteSeconds, 2) + "\t" + fixedText(details.averageNotesPerSecond, 1) + "\t" +
           fixedText(details.peakNotesPerSecond, 1) + "\t" + song::pitchName(details.lowestPitch) + "-" +
           song::pitchName(details.highestPitch) + "\t" + (melody ? "melody" : "");
}

// One line per channel that plays notes in a track: "1:2", as --track takes it, the notes and
// the instrument; with `details`, the channel's own columns as --details gives a track's.
int writeChannelParts(const std::string& file, const song::SongSummary& summary, bool details)
{
    const auto bytes = readFileBytes(utf8Path(file));
    if (!bytes) {
        reportError(bytes.error().message);
        return kExitBadInput;
    }
    Output out;
    if (details) {
        out.write("part\tnotes\tinstrument\tchannels\tfirst s\tlast s\tnotes/s\tpeak/s\tpitches\t\n");
    }
    for (const auto& row : song::listChannelParts(bytes->bytes(), summary)) {
        out.write(song::partText(row.part) + '\t' + std::to_string(row.noteCount) + '\t' + row.instrument);
        // The likely melody is a track's mark; a part's last column stays empty.
        out.write(details ? detailColumns(row.details, false) + '\n' : std::string("\n"));
    }
    return out.finishWithExitCode();
}

struct TracksOptions {
    std::string file;
    bool details = false;
    bool channels = false;
};

// One line per track: its label, notes, name, family and instrument, and with --details the
// detail columns, the likely melody marked.
int writeTracks(const TracksOptions& options, const song::SongSummary& summary)
{
    std::vector<song::TrackDetails> details;
    std::optional<int> melody;
    if (options.details) {
        NullProgress quiet;
        auto read = song::readTrackDetails(utf8Path(options.file), summary, quiet);
        if (!read) {
            reportError(read.error().message);
            return kExitBadInput;
        }
        details = std::move(read).value();
        melody = song::likelyMelodyTrack(details);
    }
    Output out;
    if (options.details) {
        out.write("track\tnotes\tname\tfamily\tinstrument\tchannels\tfirst s\tlast s\tnotes/s\tpeak/s\tpitches\t\n");
    }
    for (std::size_t k = 0; k < summary.tracks.size(); ++k) {
        const auto& track = summary.tracks[k];
        out.write(track.label + '\t' + std::to_string(track.noteCount) + '\t' + track.name + '\t' + track.family +
                  '\t' + track.instrument);
        if (options.details) {
            out.write(detailColumns(details[k], melody == static_cast<int>(k) + 1));
        }
        out.put('\n');
    }
    if (summary.warning) {
        reportWarning(*summary.warning);
    }
    return out.finishWithExitCode();
}

int runTracks(const TracksOptions& options)
{
    NullProgress quiet;
    const auto summary = song::readSongSummary(utf8Path(options.file), quiet);
    if (!summary) {
        reportError(summary.error().message);
        return kExitBadInput;
    }
    if (options.channels) {
        if (summary->warning) {
            reportWarning(*summary->warning);
        }
        return writeChannelParts(options.file, *summary, options.details);
    }
    return writeTracks(options, *summary);
}

}  // namespace

Command addTracksCommand(CLI::App& app)
{
    auto options = std::make_shared<TracksOptions>();
    Command command;
    command.app = app.add_subcommand("tracks", "List the tracks of a MIDI file");
    command.app->add_option("FILE", options->file, "MIDI file")->required();
    command.app->add_flag("--details", options->details,
                          "add each track's channels, first and last note (s), average and peak notes per second, "
                          "pitch range, and mark the likely melody");
    command.app->add_flag("--channels", options->channels,
                          "list the parts instead: each channel that plays notes in a track, as --track N:C names it "
                          "(with --details, each part's own details)");
    command.run = [options] { return runTracks(*options); };
    return command;
}

}  // namespace zentrowe::cli

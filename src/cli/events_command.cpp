#include "cli/commands.h"
#include "cli/loaded_track.h"
#include "cli/output.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"

namespace zentrowe::cli {

namespace {

class PrintRows final : public song::EventRowSink {
public:
    explicit PrintRows(Output& out) : m_out(out) { }
    void addRow(std::string_view delta, std::string_view label, std::string_view description) override
    {
        m_line.clear();
        m_line.append(delta);
        m_line += '\t';
        m_line.append(label);
        m_line += '\t';
        m_line.append(description);
        m_line += '\n';
        m_out.write(m_line);
    }

private:
    Output& m_out;
    std::string m_line;
};

}  // namespace

Command addEventsCommand(CLI::App& app)
{
    struct Options {
        std::string file;
        std::string track;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("events", "List every event of one track");
    command.app->add_option("FILE", options->file, "MIDI file")->required();
    addTrackOption(*command.app, options->track);
    command.run = [options] {
        NullProgress quiet;
        const auto loaded = loadTrack(options->file, options->track, quiet);
        if (!loaded) {
            return loaded.exitCode;
        }
        if (loaded.parts.size() > 1 || loaded.parts.front().channel != 0) {
            reportError("--track " + options->track + ": events lists one whole track; give its number alone");
            return kExitUsage;
        }
        Output out;
        PrintRows rows(out);
        if (auto listed = song::listTrackEvents(utf8Path(options->file), loaded.song, loaded.trackNumber, rows, quiet);
            !listed) {
            reportError(listed.error().message);
            return kExitBadInput;
        }
        // The track listed may be whole while later ones are missing; say so as tracks does.
        if (loaded.song.warning) {
            reportWarning(*loaded.song.warning);
        }
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli

#include <cstdio>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv)
{
    using namespace zentrowe::cli;
    CLI::App app{"Turns a track of a MIDI file into a keysounded BMS chart, and cuts its keysounds"};
    app.name("zentrowe-cli");
    app.require_subcommand(1);
    std::vector<Command> commands;
    commands.push_back(addTracksCommand(app));
    commands.push_back(addEventsCommand(app));
    commands.push_back(addConvertCommand(app));
    commands.push_back(addCutCommand(app));
    commands.push_back(addBuildCommand(app));
    commands.push_back(addPreviewCommand(app));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitDone : kExitUsage;
    }
    for (const auto& command : commands) {
        if (command.app->parsed()) {
            return command.run();
        }
    }
    return kExitUsage;
}

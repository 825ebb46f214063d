#include <cstdio>
#include <new>
#include <vector>

#include "cli/argument_check.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/utf8_arguments.h"
#include "core/base/file_error.h"

namespace {

int runCommandLine(int argc, char** argv)
{
    using namespace zentrowe::cli;
    CLI::App app{"Turns a track of a MIDI file into a keysounded BMS chart, and cuts its keysounds"};
    app.name("zentrowe-cli");
    app.set_version_flag("--version", "zentrowe-cli " ZENTROWE_VERSION);
    app.require_subcommand(1);
    std::vector<Command> commands;
    commands.push_back(addTracksCommand(app));
    commands.push_back(addEventsCommand(app));
    commands.push_back(addConvertCommand(app));
    commands.push_back(addCutCommand(app));
    commands.push_back(addBuildCommand(app));
    commands.push_back(addPreviewCommand(app));
    commands.push_back(addCheckCommand(app));
    commands.push_back(addAuditCommand(app));
    commands.push_back(addPackageCommand(app));
    commands.push_back(addPictureCommand(app));
    if (const auto unknown = unknownArgument(app, std::vector<std::string>(argv + 1, argv + argc))) {
        reportError(*unknown);
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        // One line, like every other refusal.
        reportError(std::string(error.what()) + " (zentrowe-cli --help lists the options)");
        return kExitUsage;
    }
    for (const auto& command : commands) {
        if (command.app->parsed()) {
            return command.run();
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    // Caught here, an exception unwinds the stack, which removes every temporary file; left to
    // escape, it would end the program with them still on disk.
    try {
        auto arguments = zentrowe::cli::utf8Arguments(argc, argv);
        std::vector<char*> pointers;
        for (auto& argument : arguments) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
        return runCommandLine(static_cast<int>(arguments.size()), pointers.data());
    } catch (...) {
        zentrowe::cli::reportError(zentrowe::caughtExceptionError().message);
        return zentrowe::cli::kExitBadInput;
    }
}

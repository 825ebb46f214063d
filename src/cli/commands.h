#pragma once

#include <CLI/CLI.hpp>

namespace zentrowe::cli {

// Exit codes of zentrowe-cli.
inline constexpr int kExitDone = 0;
inline constexpr int kExitBadInput = 1;
inline constexpr int kExitUsage = 2;

// Each subcommand adds itself to the app and sets `run` to what executes it once parsed.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command addTracksCommand(CLI::App& app);
Command addEventsCommand(CLI::App& app);
Command addConvertCommand(CLI::App& app);
Command addCutCommand(CLI::App& app);
Command addBuildCommand(CLI::App& app);
Command addPreviewCommand(CLI::App& app);

}  // namespace zentrowe::cli

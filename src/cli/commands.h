#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <optional>

#include <string>

#include "core/convert/settings.h"
#include "core/song/track_part.h"
#include "core/workflow/audit.h"

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

// The "--track N" option every command that takes a track shares: decimal digits only, kept
// as typed so that a number too large for any integer is still reported as the user wrote it
// (song::trackNumberFromDigits turns it into a track).
CLI::Option* addTrackOption(CLI::App& command, std::string& digits);

// The parts a --track value names (song::parseTrackParts), or nothing after one sentence on
// stderr, with `exitCode` set: kExitUsage for text that is not a list of parts or names one
// twice, kExitBadInput for a track the song lacks.
std::optional<std::vector<song::TrackPart>> readTrackParts(const song::SongSummary& song, const std::string& typed,
                                                           const std::string& fileName, int& exitCode);

// A required option given an empty value ("--out=" or "--out ''") as one line on stderr; true
// if it was empty.
bool refuseEmpty(const std::string& value, const char* option);

// "merging saved N keysounds" on stderr when merging was asked for.
void reportMerging(const convert::ConversionSettings& settings, const convert::KeysoundTable& keysounds);

Command addTracksCommand(CLI::App& app);
Command addEventsCommand(CLI::App& app);
Command addConvertCommand(CLI::App& app);
Command addCutCommand(CLI::App& app);
Command addBuildCommand(CLI::App& app);
Command addPreviewCommand(CLI::App& app);
Command addCheckCommand(CLI::App& app);
Command addAuditCommand(CLI::App& app);
Command addPackageCommand(CLI::App& app);
Command addPictureCommand(CLI::App& app);

class Output;
// One finding as a line of its own: "error: DIR/song.bms: #TITLE is missing ...".
std::string findingLine(const workflow::AuditReport& report, const workflow::AuditFinding& finding);
// Every finding of the audit, a line each.
void writeFindings(Output& out, const workflow::AuditReport& report);
// As writeFindings, but a finding repeated word for word (the same header missing from every
// chart) is said once, with how many times and where.
void writeFindingsOnce(Output& out, const workflow::AuditReport& report);
// auditFolder with the terminal's progress and the signals' stop.
Result<workflow::AuditReport> runAudit(const std::filesystem::path& target);
// As above, with the facts of sounds already decoded kept in the cache `cacheFolder` (bounded to
// `cacheBytes`), as a build's closing audit does; none, or one that cannot be opened, keeps nothing.
Result<workflow::AuditReport> runAudit(const std::filesystem::path& target,
                                       const std::optional<std::filesystem::path>& cacheFolder,
                                       std::uintmax_t cacheBytes);

// Compares the chart's folder with the track as `check` does and prints its figures; the exit code.
int runAndReportCheck(const std::filesystem::path& chart, const std::filesystem::path& midi,
                      const std::vector<song::TrackPart>& parts, const std::filesystem::path& soundFont,
                      unsigned jobs = 0);

}  // namespace zentrowe::cli

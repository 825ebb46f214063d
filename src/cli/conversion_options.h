#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "core/convert/settings.h"

namespace zentrowe::cli {

// What `convert` and `build` both take: the song, the track, the folder and the settings
// dialog's values. Each command registers them with addConversionOptions and adds its own.
struct ConversionOptions {
    std::string file;
    std::string track;
    std::string out;
    std::string mode = "plain";
    std::string chartFormat = "bms";
    std::string bpm;
    convert::SettingsTexts texts;
};

// Registers FILE, --track, --out and every conversion option on `command`, filling `options`.
void addConversionOptions(CLI::App& command, ConversionOptions& options);

// The settings the options give once parsed, or nothing after one sentence on stderr naming the
// option, the value given and what it must be (the range where it has one).
std::optional<convert::ConversionSettings> conversionSettings(const CLI::App& command,
                                                              const ConversionOptions& options);

// The option that fills a settings field, for naming it in a refusal.
std::string settingOption(convert::SettingsField field);

// A parsed settings value outside the range the command line accepts (the window's dialog keeps
// its own): "--velocity-step 0: must be a whole number, 1 to 127".
std::optional<std::string> settingsOutOfRange(const convert::ConversionSettings& settings,
                                              const convert::SettingsTexts& texts);

}  // namespace zentrowe::cli

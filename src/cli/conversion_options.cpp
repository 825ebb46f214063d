#include "cli/conversion_options.h"

#include <array>

#include "cli/commands.h"
#include "cli/output.h"

namespace zentrowe::cli {

namespace {

// One settings value of the dialog as an option: its name, what help shows for its value, and
// what a value must be, in the command line's words (the core words its refusals for the window).
struct SettingOption {
    convert::SettingsField field;
    const char* name;
    const char* valueName;
    const char* help;
    const char* rule;
};

constexpr std::array kSettingOptions = {
    SettingOption{convert::SettingsField::StartCode, "--start-code", "CC",
                  "code before the first keysound's, two characters in the codes' base (default 00)",
                  "must be two characters 0-9, A-Z or a-z, a code in the chart's base"},
    SettingOption{convert::SettingsField::KeysoundName, "--name", "PREFIX",
                  "keysound name, the prefix of every keysound file (default A; may be empty)",
                  "must be printable ASCII without / \\ : * ? \" < > |, and not . or .."},
    SettingOption{convert::SettingsField::LongNoteMinimum, "--long-min", "N",
                  "shortest long note, in 1/192 of a measure (default 24); for build also a time with its unit "
                  "(0.3s, 300ms, 1beat; never under 0.2s)",
                  "must be a whole number (or for build a time with its unit: 0.3s, 300ms, 1beat)"},
    SettingOption{convert::SettingsField::Tempo, "--bpm", "BPM",
                  "tempo of K-Midi.mid in beats per minute (default: the song's)",
                  "must be a number of beats per minute giving 1 to 16777215 microseconds per quarter note"},
    SettingOption{convert::SettingsField::Gap, "--gap", "TICKS",
                  "silence before each keysound in K-Midi.mid, in its ticks (96 a beat; default 100)",
                  "must be a whole number of ticks, 0 to 268435455"},
    SettingOption{convert::SettingsField::VelocityStep, "--velocity-step", "N",
                  "velocities rounded to the nearest multiple of N before keysounds are told apart (default 1: off)",
                  "must be a whole number, 1 to 127"},
    SettingOption{
        convert::SettingsField::LengthStep, "--length-step", "U",
        "lengths rounded to the nearest U units of 1/192 measure before keysounds are told apart (default 0: off)",
        "must be a whole number, 0 to 1000000"},
};

const SettingOption& settingOptionOf(convert::SettingsField field)
{
    for (const auto& option : kSettingOptions) {
        if (option.field == field) {
            return option;
        }
    }
    return kSettingOptions.front();
}

// The text of the field in `texts` (const or not).
template <typename Texts>
auto& fieldText(Texts& texts, convert::SettingsField field)
{
    switch (field) {
    case convert::SettingsField::StartCode:
        return texts.startCode;
    case convert::SettingsField::KeysoundName:
        return texts.keysoundName;
    case convert::SettingsField::LongNoteMinimum:
        return texts.longNoteMinimum;
    case convert::SettingsField::Tempo:
        return texts.tempo;
    case convert::SettingsField::Gap:
        return texts.gap;
    case convert::SettingsField::VelocityStep:
        return texts.velocityStep;
    case convert::SettingsField::LengthStep:
        break;
    }
    return texts.lengthStep;
}

std::string refusal(convert::SettingsField field, const convert::SettingsTexts& texts)
{
    const auto& option = settingOptionOf(field);
    return std::string(option.name) + " \"" + fieldText(texts, field) + "\": " + option.rule;
}

std::string* fieldTarget(ConversionOptions& options, convert::SettingsField field)
{
    if (field == convert::SettingsField::Tempo) {
        return &options.bpm;  // the tempo applies only when given
    }
    return &fieldText(options.texts, field);
}

}  // namespace

std::string settingOption(convert::SettingsField field)
{
    return settingOptionOf(field).name;
}

void addConversionOptions(CLI::App& command, ConversionOptions& options)
{
    command.add_option("FILE", options.file, "MIDI file")->required();
    addTrackOption(command, options.track);
    command.add_option("--out", options.out, "output folder (made when missing)")->required()->type_name("DIR");
    command.add_option("--mode", options.mode, "plain, long (long notes) or percussion (strikes only)")
        ->check(CLI::IsMember({"plain", "long", "percussion"}).description(""))
        ->type_name("plain|long|percussion");
    command.add_option("--chart-format", options.chartFormat, "bms, or bmson: exact times, no code or measure limit")
        ->check(CLI::IsMember({"bms", "bmson"}).description(""))
        ->type_name("bms|bmson");
    command
        .add_option_function<std::string>(
            "--codes", [&options](const std::string& base) { options.texts.base62 = base == "62"; },
            "36 (codes up to ZZ) or 62 (codes up to zz, with a #BASE 62 line)")
        ->check(CLI::IsMember({"36", "62"}).description(""))
        ->type_name("36|62");
    for (const auto& setting : kSettingOptions) {
        auto* option = command.add_option(setting.name, *fieldTarget(options, setting.field), setting.help)
                           ->type_name(setting.valueName);
        if (setting.field == convert::SettingsField::KeysoundName) {
            // An empty name is a valid keysound name: "--name=" and "--name ''" both give it.
            option->expected(0, 1)->default_str("");
        }
    }
}

std::optional<std::string> settingsOutOfRange(const convert::ConversionSettings& settings,
                                              const convert::SettingsTexts& texts)
{
    // The dialog also reads 0 as "off"; on the command line 1 is the one way to say it.
    if (settings.merge.velocityStep < 1) {
        return refusal(convert::SettingsField::VelocityStep, texts);
    }
    return std::nullopt;
}

std::optional<convert::ConversionSettings> conversionSettings(const CLI::App& command, const ConversionOptions& options)
{
    convert::SettingsTexts texts = options.texts;
    texts.longNotes = options.mode == "long";
    texts.percussion = options.mode == "percussion";
    texts.bmson = options.chartFormat == "bmson";
    texts.useCustomTempo = command.count("--bpm") > 0;
    if (texts.useCustomTempo) {
        texts.tempo = options.bpm;
    }
    auto settings = convert::parseSettings(texts);
    if (!settings) {
        const auto field = convert::firstInvalidField(texts);
        if (field == convert::SettingsField::KeysoundName) {
            // A name is refused for its characters or for its length: the core's own reason.
            reportError("--name: " + settings.error().message);
        } else {
            reportError(field ? refusal(*field, texts) : settings.error().message);
        }
        return std::nullopt;
    }
    if (const auto outOfRange = settingsOutOfRange(*settings, texts)) {
        reportError(*outOfRange);
        return std::nullopt;
    }
    return std::move(settings).value();
}

}  // namespace zentrowe::cli

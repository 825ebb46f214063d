#include "core/workflow/player_sides.h"

#include <nlohmann/json.hpp>

namespace zentrowe::workflow {

namespace {

bool onSide(int lane, int side)
{
    const int first = side == 1 ? 11 : 21;
    return lane >= first && lane <= first + 8;
}

// "with notes on the 1P side only", or without notes on either.
std::string emptySideWords(SidesUsed sides)
{
    if (sides.first == sides.second) {
        return "without notes on either side";
    }
    return std::string("with notes on the ") + (sides.first ? "1P" : "2P") + " side only";
}

}  // namespace

SidesUsed sidesUsed(const chart::TimedChart& chart)
{
    SidesUsed sides;
    for (const auto& object : chart.objects) {
        if (object.kind == chart::ObjectKind::Note || object.kind == chart::ObjectKind::LongNoteStart) {
            sides.first = sides.first || onSide(object.lane, 1);
            sides.second = sides.second || onSide(object.lane, 2);
        }
    }
    return sides;
}

std::optional<SideFinding> bmsPlayerFinding(std::optional<int> player, SidesUsed sides)
{
    const int said = player.value_or(1);
    if (said < 1 || said > 4) {
        return std::nullopt;
    }
    if (said == 3) {
        if (sides.first && sides.second) {
            return std::nullopt;
        }
        return SideFinding{AuditSeverity::Warning,
                           "#PLAYER 3 (double play) " + emptySideWords(sides) + ": players show it as a 14-key chart"};
    }
    if (!sides.second) {
        return std::nullopt;
    }
    if (said == 2) {
        return SideFinding{AuditSeverity::Warning,
                           "#PLAYER 2 (couple play, two players) with notes on the 2P side (lanes 21-29): one player "
                           "playing both sides is #PLAYER 3"};
    }
    const std::string what = !player     ? "no #PLAYER (players assume 1, single play)"
                             : said == 1 ? "#PLAYER 1 (single play)"
                                         : "#PLAYER 4 (battle, the 1P side mirrored)";
    return SideFinding{AuditSeverity::Error,
                       what + " with notes on the 2P side (lanes 21-29), which single play leaves out"};
}

std::optional<SideFinding> bmsonModeFinding(std::span<const std::uint8_t> bytes, SidesUsed sides)
{
    const auto json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false, true);
    if (json.is_discarded() || !json.is_object()) {
        return std::nullopt;
    }
    std::string mode = "beat-7k";  // what players assume without a hint
    if (const auto info = json.find("info"); info != json.end() && info->is_object()) {
        if (const auto hint = info->find("mode_hint"); hint != info->end() && hint->is_string()) {
            mode = hint->get<std::string>();
        }
    }
    if (mode == "beat-14k" || mode == "beat-10k") {
        if (sides.first && sides.second) {
            return std::nullopt;
        }
        return SideFinding{AuditSeverity::Warning, "info.mode_hint \"" + mode + "\" (double play) " +
                                                       emptySideWords(sides) + ": players show it as a 14-key chart"};
    }
    if ((mode == "beat-7k" || mode == "beat-5k") && sides.second) {
        return SideFinding{AuditSeverity::Error, "info.mode_hint \"" + mode +
                                                     "\" with notes in lanes 9-16 (the 2P side), which a single-play "
                                                     "player leaves out; double play is \"beat-14k\""};
    }
    return std::nullopt;
}

}  // namespace zentrowe::workflow

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/chart/timed_chart.h"
#include "core/workflow/audit.h"

namespace zentrowe::workflow {

// Which sides a chart's notes use: the first player's lanes 11-19, the second's 21-29 (a long
// note counted by its start's lane, so channels 51-59 and 61-69 too).
struct SidesUsed {
    bool first = false;
    bool second = false;
};

SidesUsed sidesUsed(const chart::TimedChart& chart);

// One finding of the player check, as the audit files it under AuditCheck::PlayerSide.
struct SideFinding {
    AuditSeverity severity = AuditSeverity::Warning;
    std::string message;
};

// A BMS chart's #PLAYER against the sides its notes use. Only "#PLAYER 3" (double play) plays
// the second side as the same player's keys: without it (1 or none, which players take as 1;
// 4, battle, which mirrors the first side) the second side's notes are left out, an error;
// 2 (couple play, two players) is a warning. "#PLAYER 3" whose notes leave a side empty is a
// warning: players list it as a 14-key chart. None when they agree, and for a #PLAYER outside
// 1 to 4, which the header check reports.
std::optional<SideFinding> bmsPlayerFinding(std::optional<int> player, SidesUsed sides);

// A bmson chart's info.mode_hint against the lanes its notes use: "beat-14k" with a side empty,
// or a 7-key or 5-key hint (or none, which players take as "beat-7k") with notes in lanes 9-16,
// which such a player leaves out. None when they agree, for another mode (a player's own), and
// for bytes that are not a bmson object.
std::optional<SideFinding> bmsonModeFinding(std::span<const std::uint8_t> bytes, SidesUsed sides);

}  // namespace zentrowe::workflow

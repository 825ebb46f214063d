#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/chart/chart_model.h"
#include "core/chart/timed_chart.h"
#include "core/workflow/audit.h"
#include "core/workflow/player_sides.h"

// The audit's checks of one chart's text as read: encoding, headers, codes and lane positions.
// Each adds its findings, naming the chart, to the audit's list; a new check of a chart is one
// more function here and one call where the audit reads a chart.
namespace zentrowe::workflow {

// The findings of one chart file.
class ChartFindings {
public:
    ChartFindings(std::vector<AuditFinding>& findings, std::filesystem::path file);
    void add(AuditSeverity severity, AuditCheck check, std::string message);

private:
    std::vector<AuditFinding>& m_findings;
    std::filesystem::path m_file;
};

// Shift_JIS, which most players read BMS text as, against UTF-16, UTF-8 and the rest.
void checkEncoding(std::span<const std::uint8_t> bytes, ChartFindings& findings);

// The headers players show or judge by, present and in range.
void checkHeader(const chart::ChartHeader& header, bool bmson, ChartFindings& findings);

// #TOTAL and #PLAYER, judged against the notes placed.
void checkTotalAndPlayer(const chart::ChartHeader& header, const chart::TimedChart& timed, ChartFindings& findings);

// A finding of workflow/player_sides, if any, under AuditCheck::PlayerSide.
void addSideFinding(std::optional<SideFinding> found, ChartFindings& findings);

// #BASE 62, codes placed without a definition, defined twice or never placed.
void checkCodes(const chart::Chart& chart, ChartFindings& findings);

// Notes in measure 000 and notes stacked at one position of one lane.
void checkLanePositions(const chart::Chart& chart, bool bmson, ChartFindings& findings);

// bmson's judge_rank and total in bmson's relative scale, not BMS's.
void checkBmsonInfo(std::span<const std::uint8_t> bytes, ChartFindings& findings);

bool isAscii(std::string_view text);

// "1 note", "2 notes".
std::string countText(std::int64_t count, const char* one, const char* many);

}  // namespace zentrowe::workflow

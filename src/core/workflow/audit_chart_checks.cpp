#include "core/workflow/audit_chart_checks.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <tuple>

#include "core/base/number_text.h"
#include "core/base/shift_jis.h"
#include "core/base/text_decoding.h"
#include "core/chart/chart_model.h"

namespace zentrowe::workflow {

namespace {

using chart::ObjectKind;

constexpr const char* kShiftJisPlayers = "players that read BMS text as Shift_JIS, as LR2 and most others do,";

std::string measureText(std::int32_t measure)
{
    return paddedText(measure, 3);
}

// The default gauge total of players that compute one from the note count (the formula of the
// field's players and checkers), for judging whether a #TOTAL is far below it.
double defaultTotal(std::int64_t notes)
{
    const auto n = static_cast<double>(notes);
    return std::max(260.0, 7.605 * n / (0.01 * n + 6.5));
}

}  // namespace

ChartFindings::ChartFindings(std::vector<AuditFinding>& findings, std::filesystem::path file)
    : m_findings(findings), m_file(std::move(file))
{
}

void ChartFindings::add(AuditSeverity severity, AuditCheck check, std::string message)
{
    m_findings.push_back({severity, check, m_file, std::move(message)});
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string countText(std::int64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void checkEncoding(std::span<const std::uint8_t> bytes, ChartFindings& findings)
{
    if (decodeUtf16WithByteOrderMark(bytes)) {
        findings.add(AuditSeverity::Error, AuditCheck::TextEncoding,
                     std::string("text is UTF-16, not Shift_JIS: ") + kShiftJisPlayers + " cannot read it at all");
        return;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (isAscii(text)) {
        return;
    }
    const std::span<const std::uint8_t> rest(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (isValidUtf8(rest)) {
        if (fitsShiftJis(text)) {
            findings.add(AuditSeverity::Error, AuditCheck::TextEncoding,
                         std::string("text is UTF-8, not Shift_JIS, though every character has a Shift_JIS form: ") +
                             kShiftJisPlayers + " show it garbled");
        } else {
            findings.add(AuditSeverity::Warning, AuditCheck::TextEncoding,
                         std::string("text is UTF-8 because some characters have no Shift_JIS form: ") +
                             kShiftJisPlayers + " show it garbled");
        }
    } else if (!isShiftJisText(rest)) {
        findings.add(AuditSeverity::Warning, AuditCheck::TextEncoding,
                     std::string("text is neither Shift_JIS nor UTF-8 (perhaps code page 936): ") + kShiftJisPlayers +
                         " show its non-ASCII text garbled");
    }
}

void checkHeader(const chart::ChartHeader& header, bool bmson, ChartFindings& findings)
{
    const auto missing = [&](AuditSeverity severity, const std::string& what, const std::string& effect) {
        findings.add(severity, AuditCheck::MissingHeader, what + " is missing" + effect);
    };
    const std::string title = bmson ? "info.title" : "#TITLE";
    const std::string artist = bmson ? "info.artist" : "#ARTIST";
    const std::string genre = bmson ? "info.genre" : "#GENRE";
    if (header.title.empty()) {
        missing(AuditSeverity::Error, title, ": players list the chart without a name");
    }
    if (header.artist.empty()) {
        missing(AuditSeverity::Warning, artist, "");
    }
    if (header.genre.empty()) {
        missing(AuditSeverity::Warning, genre, "");
    }
    if (!header.playLevel) {
        missing(AuditSeverity::Warning, bmson ? "info.level" : "#PLAYLEVEL", ": players show no level");
    } else if (*header.playLevel < 0 || *header.playLevel > 99) {
        findings.add(AuditSeverity::Warning, AuditCheck::HeaderOutOfRange,
                     (bmson ? "info.level " : "#PLAYLEVEL ") + std::to_string(*header.playLevel) +
                         " is outside 0 to 99");
    }
    if (bmson) {
        return;  // bmson's judge and gauge values are checked in their own scale
    }
    if (!header.initialBpm) {
        missing(AuditSeverity::Warning, "#BPM", ": players assume 130");
    }
    if (!header.rank) {
        missing(AuditSeverity::Warning, "#RANK", ": players pick a judge of their own");
    } else if (*header.rank < 0 || *header.rank > 4) {
        findings.add(AuditSeverity::Error, AuditCheck::HeaderOutOfRange,
                     "#RANK " + std::to_string(*header.rank) + " is outside 0 (very hard) to 4 (very easy)");
    }
    if (!header.difficulty) {
        missing(AuditSeverity::Warning, "#DIFFICULTY", ": players cannot sort the chart among the song's others");
    } else if (*header.difficulty < 1 || *header.difficulty > 5) {
        findings.add(AuditSeverity::Warning, AuditCheck::HeaderOutOfRange,
                     "#DIFFICULTY " + std::to_string(*header.difficulty) + " is outside 1 (beginner) to 5 (insane)");
    }
}

// #TOTAL and #PLAYER are judged against the notes placed.
void checkTotalAndPlayer(const chart::ChartHeader& header, const chart::TimedChart& timed, ChartFindings& findings)
{
    std::int64_t notes = 0;
    for (const auto& object : timed.objects) {
        notes += object.kind == ObjectKind::Note || object.kind == ObjectKind::LongNoteStart ? 1 : 0;
    }
    const double usual = defaultTotal(notes);
    if (!header.total) {
        findings.add(AuditSeverity::Warning, AuditCheck::MissingHeader,
                     "#TOTAL is missing: players fall back to their own gauge (about " +
                         std::to_string(std::lround(usual)) + " for " + countText(notes, "note", "notes") + ")");
    } else if (*header.total <= 0) {
        findings.add(AuditSeverity::Error, AuditCheck::HeaderOutOfRange,
                     "#TOTAL " + std::to_string(*header.total) + " is not above 0: the gauge cannot rise");
    } else if (*header.total < 100 || *header.total < usual / 2) {
        findings.add(AuditSeverity::Warning, AuditCheck::HeaderOutOfRange,
                     "#TOTAL " + std::to_string(*header.total) + " is far below the usual " +
                         std::to_string(std::lround(usual)) + " for " + countText(notes, "note", "notes"));
    }
    if (!header.player) {
        findings.add(AuditSeverity::Warning, AuditCheck::MissingHeader, "#PLAYER is missing: players assume 1");
    } else if (*header.player < 1 || *header.player > 4) {
        findings.add(AuditSeverity::Error, AuditCheck::HeaderOutOfRange,
                     "#PLAYER " + std::to_string(*header.player) + " is outside 1 to 4");
    }
    addSideFinding(bmsPlayerFinding(header.player, sidesUsed(timed)), findings);
}

void addSideFinding(std::optional<SideFinding> found, ChartFindings& findings)
{
    if (found) {
        findings.add(found->severity, AuditCheck::PlayerSide, std::move(found->message));
    }
}

namespace {

// Where each keysound code is defined and placed.
struct CodeUse {
    std::map<chart::ChartCode, int> definitions;
    std::map<chart::ChartCode, std::int64_t> placed;
    std::map<chart::ChartCode, std::uint32_t> firstLine;
};

// Walks the placed objects: sounding codes are counted, timing codes without a definition found.
CodeUse useOfCodes(const chart::Chart& chart, ChartFindings& findings)
{
    const bool base62 = chart.header.base62;
    CodeUse use;
    for (const auto& keysound : chart.keysounds) {
        ++use.definitions[keysound.code];
    }
    std::set<chart::ChartCode> tempos;
    std::set<chart::ChartCode> stops;
    for (const auto& tempo : chart.tempos) {
        tempos.insert(tempo.code);
    }
    for (const auto& stop : chart.stops) {
        stops.insert(stop.code);
    }
    for (const auto& line : chart.lines) {
        const int channel = line.channel;
        const bool sounds =
            channel == chart::kBackgroundChannel || chart::isLaneChannel(channel) || chart::isLongNoteChannel(channel);
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto code = chart.objects[line.firstObject + k].code;
            if (sounds) {
                ++use.placed[code];
                use.firstLine.emplace(code, line.sourceLine);
            } else if ((channel == chart::kTempoChannel && tempos.count(code) == 0) ||
                       (channel == chart::kStopChannel && stops.count(code) == 0)) {
                findings.add(AuditSeverity::Error, AuditCheck::UndefinedCode,
                             "line " + std::to_string(line.sourceLine) + ": " +
                                 (channel == chart::kTempoChannel ? "#BPM" : "#STOP") + chart::codeText(code, base62) +
                                 " is placed but not defined; players skip that change of timing");
            }
        }
    }
    return use;
}

void checkDefinitions(const chart::Chart& chart, CodeUse& use, ChartFindings& findings)
{
    const bool base62 = chart.header.base62;
    const auto& lnObjects = chart.header.lnObjects;
    for (const auto& [code, count] : use.placed) {
        // An #LNOBJ code only ends a long note and needs no sound.
        if (use.definitions.count(code) == 0 &&
            std::find(lnObjects.begin(), lnObjects.end(), code) == lnObjects.end()) {
            findings.add(AuditSeverity::Warning, AuditCheck::UndefinedCode,
                         "line " + std::to_string(use.firstLine[code]) + ": code " + chart::codeText(code, base62) +
                             " is placed " + countText(count, "time", "times") + " but has no #WAV definition");
        }
    }
    std::set<chart::ChartCode> reported;
    for (const auto& keysound : chart.keysounds) {
        const auto code = keysound.code;
        if (use.definitions[code] > 1 && reported.insert(code).second) {
            findings.add(AuditSeverity::Warning, AuditCheck::DuplicateDefinition,
                         "#WAV" + chart::codeText(code, base62) + " is defined " +
                             std::to_string(use.definitions[code]) + " times; players keep the last one");
        } else if (use.placed.count(code) == 0 && reported.insert(code).second) {
            findings.add(AuditSeverity::Notice, AuditCheck::UnusedDefinition,
                         "#WAV" + chart::codeText(code, base62) + " (" + keysound.fileName +
                             ") is defined but never placed");
        }
    }
}

}  // namespace

void checkCodes(const chart::Chart& chart, ChartFindings& findings)
{
    if (chart.header.base62) {
        findings.add(AuditSeverity::Warning, AuditCheck::Base62Codes,
                     "#BASE 62: several players read codes without case (\"0a\" as \"0A\") or do not read #BASE at "
                     "all, and play other sounds than the chart names; codes up to ZZ play the same everywhere");
    }
    CodeUse use = useOfCodes(chart, findings);
    checkDefinitions(chart, use, findings);
}

// Measure 000 and notes stacked in one lane, read from the positions as written: players
// keep one of two notes at one lane position, so the other is lost without a trace.
void checkLanePositions(const chart::Chart& chart, bool bmson, ChartFindings& findings)
{
    struct Position {
        int lane;
        std::int32_t measure;
        double fraction;  // slot / slot count: equal positions give equal doubles
        std::uint32_t line;
    };
    std::vector<Position> positions;
    std::int64_t inFirstMeasure = 0;
    for (const auto& line : chart.lines) {
        const int channel = line.channel;
        if (!chart::isLaneChannel(channel) && !chart::isLongNoteChannel(channel)) {
            continue;
        }
        if (line.measure == 0) {
            inFirstMeasure += line.objectCount;
        }
        const int lane = chart::isLongNoteChannel(channel) ? channel - 40 : channel;
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto slot = chart.objects[line.firstObject + k].slot;
            positions.push_back({lane, line.measure, static_cast<double>(slot) / line.slotCount, line.sourceLine});
        }
    }
    if (inFirstMeasure > 0 && !bmson) {
        findings.add(AuditSeverity::Warning, AuditCheck::NoteInFirstMeasure,
                     countText(inFirstMeasure, "note", "notes") +
                         " in measure 000, which players start at once, before the player is ready");
    }
    std::stable_sort(positions.begin(), positions.end(), [](const Position& a, const Position& b) {
        return std::tie(a.lane, a.measure, a.fraction) < std::tie(b.lane, b.measure, b.fraction);
    });
    std::int64_t stacked = 0;
    const Position* first = nullptr;
    for (std::size_t k = 1; k < positions.size(); ++k) {
        const auto& a = positions[k - 1];
        const auto& b = positions[k];
        if (a.lane == b.lane && a.measure == b.measure && a.fraction == b.fraction) {
            ++stacked;
            if (first == nullptr) {
                first = &b;
            }
        }
    }
    if (first != nullptr) {
        findings.add(AuditSeverity::Error, AuditCheck::StackedNotes,
                     countText(stacked, "note lies", "notes lie") + " on another note of its lane (first: lane " +
                         std::to_string(first->lane) + ", measure " + measureText(first->measure) +
                         (bmson ? "" : ", line " + std::to_string(first->line)) + "); players keep only one");
    }
}

// bmson's judge and gauge are relative: judge_rank 100 and total 100 are the player's normal.
// A chart converted from BMS often keeps the BMS numbers (#RANK 2, #TOTAL 300), which mean
// something else here.
void checkBmsonInfo(std::span<const std::uint8_t> bytes, ChartFindings& findings)
{
    // As the bmson reader reads it: UTF-16 with a byte order mark as its UTF-8.
    const std::optional<std::string> utf16 = decodeUtf16WithByteOrderMark(bytes);
    const auto json = utf16 ? nlohmann::json::parse(*utf16, nullptr, false, true)
                            : nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false, true);
    if (json.is_discarded() || !json.is_object()) {
        return;
    }
    const auto info = json.find("info");
    if (info != json.end() && info->is_object()) {
        const auto rank = info->find("judge_rank");
        if (rank == info->end() || !rank->is_number()) {
            findings.add(AuditSeverity::Notice, AuditCheck::MissingHeader,
                         "info.judge_rank is missing: players use 100, their normal judge");
        } else if (const double value = rank->get<double>(); value <= 0) {
            findings.add(AuditSeverity::Error, AuditCheck::BmsonValueOutOfScale,
                         "info.judge_rank " + rank->dump() + " is not above 0; it is a percentage, 100 = normal");
        } else if (value < 10) {
            findings.add(
                AuditSeverity::Error, AuditCheck::BmsonValueOutOfScale,
                "info.judge_rank " + rank->dump() +
                    " is a percentage (100 = normal), not a BMS #RANK: players make the judge nearly impossible");
        } else if (value < 25 || value > 200) {
            findings.add(AuditSeverity::Warning, AuditCheck::BmsonValueOutOfScale,
                         "info.judge_rank " + rank->dump() + " is far from 100, the normal judge");
        }
        const auto total = info->find("total");
        if (total == info->end() || !total->is_number()) {
            findings.add(AuditSeverity::Notice, AuditCheck::MissingHeader,
                         "info.total is missing: players use 100, their default gauge");
        } else if (const double value = total->get<double>(); value <= 0) {
            findings.add(AuditSeverity::Error, AuditCheck::BmsonValueOutOfScale,
                         "info.total " + total->dump() + " is not above 0; it is relative, 100 = the player's default");
        } else if (value < 20 || value > 200) {
            findings.add(AuditSeverity::Warning, AuditCheck::BmsonValueOutOfScale,
                         "info.total " + total->dump() +
                             " is relative (100 = the player's default gauge), not a BMS #TOTAL");
        }
    }
}

}  // namespace zentrowe::workflow

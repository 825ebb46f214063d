#include "core/chart/bms_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "core/base/file_reading.h"
#include "core/base/text_decoding.h"
#include "core/chart/bms_line.h"

namespace zentrowe::chart {

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexDigit(char c)
{
    if (isDigit(c)) {
        return c - '0';
    }
    c = upper(c);
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// A decimal number as editors write it ("120", "0.75", "+1.5", "133.333"), finite.
std::optional<double> parseNumber(std::string_view text)
{
    text = trimBmsBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parsePositive(std::string_view text)
{
    const auto value = parseNumber(text);
    if (!value || *value <= 0) {
        return std::nullopt;
    }
    return value;
}

// A whole number for a header field; nothing for text that is not one or is out of int's range.
std::optional<int> parseWhole(std::string_view text)
{
    text = trimBmsBlanks(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

struct PendingLine {
    std::int32_t measure = 0;
    std::uint8_t channel = 0;  // as written, read as a decimal number: 1, 2, 3, 8, 9, 11..69
    std::string_view data;
    std::uint32_t line = 0;
};

struct Definition {
    std::string_view code;  // as written; decoded once the base is known
    std::string_view value;
    std::uint32_t line = 0;
};

// What #RANDOM / #IF leave readable: every random number is 1, so "#IF 1" is taken.
class RandomBlocks {
public:
    bool reading() const { return m_ifs.empty() || m_ifs.back().taking; }

    // Handles a control line; false if `command` is none.
    bool handle(const std::string& command, std::string_view argument, std::uint32_t line,
                std::vector<ChartProblem>& problems)
    {
        if (command == "RANDOM" || command == "RONDAM") {
            m_randoms.push_back(1);
        } else if (command == "SETRANDOM") {
            const auto value = parseNumber(argument);
            m_randoms.push_back(value ? *value : 1);
        } else if (command == "ENDRANDOM") {
            if (m_randoms.empty()) {
                problems.push_back({line, "#ENDRANDOM without #RANDOM"});
            } else {
                m_randoms.pop_back();
            }
        } else if (command == "IF") {
            const bool outer = reading();
            const bool taking = outer && parseNumber(argument) == current();
            m_ifs.push_back({taking, taking, outer});
        } else if (command == "ELSEIF") {
            if (m_ifs.empty()) {
                problems.push_back({line, "#ELSEIF without #IF"});
            } else {
                auto& block = m_ifs.back();
                block.taking = block.outer && !block.taken && parseNumber(argument) == current();
                block.taken = block.taken || block.taking;
            }
        } else if (command == "ELSE") {
            if (m_ifs.empty()) {
                problems.push_back({line, "#ELSE without #IF"});
            } else {
                auto& block = m_ifs.back();
                block.taking = block.outer && !block.taken;
                block.taken = true;
            }
        } else if (command == "ENDIF" || command == "END") {
            if (m_ifs.empty()) {
                problems.push_back({line, "#ENDIF without #IF"});
            } else {
                m_ifs.pop_back();
            }
        } else {
            return false;
        }
        return true;
    }

private:
    struct IfBlock {
        bool taking;
        bool taken;
        bool outer;  // whether the lines around the block are read
    };
    double current() const { return m_randoms.empty() ? 1 : m_randoms.back(); }

    std::vector<double> m_randoms;
    std::vector<IfBlock> m_ifs;
};

bool isReadChannel(int c)
{
    return c == kBackgroundChannel || c == kMeasureLengthChannel || c == kHexTempoChannel || c == kTempoChannel ||
           c == kStopChannel || isLaneChannel(c) || isLongNoteChannel(c);
}

class Reader {
public:
    ChartReading read(std::string_view text)
    {
        forEachBmsLine(
            text, [this](std::uint32_t lineNumber, std::string_view line) { readLine(scanBmsLine(line), lineNumber); });
        readDefinitions();
        readChannelLines();
        return std::move(m_reading);
    }

private:
    Chart& chart() { return m_reading.chart; }
    void problem(std::uint32_t line, std::string message) { m_reading.problems.push_back({line, std::move(message)}); }

    void readLine(const BmsLine& scanned, std::uint32_t line)
    {
        if (scanned.kind == BmsLine::Kind::Other) {
            ++m_reading.ignoredLines;
            return;
        }
        if (scanned.kind == BmsLine::Kind::Channel) {
            if (m_blocks.reading() && isReadChannel(scanned.channel)) {
                m_lines.push_back({scanned.measure, static_cast<std::uint8_t>(scanned.channel), scanned.data, line});
            } else {
                ++m_reading.ignoredLines;
            }
            return;
        }
        const std::string& command = scanned.command;
        const std::string_view argument = scanned.argument;
        if (m_blocks.handle(command, argument, line, m_reading.problems)) {
            return;
        }
        if (!m_blocks.reading()) {
            ++m_reading.ignoredLines;
            return;
        }
        if (!readHeaderField(command, argument, line)) {
            readDefinition(scanned.word, command, argument, line);
        }
    }

    bool readHeaderField(const std::string& command, std::string_view argument, std::uint32_t line)
    {
        auto& header = chart().header;
        auto whole = [&](std::optional<int>& field) {
            if (const auto value = parseWhole(argument)) {
                field = value;
            } else {
                problem(line, "#" + command + " \"" + std::string(argument) + "\" is not a whole number");
            }
        };
        if (command == "TITLE") {
            header.title = argument;
        } else if (command == "SUBTITLE") {
            header.subtitle = argument;
        } else if (command == "ARTIST") {
            header.artist = argument;
        } else if (command == "GENRE") {
            header.genre = argument;
        } else if (command == "PREVIEW") {
            header.previewFile = argument;
        } else if (command == "PLAYER") {
            whole(header.player);
        } else if (command == "RANK") {
            whole(header.rank);
        } else if (command == "TOTAL") {
            whole(header.total);
        } else if (command == "PLAYLEVEL") {
            whole(header.playLevel);
        } else if (command == "DIFFICULTY") {
            whole(header.difficulty);
        } else if (command == "VOLWAV") {
            whole(header.volWav);
        } else if (command == "BPM") {
            if (const auto bpm = parsePositive(argument)) {
                header.initialBpm = *bpm;
            } else {
                problem(line, "#BPM \"" + std::string(argument) + "\" is not a tempo above 0");
            }
        } else if (command == "LNTYPE") {
            header.lnType = 1;
            if (parseNumber(argument) != 1.0) {
                problem(line, "#LNTYPE " + std::string(argument) + " is read as #LNTYPE 1");
            }
        } else if (command == "BASE") {
            const auto base = parseNumber(argument);
            if (base == 62.0) {
                header.base62 = true;
            } else if (base == 36.0 && header.base62) {
                problem(line, "#BASE 36 after #BASE 62; the codes are read in base 62");
            } else if (base != 36.0) {
                problem(line, "#BASE " + std::string(argument) + " is read as #BASE 36");
            }
        } else {
            return false;
        }
        return true;
    }

    // `word` is the command as written.
    void readDefinition(std::string_view word, const std::string& command, std::string_view argument,
                        std::uint32_t line)
    {
        if (command.size() == 5 && command.starts_with("WAV")) {
            // The code keeps its case: in base 62 "#WAVaa" and "#WAVAA" are two keysounds.
            into(m_wavs, word.substr(3, 2), argument, line, command);
        } else if (command.size() == 5 && command.starts_with("BPM")) {
            into(m_bpms, word.substr(3, 2), argument, line, command);
        } else if (command.size() == 6 && command.starts_with("STOP")) {
            into(m_stops, word.substr(4, 2), argument, line, command);
        } else if (command == "LNOBJ") {
            into(m_lnobjs, argument, argument, line, command);
        } else {
            ++m_reading.ignoredLines;
        }
    }

    void into(std::vector<Definition>& list, std::string_view code, std::string_view argument, std::uint32_t line,
              const std::string& command)
    {
        if (argument.empty()) {
            problem(line, "#" + command + " has no value");
            return;
        }
        list.push_back({code, argument, line});
    }

    std::optional<ChartCode> code(const Definition& definition)
    {
        const bool base62 = chart().header.base62;
        const auto value = decodeCodeText(definition.code, base62);
        if (!value || *value == 0) {
            problem(definition.line,
                    "\"" + std::string(definition.code) + "\" is not a code from 01 to " + (base62 ? "zz" : "ZZ"));
            return std::nullopt;
        }
        return value;
    }

    void readDefinitions()
    {
        for (const auto& wav : m_wavs) {
            if (const auto c = code(wav)) {
                chart().keysounds.push_back({*c, std::string(wav.value)});
            }
        }
        for (const auto& bpm : m_bpms) {
            if (const auto c = code(bpm)) {
                if (const auto value = parsePositive(bpm.value)) {
                    chart().tempos.push_back({*c, *value, std::string(bpm.value)});
                } else {
                    problem(bpm.line, "\"" + std::string(bpm.value) + "\" is not a tempo above 0");
                }
            }
        }
        for (const auto& stop : m_stops) {
            if (const auto c = code(stop)) {
                const auto value = parseNumber(stop.value);
                if (value && *value >= 0) {
                    chart().stops.push_back({*c, *value, std::string(stop.value)});
                } else {
                    problem(stop.line, "\"" + std::string(stop.value) + "\" is not a stop length of 0 or more");
                }
            }
        }
        for (const auto& lnobj : m_lnobjs) {
            if (const auto c = code(lnobj)) {
                chart().header.lnObjects.push_back(*c);
            }
        }
    }

    // Every two characters of a line's data are one slot; a last odd character is reported.
    // Only the slots that hold an object are kept.
    void readChannelLines()
    {
        const bool base62 = chart().header.base62;
        // Counted first, so that the objects of a line of millions take their own size and not
        // the spare half of a grown vector, nor its copy while it grows.
        std::size_t slotsInUse = 0;
        for (const auto& pending : m_lines) {
            if (pending.channel != kMeasureLengthChannel) {
                for (std::size_t k = 0; k + 1 < pending.data.size(); k += 2) {
                    slotsInUse += pending.data[k] != '0' || pending.data[k + 1] != '0' ? 1u : 0u;
                }
            }
        }
        chart().objects.reserve(chart().objects.size() + slotsInUse);
        for (const auto& pending : m_lines) {
            if (pending.channel == kMeasureLengthChannel) {
                if (const auto length = parsePositive(pending.data)) {
                    chart().measureLengths.push_back({pending.measure, *length, pending.line});
                } else {
                    problem(pending.line,
                            "measure length \"" + std::string(pending.data) + "\" is not a number above 0");
                }
                continue;
            }
            if (pending.data.size() % 2 != 0) {
                problem(pending.line, "channel data has an odd number of characters; the last one is left out");
            }
            const auto count = static_cast<std::uint32_t>(pending.data.size() / 2);
            chart().addLine(pending.measure, pending.channel, count, 0, pending.line);
            bool reported = false;
            for (std::uint32_t slot = 0; slot < count; ++slot) {
                const std::string_view pair = pending.data.substr(std::size_t{slot} * 2, 2);
                if (pair == "00") {
                    continue;
                }
                std::optional<ChartCode> value;
                if (pending.channel == kHexTempoChannel) {
                    const int high = hexDigit(pair[0]);
                    const int low = hexDigit(pair[1]);
                    if (high >= 0 && low >= 0) {
                        value = static_cast<ChartCode>(high * 16 + low);
                    }
                } else {
                    value = decodeCodeText(pair, base62);
                }
                if (!value) {
                    if (!reported) {
                        problem(pending.line, "\"" + std::string(pair) + "\" is not a code; left out");
                        reported = true;
                    }
                    continue;
                }
                chart().addObject(slot, *value);
            }
        }
    }

    ChartReading m_reading;
    RandomBlocks m_blocks;
    std::vector<PendingLine> m_lines;
    std::vector<Definition> m_wavs;
    std::vector<Definition> m_bpms;
    std::vector<Definition> m_stops;
    std::vector<Definition> m_lnobjs;
};

}  // namespace

ChartReading readBms(std::span<const std::uint8_t> bytes)
{
    if (auto utf8 = decodeUtf16WithByteOrderMark(bytes)) {
        return Reader().read(*utf8);
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);  // a UTF-8 byte-order mark
    }
    return Reader().read(text);
}

TimedChart readBmsChart(std::span<const std::uint8_t> bytes)
{
    return timeChart(readBms(bytes));
}

Result<ChartReading> readBmsFile(const std::filesystem::path& path)
{
    const auto bytes = readFileBytes(path);
    if (!bytes) {
        return bytes.error();
    }
    return readBms(bytes->bytes());
}

}  // namespace zentrowe::chart

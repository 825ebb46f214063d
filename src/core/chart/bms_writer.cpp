#include "core/chart/bms_writer.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "core/base/number_text.h"

namespace zentrowe::chart {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlockEnd = "\r\n\r\n";  // two empty lines close each definition block
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

// The text handed to the sink in blocks: memory holds one block whatever the chart's size.
class BlockWriter {
public:
    explicit BlockWriter(const ChartTextSink& sink) : m_sink(sink) { m_block.reserve(std::size_t{16} << 10); }

    void append(std::string_view text) { std::copy(text.begin(), text.end(), grow(text.size(), ' ')); }

    // `length` bytes of `fill` at the end of the block, to be written over.
    char* grow(std::size_t length, char fill)
    {
        if (m_block.size() + length > kBlockBytes) {
            handOver();
        }
        const std::size_t at = m_block.size();
        m_block.resize(at + length, fill);
        return m_block.data() + at;
    }

    Status finish()
    {
        handOver();
        if (m_error) {
            return *m_error;
        }
        return {};
    }

private:
    void handOver()
    {
        if (!m_error && !m_block.empty()) {
            if (auto written = m_sink(m_block); !written) {
                m_error = written.error();
            }
        }
        m_block.clear();
    }

    const ChartTextSink& m_sink;
    std::string m_block;
    std::optional<Error> m_error;
};

// A header value on one line whatever it holds.
std::string oneLine(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

// The initial tempo with two decimals and at least three integer digits, as players list it.
std::string headerBpm(double bpm)
{
    return fixedText(bpm, 2, 6);
}

class Writer {
public:
    Writer(const Chart& chart, const ChartTextSink& sink) : m_chart(chart), m_out(sink)
    {
        const bool base62 = chart.header.base62;
        const ChartCode largest = base62 ? kLargestCode62 : kLargestCode36;
        m_codes.resize(std::size_t{largest} + 1);
        for (ChartCode code = 0; code <= largest; ++code) {
            const auto text = codeText(code, base62);
            m_codes[code] = {text[0], text[1]};
        }
    }

    Status write()
    {
        if (auto fits = codesFit(); !fits) {
            return fits;
        }
        writeHeader();
        writeDefinitions();
        for (const auto& line : m_chart.lines) {
            writeLine(line);
        }
        return m_out.finish();
    }

private:
    Status codesFit() const
    {
        const auto tooLarge = [this](ChartCode code) { return code >= m_codes.size(); };
        const auto defined = [&](const auto& definitions) {
            return std::any_of(definitions.begin(), definitions.end(),
                               [&](const auto& definition) { return tooLarge(definition.code); });
        };
        bool over = defined(m_chart.keysounds) || defined(m_chart.tempos) || defined(m_chart.stops) ||
                    std::any_of(m_chart.header.lnObjects.begin(), m_chart.header.lnObjects.end(), tooLarge);
        for (const auto& line : m_chart.lines) {
            for (std::uint32_t k = 0; k < line.objectCount && !over; ++k) {
                const ChartCode code = m_chart.objects[line.firstObject + k].code;
                over = line.channel == kHexTempoChannel ? code > 0xFF : tooLarge(code);
            }
        }
        if (over) {
            return Error{ErrorCode::CodesExhausted, std::string("the chart uses a code past ") +
                                                        (m_chart.header.base62 ? "zz" : "ZZ") +
                                                        ", which a BMS chart cannot write"}
                .about("keysounds");
        }
        return {};
    }

    void field(std::string_view name, const std::string& value)
    {
        if (!value.empty()) {
            m_out.append("#" + std::string(name) + " " + oneLine(value) + std::string(kLineEnd));
        }
    }
    void field(std::string_view name, const std::optional<int>& value)
    {
        if (value) {
            field(name, std::to_string(*value));
        }
    }

    std::string code(ChartCode value) const { return {m_codes[value][0], m_codes[value][1]}; }

    void writeHeader()
    {
        const auto& header = m_chart.header;
        if (header.base62) {
            m_out.append("#BASE 62\r\n");
        }
        field("PLAYER", header.player);
        field("GENRE", header.genre);
        field("TITLE", header.title);
        field("SUBTITLE", header.subtitle);
        field("ARTIST", header.artist);
        if (header.initialBpm) {
            field("BPM", header.initialBpmText.empty() ? headerBpm(*header.initialBpm) : header.initialBpmText);
        }
        field("PLAYLEVEL", header.playLevel);
        field("RANK", header.rank);
        field("TOTAL", header.total);
        field("DIFFICULTY", header.difficulty);
        field("VOLWAV", header.volWav);
        field("PREVIEW", header.previewFile);
        if (header.lnType) {
            field("LNTYPE", paddedText(*header.lnType, 2));
        }
        for (const ChartCode lnObject : header.lnObjects) {
            field("LNOBJ", code(lnObject));
        }
        m_out.append(kBlockEnd);
    }

    void definitions(std::string_view command, const std::vector<TimingDefinition>& list)
    {
        for (const auto& definition : list) {
            m_out.append("#" + std::string(command) + code(definition.code) + " " +
                         (definition.text.empty() ? shortestText(definition.value) : oneLine(definition.text)) +
                         std::string(kLineEnd));
        }
    }

    void writeDefinitions()
    {
        definitions("BPM", m_chart.tempos);
        m_out.append(kBlockEnd);
        for (const auto& keysound : m_chart.keysounds) {
            m_out.append("#WAV" + code(keysound.code) + " " + oneLine(keysound.fileName) + std::string(kLineEnd));
        }
        m_out.append(kBlockEnd);
        if (!m_chart.stops.empty()) {
            definitions("STOP", m_chart.stops);
            m_out.append(kBlockEnd);
        }
        if (!m_chart.measureLengths.empty()) {
            for (const auto& length : m_chart.measureLengths) {
                m_out.append(lineStart(length.measure, kMeasureLengthChannel) + shortestText(length.length) +
                             std::string(kLineEnd));
            }
            m_out.append(kBlockEnd);
        }
    }

    // "#" + measure (at least three digits) + channel + ":".
    static std::string lineStart(std::int32_t measure, std::uint8_t channel)
    {
        std::string start = std::to_string(measure);
        if (start.size() < 3) {
            start.insert(0, 3 - start.size(), '0');
        }
        std::array<char, 3> digits{static_cast<char>('0' + channel / 10), static_cast<char>('0' + channel % 10), ':'};
        return "#" + start + std::string(digits.data(), digits.size());
    }

    // One step per line: charts in long-note mode hold hundreds of thousands of lines.
    void writeLine(const ChannelLine& line)
    {
        m_out.append(lineStart(line.measure, line.channel));
        char* slots = m_out.grow(std::size_t{2} * line.slotCount, '0');
        static constexpr std::string_view kHex = "0123456789ABCDEF";
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = m_chart.objects[line.firstObject + k];
            char* at = slots + std::size_t{2} * object.slot;
            if (line.channel == kHexTempoChannel) {
                at[0] = kHex[object.code >> 4];
                at[1] = kHex[object.code & 0xF];
            } else {
                at[0] = m_codes[object.code][0];
                at[1] = m_codes[object.code][1];
            }
        }
        for (int k = 0; k <= line.blankLinesAfter; ++k) {
            m_out.append(kLineEnd);
        }
    }

    const Chart& m_chart;
    BlockWriter m_out;
    std::vector<std::array<char, 2>> m_codes;  // the two characters of each code
};

}  // namespace

Status writeBms(const Chart& chart, const ChartTextSink& sink)
{
    return Writer(chart, sink).write();
}

Status writeBms(const Chart& chart, AtomicFileWriter& file)
{
    return writeBms(chart, [&file](std::string_view text) { return file.write(text); });
}

Result<std::string> bmsText(const Chart& chart)
{
    std::string text;
    auto written = writeBms(chart, [&text](std::string_view block) -> Status {
        text += block;
        return {};
    });
    if (!written) {
        return written.error();
    }
    return text;
}

}  // namespace zentrowe::chart

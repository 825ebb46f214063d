#include "core/chart/bmson_reader.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/text_decoding.h"

namespace zentrowe::chart {

namespace {

using Json = nlohmann::json;

constexpr std::int64_t kMeasureLimit = 1'000'000;
constexpr double kStopUnitsPerBeat = 48;
constexpr std::int64_t kLargestResolution = 1'000'000;

const Json* member(const Json& object, const char* name)
{
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

std::string text(const Json& object, const char* name)
{
    const Json* value = member(object, name);
    return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

std::optional<double> number(const Json& object, const char* name)
{
    const Json* value = member(object, name);
    if (value == nullptr || !value->is_number()) {
        return std::nullopt;
    }
    const double read = value->get<double>();
    return std::isfinite(read) ? std::optional<double>(read) : std::nullopt;
}

// A whole number of ticks from 0 on, or nothing.
std::optional<std::int64_t> ticks(const Json& object, const char* name)
{
    const Json* value = member(object, name);
    if (value == nullptr || !value->is_number_integer()) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()) {
        const auto read = value->get<std::uint64_t>();
        return read <= static_cast<std::uint64_t>(INT64_MAX / 2) ? std::optional<std::int64_t>(static_cast<std::int64_t>(read))
                                                                : std::nullopt;
    }
    const auto read = value->get<std::int64_t>();
    return read >= 0 && read <= INT64_MAX / 2 ? std::optional<std::int64_t>(read) : std::nullopt;
}

std::optional<int> whole(const Json& object, const char* name)
{
    const auto value = number(object, name);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(std::lround(*value));
}

const Json& array(const Json& object, const char* name)
{
    static const Json kEmpty = Json::array();
    const Json* value = member(object, name);
    return value != nullptr && value->is_array() ? *value : kEmpty;
}

// The channel of a bmson lane: 1..5 are 11..15, 6 is 18, 7 is 19, 8 the scratch 16; 9..16 the
// second player's; anything else plays in the background.
std::uint8_t channelOfLane(std::int64_t x)
{
    static constexpr std::array<std::uint8_t, 9> kChannels = {0, 11, 12, 13, 14, 15, 18, 19, 16};
    if (x >= 1 && x <= 8) {
        return kChannels[static_cast<std::size_t>(x)];
    }
    if (x >= 9 && x <= 16) {
        return static_cast<std::uint8_t>(kChannels[static_cast<std::size_t>(x - 8)] + 10);
    }
    return kBackgroundChannel;
}

// Measures from the bar lines; past the last one, measures of four beats.
class Measures {
public:
    Measures(std::vector<std::int64_t> starts, std::int64_t resolution) : m_whole(4 * resolution)
    {
        starts.push_back(0);
        std::sort(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
        m_starts = std::move(starts);
    }

    // The measure, slot and slot count of tick `y`; nothing past the measure limit.
    std::optional<std::tuple<std::int32_t, std::uint32_t, std::uint32_t>> at(std::int64_t y) const
    {
        std::int64_t measure = 0;
        std::int64_t start = 0;
        std::int64_t length = m_whole;
        if (y >= m_starts.back()) {
            measure = static_cast<std::int64_t>(m_starts.size()) - 1 + (y - m_starts.back()) / m_whole;
            start = m_starts.back() + (measure - static_cast<std::int64_t>(m_starts.size()) + 1) * m_whole;
        } else {
            const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), y);
            measure = next - m_starts.begin() - 1;
            start = *(next - 1);
            length = *next - start;
        }
        if (measure >= kMeasureLimit || length > UINT32_MAX) {
            return std::nullopt;
        }
        return std::make_tuple(static_cast<std::int32_t>(measure), static_cast<std::uint32_t>(y - start),
                               static_cast<std::uint32_t>(length));
    }

    // Lengths of the measures between bar lines that are not four beats.
    std::vector<MeasureLength> lengths() const
    {
        std::vector<MeasureLength> lengths;
        for (std::size_t m = 0; m + 1 < m_starts.size() && static_cast<std::int64_t>(m) < kMeasureLimit; ++m) {
            const std::int64_t length = m_starts[m + 1] - m_starts[m];
            if (length != m_whole) {
                lengths.push_back({static_cast<std::int32_t>(m),
                                   static_cast<double>(length) / static_cast<double>(m_whole), 0});
            }
        }
        return lengths;
    }

private:
    std::int64_t m_whole;
    std::vector<std::int64_t> m_starts;
};

}  // namespace

Result<ChartReading> readBmson(std::span<const std::uint8_t> bytes, const std::string& name)
{
    std::string utf16Text;
    if (auto decoded = decodeUtf16WithByteOrderMark(bytes)) {
        utf16Text = std::move(*decoded);
        bytes = {reinterpret_cast<const std::uint8_t*>(utf16Text.data()), utf16Text.size()};
    }
    const Json json = Json::parse(bytes.begin(), bytes.end(), nullptr, false, true);
    if (json.is_discarded() || !json.is_object()) {
        return Error{ErrorCode::CannotOpen, name + ": not a bmson chart (not a JSON object)"}.inFile(name);
    }
    ChartReading reading;
    auto& chart = reading.chart;
    const Json emptyInfo = Json::object();
    const Json* infoMember = member(json, "info");
    const Json& info = infoMember != nullptr ? *infoMember : emptyInfo;
    auto& header = chart.header;
    header.title = text(info, "title");
    header.subtitle = text(info, "subtitle");
    header.artist = text(info, "artist");
    header.genre = text(info, "genre");
    header.previewFile = text(info, "preview_music");
    header.playLevel = whole(info, "level");
    header.rank = whole(info, "judge_rank");
    header.total = whole(info, "total");
    if (const auto bpm = number(info, "init_bpm"); bpm && *bpm > 0) {
        header.initialBpm = *bpm;
    } else {
        header.initialBpm = 130;
        reading.problems.push_back({0, "info.init_bpm is not a tempo above 0; read as 130"});
    }
    if (const auto resolution = ticks(info, "resolution"); resolution && *resolution > 0 && *resolution <= kLargestResolution) {
        header.resolution = *resolution;
    } else if (member(info, "resolution") != nullptr) {
        reading.problems.push_back({0, "info.resolution is not a whole number from 1 to 1000000; read as 240"});
    }
    const std::int64_t resolution = header.resolution;

    std::vector<std::int64_t> barLines;
    for (const auto& line : array(json, "lines")) {
        if (const auto y = ticks(line, "y")) {
            barLines.push_back(*y);
        }
    }
    const Measures measures(std::move(barLines), resolution);
    chart.measureLengths = measures.lengths();

    std::size_t leftOut = 0;
    const auto place = [&](std::int64_t y, std::uint8_t channel, ChartCode code) -> Status {
        const auto at = measures.at(y);
        if (!at) {
            return Error{ErrorCode::MeasureOutOfRange, name + ": an object at tick " + std::to_string(y) +
                                                           " lies past measure " + std::to_string(kMeasureLimit)}
                .inFile(name)
                .withNumber(y);
        }
        const auto [measure, slot, slotCount] = *at;
        chart.addLine(measure, channel, slotCount);
        chart.addObject(slot, code);
        return {};
    };
    for (const auto& event : array(json, "bpm_events")) {
        const auto y = ticks(event, "y");
        const auto bpm = number(event, "bpm");
        if (!y || !bpm || *bpm <= 0) {
            ++leftOut;
            continue;
        }
        const auto code = static_cast<ChartCode>(chart.tempos.size() + 1);
        chart.tempos.push_back({code, *bpm, {}});
        if (auto placed = place(*y, kTempoChannel, code); !placed) {
            return placed.error();
        }
    }
    for (const auto& event : array(json, "stop_events")) {
        const auto y = ticks(event, "y");
        const auto duration = ticks(event, "duration");
        if (!y || !duration) {
            ++leftOut;
            continue;
        }
        const auto code = static_cast<ChartCode>(chart.stops.size() + 1);
        const double units = static_cast<double>(*duration) / static_cast<double>(resolution) * kStopUnitsPerBeat;
        chart.stops.push_back({code, units, {}});
        if (auto placed = place(*y, kStopChannel, code); !placed) {
            return placed.error();
        }
    }
    ChartCode code = 0;
    for (const auto& channel : array(json, "sound_channels")) {
        ++code;
        chart.keysounds.push_back({code, text(channel, "name")});
        for (const auto& note : array(channel, "notes")) {
            const auto y = ticks(note, "y");
            const Json* x = member(note, "x");
            const std::int64_t lane = x != nullptr && x->is_number_integer() ? x->get<std::int64_t>() : 0;
            const std::int64_t held = ticks(note, "l").value_or(0);
            if (!y) {
                ++leftOut;
                continue;
            }
            std::uint8_t lineChannel = channelOfLane(lane);
            if (held > 0 && lineChannel != kBackgroundChannel) {
                lineChannel = static_cast<std::uint8_t>(lineChannel + 40);
                if (auto placed = place(*y + held, lineChannel, code); !placed) {
                    return placed.error();
                }
            }
            if (auto placed = place(*y, lineChannel, code); !placed) {
                return placed.error();
            }
        }
    }
    if (leftOut != 0) {
        reading.problems.push_back({0, std::to_string(leftOut) + " notes or events without a time of 0 or more left out"});
    }
    return reading;
}

Result<ChartReading> readBmsonFile(const std::filesystem::path& path)
{
    const auto bytes = readFileBytes(path);
    if (!bytes) {
        return bytes.error();
    }
    return readBmson(bytes->bytes(), displayPath(path));
}

}  // namespace zentrowe::chart

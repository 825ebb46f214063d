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

// One value that is neither object nor array, as the parser hands it over.
struct Scalar {
    enum class Kind { Other, Text, Signed, Unsigned, Float };
    Kind kind = Kind::Other;
    const std::string* text = nullptr;
    std::int64_t signedValue = 0;
    std::uint64_t unsignedValue = 0;
    double floatValue = 0;
};

std::string text(const Scalar& value)
{
    return value.kind == Scalar::Kind::Text ? *value.text : std::string();
}

std::optional<double> number(const Scalar& value)
{
    double read = 0;
    switch (value.kind) {
    case Scalar::Kind::Signed:
        read = static_cast<double>(value.signedValue);
        break;
    case Scalar::Kind::Unsigned:
        read = static_cast<double>(value.unsignedValue);
        break;
    case Scalar::Kind::Float:
        read = value.floatValue;
        break;
    default:
        return std::nullopt;
    }
    return std::isfinite(read) ? std::optional<double>(read) : std::nullopt;
}

// A whole number of ticks from 0 on, or nothing.
std::optional<std::int64_t> ticks(const Scalar& value)
{
    if (value.kind == Scalar::Kind::Unsigned) {
        return value.unsignedValue <= static_cast<std::uint64_t>(INT64_MAX / 2)
                   ? std::optional<std::int64_t>(static_cast<std::int64_t>(value.unsignedValue))
                   : std::nullopt;
    }
    if (value.kind == Scalar::Kind::Signed) {
        return value.signedValue >= 0 && value.signedValue <= INT64_MAX / 2
                   ? std::optional<std::int64_t>(value.signedValue)
                   : std::nullopt;
    }
    return std::nullopt;
}

std::optional<int> whole(const Scalar& value)
{
    const auto read = number(value);
    if (!read || *read < INT32_MIN || *read > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(std::lround(*read));
}

// A lane number as written; 0 (the background) where it is no whole number.
std::int64_t lane(const Scalar& value)
{
    if (value.kind == Scalar::Kind::Signed) {
        return value.signedValue;
    }
    return value.kind == Scalar::Kind::Unsigned ? static_cast<std::int64_t>(value.unsignedValue) : 0;
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
                lengths.push_back(
                    {static_cast<std::int32_t>(m), static_cast<double>(length) / static_cast<double>(m_whole), 0});
            }
        }
        return lengths;
    }

private:
    std::int64_t m_whole;
    std::vector<std::int64_t> m_starts;
};

// What a bmson file says, kept as the parser meets it, before it becomes the chart: the bar
// lines decide the measures of everything else, and may come last in the file.
struct BmsonContent {
    struct Info {
        std::string title, subtitle, artist, genre, previewMusic;
        std::optional<int> level, judgeRank, total;
        std::optional<double> initBpm;
        std::optional<std::int64_t> resolution;
        bool resolutionGiven = false;  // a member "resolution", whatever its value
    };
    struct Tempo {
        std::int64_t y;
        double bpm;
    };
    struct Stop {
        std::int64_t y;
        std::int64_t duration;
    };
    // 24 bytes a note; a note takes at least 8 bytes of text ({"y":0},).
    struct Note {
        std::int64_t y;
        std::int64_t held;     // ticks; 0 for a note without a length
        ChartCode code;        // the sound channel's, 1 for the first
        std::uint8_t channel;  // the lane's chart channel
    };

    bool isObject = false;
    Info info;
    std::vector<std::int64_t> barLines;
    std::vector<Tempo> tempos;
    std::size_t temposLeftOut = 0;
    std::vector<Stop> stops;
    std::size_t stopsLeftOut = 0;
    std::vector<std::string> channelNames;  // a sound channel's code is its index + 1
    std::vector<Note> notes;                // by sound channel, in the file's order
    std::size_t notesLeftOut = 0;
};

// Reads bmson as the JSON parser meets it, keeping only what the chart needs: a tree of the
// whole file takes some 18 bytes of memory a byte of text. Members of no use, and objects and
// arrays where bmson has none, are passed over by counting their depth. Where a key repeats in
// an object the last value counts, as in a JSON reader that keeps one value per key.
class BmsonSaxReader final : public nlohmann::json_sax<Json> {
public:
    BmsonContent take() { return std::move(m_content); }

    bool null() override { return scalar({}); }
    bool boolean(bool) override { return scalar({}); }
    bool number_integer(number_integer_t value) override
    {
        Scalar read;
        read.kind = Scalar::Kind::Signed;
        read.signedValue = value;
        return scalar(read);
    }
    bool number_unsigned(number_unsigned_t value) override
    {
        Scalar read;
        read.kind = Scalar::Kind::Unsigned;
        read.unsignedValue = value;
        return scalar(read);
    }
    bool number_float(number_float_t value, const string_t&) override
    {
        Scalar read;
        read.kind = Scalar::Kind::Float;
        read.floatValue = value;
        return scalar(read);
    }
    bool string(string_t& value) override
    {
        Scalar read;
        read.kind = Scalar::Kind::Text;
        read.text = &value;
        return scalar(read);
    }
    bool binary(binary_t&) override { return scalar({}); }

    bool start_object(std::size_t) override
    {
        if (m_skipDepth > 0 || !enter(true)) {
            ++m_skipDepth;
        }
        return true;
    }
    bool start_array(std::size_t) override
    {
        if (m_skipDepth > 0 || !enter(false)) {
            ++m_skipDepth;
        }
        return true;
    }
    bool end_object() override { return leave(); }
    bool end_array() override { return leave(); }

    bool key(string_t& name) override
    {
        if (m_skipDepth == 0) {
            m_key = name;
            forgetField();
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Place { Top, Root, Info, Lines, Line, Tempos, Tempo, Stops, Stop, Channels, Channel, Notes, Note, Done };

    // Whether the object (or array) starting here has a place in bmson; what it counts as where
    // an element of an array is asked for and it is passed over instead.
    bool enter(bool object)
    {
        auto& c = m_content;
        switch (m_place) {
        case Place::Top:
            c.isObject = object;
            m_place = object ? Place::Root : Place::Done;
            return object;
        case Place::Root:
            if (object && m_key == "info") {
                m_place = Place::Info;
            } else if (!object && m_key == "lines") {
                m_place = Place::Lines;
            } else if (!object && m_key == "bpm_events") {
                m_place = Place::Tempos;
            } else if (!object && m_key == "stop_events") {
                m_place = Place::Stops;
            } else if (!object && m_key == "sound_channels") {
                m_place = Place::Channels;
            } else {
                return false;
            }
            return true;
        case Place::Lines:
            m_y.reset();
            return object && (m_place = Place::Line, true);
        case Place::Tempos:
        case Place::Stops:
            if (!object) {
                ++(m_place == Place::Tempos ? c.temposLeftOut : c.stopsLeftOut);
                return false;
            }
            m_y.reset();
            m_value.reset();
            m_duration.reset();
            m_place = m_place == Place::Tempos ? Place::Tempo : Place::Stop;
            return true;
        case Place::Channels:
            c.channelNames.emplace_back();
            m_channelFirstNote = c.notes.size();
            m_channelLeftOut = 0;
            return object && (m_place = Place::Channel, true);
        case Place::Channel:
            return !object && m_key == "notes" && (m_place = Place::Notes, true);
        case Place::Notes:
            if (!object) {
                ++m_channelLeftOut;
                return false;
            }
            m_y.reset();
            m_duration.reset();
            m_lane = 0;
            m_place = Place::Note;
            return true;
        default:
            return false;
        }
    }

    bool leave()
    {
        if (m_skipDepth > 0) {
            --m_skipDepth;
            return true;
        }
        auto& c = m_content;
        switch (m_place) {
        case Place::Root:
            m_place = Place::Done;
            break;
        case Place::Info:
        case Place::Lines:
        case Place::Tempos:
        case Place::Stops:
        case Place::Channels:
            m_place = Place::Root;
            break;
        case Place::Line:
            if (m_y) {
                c.barLines.push_back(*m_y);
            }
            m_place = Place::Lines;
            break;
        case Place::Tempo:
            if (m_y && m_value && *m_value > 0) {
                c.tempos.push_back({*m_y, *m_value});
            } else {
                ++c.temposLeftOut;
            }
            m_place = Place::Tempos;
            break;
        case Place::Stop:
            if (m_y && m_duration) {
                c.stops.push_back({*m_y, *m_duration});
            } else {
                ++c.stopsLeftOut;
            }
            m_place = Place::Stops;
            break;
        case Place::Channel:
            c.notesLeftOut += m_channelLeftOut;
            m_place = Place::Channels;
            break;
        case Place::Notes:
            m_place = Place::Channel;
            break;
        case Place::Note:
            if (m_y) {
                c.notes.push_back({*m_y, m_duration.value_or(0), static_cast<ChartCode>(c.channelNames.size()),
                                   channelOfLane(m_lane)});
            } else {
                ++m_channelLeftOut;
            }
            m_place = Place::Notes;
            break;
        default:
            break;
        }
        return true;
    }

    // A key met again in its object: what its earlier value gave no longer counts.
    void forgetField()
    {
        switch (m_place) {
        case Place::Root:
            forgetRootField();
            break;
        case Place::Info:
            forgetInfoField();
            break;
        case Place::Channel:
            if (m_key == "name") {
                m_content.channelNames.back().clear();
            } else if (m_key == "notes") {
                m_content.notes.resize(m_channelFirstNote);
                m_channelLeftOut = 0;
            }
            break;
        case Place::Line:
        case Place::Tempo:
        case Place::Stop:
        case Place::Note:
            forgetObjectField();
            break;
        default:
            break;
        }
    }

    void forgetRootField()
    {
        auto& c = m_content;
        if (m_key == "info") {
            c.info = {};
        } else if (m_key == "lines") {
            c.barLines.clear();
        } else if (m_key == "bpm_events") {
            c.tempos.clear();
            c.temposLeftOut = 0;
        } else if (m_key == "stop_events") {
            c.stops.clear();
            c.stopsLeftOut = 0;
        } else if (m_key == "sound_channels") {
            c.channelNames.clear();
            c.notes.clear();
            c.notesLeftOut = 0;
        }
    }

    void forgetInfoField()
    {
        auto& info = m_content.info;
        if (m_key == "title") {
            info.title.clear();
        } else if (m_key == "subtitle") {
            info.subtitle.clear();
        } else if (m_key == "artist") {
            info.artist.clear();
        } else if (m_key == "genre") {
            info.genre.clear();
        } else if (m_key == "preview_music") {
            info.previewMusic.clear();
        } else if (m_key == "level") {
            info.level.reset();
        } else if (m_key == "judge_rank") {
            info.judgeRank.reset();
        } else if (m_key == "total") {
            info.total.reset();
        } else if (m_key == "init_bpm") {
            info.initBpm.reset();
        } else if (m_key == "resolution") {
            info.resolution.reset();
            info.resolutionGiven = true;
        }
    }

    // A field of the bar line, event or note being read.
    void forgetObjectField()
    {
        if (m_key == "y") {
            m_y.reset();
        } else if (m_key == "bpm") {
            m_value.reset();
        } else if (m_key == "duration" || m_key == "l") {
            m_duration.reset();
        } else if (m_key == "x") {
            m_lane = 0;
        }
    }

    bool scalar(const Scalar& value)
    {
        if (m_skipDepth > 0) {
            return true;
        }
        auto& c = m_content;
        switch (m_place) {
        case Place::Top:
            m_place = Place::Done;
            break;
        case Place::Info:
            infoScalar(value);
            break;
        case Place::Tempos:
            ++c.temposLeftOut;
            break;
        case Place::Stops:
            ++c.stopsLeftOut;
            break;
        case Place::Channels:
            c.channelNames.emplace_back();
            break;
        case Place::Notes:
            ++m_channelLeftOut;
            break;
        case Place::Channel:
            if (m_key == "name") {
                c.channelNames.back() = text(value);
            }
            break;
        case Place::Line:
        case Place::Tempo:
        case Place::Stop:
        case Place::Note:
            objectScalar(value);
            break;
        default:
            break;
        }
        return true;
    }

    void infoScalar(const Scalar& value)
    {
        auto& info = m_content.info;
        if (m_key == "title") {
            info.title = text(value);
        } else if (m_key == "subtitle") {
            info.subtitle = text(value);
        } else if (m_key == "artist") {
            info.artist = text(value);
        } else if (m_key == "genre") {
            info.genre = text(value);
        } else if (m_key == "preview_music") {
            info.previewMusic = text(value);
        } else if (m_key == "level") {
            info.level = whole(value);
        } else if (m_key == "judge_rank") {
            info.judgeRank = whole(value);
        } else if (m_key == "total") {
            info.total = whole(value);
        } else if (m_key == "init_bpm") {
            info.initBpm = number(value);
        } else if (m_key == "resolution") {
            info.resolution = ticks(value);
        }
    }

    // A field of the bar line, event or note being read; a key that belongs to another kind of
    // object ("bpm" in a note) is passed over.
    void objectScalar(const Scalar& value)
    {
        if (m_key == "y") {
            m_y = ticks(value);
        } else if (m_key == "bpm" && m_place == Place::Tempo) {
            m_value = number(value);
        } else if ((m_key == "duration" && m_place == Place::Stop) || (m_key == "l" && m_place == Place::Note)) {
            m_duration = ticks(value);
        } else if (m_key == "x" && m_place == Place::Note) {
            m_lane = lane(value);
        }
    }

    BmsonContent m_content;
    Place m_place = Place::Top;
    std::size_t m_skipDepth = 0;  // objects and arrays entered inside one bmson has no place for
    std::string m_key;            // the last key of the innermost object read
    // The fields of the line, event or note being read.
    std::optional<std::int64_t> m_y;
    std::optional<double> m_value;
    std::optional<std::int64_t> m_duration;  // a stop's, or a note's length
    std::int64_t m_lane = 0;
    std::size_t m_channelFirstNote = 0;  // in m_content.notes
    std::size_t m_channelLeftOut = 0;    // notes of the sound channel being read
};

// The document's fields as the SAX reader collects them; nothing when it is not a JSON object.
// UTF-16 with a byte order mark is read as its UTF-8.
std::optional<BmsonContent> parseBmson(std::span<const std::uint8_t> bytes)
{
    std::string utf16Text;
    if (auto decoded = decodeUtf16WithByteOrderMark(bytes)) {
        utf16Text = std::move(*decoded);
        bytes = {reinterpret_cast<const std::uint8_t*>(utf16Text.data()), utf16Text.size()};
    }
    BmsonSaxReader reader;
    const bool parsed =
        Json::sax_parse(bytes.begin(), bytes.end(), &reader, nlohmann::json::input_format_t::json, true, true);
    BmsonContent content = reader.take();
    if (!parsed || !content.isObject) {
        return std::nullopt;
    }
    return content;
}

// The header from info, with a problem for a tempo or resolution that had to be replaced.
void readHeader(const BmsonContent::Info& info, ChartReading& reading)
{
    auto& header = reading.chart.header;
    header.title = info.title;
    header.subtitle = info.subtitle;
    header.artist = info.artist;
    header.genre = info.genre;
    header.previewFile = info.previewMusic;
    header.playLevel = info.level;
    header.rank = info.judgeRank;
    header.total = info.total;
    if (info.initBpm && *info.initBpm > 0) {
        header.initialBpm = *info.initBpm;
    } else {
        header.initialBpm = 130;
        reading.problems.push_back({0, "info.init_bpm is not a tempo above 0; read as 130"});
    }
    if (info.resolution && *info.resolution > 0 && *info.resolution <= kLargestResolution) {
        header.resolution = *info.resolution;
    } else if (info.resolutionGiven) {
        reading.problems.push_back({0, "info.resolution is not a whole number from 1 to 1000000; read as 240"});
    }
}

// Puts the objects of a bmson, timed in pulses, on the measures of its bar lines.
class ObjectPlacer {
public:
    ObjectPlacer(Chart& chart, const Measures& measures, const std::string& name)
        : m_chart(chart), m_measures(measures), m_name(name)
    {
    }

    // An error naming the tick when y lies past the last measure a chart can hold.
    Status place(std::int64_t y, std::uint8_t channel, ChartCode code)
    {
        const auto at = m_measures.at(y);
        if (!at) {
            return Error{ErrorCode::MeasureOutOfRange, m_name + ": an object at tick " + std::to_string(y) +
                                                           " lies past measure " + std::to_string(kMeasureLimit)}
                .inFile(m_name)
                .withNumber(y);
        }
        const auto [measure, slot, slotCount] = *at;
        m_chart.addLine(measure, channel, slotCount);
        m_chart.addObject(slot, code);
        return {};
    }

private:
    Chart& m_chart;
    const Measures& m_measures;
    const std::string& m_name;
};

Status placeTemposAndStops(const BmsonContent& content, Chart& chart, ObjectPlacer& placer)
{
    for (const auto& tempo : content.tempos) {
        const auto code = static_cast<ChartCode>(chart.tempos.size() + 1);
        chart.tempos.push_back({code, tempo.bpm, {}});
        if (auto placed = placer.place(tempo.y, kTempoChannel, code); !placed) {
            return placed.error();
        }
    }
    const auto resolution = static_cast<double>(chart.header.resolution);
    for (const auto& stop : content.stops) {
        const auto code = static_cast<ChartCode>(chart.stops.size() + 1);
        const double units = static_cast<double>(stop.duration) / resolution * kStopUnitsPerBeat;
        chart.stops.push_back({code, units, {}});
        if (auto placed = placer.place(stop.y, kStopChannel, code); !placed) {
            return placed.error();
        }
    }
    return {};
}

// A held note also marks its end, on the long-note channel of its lane.
Status placeNotes(const BmsonContent& content, ObjectPlacer& placer)
{
    for (const auto& note : content.notes) {
        std::uint8_t lineChannel = note.channel;
        if (note.held > 0 && lineChannel != kBackgroundChannel) {
            lineChannel = static_cast<std::uint8_t>(lineChannel + 40);
            if (auto placed = placer.place(note.y + note.held, lineChannel, note.code); !placed) {
                return placed.error();
            }
        }
        if (auto placed = placer.place(note.y, lineChannel, note.code); !placed) {
            return placed.error();
        }
    }
    return {};
}

}  // namespace

Result<ChartReading> readBmson(std::span<const std::uint8_t> bytes, const std::string& name)
{
    auto content = parseBmson(bytes);
    if (!content) {
        return Error{ErrorCode::CannotOpen, name + ": not a bmson chart (not a JSON object)"}.inFile(name);
    }
    ChartReading reading;
    auto& chart = reading.chart;
    readHeader(content->info, reading);
    const Measures measures(std::move(content->barLines), chart.header.resolution);
    chart.measureLengths = measures.lengths();
    ObjectPlacer placer(chart, measures, name);
    if (auto placed = placeTemposAndStops(*content, chart, placer); !placed) {
        return placed.error();
    }
    for (std::size_t k = 0; k < content->channelNames.size(); ++k) {
        chart.keysounds.push_back({static_cast<ChartCode>(k + 1), std::move(content->channelNames[k])});
    }
    if (auto placed = placeNotes(*content, placer); !placed) {
        return placed.error();
    }
    const std::size_t leftOut = content->temposLeftOut + content->stopsLeftOut + content->notesLeftOut;
    if (leftOut != 0) {
        reading.problems.push_back(
            {0, std::to_string(leftOut) + " notes or events without a time of 0 or more left out"});
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

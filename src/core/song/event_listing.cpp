#include "core/song/event_listing.h"

#include <algorithm>
#include <charconv>

#include "core/base/file_reading.h"
#include "core/song/event_text.h"

namespace zentrowe::song {

namespace {

class ListingVisitor {
public:
    explicit ListingVisitor(EventRowSink& sink) : m_sink(sink) { m_description.reserve(64); }

    void onEvent(std::int64_t, std::uint32_t delta, const ChannelEvent& event)
    {
        m_description.clear();
        describeChannelEvent(event, m_description);
        m_sink.addRow(deltaText(delta), channelEventLabel(event), m_description);
    }

    void onEvent(std::int64_t, std::uint32_t delta, const MetaEvent& event)
    {
        m_sink.addRow(deltaText(delta), kSystemEventLabel, describeMetaEvent(event));
    }

    void onEvent(std::int64_t, std::uint32_t delta, const SysExEvent& event)
    {
        m_description.clear();
        describeSysExEvent(event, m_description);
        m_sink.addRow(deltaText(delta), kSystemEventLabel, m_description);
    }

private:
    std::string_view deltaText(std::uint32_t delta)
    {
        const auto end = std::to_chars(m_delta, m_delta + sizeof m_delta, delta).ptr;
        return {m_delta, static_cast<std::size_t>(end - m_delta)};
    }

    EventRowSink& m_sink;
    std::string m_description;
    char m_delta[16] = {};
};

}  // namespace

namespace {

Error noSuchTrack(const SongSummary& song, std::string_view typed, const std::string& fileName)
{
    const auto count = static_cast<int>(song.tracks.size());
    std::string message = fileName + ": track " + std::string(typed) + " does not exist";
    message += count == 0 ? " (the file has no tracks)" : " (tracks are numbered 1 to " + std::to_string(count) + ")";
    Error error = Error{ErrorCode::TrackOutOfRange, message}.withValue(std::string(typed));
    if (typed.size() <= 18 && typed.find_first_not_of("0123456789") == std::string_view::npos && !typed.empty()) {
        std::int64_t number = 0;
        std::from_chars(typed.data(), typed.data() + typed.size(), number);
        error = std::move(error).withNumber(number);
    }
    return error;
}

}  // namespace

Status checkTrackNumber(const SongSummary& song, int trackNumber, const std::string& fileName)
{
    if (trackNumber >= 1 && trackNumber <= static_cast<int>(song.tracks.size())) {
        return {};
    }
    return noSuchTrack(song, std::to_string(trackNumber), fileName);
}

Result<int> trackNumberFromDigits(const SongSummary& song, std::string_view digits, const std::string& fileName)
{
    // Leading zeros aside, a track number has at most five digits (the header's count is
    // 16-bit); anything longer is out of range however it would overflow.
    const auto significant = std::min(digits.find_first_not_of('0'), digits.size());
    const std::string_view number = digits.substr(significant);
    int value = 0;
    if (number.size() <= 5) {
        for (const char c : number) {
            value = value * 10 + (c - '0');
        }
        if (value >= 1 && value <= static_cast<int>(song.tracks.size())) {
            return value;
        }
    }
    return noSuchTrack(song, digits, fileName);
}

Status listTrackEvents(std::span<const std::uint8_t> file, const SongSummary& song, int trackNumber, EventRowSink& sink,
                       ProgressSink& progress)
{
    if (auto valid = checkTrackNumber(song, trackNumber, "the song"); !valid) {
        return valid;
    }
    const TrackLocation where = song.tracks[static_cast<std::size_t>(trackNumber - 1)].location;
    ProgressThrottle throttle(progress, where.dataLength, 1 << 14);
    ListingVisitor visitor(sink);
    if (walkTrack(file, where, visitor, throttle) == WalkEnd::Cancelled) {
        return Error{ErrorCode::Cancelled, "listing was cancelled"};
    }
    throttle.finish();
    return {};
}

Status listTrackEvents(const std::filesystem::path& midiFile, const SongSummary& song, int trackNumber,
                       EventRowSink& sink, ProgressSink& progress)
{
    if (auto valid = checkTrackNumber(song, trackNumber, displayPath(midiFile)); !valid) {
        return valid;
    }
    auto bytes = readSongFile(midiFile);
    if (!bytes) {
        return bytes.error();
    }
    if (auto same = checkUnchangedSince(song, bytes->bytes(), midiFile); !same) {
        return same;
    }
    return listTrackEvents(bytes->bytes(), song, trackNumber, sink, progress);
}

}  // namespace zentrowe::song

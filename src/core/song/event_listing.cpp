#include "core/song/event_listing.h"

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

Status checkTrackNumber(const SongSummary& song, int trackNumber, const std::string& fileName)
{
    const auto count = static_cast<int>(song.tracks.size());
    if (trackNumber >= 1 && trackNumber <= count) {
        return {};
    }
    std::string message = fileName + ": there is no track " + std::to_string(trackNumber);
    message += count == 0 ? " (the file has no tracks)"
                          : " (tracks are numbered 1 to " + std::to_string(count) + ")";
    return Error{ErrorCode::TrackOutOfRange, message}.withNumber(trackNumber);
}

Status listTrackEvents(std::span<const std::uint8_t> file, const SongSummary& song, int trackNumber,
                       EventRowSink& sink, ProgressSink& progress)
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
    auto bytes = readFileBytes(midiFile);
    if (!bytes) {
        return bytes.error();
    }
    return listTrackEvents(bytes->bytes(), song, trackNumber, sink, progress);
}

}  // namespace zentrowe::song

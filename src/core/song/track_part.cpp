#include "core/song/track_part.h"

#include <array>
#include <charconv>

#include "core/song/channel_state.h"
#include "core/song/event_listing.h"
#include "core/song/instrument_names.h"

namespace zentrowe::song {

namespace {

Error badPart(std::string_view typed, const std::string& why)
{
    return Error{ErrorCode::InvalidSetting, "--track " + std::string(typed) + ": " + why}.about("track").withValue(
        std::string(typed));
}

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// One item of the list `whole` (which the messages quote, as it was typed).
Result<TrackPart> parsePart(const SongSummary& song, std::string_view typed, std::string_view whole,
                            const std::string& fileName)
{
    if (typed.empty()) {
        return badPart(whole, "a list names one track between commas (4,2)");
    }
    const auto colon = typed.find(':');
    const std::string_view digits = typed.substr(0, colon);
    if (!allDigits(digits)) {
        return badPart(whole, "a track is a number, with a channel after a colon (4, 1:2)");
    }
    auto track = trackNumberFromDigits(song, digits, fileName);
    if (!track) {
        return track.error();
    }
    TrackPart part{*track, 0};
    if (colon == std::string_view::npos) {
        return part;
    }
    const std::string_view channel = typed.substr(colon + 1);
    int value = 0;
    const auto [end, error] = std::from_chars(channel.data(), channel.data() + channel.size(), value);
    if (!allDigits(channel) || error != std::errc() || end != channel.data() + channel.size() || value < 1 ||
        value > 16) {
        return badPart(whole, "the channel after the colon must be 1 to 16");
    }
    part.channel = value;
    return part;
}

// Notes per channel of one track, and the instrument in force at each channel's first note.
struct ChannelNotes {
    std::array<std::int64_t, 16> notes{};
    ChannelStates states;
    std::array<ChannelInstrument, 16> firstInstrument{};

    void onEvent(std::int64_t, std::uint32_t, const ChannelEvent& event)
    {
        const auto channel = event.channel();
        states.apply(event);
        if (event.kind() == 0x90 && event.data2 != 0 && notes[channel]++ == 0) {
            firstInstrument[channel] = states.instrument(channel);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }
};

ChannelNotes channelNotes(SongSource file, const SongSummary& song, int trackNumber)
{
    ChannelNotes count;
    if (trackNumber < 1 || trackNumber > static_cast<int>(song.tracks.size())) {
        return count;
    }
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    walkTrack(file, song.tracks[static_cast<std::size_t>(trackNumber - 1)].location, count, throttle);
    return count;
}

}  // namespace

std::string partName(const TrackPart& part)
{
    std::string name = "track " + std::to_string(part.trackNumber);
    return part.channel == 0 ? name : name + " channel " + std::to_string(part.channel);
}

std::vector<TrackPart> requestedParts(int trackNumber, int channel, std::span<const TrackPart> moreParts)
{
    std::vector<TrackPart> parts{{trackNumber, channel}};
    parts.insert(parts.end(), moreParts.begin(), moreParts.end());
    return parts;
}

std::string partsName(std::span<const TrackPart> parts)
{
    if (parts.size() == 1) {
        return partName(parts.front());
    }
    std::string named = "tracks ";
    for (std::size_t k = 0; k < parts.size(); ++k) {
        named += k == 0 ? "" : k + 1 == parts.size() ? " and " : ", ";
        named += partText(parts[k]);
    }
    return named;
}

std::string partText(const TrackPart& part)
{
    const std::string track = std::to_string(part.trackNumber);
    return part.channel == 0 ? track : track + ":" + std::to_string(part.channel);
}

Result<std::vector<TrackPart>> parseTrackParts(const SongSummary& song, std::string_view text,
                                               const std::string& fileName)
{
    std::vector<TrackPart> parts;
    std::size_t from = 0;
    while (true) {
        const auto comma = text.find(',', from);
        const std::string_view typed = text.substr(from, comma == std::string_view::npos ? comma : comma - from);
        auto part = parsePart(song, typed, text, fileName);
        if (!part) {
            return part.error();
        }
        for (const TrackPart& earlier : parts) {
            const bool overlaps = earlier.trackNumber == part->trackNumber &&
                                  (earlier.channel == 0 || part->channel == 0 || earlier.channel == part->channel);
            if (overlaps) {
                return badPart(text, partName(*part) + " is named twice: each part's notes go to the lanes once");
            }
        }
        parts.push_back(*part);
        if (comma == std::string_view::npos) {
            return parts;
        }
        from = comma + 1;
    }
}

std::vector<ChannelPartRow> listChannelParts(SongSource file, const SongSummary& song)
{
    std::vector<ChannelPartRow> rows;
    for (int track = 1; track <= static_cast<int>(song.tracks.size()); ++track) {
        const ChannelNotes count = channelNotes(file, song, track);
        const auto details = readChannelDetails(file, song, track);
        for (std::uint8_t channel = 0; channel < 16; ++channel) {
            if (count.notes[channel] == 0) {
                continue;
            }
            const bool drums = count.firstInstrument[channel].drums;
            const std::uint8_t program = count.firstInstrument[channel].program;
            rows.push_back({{track, channel + 1},
                            count.notes[channel],
                            std::string(drums ? kDrumInstrument : kInstrumentNames[program]),
                            std::string(drums ? kDrumFamily : kFamilyNames[program / 8u]),
                            details[channel]});
        }
    }
    return rows;
}

std::int64_t partsLength(const SongSummary& song, std::span<const TrackPart> parts)
{
    std::int64_t total = 0;
    for (const TrackPart& part : parts) {
        if (part.trackNumber >= 1 && part.trackNumber <= static_cast<int>(song.tracks.size())) {
            total += song.tracks[static_cast<std::size_t>(part.trackNumber - 1)].location.dataLength;
        }
    }
    return total;
}

namespace detail {

std::uint16_t channelMask(const TrackPart& part)
{
    return part.channel == 0 ? std::uint16_t{0xFFFF} : static_cast<std::uint16_t>(1u << (part.channel - 1));
}

}  // namespace detail

}  // namespace zentrowe::song

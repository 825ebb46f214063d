#include "core/song/track_details.h"

#include <algorithm>
#include <limits>

#include "core/song/note_density.h"
#include "core/song/timeline.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

namespace {

// The ticks and pitches of a track's sounding notes, in file order (which is time order).
class NoteCollector final {
public:
    void onEvent(std::int64_t time, std::uint32_t, const ChannelEvent& event)
    {
        if (event.kind() == 0x90 && event.data2 != 0) {
            channels = static_cast<std::uint16_t>(channels | (1U << event.channel()));
            ticks.push_back(time);
            pitches.push_back(static_cast<std::uint8_t>(event.data1 & 0x7F));
        } else if (event.kind() == 0x80 || event.kind() == 0x90) {
            lastReleaseTick = std::max(lastReleaseTick, time);  // Note Off, or Note On with velocity 0
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }

    std::uint16_t channels = 0;
    std::vector<std::int64_t> ticks;
    std::vector<std::uint8_t> pitches;
    std::int64_t lastReleaseTick = 0;  // where the last note ends: the track's latest release
};

// Notes struck within this of each other sound as one chord: players and sequencers spread a
// strum over a few milliseconds.
constexpr double kChordSeconds = 0.03;

double chordShareOf(const std::vector<double>& seconds)
{
    std::size_t together = 0;
    for (std::size_t k = 0; k < seconds.size(); ++k) {
        const bool withPrevious = k > 0 && seconds[k] - seconds[k - 1] < kChordSeconds;
        const bool withNext = k + 1 < seconds.size() && seconds[k + 1] - seconds[k] < kChordSeconds;
        together += withPrevious || withNext ? 1 : 0;
    }
    return seconds.empty() ? 0 : static_cast<double>(together) / static_cast<double>(seconds.size());
}

// A NoteCollector for each channel.
class ChannelNoteCollector final {
public:
    void onEvent(std::int64_t time, std::uint32_t at, const ChannelEvent& event)
    {
        byChannel[event.channel()].onEvent(time, at, event);
    }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }

    std::array<NoteCollector, 16> byChannel;
};

// The stretches in which notes at `seconds` (sorted) follow each other without a rest.
std::vector<PlayingSpan> playingSpansOf(const std::vector<double>& seconds)
{
    std::vector<PlayingSpan> spans;
    for (std::size_t k = 0; k < seconds.size(); ++k) {
        if (k == 0 || seconds[k] - seconds[k - 1] > kRestSeconds) {
            spans.push_back({seconds[k], seconds[k]});
        }
        spans.back().endSeconds = seconds[k];
    }
    return spans;
}

// How long at least one of the tracks plays: their spans' union, in seconds.
double unionSeconds(const std::vector<TrackDetails>& details)
{
    std::vector<PlayingSpan> spans;
    for (const auto& track : details) {
        spans.insert(spans.end(), track.playing.begin(), track.playing.end());
    }
    std::sort(spans.begin(), spans.end(),
              [](const PlayingSpan& a, const PlayingSpan& b) { return a.startSeconds < b.startSeconds; });
    double total = 0;
    double coveredUntil = -std::numeric_limits<double>::infinity();
    for (const auto& span : spans) {
        const double from = std::max(span.startSeconds, coveredUntil);
        total += std::max(0.0, span.endSeconds - from);
        coveredUntil = std::max(coveredUntil, span.endSeconds);
    }
    return total;
}

TrackDetails detailsOf(const NoteCollector& notes, const Timeline& clock)
{
    TrackDetails details;
    details.channels = notes.channels;
    details.noteCount = static_cast<std::int32_t>(notes.ticks.size());
    if (notes.ticks.empty()) {
        return details;
    }
    std::vector<double> seconds;
    seconds.reserve(notes.ticks.size());
    for (const auto tick : notes.ticks) {
        seconds.push_back(clock.seconds(tick));
    }
    // Tracks that step back in time do not exist in a valid file, but a damaged one may say so.
    std::sort(seconds.begin(), seconds.end());
    details.firstNoteSeconds = seconds.front();
    details.lastNoteSeconds = seconds.back();
    const NoteDensity density = noteDensity(seconds, clock.seconds(notes.lastReleaseTick));
    details.averageNotesPerSecond = density.average;
    details.peakNotesPerSecond = density.peak;
    const auto [lowest, highest] = std::minmax_element(notes.pitches.begin(), notes.pitches.end());
    details.lowestPitch = *lowest;
    details.highestPitch = *highest;
    double sum = 0;
    for (const auto pitch : notes.pitches) {
        sum += pitch;
    }
    details.averagePitch = sum / static_cast<double>(notes.pitches.size());
    details.chordShare = chordShareOf(seconds);
    details.playing = playingSpansOf(seconds);
    return details;
}

}  // namespace

double TrackDetails::playingSeconds() const
{
    double total = 0;
    for (const auto& span : playing) {
        total += span.endSeconds - span.startSeconds;
    }
    return total;
}

Result<std::vector<TrackDetails>> readTrackDetails(std::span<const std::uint8_t> file, const SongSummary& song,
                                                   ProgressSink& progress)
{
    const Timeline clock(song);
    std::vector<TrackDetails> details;
    ProgressThrottle throttle(progress, static_cast<std::int64_t>(file.size()));
    for (const auto& track : song.tracks) {
        NoteCollector notes;
        if (walkTrack(file, track.location, notes, throttle) == WalkEnd::Cancelled) {
            return Error{ErrorCode::Cancelled, "reading the tracks' notes was cancelled"};
        }
        details.push_back(detailsOf(notes, clock));
    }
    return details;
}

Result<std::vector<TrackDetails>> readTrackDetails(const std::filesystem::path& midiFile, const SongSummary& song,
                                                   ProgressSink& progress)
{
    const auto file = readSongFile(midiFile);
    if (!file) {
        return file.error();
    }
    if (auto unchanged = checkUnchangedSince(song, file->bytes(), midiFile); !unchanged) {
        return unchanged.error();
    }
    return readTrackDetails(file->bytes(), song, progress);
}

std::array<TrackDetails, 16> readChannelDetails(SongSource file, const SongSummary& song, int trackNumber)
{
    std::array<TrackDetails, 16> details{};
    if (trackNumber < 1 || trackNumber > static_cast<int>(song.tracks.size())) {
        return details;
    }
    ChannelNoteCollector notes;
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    walkTrack(file, song.tracks[static_cast<std::size_t>(trackNumber - 1)].location, notes, throttle);
    const Timeline clock(song);
    for (std::size_t channel = 0; channel < details.size(); ++channel) {
        details[channel] = detailsOf(notes.byChannel[channel], clock);
    }
    return details;
}

std::optional<int> likelyMelodyTrack(const std::vector<TrackDetails>& details)
{
    constexpr double kMostlySingleNotes = 0.5;  // a pad or a strummed part plays chords
    constexpr double kLowestTune = 55;          // G3: a part below it on average is a bass line
    constexpr double kSparsest = 1;             // notes per second: fewer is a held or fill part
    const double songPlaying = unionSeconds(details);
    std::optional<int> best;
    for (std::size_t k = 0; k < details.size(); ++k) {
        const auto& track = details[k];
        if (track.noteCount < 2 || track.onlyDrumChannel() || track.playingSeconds() < songPlaying / 2 ||
            track.chordShare > kMostlySingleNotes || track.averagePitch < kLowestTune ||
            track.averageNotesPerSecond < kSparsest) {
            continue;
        }
        if (!best || track.averagePitch > details[static_cast<std::size_t>(*best - 1)].averagePitch) {
            best = static_cast<int>(k) + 1;
        }
    }
    return best;
}

std::string channelListText(std::uint16_t channels)
{
    std::string text;
    for (int channel = 0; channel < 16; ++channel) {
        if ((unsigned{channels} >> channel) & 1U) {
            text += (text.empty() ? "" : ",") + std::to_string(channel + 1);
        }
    }
    return text;
}

std::string pitchName(std::uint8_t note)
{
    static constexpr const char* kNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return kNames[note % 12] + std::to_string(note / 12 - 1);
}

}  // namespace zentrowe::song

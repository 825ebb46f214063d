#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/song_source.h"
#include "core/song/song_summary.h"

namespace zentrowe::song {

// A stretch of time in which a track plays: from a note's start to the start of the last note
// that follows it without a rest (kRestSeconds) between, in seconds.
struct PlayingSpan {
    double startSeconds = 0;
    double endSeconds = 0;
};

// A gap between two notes' starts longer than this is a rest: the part has stopped playing.
inline constexpr double kRestSeconds = 4;

// What helps a user choose a track: where its notes lie in time, how dense and how high they
// are. Counted over sounding notes (Note On with a velocity other than 0).
struct TrackDetails {
    std::uint16_t channels = 0;  // bit k set: MIDI channel k + 1 sounds a note in the track
    std::int32_t noteCount = 0;
    double firstNoteSeconds = 0;
    double lastNoteSeconds = 0;
    // Notes per second on average and in the busiest stretch, as noteDensity counts them.
    double averageNotesPerSecond = 0;
    double peakNotesPerSecond = 0;
    std::uint8_t lowestPitch = 0;  // MIDI note numbers; both 0 for a track without notes
    std::uint8_t highestPitch = 0;
    double averagePitch = 0;
    double chordShare = 0;  // of the notes, those struck together (within 30 ms) with another
    // Where the track plays, in time order, the spans apart by more than kRestSeconds.
    std::vector<PlayingSpan> playing;

    double seconds() const { return lastNoteSeconds - firstNoteSeconds; }
    double playingSeconds() const;  // the spans' time together: the track's time without its rests
    bool onlyDrumChannel() const { return channels == 1U << 9; }  // channel 10, General MIDI's drums
};

// The details of every track the summary lists, in its order. A track cut short by the file's
// end has the details of the notes read; Cancelled if the sink asked to stop.
Result<std::vector<TrackDetails>> readTrackDetails(std::span<const std::uint8_t> file, const SongSummary& song,
                                                   ProgressSink& progress);

// The same read from the song's file: CannotOpen as readSongFile gives it, or if the file has
// changed since `song` was summarised.
Result<std::vector<TrackDetails>> readTrackDetails(const std::filesystem::path& midiFile, const SongSummary& song,
                                                   ProgressSink& progress);

// The details of each MIDI channel's notes in track `trackNumber` (1-based), by channel index
// (0 to 15): what readTrackDetails counts of the track, for the notes of one channel. All empty
// for a track out of range.
std::array<TrackDetails, 16> readChannelDetails(SongSource file, const SongSummary& song, int trackNumber);

// The track (1-based) most likely to carry the tune: of the tracks that are not all drums, that
// play over at least half of the song's playing time (the time some track plays, rests not
// counted: a part that stops for a minute carries no tune then), play mostly single notes, at
// least one a second and above G3 on average, the highest on average. Nothing if no track
// qualifies (a song of accompaniment alone).
std::optional<int> likelyMelodyTrack(const std::vector<TrackDetails>& details);

// "1,10": the channels a track's notes are on, 1-based.
std::string channelListText(std::uint16_t channels);

// "C4" for MIDI note 60, sharps for the black keys ("F#2").
std::string pitchName(std::uint8_t note);

}  // namespace zentrowe::song

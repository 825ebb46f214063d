#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/chartset/track_note.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// What a difficulty allows the layout.
struct LayoutLimits {
    // Two notes in one lane closer than this (from a start, or from a held note's end) are a
    // jack the difficulty does not allow: the later note moves to a neighbouring key. 0 allows
    // any repeat.
    double minRepeatSeconds = 0;
    // Over any 4 measures, the busier hand (keys 1-3 or keys 5-7) has at most this many times
    // the notes of the other plus kHandSlack.
    double handRatio = 2;
    // At most this share of the lane notes may follow a note of their own lane by less than
    // kRepeatWindowSeconds (a jack); past it a repeated pitch or chord alternates between
    // neighbouring keys. 1 allows any share.
    double repeatShare = 1;
    // Whether a chord may repeat a lane within kRepeatWindowSeconds at all (a chord jack).
    bool chordJacks = true;
    // At most about this share of the notes on keys 1-7 may sit on keys 3-5, so that both hands
    // play; 1 leaves the middle to pitch order.
    double middleShare = 1;
    // About this share of the lane notes go to the scratch as accents (accentStrength); 0 keeps the
    // scratch for percussion's strikes alone. An accent never follows a scratch note within
    // kRepeatWindowSeconds: a turn of the turntable and back takes longer than a key press.
    double scratchShare = 0;
    // False leaves the scratch empty, percussion's strikes and accents alike.
    bool scratchLane = true;
};

// A lane struck again within this many seconds counts as a repeat (a jack) against repeatShare.
inline constexpr double kRepeatWindowSeconds = 0.25;

// Notes the hand-balance rule lets one side have over the other's share before it acts, so
// that a short phrase low on the keyboard (a rising scale's first four notes) is not forced apart.
inline constexpr int kHandSlack = 4;

struct LayoutOptions {
    LayoutLimits limits;
    // Percussion mode: the scratch takes accents on strong beats (see suitsScratch); in every
    // other mode it stays empty, as ordinary melody notes make a poor scratch.
    bool percussion = false;
};

// The playable layout of a track: a lane for every note (kBackgroundLane for a note not in
// `inLanes`, which has one flag per note, or one no lane can take). The rules, in order of
// precedence: a held note keeps its lane until it ends; the notes of a chord (one start tick)
// take distinct keys in pitch order; no repeat in one lane faster than the limits allow; the
// hands stay balanced; within a phrase of one part a higher note goes further right. With a
// scratch share, the lowest note of an accent (accentStrength) goes to the scratch while the
// scratch notes stay within that share of the notes placed so far (one more to start with),
// spread through the song. Notes must be in time order; a list of another length than `inLanes`
// puts everything in the background.
std::vector<int> layoutLanes(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                             const song::Timeline& clock, const LayoutOptions& options);

// --- The rules, one by one -------------------------------------------------------------------

// Where pitch order puts `note` among the distinct note numbers of its window: the lowest at
// key 0 (key 1), the highest at 6, those between spread evenly by rank, so a scale played in the
// window reads left to right. A window of one pitch (or none) puts it at the centre, 3.0.
// Ranks, not semitones, so that whole and half steps look alike.
double pitchOrderKey(int note, const std::array<int, 128>& windowCounts);

// Phrase numbers for the notes in `inLanes`, counted within each part (TrackNote::part): a new
// phrase of a part starts after a rest of at least half a measure in which none of its notes
// sounds. Pitch order only compares notes of one phrase of one part, so a melody that comes back
// an octave lower after a break starts afresh, and a bass line never bends the melody's order.
// Notes not in lanes get the phrase of their part's note before.
std::vector<int> phraseNumbers(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                               std::int32_t ticksPerMeasure);

// True when a note at `seconds` may follow, in the same lane, one that started (or, held, ended)
// at `lastSeconds`.
bool repeatAllowed(double lastSeconds, double seconds, double minRepeatSeconds);

// True when one side's `mine` notes, plus the one being placed, stay within `ratio` of the other
// side's `other` notes (with kHandSlack to spare).
bool handsBalanced(int mine, int other, double ratio);

// How strong a beat `tick` falls on in 4/4: 4 on a measure's first beat, 3 on its third, 2 on
// the others, 1 on an eighth, 0 elsewhere.
int beatStrength(std::int64_t tick, std::int32_t ticksPerMeasure);

// The scratch rule (percussion mode only): the loudest strike of its chord, an accent (velocity
// 100 or more), on beat 1 or 3 of a measure. A scratch is a turn of the turntable, which suits
// a crash or an accented kick; on every other note it only makes the chart awkward.
bool suitsScratch(const TrackNote& note, bool loudestOfChord, std::int32_t ticksPerMeasure);
inline constexpr std::uint8_t kAccentVelocity = 100;

// The accent rule for the other parts, how strong an accent a strike of `notes` notes makes: 2
// when it starts a phrase of its part (a bass note after a rest, a tune coming back) or falls on
// a measure's first beat (where a strum's first stroke or a crash lands); 1 on the third beat,
// or for a chord (a strum) on any eighth; 0 otherwise. A strike within a 48th of a measure of an
// eighth counts as on it. The scratch takes its lowest note, the one a strum strikes first; a
// strong accent as soon as the share has room for one more, a weaker one only when it has room
// for two, so that the downbeats come first.
int accentStrength(bool startsPhrase, std::size_t notes, std::int64_t tick, std::int32_t ticksPerMeasure);

}  // namespace zentrowe::chartset

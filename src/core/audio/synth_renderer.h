#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::audio {

inline constexpr int kSampleRate = 44100;
inline constexpr int kChannelCount = 2;  // interleaved stereo, left first
inline constexpr int kBlockFrames = 64;  // the synthesiser applies events at block starts only
// The General MIDI soundfont the system names as its default; defaultSoundFont() prefers a fuller one.
inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";
inline constexpr const char* kFullSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
// The soundfont the Windows zip carries beside the program, the default there.
inline constexpr const char* kBundledSoundFont = "TimGM6mb.sf2";
// The longest rendering made in one go, as the longest mix: an hour of stereo floats is 1.3 GB.
inline constexpr std::int64_t kLongestRenderFrames = 3600LL * kSampleRate;

// Which preset plays a note: the General MIDI drum kit of `program` when `drums` is set, the
// melodic preset `program` of `bank` otherwise.
struct Instrument {
    int bank = 0;
    std::uint8_t program = 0;
    bool drums = false;

    friend bool operator==(const Instrument&, const Instrument&) = default;
};

// The controllers of the channel a keysound's note is struck on, as the track left them: they
// shape its level (volume × expression), place (pan), pitch (bend through its range) and vibrato
// (modulation, channel pressure). General MIDI's values after a reset by default.
struct NoteControls {
    std::uint8_t volume = 100;
    std::uint8_t expression = 127;
    std::uint8_t pan = 64;
    std::uint8_t modulation = 0;
    std::uint8_t pressure = 0;
    std::uint16_t pitchBend = 8192;  // 14 bits, 8192 the centre
    std::uint8_t bendRangeSemitones = 2;
    std::uint8_t bendRangeCents = 0;

    friend bool operator==(const NoteControls&, const NoteControls&) = default;
};

// One keysound: a note struck with its instrument and controllers, released at `noteFrames` (the
// sounding length the track gives it: up to its note-off, the pedal's release or the key's next
// strike), then left to ring out. A drum kit's note is never released: it rings out whatever its
// length, as drum sounds do.
struct NoteSound {
    Instrument instrument;
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
    NoteControls controls;
    std::int64_t noteFrames = 0;
    // Where a note of its choke group (the soundfont's exclusive class) silences it, if one does:
    // from here it fades as the synthesiser fades a choked voice (kChokeFadeFrames).
    std::optional<std::int64_t> cutFrames;

    friend bool operator==(const NoteSound&, const NoteSound&) = default;
};

// A choked voice falls 96 dB, evenly in decibels, over the release of -200 timecents
// (2^(-200/1200) s, 0.891 s) that the synthesiser gives it.
inline constexpr std::int64_t kChokeFadeFrames = 39'300;

// Fades `interleaved` from frame `cutFrame` as a choked voice fades, and drops what follows the fade.
void fadeFromCut(std::vector<float>& interleaved, std::int64_t cutFrame);

// A note rings out after its release until, once heard, it stays below this level (-60 dBFS)
// for kRingOutQuietFrames, at most kLongestRingOutFrames; what follows its last louder frame is
// cut. A note never heard in that time renders as no samples at all: a silent keysound.
inline constexpr float kRingOutFloor = 0.001f;
inline constexpr std::int64_t kRingOutQuietFrames = kSampleRate / 20;  // 50 ms
inline constexpr std::int64_t kLongestRingOutFrames = 10LL * kSampleRate;

// Follows a note's tail block by block: over once the sound, heard at least once, has stayed
// under kRingOutFloor for kRingOutQuietFrames (a voice between two peaks of a tremolo dips below
// it briefly). Quiet counts only after the first sounding sample: some drums take a fifth of a
// second to rise, and a struck drum is released at once.
class RingOut {
public:
    // `head`: what sounded before the release (interleaved stereo).
    explicit RingOut(std::span<const float> head);
    void take(std::span<const float> block);
    bool over() const { return m_quietFrames >= kRingOutQuietFrames; }

private:
    bool m_heard = false;
    std::int64_t m_quietFrames = 0;
};

// A channel voice event (status 0x80 to 0xEF) at a frame of the rendering.
struct TimedEvent {
    std::int64_t frame = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// What renders a note or a sequence of events into interleaved stereo at kSampleRate; the
// synthesiser below, or a stand-in where only the files around the sound matter.
class Renderer {
public:
    virtual ~Renderer() = default;
    // One note from a silent renderer: its Note On at frame 0 with the controllers set, its Note
    // Off at `noteFrames` (none for a drum kit), then rung out (kRingOutFloor) and cut after its
    // last frame at or above the floor. TooLong past kLongestRenderFrames.
    virtual Result<std::vector<float>> renderNote(const NoteSound& sound) = 0;
    // Events in frame order from a silent renderer, then the sound left to die away (at most
    // `tailFrames`); trailing silence removed. Progress in frames; Cancelled if the sink asks to
    // stop; TooLong if the events and the tail pass kLongestRenderFrames.
    virtual Result<std::vector<float>> renderEvents(std::span<const TimedEvent> events, std::int64_t tailFrames,
                                                    ProgressSink& progress) = 0;
    // True if the renderer has a sound for the instrument; a stand-in has them all.
    virtual bool hasPreset(const Instrument&) const { return true; }
    // The note as this renderer plays it: two notes it gives the same value render as the same
    // samples (the synthesiser's drums ignore their length, its releases fall on whole blocks).
    virtual NoteSound playedAs(const NoteSound& sound) const { return sound; }
};

// The note as SynthRenderer plays it (SynthRenderer::playedAs), known without a soundfont.
NoteSound synthPlayedAs(const NoteSound& sound);

// One software synthesiser with one soundfont loaded, reverb and chorus off (so the end of a
// sound is exact digital silence) and one fixed gain (so velocities keep their differences).
// Not safe to share between threads: render in parallel with one renderer per thread.
class SynthRenderer final : public Renderer {
public:
    // CannotOpen if the file cannot be read or is not a SoundFont ("x.sf2: not a SoundFont file").
    static Result<SynthRenderer> open(const std::filesystem::path& soundFont);

    SynthRenderer(SynthRenderer&&) noexcept;
    SynthRenderer& operator=(SynthRenderer&&) noexcept;
    ~SynthRenderer();

    // Every rendering starts from a synthesiser with no voice left from the one before and at a
    // block start, so the same note gives the same samples whichever renderings came before it.
    // Rings out in short blocks, so a note's tail costs what it sounds, not the longest ring.
    Result<std::vector<float>> renderNote(const NoteSound& sound) override;

    // Every channel at program 0 (channel index 9 the drum kit), each event applied at the block
    // start nearest its frame; the tail rounded up to whole blocks.
    Result<std::vector<float>> renderEvents(std::span<const TimedEvent> events, std::int64_t tailFrames,
                                            ProgressSink& progress) override;

    // True if the soundfont holds the preset: the drum kit `program` (bank 128) when `drums` is
    // set, else melodic `program` of `bank`.
    bool hasPreset(const Instrument& instrument) const override;
    NoteSound playedAs(const NoteSound& sound) const override;

private:
    struct Parts;
    explicit SynthRenderer(std::unique_ptr<Parts> parts);
    void reset();
    void render(std::vector<float>& out, std::int64_t frames);

    std::unique_ptr<Parts> m_parts;
};

// The best General MIDI soundfont installed: kFullSoundFont (Debian's fluid-soundfont-gm) if it
// is there, else kDefaultSoundFont.
std::filesystem::path defaultSoundFont();

// Drops the trailing frames whose every sample rounds to 0 at 16 bits.
void trimTrailingSilence(std::vector<float>& interleaved);

// Drops the trailing frames whose every sample lies below `floor` in magnitude.
void trimBelow(std::vector<float>& interleaved, float floor);

// The frames of interleaved stereo `interleaved` up to its last one with a sample at or above
// `floor` in magnitude; every frame when none reaches it, so that a sound too quiet for the floor
// is kept as it is rather than made an empty file.
std::size_t audibleFrames(std::span<const float> interleaved, float floor);

}  // namespace zentrowe::audio

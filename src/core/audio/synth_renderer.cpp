#include "core/audio/synth_renderer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>

#include "core/base/file_error.h"
#include "core/base/program_folder.h"

namespace zentrowe::audio {

namespace {

// One gain for every rendering: loud enough that a soft note keeps most of its 16 bits, low
// enough that a full chord of the background song rarely clips.
constexpr double kGain = 0.4;
constexpr int kMelodicChannel = 0;
constexpr int kDrumChannel = 9;  // the General MIDI percussion channel, a drum channel in the synthesiser
constexpr std::int64_t kRenderChunkFrames = 1 << 14;
constexpr std::int64_t kRingBlockFrames = 8 * kBlockFrames;  // how often a tail's level is looked at
constexpr int kDrumBank = 128;                               // where a SoundFont keeps its drum kits
// A released voice fades for at most a few seconds; a synthesiser still sounding after this
// long holds a stuck note, and the next rendering starts anyway.
constexpr std::int64_t kLongestSettleFrames = 30LL * kSampleRate;
// The warm-up chord before every rendering: more voices than one note of a General MIDI font
// takes (a layered preset sounds a few samples at once).
constexpr int kWarmUpNotes = 24;
constexpr int kWarmUpLowestNote = 48;

// The library keeps state for the whole process that its synthesisers share without a lock of
// their own: tables it fills when the first synthesiser is made (a second one made meanwhile
// reads them half filled), and a cache of sample data that counts its users, taking a new user
// outside the cache's lock (a synthesiser let go at that moment frees the samples under the
// newcomer, which then writes into freed memory). So synthesisers are made, given their
// soundfont and let go one at a time; once made, each renders alone without touching that state
// (see the sample loading below).
std::mutex& libraryStateLock()
{
    static std::mutex lock;
    return lock;
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* synth) const
    {
        std::lock_guard lock(libraryStateLock());
        delete_fluid_synth(synth);
    }
};

std::int64_t nearestBlockStart(std::int64_t frame)
{
    return (frame + kBlockFrames / 2) / kBlockFrames * kBlockFrames;
}

std::int64_t roundUpToBlock(std::int64_t frames)
{
    return (frames + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
}

// A SoundFont is a RIFF file of form "sfbk" whose chunk fits in the file. Checked before the
// library sees the file: its other loaders complain on stderr about files that are not theirs.
bool hasWholeRiffHeader(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<char, 12> header{};
    if (!file.read(header.data(), header.size())) {
        return false;
    }
    const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(header[i])); };
    const std::uint64_t chunkSize = byte(4) | (byte(5) << 8) | (byte(6) << 16) | (byte(7) << 24);
    std::error_code error;
    const auto fileSize = std::filesystem::file_size(path, error);
    return !error && std::memcmp(header.data(), "RIFF", 4) == 0 && std::memcmp(header.data() + 8, "sfbk", 4) == 0 &&
           chunkSize + 8 <= fileSize;
}

// The controllers as the track set them; the bend range through registered parameter 0, as a
// synthesiser reads it from the track, and then no parameter selected.
void applyControls(fluid_synth_t* synth, int channel, const NoteControls& controls)
{
    fluid_synth_cc(synth, channel, 7, controls.volume & 0x7F);
    fluid_synth_cc(synth, channel, 11, controls.expression & 0x7F);
    fluid_synth_cc(synth, channel, 10, controls.pan & 0x7F);
    fluid_synth_cc(synth, channel, 1, controls.modulation & 0x7F);
    fluid_synth_channel_pressure(synth, channel, controls.pressure & 0x7F);
    fluid_synth_cc(synth, channel, 101, 0);
    fluid_synth_cc(synth, channel, 100, 0);
    fluid_synth_cc(synth, channel, 6, controls.bendRangeSemitones & 0x7F);
    fluid_synth_cc(synth, channel, 38, controls.bendRangeCents & 0x7F);
    fluid_synth_cc(synth, channel, 101, 127);
    fluid_synth_cc(synth, channel, 100, 127);
    fluid_synth_pitch_bend(synth, channel, controls.pitchBend & 0x3FFF);
}

// Hands one MIDI event to the synthesiser.
void sendEvent(fluid_synth_t* synth, const TimedEvent& event)
{
    const int channel = event.status & 0x0F;
    const int data1 = event.data1;
    const int data2 = event.data2;
    switch (event.status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0) {
            fluid_synth_noteoff(synth, channel, data1);
        } else {
            // Some writers put velocities of 128 and above; synthesisers clip them.
            fluid_synth_noteon(synth, channel, data1, std::min(data2, 127));
        }
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, (data2 << 7) | data1);
        break;
    default:
        break;
    }
}

}  // namespace

struct SynthRenderer::Parts {
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings;
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth;  // destroyed before its settings
};

SynthRenderer::SynthRenderer(std::unique_ptr<Parts> parts) : m_parts(std::move(parts))
{
}
SynthRenderer::SynthRenderer(SynthRenderer&&) noexcept = default;
SynthRenderer& SynthRenderer::operator=(SynthRenderer&&) noexcept = default;
SynthRenderer::~SynthRenderer() = default;

Result<SynthRenderer> SynthRenderer::open(const std::filesystem::path& soundFont)
{
    // The library would print its complaints on stderr; ours go back to the caller as values.
    // Its table of log functions is one for the process: set once, before any synthesiser.
    static std::once_flag quietLog;
    std::call_once(quietLog, [] {
        for (const int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, nullptr, nullptr);
        }
    });
    std::error_code error;
    if (!std::filesystem::is_regular_file(soundFont, error)) {
        const bool exists = std::filesystem::exists(soundFont, error);
        return Error{ErrorCode::CannotOpen,
                     "cannot read " + displayPath(soundFont) + ": " + (exists ? "not a file" : "no such file")}
            .inFile(displayPath(soundFont))
            .about("soundFont")
            .withValue(exists ? "not a file" : "no such file");
    }
    // FluidSynth takes a file name as UTF-8 (string(), on Windows too; c_str() there is UTF-16).
    if (!hasWholeRiffHeader(soundFont) || !fluid_is_soundfont(soundFont.string().c_str())) {
        return Error{ErrorCode::CannotOpen, displayPath(soundFont) + ": not a SoundFont file"}
            .inFile(displayPath(soundFont))
            .about("soundFont");
    }

    auto parts = std::make_unique<Parts>();
    parts->settings.reset(new_fluid_settings());
    auto* settings = parts->settings.get();
    fluid_settings_setnum(settings, "synth.sample-rate", kSampleRate);
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_settings_setnum(settings, "synth.gain", kGain);
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_settings_setint(settings, "synth.polyphony", 512);
    // Every sample is read as the soundfont is loaded, not as a preset is selected: loading on
    // selection would reach the shared sample cache at every program change and reset, from
    // every rendering thread at once, which the cache does not survive (see libraryStateLock).
    // Loaded whole, the samples are read once and shared by every synthesiser of the process.
    // Not pinned in memory: a full General MIDI font is 150 MB.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 0);
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    {
        std::lock_guard lock(libraryStateLock());
        parts->synth.reset(new_fluid_synth(settings));
        if (!parts->synth || fluid_synth_sfload(parts->synth.get(), soundFont.string().c_str(), 1) == FLUID_FAILED) {
            return Error{ErrorCode::CannotOpen, displayPath(soundFont) + ": not a SoundFont file"}
                .inFile(displayPath(soundFont))
                .about("soundFont");
        }
    }
    return SynthRenderer(std::move(parts));
}

void SynthRenderer::reset()
{
    // A reset releases the voices, but they fade over the next blocks; rendered and thrown away
    // here, so that what one rendering left behind never sounds in the next.
    auto* synth = m_parts->synth.get();
    std::array<float, kBlockFrames * kChannelCount> discard{};
    const auto settle = [&] {
        fluid_synth_system_reset(synth);
        for (std::int64_t done = 0; done < kLongestSettleFrames && fluid_synth_get_active_voice_count(synth) > 0;
             done += kBlockFrames) {
            fluid_synth_write_float(synth, kBlockFrames, discard.data(), 0, kChannelCount, discard.data(), 1,
                                    kChannelCount);
        }
    };
    settle();
    // A voice starts from the level and place the last voice in its slot ended with, and glides
    // from there to its own over its first block; the slots are taken first-free. So a chord of
    // kWarmUpNotes, struck for one block and stopped, leaves the slots any note takes as the same
    // chord left them, whichever sounds this synthesiser rendered before: a sound is the same
    // samples on every thread.
    for (int note = 0; note < kWarmUpNotes; ++note) {
        fluid_synth_noteon(synth, kMelodicChannel, kWarmUpLowestNote + note, 100);
    }
    fluid_synth_write_float(synth, kBlockFrames, discard.data(), 0, kChannelCount, discard.data(), 1, kChannelCount);
    settle();
}

bool SynthRenderer::hasPreset(const Instrument& instrument) const
{
    fluid_sfont_t* font = fluid_synth_get_sfont(m_parts->synth.get(), 0);
    if (font == nullptr) {
        return false;
    }
    return fluid_sfont_get_preset(font, instrument.drums ? kDrumBank : instrument.bank, instrument.program) != nullptr;
}

void SynthRenderer::render(std::vector<float>& out, std::int64_t frames)
{
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(frames) * kChannelCount);
    float* data = out.data() + start;
    fluid_synth_write_float(m_parts->synth.get(), static_cast<int>(frames), data, 0, kChannelCount, data, 1,
                            kChannelCount);
}

Result<std::vector<float>> SynthRenderer::renderNote(const NoteSound& sound)
{
    const auto& instrument = sound.instrument;
    // A drum is struck and left alone; anything else is released where the track releases it.
    // Nothing is heard past a choke's fade.
    const std::int64_t cutFrame = sound.cutFrames ? nearestBlockStart(std::max<std::int64_t>(*sound.cutFrames, 0)) : -1;
    const std::int64_t endFrame = cutFrame >= 0 ? cutFrame + kChokeFadeFrames : kLongestRenderFrames;
    const std::int64_t offFrame =
        std::min(instrument.drums ? 0 : nearestBlockStart(std::max<std::int64_t>(sound.noteFrames, 0)), endFrame);
    if (offFrame > kLongestRenderFrames - kLongestRingOutFrames) {
        return Error{ErrorCode::TooLong, "a keysound would sound for more than an hour"}.withNumber(sound.noteFrames);
    }
    auto* synth = m_parts->synth.get();
    reset();
    const int channel = instrument.drums ? kDrumChannel : kMelodicChannel;
    if (!instrument.drums) {
        fluid_synth_bank_select(synth, channel, instrument.bank);
    }
    fluid_synth_program_change(synth, channel, instrument.program);
    applyControls(synth, channel, sound.controls);

    // Whole blocks only: a part-used block would carry the previous note's samples into this one
    // and start this note late.
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(offFrame + kRingOutQuietFrames + kRingBlockFrames) * kChannelCount);
    fluid_synth_noteon(synth, channel, sound.note, std::min<int>(sound.velocity, 127));
    for (std::int64_t done = 0; done < offFrame; done += kRenderChunkFrames) {
        render(out, std::min(kRenderChunkFrames, offFrame - done));
    }
    if (!instrument.drums) {
        fluid_synth_noteoff(synth, channel, sound.note);
    }
    // The tail: short blocks until the sound has rung out or every voice has ended.
    RingOut ringOut(out);
    for (std::int64_t rung = 0;
         rung < kLongestRingOutFrames && !ringOut.over() && fluid_synth_get_active_voice_count(synth) > 0 &&
         static_cast<std::int64_t>(out.size() / kChannelCount) < endFrame;
         rung += kRingBlockFrames) {
        const std::size_t from = out.size();
        render(out, kRingBlockFrames);
        ringOut.take(std::span<const float>(out).subspan(from));
    }
    if (cutFrame >= 0) {
        fadeFromCut(out, cutFrame);
    }
    trimBelow(out, kRingOutFloor);
    return out;
}

NoteSound SynthRenderer::playedAs(const NoteSound& sound) const
{
    return synthPlayedAs(sound);
}

NoteSound synthPlayedAs(const NoteSound& sound)
{
    // What renderNote takes of the lengths: a drum is never released, and both frames fall on
    // the nearest block start.
    NoteSound played = sound;
    played.noteFrames = sound.instrument.drums ? 0 : nearestBlockStart(std::max<std::int64_t>(sound.noteFrames, 0));
    if (sound.cutFrames) {
        played.cutFrames = nearestBlockStart(std::max<std::int64_t>(*sound.cutFrames, 0));
    }
    return played;
}

Result<std::vector<float>> SynthRenderer::renderEvents(std::span<const TimedEvent> events, std::int64_t tailFrames,
                                                       ProgressSink& progress)
{
    auto* synth = m_parts->synth.get();
    const std::int64_t lastFrame = events.empty() ? 0 : nearestBlockStart(events.back().frame);
    if (lastFrame > kLongestRenderFrames - tailFrames) {
        return Error{ErrorCode::TooLong, "the rendering would last more than an hour"}.withNumber(lastFrame);
    }
    reset();
    // Whole blocks: a part-used block would carry this rendering's samples into the next one.
    const std::int64_t total = roundUpToBlock(lastFrame + tailFrames);
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(lastFrame) * kChannelCount);
    std::int64_t cursor = 0;
    auto renderUpTo = [&](std::int64_t target) {
        while (cursor < target) {
            const std::int64_t frames = std::min(kRenderChunkFrames, target - cursor);
            render(out, frames);
            cursor += frames;
            progress.advance(cursor, total);
            if (progress.stopRequested()) {
                return false;
            }
        }
        return true;
    };

    for (const auto& event : events) {
        if (!renderUpTo(nearestBlockStart(event.frame))) {
            return Error{ErrorCode::Cancelled, "rendering cancelled"};
        }
        sendEvent(synth, event);
    }
    // Let the last notes ring out, stopping as soon as every voice has ended.
    while (cursor < total && fluid_synth_get_active_voice_count(synth) > 0) {
        if (!renderUpTo(std::min(total, cursor + kRenderChunkFrames))) {
            return Error{ErrorCode::Cancelled, "rendering cancelled"};
        }
    }
    trimTrailingSilence(out);
    return out;
}

RingOut::RingOut(std::span<const float> head)
{
    m_heard = std::any_of(head.begin(), head.end(), [](float sample) { return std::fabs(sample) >= kRingOutFloor; });
}

void RingOut::take(std::span<const float> block)
{
    const auto frames = static_cast<std::int64_t>(block.size() / kChannelCount);
    std::int64_t lastLoud = -1;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (std::fabs(block[i]) >= kRingOutFloor) {
            lastLoud = static_cast<std::int64_t>(i / kChannelCount);
        }
    }
    m_heard = m_heard || lastLoud >= 0;
    if (m_heard) {
        m_quietFrames = lastLoud < 0 ? m_quietFrames + frames : frames - 1 - lastLoud;
    }
}

std::filesystem::path defaultSoundFont()
{
    std::error_code error;
    // Windows has no shared soundfont folder: the zip puts one beside the program.
    if (const auto folder = programFolder(); !folder.empty()) {
        return folder / kBundledSoundFont;
    }
    if (std::filesystem::is_regular_file(kFullSoundFont, error)) {
        return kFullSoundFont;
    }
    return kDefaultSoundFont;
}

void trimTrailingSilence(std::vector<float>& interleaved)
{
    // Below half a step of 16-bit PCM a sample is written as 0.
    trimBelow(interleaved, 0.5f / 32768.0f);
}

void trimBelow(std::vector<float>& interleaved, float floor)
{
    std::size_t frames = interleaved.size() / kChannelCount;
    while (frames > 0) {
        const float* frame = interleaved.data() + (frames - 1) * kChannelCount;
        if (std::fabs(frame[0]) >= floor || std::fabs(frame[1]) >= floor) {
            break;
        }
        --frames;
    }
    interleaved.resize(frames * kChannelCount);
}

std::size_t audibleFrames(std::span<const float> interleaved, float floor)
{
    const std::size_t all = interleaved.size() / kChannelCount;
    for (std::size_t frames = all; frames > 0; --frames) {
        const float* frame = interleaved.data() + (frames - 1) * kChannelCount;
        if (std::fabs(frame[0]) >= floor || std::fabs(frame[1]) >= floor) {
            return frames;
        }
    }
    return all;
}

void fadeFromCut(std::vector<float>& interleaved, std::int64_t cutFrame)
{
    const auto frames = static_cast<std::int64_t>(interleaved.size() / kChannelCount);
    const std::int64_t from = std::clamp<std::int64_t>(cutFrame, 0, frames);
    const std::int64_t end = std::min(frames, from + kChokeFadeFrames);
    // 96 dB over the fade: each frame a fixed step down in decibels.
    const double step = std::pow(10.0, -96.0 / 20.0 / static_cast<double>(kChokeFadeFrames));
    double gain = 1;
    for (std::int64_t frame = from; frame < end; ++frame) {
        for (int c = 0; c < kChannelCount; ++c) {
            auto& sample = interleaved[static_cast<std::size_t>(frame * kChannelCount + c)];
            sample = static_cast<float>(sample * gain);
        }
        gain *= step;
    }
    interleaved.resize(static_cast<std::size_t>(end * kChannelCount));
}

}  // namespace zentrowe::audio

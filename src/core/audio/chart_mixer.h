#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/audio/sound_file_reader.h"
#include "core/audio/stereo_sound.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::audio {

// The longest mix made in one go: an hour of stereo floats is 1.3 GB.
inline constexpr double kLongestMixSeconds = 3600;
// A mix whose loudest sample passes this is turned down to it, so that 16-bit output never clips.
inline constexpr float kMixPeak = 0.98F;

// Sounds a caller holds in memory instead of files, found by the stem of a keysound's name: a
// keysound whose sound is held is played from it, not looked for in the folder. Interleaved
// stereo at the mix's rate; called from several threads at once.
class HeldSounds {
public:
    virtual ~HeldSounds() = default;
    virtual bool holds(const std::string& stem) const = 0;
    virtual std::int64_t frames(const std::string& stem) const = 0;
    // Adds frames [from, from + out.size() / 2) of the sound into `out` (frames past its end add
    // nothing).
    virtual void addTo(const std::string& stem, std::int64_t from, std::span<float> out) const = 0;
};

struct MixOptions {
    int sampleRate = 44100;
    double fromSeconds = 0;               // chart time of the mix's first frame
    std::optional<double> lengthSeconds;  // the mix's length; when absent, up to where the last sound ends
    unsigned threads = 0;                 // threads reading sound files; 0: one per core, at most 8
    const HeldSounds* held = nullptr;     // sounds played from memory instead of files
    // Where a keysound file the folder lacks is looked for next, as in the folder (none: empty):
    // a rebuild's staging folder lacks the files it left in the output folder unchanged.
    std::filesystem::path fallbackFolder;
    // The longest mix; a caller that only reads the blocks through (MixBlocks) may allow more.
    double longestSeconds = kLongestMixSeconds;
};

struct ChartMix {
    StereoSound sound;
    // Each keysound name whose file is missing or unreadable, once, in the order first heard:
    // "kick.wav" for a missing file, "kick.wav: <reason>" for one that could not be decoded or
    // lies outside the chart's folder.
    std::vector<std::string> missing;
    // Each keysound name whose sound lasts kLongestSoundSeconds or more: only that much of it is
    // mixed, so a mix can stop before the file's end. In the order first heard.
    std::vector<std::string> cutShort;
    std::size_t filesRead = 0;  // sound files that decoded, whole or in part
    float gain = 1;             // applied to the whole mix to keep its peak within kMixPeak
};

class BlockMix;
struct HeldPlan;

// A mix before it is put together, for a caller that only reads it through once or twice: in
// blocks of a second where sound landed or, when every sound is held in memory, not mixed at all
// until read, each read mixing what it asks for in a small buffer of its own (a long mix then
// takes no memory, and fresh memory is slow to come by).
class MixBlocks {
public:
    MixBlocks(std::unique_ptr<BlockMix> blocks, std::int64_t frames);
    MixBlocks(std::shared_ptr<const HeldPlan> plan, std::int64_t frames);
    MixBlocks(MixBlocks&&) noexcept;
    MixBlocks& operator=(MixBlocks&&) noexcept;
    ~MixBlocks();

    std::int64_t frames() const { return m_frames; }
    // Gives frames [from, to) of the mix in order, in pieces of at most a block, silence as zeros.
    // Several threads may read at once.
    void read(std::int64_t from, std::int64_t to, const SoundBlockSink& take) const;
    // The whole mix as one sound, each block let go as it is copied: nothing is left to read.
    std::vector<float> assemble();

private:
    std::unique_ptr<BlockMix> m_blocks;
    std::shared_ptr<const HeldPlan> m_plan;
    std::int64_t m_frames = 0;
};

struct ChartMixBlocks {
    MixBlocks sound;
    std::vector<std::string> missing;   // as ChartMix's
    std::vector<std::string> cutShort;  // as ChartMix's
    std::size_t filesRead = 0;
};

// One keysound struck at a time of the chart: `keysound` indexes the list of names.
struct KeysoundStrike {
    double seconds = 0;
    std::size_t keysound = 0;
};

// Each strike (in time order) plays its keysound's file from `folder` at its time, until the
// sound ends or the next strike of the same keysound starts it again. Each file is read once,
// only as far as some strike plays it, and each decoded block is added at once wherever it
// sounds, so no sound is held: time and memory follow the sound written, not the files' headers.
// Progress counts files read. Missing, unreadable or outside files are listed, not fatal; a file
// that fails part-way sounds as far as it decoded and is listed too.
// InvalidSetting for a rate of 0 or less, a negative start or one past the last strike, a length
// of 0 or less or one longer than options.longestSeconds; MixTooLong if the strikes sound for
// longer than that; Cancelled if the sink asks to stop (it is polled while reading and mixing).
Result<ChartMix> mixKeysounds(std::span<const KeysoundStrike> strikes, const std::vector<std::string>& names,
                              const std::filesystem::path& folder, const MixOptions& options, ProgressSink& progress);

// mixKeysounds without putting the mix together or turning it down.
Result<ChartMixBlocks> mixKeysoundBlocks(std::span<const KeysoundStrike> strikes, const std::vector<std::string>& names,
                                         const std::filesystem::path& folder, const MixOptions& options,
                                         ProgressSink& progress);

// The strikes of the chart's objects that sound (long notes once, at their start).
std::vector<KeysoundStrike> chartStrikes(const chart::TimedChart& chart);

// mixKeysounds over the chart's objects that sound (long notes once, at their start), each
// playing the "#WAV" file of its code.
Result<ChartMix> mixChart(const chart::TimedChart& chart, const std::filesystem::path& folder,
                          const MixOptions& options, ProgressSink& progress);

}  // namespace zentrowe::audio

#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "core/audio/chart_mixer.h"
#include "core/audio/compact_sound.h"
#include "core/audio/loudness.h"
#include "core/audio/render_pool.h"
#include "core/base/chunk_arena.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/chart_model.h"

namespace zentrowe::workflow {

// How much rendered sound a loudness pass keeps in memory before it writes renders to disk: a
// thousand keysounds with their tails take about 250 MB. With the soundfont's samples and the
// threads' buffers (some 230 MB for a General MIDI font) a build stays under 500 MB.
inline constexpr std::size_t kHeldSoundBytes = std::size_t{192} << 20;

// Brings a build to one loudness: every sound is rendered first and kept, the chart's autoplay
// is mixed from those and measured, and only then is each file encoded, every one with the same
// gain, so the keysounds keep their levels against each other and against the BGM.
// Renders are kept in memory up to a budget, each stretch of a sound as 16-bit samples scaled to
// its own peak: half the memory of floats (taking fresh memory is a noticeable part of a build's
// time), and the rounding stays 96 dB below the stretch's peak, under the step of any 16-bit
// file the gain can make. Past the budget renders wait as 32-bit float WAV files in a folder of
// their own, so a song of any size fits.
class LoudnessPass final {
public:
    LoudnessPass(std::filesystem::path spillFolder, std::size_t heldBytes = kHeldSoundBytes)
        : m_folder(std::move(spillFolder)), m_heldBytes(heldBytes)
    {
    }

    // A writer for the render pool, safe to call from several threads: keeps the sound for
    // `target` in memory, or, past the budget, in the spill folder named by the target's stem
    // and ".wav". WriteFailed if it cannot. The pass must outlive the writer.
    audio::SoundWriter keeper();

    // Mixes what `chart` plays (every keysound at each of its objects, the BGM files as placed)
    // from the kept sounds, and gives the gain that meets `target` and the measure the mix then
    // has. No file is read but a render spilled to disk; a keysound neither kept nor spilled is
    // silence. The refusals of audio::mixKeysoundBlocks; Cancelled if the sink asks to stop.
    Result<audio::LoudnessGain> measure(const chart::Chart& chart, const audio::LoudnessTarget& target,
                                        unsigned threads, ProgressSink& progress) const;

    // Encodes each target from its kept sound through `writer`, `gainDb` applied, up to its last
    // frame that reaches audio::kRingOutFloor at that gain (the tail below it is inaudible, and
    // a player stops at the file's end anyway: the encoder is spared it), on up to
    // `threads` threads (0: one per core, at most audio::kMostRenderThreads); each spilled file is
    // removed once encoded (the memory of kept sounds goes with the pass). Progress in files. The
    // first failure is returned; Cancelled if the sink asks to stop.
    Status encode(std::span<const std::filesystem::path> targets, double gainDb, const audio::SoundWriter& writer,
                  unsigned threads, ProgressSink& progress);

    // The sounds kept in memory, each as encode() hands it to the writer with `gainDb` applied,
    // for a mix of the files just encoded that need not decode them again (decoding a thousand
    // keysounds costs a tenth of a build), as long as its file; a sound spilled to disk is not
    // held, and the mix reads its encoded file. Valid while the pass lives.
    std::unique_ptr<audio::HeldSounds> soundsAtGain(double gainDb) const;

private:
    class Kept;
    const audio::CompactSound* find(const std::string& stem) const;
    // The frames of the held sound of `stem` that its file holds: fewer once encode() cut its tail.
    std::int64_t heldFrames(const std::string& stem) const;

    std::filesystem::path spillPath(const std::filesystem::path& target) const;

    std::filesystem::path m_folder;
    std::size_t m_heldBytes;
    ChunkArena m_memory;  // the kept sounds, let go with the pass
    mutable std::mutex m_mutex;
    std::map<std::string, audio::CompactSound> m_held;    // by the target's stem
    std::size_t m_heldSoFar = 0;                          // bytes, counted as sounds are taken
    std::map<std::string, std::int64_t> m_encodedFrames;  // by the target's stem, as encode() wrote them
};

}  // namespace zentrowe::workflow

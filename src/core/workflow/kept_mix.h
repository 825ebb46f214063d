#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/audio/loudness.h"
#include "core/audio/render_pool.h"
#include "core/audio/sound_file_writer.h"
#include "core/chart/chart_model.h"
#include "core/workflow/kept_sounds.h"
#include "core/workflow/sound_length_rule.h"

namespace zentrowe::workflow {

// Everything a build's rendering, loudness pass and preview depend on: which sound every job
// makes and where it goes, where the mix plays each file, the loudness aimed for, how the files
// and the preview are encoded.
struct MixInputs {
    std::span<const audio::RenderJob> jobs;
    // Every sound the set's charts play (soundingChart), with no keysound taken for silent: which
    // are silent follows from the sounds themselves.
    const chart::Chart* sounding = nullptr;
    audio::LoudnessTarget target;
    audio::SoundFormat format = audio::SoundFormat::OggVorbis;
    double quality = 0;
    std::size_t heldSoundBytes = 0;  // renders past it are mixed from their spilled files
    double previewFromSeconds = 0;
};

// What those inputs came to: a function of them alone, so a build with the same inputs can take
// it as it is instead of reading and mixing every render again.
struct MixFacts {
    std::set<std::string> silentNames;     // the keysound files that rendered as silence
    audio::LoudnessGain gain;              // exactly as measured: the same bits
    std::vector<LongSoundFile> longFiles;  // by file name alone
    // Every sound file and the preview, by file name, with the key the kept sounds encoded it under.
    std::vector<std::pair<std::string, std::string>> encoded;
};

// The key of a build's mix with `inputs`; the jobs' sounds are named as `kept` keeps them.
std::string mixKey(const KeptSounds& kept, const MixInputs& inputs);

// The facts as bytes for the cache, and back; none for bytes that do not read as facts whole.
std::vector<std::uint8_t> mixFactsBytes(const MixFacts& facts);
std::optional<MixFacts> readMixFacts(std::span<const std::uint8_t> bytes);

// A mix taken from the kept sounds: its facts and the bytes of every file it names, each renamed
// for its place in `stage`.
struct RecalledMix {
    MixFacts facts;
    std::vector<std::pair<std::filesystem::path, std::vector<std::uint8_t>>> files;
};

// The mix kept under `key`, when its facts and every file they name are still kept (an entry
// trimmed away or damaged since: none, and the build mixes again). Counts the mix as taken.
std::optional<RecalledMix> recallMix(KeptSounds& kept, const std::string& key, const std::filesystem::path& stage);

// Keeps what a build that mixed came to under `key`, when the kept sounds' writers encoded every
// one of `files` (the sound files and the preview); else nothing, as the mix could not be recalled.
void keepMix(KeptSounds& kept, const std::string& key, MixFacts facts, std::span<const std::filesystem::path> files);

}  // namespace zentrowe::workflow

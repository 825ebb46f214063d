#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/sound_file_writer.h"
#include "core/audio/synth_renderer.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/conversion.h"

namespace zentrowe::workflow {

inline constexpr const char* kBgmStem = "bgm";
inline constexpr const char* kPreviewFileName = "preview.ogg";

// What one-step building asks for: the conversion as Start runs it, then how to render.
struct BuildRequest {
    ConversionRequest conversion;
    std::filesystem::path soundFont = audio::kDefaultSoundFont;
    audio::SoundFormat format = audio::SoundFormat::OggVorbis;
    double quality = 0.5;                // OGG Vorbis, 0 to 1
    bool backgroundMusic = true;         // render the other tracks into bgm.ogg
    std::string title;                   // #TITLE; empty: the MIDI file's base name
    std::optional<std::string> artist;   // #ARTIST; none: no line
    unsigned threads = 0;                // rendering threads; 0: one per core
};

// What a finished build wrote, and what it left out and why.
struct BuildOutcome {
    ConversionOutcome conversion;
    std::vector<std::filesystem::path> keysoundFiles;  // in keysound table order
    std::optional<std::filesystem::path> bgmFile;
    std::optional<std::filesystem::path> previewFile;  // "preview.ogg"
    std::vector<std::string> skipped;                  // one sentence each: "no BGM: ..."
};

// Converts as Start does ("K-Midi.mid" written and read back, the chart made but not yet
// written), renders every keysound on its own with the soundfont (the instrument in force at its
// first note, the drum kit on channel index 9 and in percussion mode), as long as its note at the
// tempo of "K-Midi.mid" plus the gap, trailing silence trimmed, named after the chart's stem with
// the format's lower-case extension; renders the other tracks into bgm.ogg (or .wav) unless asked
// not to; then writes the chart once, naming the files written: #PLAYER, #TITLE, #ARTIST, #BPM and
// #PREVIEW "preview.ogg" in its header (after "#BASE 62" in base 62), the BGM on channel 01 of
// measure 000 under the next free code (a bmson chart: a sound channel of its own and the preview
// as preview_music); and last "preview.ogg", mixed from the finished folder (20 seconds from the
// first note, faded). Every file goes through a temporary file renamed into place. Progress is in
// files (the conversion's bytes first).
// Refusals before anything is written: CannotOpen (soundfont missing or not a SoundFont, source
// unreadable) and those of runConversion. After the conversion, Cancelled or WriteFailed say
// which files were written whole; the chart is then not written (an earlier one stays).
Result<BuildOutcome> runBuild(const BuildRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow

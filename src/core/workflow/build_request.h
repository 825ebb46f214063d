#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "core/audio/render_pool.h"
#include "core/audio/sound_file_writer.h"
#include "core/audio/synth_renderer.h"
#include "core/base/file_cache.h"
#include "core/chartset/chart_set.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/conversion.h"
#include "core/workflow/loudness_pass.h"

namespace zentrowe::workflow {

inline constexpr const char* kBgmStem = "bgm";
inline constexpr const char* kPreviewFileName = "preview.ogg";
// #GENRE when none is asked for: a MIDI file names no genre, and an instrument family names the
// keysounds rather than the song; players list songs by genre, and a missing one reads as broken.
inline constexpr const char* kDefaultGenre = "MIDI";

// How a BMS chart's header texts are written (bmson is UTF-8 by its format, and keeps them as
// they are).
enum class ChartText {
    // Shift_JIS, as most players read BMS text: a character without a form there becomes its
    // Japanese kanji form (KanjiForms); a text with neither stays UTF-8.
    ShiftJis,
    // Shift_JIS where every character has a form there, else UTF-8: the texts as given.
    Utf8,
};

// What one-step building asks for: the conversion as Start runs it, then how to render.
struct BuildRequest {
    ConversionRequest conversion;
    std::filesystem::path soundFont = audio::defaultSoundFont();
    audio::SoundFormat format = audio::SoundFormat::OggVorbis;
    double quality = 0.5;                  // OGG Vorbis, 0 to 1
    BgmMode bgm = BgmMode::Keysounds;      // how the other tracks are rendered
    std::optional<double> loudness = -14;  // LUFS the autoplay mix is brought to; none: the synthesiser's fixed gain
    std::string title;                     // #TITLE; empty: the song's own name (song::readSongCredits)
    std::optional<std::string> artist;     // #ARTIST; none: the author the song names, if any
    ChartText text = ChartText::ShiftJis;  // how a BMS chart writes its header texts
    std::optional<double> previewFrom;     // seconds into the song the preview starts; none: its hook
    chartset::ChartSetRequest charts;      // the charts written, all naming the same sound files
    unsigned threads = 0;                  // rendering threads; 0: one per core (at most audio::kMostRenderThreads)
    std::size_t heldSoundBytes = kHeldSoundBytes;  // renders the loudness pass keeps in memory before it spills
    // Base-36 codes that run out: the keysounds a listener cannot tell apart are merged, with the
    // mildest of kReliefSteps that gives every file a code; false, or none fitting, refuses the
    // build before anything is rendered, naming the ways that fit. Base 62 only when asked for.
    bool mergeToFit = true;
    bool replace = false;          // replace another song (or track) the output folder holds
    bool replaceUnlisted = false;  // replace files no build made (the manifest does not list) under names it writes
    // Where renders and encoded files are kept from one build to the next (KeptSounds; the faces
    // pass the user's cache folder, userCacheFolder); none: every sound is made again.
    std::optional<std::filesystem::path> cacheFolder;
    std::uintmax_t cacheBytes = kDefaultCacheBytes;  // what the kept sounds may take before the oldest go
};

}  // namespace zentrowe::workflow

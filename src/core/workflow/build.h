#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/loudness.h"
#include "core/audio/render_pool.h"
#include "core/audio/sound_file_writer.h"
#include "core/audio/synth_renderer.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/chart_set.h"
#include "core/workflow/conversion.h"
#include "core/workflow/loudness_pass.h"
#include "core/workflow/silent_keysounds.h"

namespace zentrowe::workflow {

inline constexpr const char* kBgmStem = "bgm";
inline constexpr const char* kPreviewFileName = "preview.ogg";

// What one-step building asks for: the conversion as Start runs it, then how to render.
struct BuildRequest {
    ConversionRequest conversion;
    std::filesystem::path soundFont = audio::defaultSoundFont();
    audio::SoundFormat format = audio::SoundFormat::OggVorbis;
    double quality = 0.5;                // OGG Vorbis, 0 to 1
    BgmMode bgm = BgmMode::Slices;       // how the other tracks are rendered
    std::optional<double> loudness = -14;  // LUFS the autoplay mix is brought to; none: the synthesiser's fixed gain
    std::string title;                   // #TITLE; empty: the song's own name (chartTitle)
    std::optional<std::string> artist;   // #ARTIST; none: the song's copyright text, if any
    ChartSetRequest charts;              // the charts written, all naming the same sound files
    unsigned threads = 0;                // rendering threads; 0: one per core (at most audio::kMostRenderThreads)
    std::size_t heldSoundBytes = kHeldSoundBytes;  // renders the loudness pass keeps in memory before it spills
    bool replace = false;                // replace a chart an earlier build made from another song or track
};

// A preset the song asks for that the soundfont lacks.
struct MissingInstrument {
    audio::Instrument instrument;
    std::optional<audio::Instrument> playedBy;  // what the synthesiser plays instead; none: silence
    bool inBgm = false;                         // asked for by the BGM's tracks, not the keysounds
};

// One chart of the set as written.
struct BuiltChart {
    std::filesystem::path path;
    convert::ChartReport report;
};

// What a finished build wrote, and what it left out and why.
struct BuildOutcome {
    ConversionOutcome conversion;                      // its chartPath: the set's first chart
    std::vector<BuiltChart> charts;                    // easiest first
    std::vector<std::filesystem::path> keysoundFiles;  // in keysound table order
    std::vector<std::filesystem::path> bgmFiles;       // bgm.ogg, or the slices in order
    std::optional<std::filesystem::path> previewFile;  // "preview.ogg"
    std::vector<SkipReason> skipped;
    bool base62 = false;                               // the codes' base, for wording NoCodeForBgm
    std::size_t bgmSlicesWanted = 0;                   // with NoCodesForSlices: how many there would be
    std::optional<audio::LoudnessGain> loudness;       // the gain every file got and the mix's measure; none: off
    std::vector<MissingInstrument> missingInstruments;
    std::vector<SilentKeysound> silentKeysounds;       // rendered as silence: not written, their notes in no chart
    std::vector<std::filesystem::path> removedFiles;   // an earlier build's files this one no longer needs
};

// What a build renders and writes with; tests put stand-ins here.
struct BuildServices {
    audio::RendererFactory renderers;  // empty: the synthesiser with request.soundFont
    audio::SoundWriter writer;         // empty: audio::writeSoundFile in request.format
};

// Converts as Start does, makes the set of charts request.charts asks for (makeChartSet: each
// NAME_<letter>.bms, every note its lanes leave out on the background channel), renders every
// keysound on its own with the soundfont and the channel state its first note starts with
// (keysound::KeysoundStates: notes alike but for a state the track changes are keysounds of their
// own, named with a suffix), released after its sounding length at the tempo of "K-Midi.mid" and
// rung out, named after the chart's stem in lower-case extension; renders the other tracks as
// request.bgm asks (slices bgm-001.ogg... at their measures, or one bgm.ogg at measure 000, under
// the codes after the keysounds'; see planBgm); with a loudness asked for, measures the autoplay
// mix of everything before encoding and gives every file the one gain that brings it there
// (LoudnessPass); completes each chart with #PLAYER, #TITLE, #ARTIST, #BPM, #VOLWAV 100 and
// #PREVIEW at the top and the BGM on channel 01, each written once after the sound files and
// naming them as written ("#BASE 62" first in base 62; a bmson chart gives the BGM a sound
// channel of its own and the preview as preview_music); and mixes "preview.ogg" (20 seconds from
// the first note, faded) from the finished files.
//
// All or nothing: the output folder is locked (FolderBusy if another pass keeps it) and every
// file is written into a staging folder inside it; only when all are whole do they move in, the
// charts last, with a manifest (kBuildManifestFileName) of what the build made, a record per chart.
// Files an earlier build of the same charts made and this one does not are then removed, and so
// are the earlier charts of the song's set (belongsToChartSet) this build does not write again,
// such as a single chart NAME.bms or a NAME_X.bms the track no longer needs; files no build made
// are never touched. Any refusal, failure or cancel leaves the folder as it was.
// Refusals: CannotOpen (soundfont missing or not a SoundFont, source unreadable); those of
// runConversion; WouldReplaceChart when a chart of the set an earlier build made from another song
// or track would be replaced and request.replace is not set; SilentRecording when every keysound
// renders as silence (one that alone does is left out with its notes: silentKeysounds); TooLong
// for one BGM file (BgmMode::One; a slice is rendered on its own) or a keysound past an hour;
// OutOfMemory; WriteFailed; Cancelled. Progress goes through the stages Converting (bytes),
// Rendering (files), Mixing (spilled files read, with a loudness), Rendering again (files encoded)
// and Previewing.
Result<BuildOutcome> runBuild(const BuildRequest& request, ProgressSink& progress, const BuildServices& services = {});

// True if building would replace a chart an earlier build made from another song or track:
// what the window asks about before it builds.
bool wouldReplaceAnotherChart(const BuildRequest& request);

}  // namespace zentrowe::workflow

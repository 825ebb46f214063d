#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/loudness.h"
#include "core/audio/render_pool.h"
#include "core/audio/sound_file_writer.h"
#include "core/audio/synth_renderer.h"
#include "core/base/file_system.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/base/staging_folder.h"
#include "core/chartset/chart_set.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/build_findings.h"
#include "core/workflow/build_manifest.h"
#include "core/workflow/build_request.h"
#include "core/workflow/conversion.h"
#include "core/workflow/double_play_parts.h"
#include "core/workflow/followed_parts.h"
#include "core/workflow/kept_sounds.h"
#include "core/workflow/loudness_pass.h"
#include "core/workflow/part_set_plan.h"
#include "core/workflow/silent_keysounds.h"
#include "core/workflow/sound_length_rule.h"

namespace zentrowe::workflow {

// One chart of the set as written.
struct BuiltChart {
    std::filesystem::path path;
    chartset::ChartReport report;
};

// What a finished build wrote, and what it left out and why.
struct BuildOutcome {
    ConversionOutcome conversion;                      // its chartPath: the set's first chart
    std::vector<BuiltChart> charts;                    // easiest first
    std::vector<std::filesystem::path> keysoundFiles;  // in keysound table order
    std::vector<std::filesystem::path> bgmFiles;       // bgm.ogg, or the slices in order
    std::optional<std::filesystem::path> previewFile;  // "preview.ogg"
    std::vector<SkipReason> skipped;
    bool base62 = false;                          // the codes' base, for wording NoCodeForBgm
    std::size_t bgmSlicesWanted = 0;              // with NoCodesForSlices: how many there would be
    std::optional<audio::LoudnessGain> loudness;  // the gain every file got and the mix's measure; none: off
    std::vector<MissingInstrument> missingInstruments;
    std::vector<SilentKeysound> silentKeysounds;      // rendered as silence: not written, their notes in no chart
    std::vector<std::filesystem::path> removedFiles;  // an earlier build's files this one no longer needs
    std::vector<std::filesystem::path>
        replacedFiles;                               // files no build made that request.replaceUnlisted let it replace
    base::Recovery recovery = base::Recovery::None;  // what became of a killed build's unfinished commit
    std::optional<base::SetAsideStaging> setAside;   // with Recovery::SetAside: what was not obeyed
    std::int32_t leadInMeasures = 0;                 // empty measures put before the chart's first object
    double firstSoundSeconds = 0;  // when the charts first sound, the lead-in included: under kLeastLeadInSeconds
                                   // only where a BMS chart's 999 measures at the first tempo are too short
    std::vector<LongSoundFile> longSoundFiles;  // files of a minute or more (a single BGM), as written
    std::size_t backgroundKeysoundFiles = 0;  // of keysoundFiles, those of the other tracks' notes (BgmMode::Keysounds)
    std::size_t silentBackgroundKeysounds = 0;  // of silentKeysounds, the other tracks' (listed last)
    std::int64_t backgroundNotes = 0;           // the other tracks' notes the charts play as keysounds
    std::uintmax_t soundFileBytes = 0;          // the keysound and BGM files together, as written
    // With BuildRequest::mergeToFit: the keysounds merged into others so that every file has a
    // code (how many fewer there are), and the steps they were merged with; 0 when all fitted.
    std::size_t mergedKeysounds = 0;
    convert::KeysoundMerge mergedWith;
    std::vector<FollowedStretch> followed;  // where the chosen parts rest and the lanes take another part
    PartSetFindings partSets;               // with a set per part: parts merged, left out or added
    KeptSoundsReport keptSounds;            // with request.cacheFolder: what was taken from it, and any trouble
    // With double play asked for: why the charts are single play instead.
    std::optional<SinglePlayReason> singlePlay;
    // Everything above that a face tells the user besides the files written (collectBuildFindings):
    // what the faces word, one list for both.
    std::vector<Finding> findings;
};

// What a build renders and writes with; tests put stand-ins here.
struct BuildServices {
    audio::RendererFactory renderers;  // empty: the synthesiser with request.soundFont
    // Empty: encoded in request.format (taken from the kept sounds where they hold it) and staged
    // through fileSystem.
    audio::SoundWriter writer;
    // The OGG preview's mix; empty: encoded as audio::writePreviewFile encodes it, staged alike.
    audio::SoundWriter previewWriter;
    // What every staged file, the staging folder and the commit go through; none: the real one.
    FileSystem* fileSystem = nullptr;
};

// Converts as Start does, makes the set of charts request.charts asks for (makeChartSet: each
// NAME_<letter>.bms, every note its lanes leave out on the background channel), renders every
// keysound on its own with the soundfont and the channel state its first note starts with
// (keysound::KeysoundStates: notes alike but for a state the track changes are keysounds of their
// own, named with a suffix), released after its sounding length at the tempo of "K-Midi.mid" and
// rung out, named after the chart's stem in lower-case extension; renders the other tracks as
// request.bgm asks (every note a keysound of its own at its tick, collectBackgroundKeysounds; or
// slices bgm-001.ogg... at their measures, or one bgm.ogg at measure 000; under the codes after
// the keysounds', a file under one code in every chart and only where placed; past the last
// base-36 code, keysounds merged as request.mergeToFit allows; see planBgm),
// every object at its note's exact tick (a BMS line with the slots its objects need,
// chart::fitLineSlots; a chord's lane notes together); with a loudness asked for, measures the autoplay
// mix of everything before encoding and gives every file the one gain that brings it there
// (LoudnessPass); completes each chart with #PLAYER, #TITLE, #ARTIST, #GENRE (kDefaultGenre when
// none is asked for), #BPM, #VOLWAV 100 and #PREVIEW at the top and the BGM on channel 01, each
// written once after the sound files and naming them as written ("#BASE 62" first in base 62; a
// bmson chart gives the BGM a sound channel of its own, the preview as preview_music, judge_rank
// in bmson's percent and total 100, the player's own gauge); BMS text is Shift_JIS when every
// text and file name fits, else UTF-8. Every chart starts with the empty measures leadInMeasures
// asks for, everything (BGM, tempo changes) moved by them. No BGM slice lasts past
// kLongestSliceFileFrames; a single BGM of a minute or more is listed in longSoundFiles. Last it
// mixes "preview.ogg" (kFolderPreviewSeconds from request.previewFrom, else from the song's hook,
// hookStartSeconds, faded) from the finished files, or, with a loudness asked for, from the renders
// the pass kept at the gain they were encoded with (no file is decoded again).
//
// All or nothing: the output folder is locked (FolderBusy if another pass keeps it) and every
// file is written into a staging folder inside it; only when all are whole do they move in, the
// charts last, with a manifest (kBuildManifestFileName) of what the build made, a record per chart.
// Files an earlier build of the same charts made and this one does not are then removed, and so
// are the earlier charts of the song's set (belongsToChartSet) this build does not write again,
// such as a single chart NAME.bms or a NAME_X.bms the track no longer needs; files no build made
// are never touched. Any refusal, failure or cancel leaves the folder as it was. A commit a killed
// build left unfinished is finished or undone first (StagingFolder, outcome.recovery).
// A folder holds one song, as a player takes a folder for one song: where the manifest records
// charts of another song (told by songFingerprint and the file's name, not by where it lies) or
// of another track, the build is refused before anything is rendered, or with request.replace
// those charts and the files their records list are removed once the new ones are in.
// Refusals: CannotOpen (soundfont missing or not a SoundFont, source unreadable); those of
// runConversion; WouldReplaceChart, naming the other song's file and track, when the folder
// holds another song and request.replace is not set, and, before anything is rendered, when a
// file the build writes would replace one no build made (the manifest does not list it; subject
// "file") unless request.replaceUnlisted is set (outcome.replacedFiles then names them), or a
// folder (subject "folder", whatever the request says); SilentRecording when every keysound
// renders as silence (one that alone does is left out with its notes: silentKeysounds); TooLong
// for one BGM file (BgmMode::One; a slice is rendered on its own) or a keysound past an hour;
// OutOfMemory; WriteFailed; Cancelled. A failure once the commit has begun says in its message
// which files the folder holds. Progress goes through the stages Converting (note starts and ends),
// Rendering (files), Mixing (spilled files read, with a loudness), Rendering again (files encoded)
// and Previewing.
Result<BuildOutcome> runBuild(const BuildRequest& request, ProgressSink& progress, const BuildServices& services = {});

// The record of another song or track in the output folder that building would replace (the
// first, where several are): what the window asks about before it builds. None if the folder
// holds nothing of another song, or the MIDI file cannot be read, or another pass holds the
// folder past the lock's wait (the build then says why).
std::optional<BuildRecord> wouldReplaceAnotherChart(const BuildRequest& request);

}  // namespace zentrowe::workflow

#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/audio/song_sequence.h"
#include "core/base/file_system.h"
#include "core/base/result.h"
#include "core/chartset/chart_set.h"
#include "core/chartset/part_sets.h"
#include "core/keysound/keysound_states.h"
#include "core/workflow/background_keysounds.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/build_manifest.h"
#include "core/workflow/build_request.h"
#include "core/workflow/conversion.h"
#include "core/workflow/prepared_song.h"

namespace zentrowe::workflow {

// The longest release a BGM file is let ring, in whole blocks of the synthesiser.
inline constexpr std::int64_t kBgmTailFrames =
    (30LL * audio::kSampleRate + audio::kBlockFrames - 1) / audio::kBlockFrames * audio::kBlockFrames;

// Everything a build will render and write, known before anything is rendered.
struct BuildPlan {
    std::filesystem::path stage;                   // where every file is written first
    std::string chartName;                         // the set's name, as convert names its chart
    std::span<const audio::TimedEvent> bgmEvents;  // the prepared song's other parts (empty without a BGM)
    std::vector<BgmFile> bgmFiles;                 // the longest first
    std::size_t bgmSlicesWanted = 0;               // with NoCodesForSlices: how many there would be
    std::vector<SkipReason> skipped;
    std::vector<audio::RenderJob> keysoundJobs;    // in keysound table order
    std::vector<audio::RenderJob> jobs;            // the BGM's, then the keysounds'
    std::vector<std::string> keysoundNames;        // the keysound files, in table order
    std::set<std::filesystem::path> sliceTargets;  // BGM slices, held to the event rule
    std::vector<chartset::SetChart> charts;        // easiest first
    // With BgmMode::Keysounds: the other tracks' notes as keysounds, their files (per keysound,
    // and the render jobs in table order, also in `jobs` and `keysoundNames`) and their first code.
    BackgroundKeysounds background;
    std::vector<std::string> backgroundFileNames;
    std::vector<audio::RenderJob> backgroundJobs;
    chart::ChartCode backgroundFirstCode = 0;
    std::set<std::string> replaceable;             // names the build may replace in the folder
    std::vector<std::filesystem::path> replacing;  // files no build made that it replaces
};

// What rendering a plan gave, beside the plan, which stays as it was made.
struct RenderResult {
    std::set<std::string> silentNames;                 // the keysound files that rendered as silence: never written
    std::vector<std::string> keysoundNames;            // the keysound files written, in table order
    std::vector<std::filesystem::path> encodeTargets;  // every file written: the BGM's, then the keysounds'
    std::vector<chartset::SetChart> charts;            // the set without the silent keysounds' notes, easiest first
};

// What the build of `conversion` (made from the `prepared` song with the keysound channel `states`,
// the other tracks' notes as `background` keysounds with BgmMode::Keysounds) renders and writes
// into `stage`, and every refusal that needs no rendering: keysounds past the last code of a BMS
// chart (CodesExhausted, see codesExhausted), a background note past measure 999 of a BMS chart
// (MeasureOutOfRange), a BGM of an hour or more (BgmMode::One; slices are rendered each on its
// own), keysound file names past the file system's limit with their temporary suffix, and output
// names taken by a folder or by a file no build made (see replaceableNames). Reads nothing but
// the folder's entries through `fileSystem`; writes nothing. The plan's BGM events are the
// prepared song's: `prepared` outlives the plan.
Result<BuildPlan> planBuild(const BuildRequest& request, const PreparedSong& prepared,
                            const ConversionOutcome& conversion, const keysound::KeysoundStates& states,
                            BackgroundKeysounds background, const BuildManifest& manifest,
                            const std::filesystem::path& stage, const FileSystem& fileSystem);

// The first record of the folder's manifest built from another song, or from another track of
// this one: a folder holds one song, as players take a folder for one song, and two songs'
// keysounds, BGM and preview would share names with other content.
const BuildRecord* otherSongsRecord(const BuildManifest& manifest, const BuildRequest& request,
                                    std::string_view songHash);

// The refusal to build into a folder that holds another song's charts.
Error anotherSongsFolder(const BuildRecord& other, const BuildRequest& request);

}  // namespace zentrowe::workflow

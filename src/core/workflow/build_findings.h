#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/base/file_cache.h"
#include "core/base/staging_folder.h"
#include "core/chartset/note_grid.h"
#include "core/convert/keysound_table.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/double_play_parts.h"
#include "core/workflow/silent_keysounds.h"
#include "core/workflow/sound_length_rule.h"

namespace zentrowe::workflow {

// How much a finding matters: a warning is something the user would want changed; a notice
// only says what the build did to the folder.
enum class FindingSeverity { Notice, Warning };

// Every kind of thing a finished build tells besides what it wrote. Each face words them in its
// own language; the figures each carries are named beside it.
enum class FindingCode {
    CommitCompleted,        // no figures: a killed build's commit was finished
    CommitUndone,           // no figures: a killed build's commit was undone
    StagingSetAside,        // base::SetAsideStaging
    BgmInOneFile,           // BgmSkip: the slices had no codes, the BGM is one file
    NoCodeForBgm,           // BgmSkip: no BGM, the keysounds took every code
    NoOtherNotes,           // BgmSkip: no BGM, the other tracks have no notes
    InstrumentMissing,      // MissingInstrument
    SoundOver60s,           // LongSoundFile: a file events refuse
    KeysoundSilent,         // SilentKeysound: its notes are in no chart
    CodesMerged,            // CodesMerging: keysounds merged so that every file has a code
    ShortLeadIn,            // double: when the charts first sound, in seconds
    AllNotesOnDrumChannel,  // no figures
    EarlierFileRemoved,     // std::filesystem::path: an earlier build's file no longer named
    UnlistedFileReplaced,   // std::filesystem::path: a file no build made, replaced as asked
    PlayedIn,               // PlayedInGrid: the track's notes fall off every grid
    KeptSoundsTrouble,      // CacheTrouble: kept sounds damaged or not writable, made anew
    SinglePlayMade,         // SinglePlayReason: double play was asked for, single-play charts were made
};

// A preset the song asks for that the soundfont lacks.
struct MissingInstrument {
    audio::Instrument instrument;
    std::optional<audio::Instrument> playedBy;  // what the synthesiser plays instead; none: silence
    bool inBgm = false;                         // asked for by the BGM's tracks, not the keysounds
};

// Why the BGM is one file or none, with what a face needs to say how to get it back.
struct BgmSkip {
    bool base62 = false;           // the charts' codes end at zz rather than ZZ
    std::size_t slicesWanted = 0;  // with BgmInOneFile: the slices there would be
};

// Keysounds merged into others past the last code: how many fewer, and the steps merged with.
struct CodesMerging {
    std::size_t keysounds = 0;
    convert::KeysoundMerge steps;
};

// A track played in rather than written to the beat, and the grid asked for (0: none).
struct PlayedInGrid {
    chartset::GridFit fit;
    std::uint32_t quantizeGrid = 0;
};

using FindingFigures =
    std::variant<std::monostate, double, std::filesystem::path, base::SetAsideStaging, BgmSkip, MissingInstrument,
                 LongSoundFile, SilentKeysound, CodesMerging, PlayedInGrid, CacheTrouble, SinglePlayReason>;

// One thing a build tells: its code, how much it matters, and its figures (the alternative the
// code names above).
struct Finding {
    FindingCode code = FindingCode::AllNotesOnDrumChannel;
    FindingSeverity severity = FindingSeverity::Warning;
    FindingFigures figures;

    template <typename T>
    const T& as() const
    {
        return std::get<T>(figures);
    }
};

// The severity every finding of `code` has.
FindingSeverity severityOf(FindingCode code);

struct BuildOutcome;

// Everything `outcome` tells besides what it wrote, in the order a reader takes it in: what
// became of a killed build first, then the BGM, the soundfont, the files, the notes left out,
// the codes, the lead-in, the track, the files the commit removed or replaced, and last how the
// track keeps to the beat (`quantizeGrid`: the grid the build moved the notes to, 0 for none).
// One finding per file, instrument or silent keysound, in the outcome's order.
std::vector<Finding> collectBuildFindings(const BuildOutcome& outcome, std::uint32_t quantizeGrid);

}  // namespace zentrowe::workflow

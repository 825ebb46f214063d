#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/base/file_cache.h"
#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::workflow {

enum class AuditSeverity : std::uint8_t {
    Error,    // players or events refuse the folder, or a note plays wrong
    Warning,  // players cope, but the release checklist asks for it to be fixed
    Notice,   // worth knowing; nothing to fix
};

// What a finding is about, one value per item of the release checklist.
enum class AuditCheck : std::uint8_t {
    NoChart,                // a folder without a chart
    UnreadableChart,        // a file named as a chart that no reader takes
    ChartLine,              // a line the chart reader left out
    TextEncoding,           // chart text not in Shift_JIS
    MissingHeader,          // #TITLE, #ARTIST, #GENRE, #PLAYER, #RANK, #DIFFICULTY, #PLAYLEVEL, #TOTAL
    HeaderOutOfRange,       // a header value outside what players read
    PlayerSide,             // #PLAYER against the sides the notes use
    UndefinedCode,          // an object whose code has no definition
    DuplicateDefinition,    // a code defined twice
    UnusedDefinition,       // a code defined and never placed
    Base62Codes,            // "#BASE 62", which many players read without case or not at all
    MissingFile,            // a file the chart names that the folder lacks
    UnusedFile,             // a file no chart uses
    BookkeepingFile,        // this program's own files, which `package` leaves out
    NonAsciiFileName,       // a name that other systems' unzip tools and players mangle
    NamesDifferInCaseOnly,  // files one unzipped on Windows or macOS would make one
    LongSound,              // a sound of 60 s or more
    SilentSound,            // a sound without a sample above silence
    UndecodableSound,       // a sound file no decoder reads
    SoundsTooLarge,         // the sounds weigh more than events accept
    NoteInFirstMeasure,     // notes in measure 000, before players are ready
    StackedNotes,           // two notes at one position of one lane
    UnendedLongNote,        // a long note without its end
    NoteInLongNote,         // a note inside a long note of its lane
    SoundPlacedTwice,       // one sound started twice at one moment
    NotesWithoutKeysound,   // the share of notes that play no sound
    LongEnding,             // more than 30 s of sound after the last note
    DifferentKeysoundSets,  // charts of one folder that load different sounds
    BmsonValueOutOfScale,   // a bmson value written in BMS's scale
};

// One line of the audit: "warning: song.bms: #TOTAL is missing ...".
struct AuditFinding {
    AuditSeverity severity = AuditSeverity::Notice;
    AuditCheck check = AuditCheck::NoChart;
    std::filesystem::path file;  // relative to the folder audited; empty for the folder as a whole
    std::string message;
};

// What an audit found, and what a package of the folder would hold.
struct AuditReport {
    std::filesystem::path folder;
    std::vector<AuditFinding> findings;            // most severe first; in the order found within a severity
    std::vector<std::filesystem::path> charts;     // relative to the folder, sorted
    std::vector<std::filesystem::path> usedFiles;  // the files the charts use, relative, sorted
    std::vector<std::string> titles;               // each readable chart's title, bytes as written

    bool hasError() const;
};

// "error", "warning" or "notice".
const char* severityWord(AuditSeverity severity);

// Checks a chart folder (any BMS or bmson folder) against the community's release checklist:
// headers, codes, files, sounds, notes. `target` is the folder, or one chart in it (then only
// that chart and the files it uses are checked; files no chart uses are not looked for).
// Every sound file used is decoded once; progress counts them. A chart or sound that cannot be
// read is a finding, never a failure. CannotOpen if `target` is neither a folder nor a file, or
// is a MIDI file (subject "midi");
// Cancelled when the sink asks.
Result<AuditReport> auditFolder(const std::filesystem::path& target, ProgressSink& progress);
// As above, taking the facts of sounds whose bytes an earlier audit decoded from `kept` (and
// keeping this one's there) rather than decoding them again; null keeps nothing.
Result<AuditReport> auditFolder(const std::filesystem::path& target, ProgressSink& progress, FileCache* kept);

}  // namespace zentrowe::workflow

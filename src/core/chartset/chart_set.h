#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/chartset/chart_level.h"
#include "core/chartset/difficulty.h"
#include "core/chartset/long_notes.h"
#include "core/convert/keysound_table.h"
#include "core/song/song_summary.h"

namespace zentrowe::chartset {

// Where a chart of the set puts its lane notes.
enum class LaneRule {
    Playable,  // chartset::layoutLanes: pitch order, chords spread, held lanes kept, no fast jacks
    Seed,      // the lane `convert` gives each note (note number mod 7), thinned notes in the background
};

// How many play a chart: one player's 7 keys and scratch, or both sides' 14 keys and two scratches.
enum class Play { Single, Double };

// A part that has a set of charts of its own, in a folder of several.
struct PartSet {
    std::size_t part = 0;  // convert::KeysoundSource::part
    std::string tag;       // in its charts' file names: "4", "1-2"
    std::string name;      // in its charts' #SUBTITLE: the track's or instrument's name
};

// What charts a build writes; all of them name the same keysound files.
struct ChartSetRequest {
    LaneRule lanes = LaneRule::Playable;
    std::vector<chartset::Difficulty> difficulties;  // easiest first; empty: chartset::defaultDifficulties
    // With `difficulties` given: adds the insane chart (the full track) when another would leave
    // some of the track's notes out of its lanes, as the default set does.
    bool insaneWhenDenser = false;
    std::string genre;  // #GENRE; empty: no line
    // Lines per 4/4 measure (16, 24 or 32: note_grid.h) the track's notes move to, to the nearest,
    // their keysounds with them; 0 keeps every note where the conversion put it. Objects the
    // conversion put on the background channel keep their places.
    std::uint32_t quantizeGrid = 0;
    // The shortest long note of a playable chart (never under kLeastLongNoteSeconds); shorter held
    // notes, and those the release gap leaves too short, are normal notes (fitLongNotes).
    LongNoteLength longNoteMinimum;
    // Accents on the scratch from hyper up (and percussion's strikes on it); false leaves the
    // scratch empty in every chart.
    bool scratch = true;
    // Lanes that follow the music: where the chosen parts rest, another part that carries the
    // music then takes the lanes (a build then charts the song's other parts after the chosen
    // ones). False keeps the lanes to the chosen parts.
    bool follow = true;
    // How many of the conversion's parts (convert::KeysoundSource::part) were chosen; the notes
    // of later parts go to the lanes only in the stretches followMusic borrows them for, and play
    // from the background elsewhere. 0: every part is chosen.
    std::size_t chosenParts = 0;
    // Double play: the first side charts the tune (parts below tuneParts, following the music as
    // a single-play chart does), the second the other parts' notes (addSecondSide).
    Play play = Play::Single;
    std::size_t tuneParts = 0;
    // A set of charts per part (makePartSets): each of these parts' notes go to the lanes of its
    // own set. Empty: one set drawn on the chosen parts.
    std::vector<PartSet> partSets;
    // Every chord's notes played at its first note's tick in every chart, from the background too
    // (else only those some chart of the set strikes): sets whose lanes take different parts then
    // still play the same objects at the same places.
    bool strikeEveryChord = false;
    // Asks the build for partSets: a set per part it charts (--charts parts).
    bool setPerPart = false;
};

// One chart of a set, as made and before it is written.
struct SetChart {
    std::string fileName;  // "NAME_N.bms" or "NAME_N.bmson"
    chart::Chart chart;
    chartset::ChartReport report;
    std::string part;  // the PartSet's tag of a part's set; empty in a set of the chosen parts
};

// The charts of a set from the one chart a conversion made (its lanes, long notes and
// background): every sounding object of it is a note of the track, placed again by the lane rule
// and the difficulty. A note a chart leaves out of its lanes plays from the background channel at
// its place with its keysound, so every chart of the set plays the same objects at the same
// places and sounds the same; only which of them the player strikes differs. Other lines (tempo
// changes) are kept as they are. Each chart's header carries #PLAYLEVEL (rising across the set),
// #DIFFICULTY, #SUBTITLE, #RANK, #TOTAL and #GENRE; the caller completes the rest. `chartFileName`
// is the conversion's ("NAME.bms"); `percussion` lets the scratch take accents. The keysound
// definitions must be those of `keysounds`, in table order, as a conversion makes them.
std::vector<SetChart> makeChartSet(const chart::Chart& converted, const convert::KeysoundTable& keysounds,
                                   const song::SongSummary& song, std::string_view chartFileName,
                                   const ChartSetRequest& request, bool percussion);

// True if the two charts play the same sound files at the same times, lane and background objects
// taken together (long-note ends, which play nothing, aside): in one folder they then mix to the
// same sound, so checking one checks both. The error of the first chart that cannot be read.
Result<bool> chartsPlayTheSame(const std::filesystem::path& first, const std::filesystem::path& second);

// True if `chartName` is the chart a single build of `chartFileName` made or one of its set:
// "NAME.bms", "NAME.bmson" and "NAME_B.bms" ... "NAME_X.bmson", and the double-play forms
// "NAME_B_DP.bms" ... "NAME_X_DP.bmson". A set replaces all of them.
bool belongsToChartSet(std::string_view chartName, std::string_view chartFileName);

// The name of the set's chart of `difficulty` for the conversion's `chartFileName`: "song.bms"
// gives "song_N.bms", "song.bmson" "song_N.bmson", and a song named ".mid" (chart ".bms") "_N.bms".
std::string chartSetFileName(std::string_view chartFileName, Difficulty difficulty);

// The chart's #TITLE and #ARTIST as a build writes them: what was asked for (an empty title is
// not asking), else what the song says about itself (song::readSongCredits on the file read
// again: its sequence name; the author its texts name, else its copyright holder), else the MIDI
// file's base name with underscores as spaces (song::titleOfFileName) and no artist. A file that
// cannot be read again gives the summary's texts.
std::string chartTitle(const std::string& asked, const song::SongSummary& song, const std::filesystem::path& midiFile);
std::string chartArtist(const std::optional<std::string>& asked, const song::SongSummary& song,
                        const std::filesystem::path& midiFile);

}  // namespace zentrowe::chartset

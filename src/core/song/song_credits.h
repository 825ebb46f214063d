#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "core/song/song_source.h"
#include "core/song/song_summary.h"

namespace zentrowe::song {

// What a song says about itself, for a chart's #TITLE and #ARTIST; a text the song does not
// give is empty.
struct SongCredits {
    // The sequence name: the first track's name in format 0 and 1 (format 0 has only that
    // track; format 1 keeps song-wide events in its first track). Format 2 holds independent
    // patterns, so none of its track names names the song. Where the sequence name is generic
    // (isGenericName), the first name of a format 1 track without notes that is not: writers
    // that leave the first track unnamed often put the song's name and credits in such tracks.
    std::string title;
    // The first copyright notice, which is as close as a MIDI file comes to naming its author.
    std::string artist;
};

// Texts as the summary decoded them (UTF-8, else code page 936), without surrounding spaces and
// the NUL padding some writers add; the artist is the copyright notice as it stands.
SongCredits songCredits(const SongSummary& song);

// The same read again from the song's bytes, for the charts a build writes, each text decoded by
// detection (decodeDetectedText: Shift_JIS, GBK and cp1252 as well as UTF-8). The artist is a
// person a text event names as the author (authorNamedIn), else the copyright notice's holder
// (copyrightHolder); a track name is read for an author as a text event is ("By The Ramones").
// A file shorter than the summary says gives what its bytes hold.
SongCredits readSongCredits(SongSource file, const SongSummary& song);

// The name a copyright notice holds: without "Copyright", "(c)", "©", "(p)", "℗", years and
// year ranges, "by", "All rights reserved" and the punctuation left around them.
// "Copyright © 1997 by Jane Doe. All rights reserved." gives "Jane Doe".
std::string copyrightHolder(std::string_view notice);

// The person a text event names as the song's author: what follows "composed by", "music by",
// "written by", "words and music by", "composer:", "artist:", "作曲:" or "作曲：" (any case), or a
// "by" the text starts with, up to the end of the line (or two spaces, where decoding put a line
// break); empty if it names none ("Sequenced by" names the sequencer, not the author).
std::string authorNamedIn(std::string_view text);

// True for a name that says what a track is rather than what the song is called: nothing but
// digits and punctuation, a numbered track, part or channel ("Track 0", "Untitled"), a setup
// or tempo track, a General MIDI instrument's name or a part's role ("Piano", "Bass", "Melody",
// "主旋律"), or a credit line (one naming an author, a sequencer, a copyright, an address).
bool isGenericName(std::string_view name);

// The title a MIDI file's name gives: its base name with underscores as spaces
// ("I_Wanna_Be_Sedated.mid" gives "I Wanna Be Sedated").
std::string titleOfFileName(const std::filesystem::path& midiFile);

}  // namespace zentrowe::song

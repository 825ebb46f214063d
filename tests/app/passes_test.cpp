// The window's passes on their own: what each gives for good and bad input, before the window
// shows it.

#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "app/ui/passes/event_listing_pass.h"
#include "app/ui/passes/publish_pass.h"
#include "app/ui/passes/song_read_pass.h"
#include "support/chart_folder.h"
#include "support/test_support.h"

namespace zentrowe::app {
namespace {

using namespace zentrowe::testing;
namespace fs = std::filesystem;

// Two tracks at 96 ticks a beat: a note on channel 1, then two notes on channels 2 and 3.
Bytes twoTrackSong()
{
    Bytes first = bytes({0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0x40});
    append(first, kEndOfTrack);
    Bytes second = bytes({0x00, 0x91, 48, 90, 0x60, 0x81, 48, 0x40, 0x00, 0x92, 50, 90, 0x60, 0x82, 50, 0x40});
    append(second, kEndOfTrack);
    return midiFile(1, 96, {first, second});
}

TEST(WindowPasses, ReadingASongGivesItsTracksDetailsAndPartsOrWhyNot)
{
    TempDir temp;
    const fs::path song = temp / "song.mid";
    writeFile(song, twoTrackSong());
    const fs::path text = temp / "notes.mid";
    writeFile(text, std::string_view("not a MIDI file at all"));
    struct Case {
        const char* name;
        fs::path file;
        std::optional<ErrorCode> error;
        std::size_t tracks;
        std::size_t partRows;  // a row for each channel a track plays notes on
    };
    const Case cases[] = {
        {"a song", song, std::nullopt, 2, 3},
        {"not MIDI", text, ErrorCode::NotMidi, 0, 0},
        {"missing", temp / "gone.mid", ErrorCode::CannotOpen, 0, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        NullProgress progress;
        const auto read = SongReadPass(test.file)(progress);
        ASSERT_EQ(static_cast<bool>(read.summary), !test.error.has_value());
        if (test.error) {
            EXPECT_EQ(read.summary.error().code, *test.error);
            EXPECT_TRUE(read.summary.error().message.find(test.file.filename().string()) != std::string::npos)
                << read.summary.error().message;
        } else {
            EXPECT_EQ(read.summary->tracks.size(), test.tracks);
        }
        EXPECT_EQ(read.details.size(), test.tracks);
        EXPECT_EQ(read.channelParts.size(), test.partRows);
    }
}

TEST(WindowPasses, ListingEventsOfATrackPastTheSongsGivesNoRows)
{
    TempDir temp;
    const fs::path song = temp / "song.mid";
    writeFile(song, twoTrackSong());
    NullProgress progress;
    const auto summary = SongReadPass(song)(progress).summary;
    ASSERT_TRUE(summary);
    for (const int track : {2, 3}) {
        SCOPED_TRACE(track);
        const auto listed = EventListingPass(song, *summary, track)(progress);
        EXPECT_EQ(static_cast<bool>(listed.first), track == 2);
        // Track 2: its two notes' on and off events and the end of the track.
        EXPECT_EQ(listed.second.rowCount(), track == 2 ? 5 : 0);
    }
}

// Packaging never replaces a zip that is there: the audit is given, the package refused and the
// zip left as it was.
TEST(WindowPasses, PublishingAuditsAndPackagesButNeverReplacesAZip)
{
    TempDir temp;
    const fs::path folder = temp / "song";
    fs::create_directory(folder);
    writeGoodFolder(folder);
    const fs::path kept = temp / "kept.zip";
    writeFile(kept, std::string_view("someone's zip"));
    struct Case {
        const char* name;
        std::optional<fs::path> zip;
        bool packaged;  // whether a package was asked for
        bool written;
    };
    const Case cases[] = {
        {"audit only", std::nullopt, false, false},
        {"new zip", temp / "new.zip", true, true},
        {"zip there", kept, true, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        NullProgress progress;
        const auto published = PublishPass(folder, test.zip)(progress);
        ASSERT_TRUE(published.audit) << (published.audit ? std::string() : published.audit.error().message);
        ASSERT_EQ(published.packaged.has_value(), test.packaged);
        if (test.packaged) {
            EXPECT_EQ(static_cast<bool>(*published.packaged), test.written);
        }
    }
    EXPECT_TRUE(fs::is_regular_file(temp / "new.zip"));
    EXPECT_EQ(readText(kept), "someone's zip");
}

}  // namespace
}  // namespace zentrowe::app

#include "core/workflow/kept_sounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/audio/synth_renderer.h"
#include "core/convert/convert_test_support.h"
#include "core/workflow/build.h"
#include "support/build_request.h"
#include "support/fake_renderer.h"
#include "support/faulty_file_system.h"
#include "support/folder_snapshot.h"

namespace zentrowe::testing {
namespace {

// Small and quick to load.
constexpr const char* kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// A bass line panned left on the lanes' track; on the other, a piano panned right and drums:
// sounds of other instruments, places and kits, so that what one rendering leaves behind would
// show in the next.
Bytes bandSong()
{
    std::vector<TimedEvent> bass = {{0, 0xC0, 32, 0}, control(0, 10, 20)};
    std::vector<TimedEvent> band = {{0, 0xC1, 0, 0}, control(0, 10, 110, 1)};
    for (int beat = 0; beat < 4; ++beat) {
        const std::int64_t at = beat * 480;
        bass.push_back(on(at, 36 + (beat % 3) * 5, 70 + 10 * (beat % 4)));
        bass.push_back(off(at + 400, 36 + (beat % 3) * 5));
        band.push_back(on(at, 72 - beat % 2, 90, 1));
        band.push_back(on(at, beat % 2 == 0 ? 36 : 38, 100, 9));
        band.push_back(off(at + 200, 72 - beat % 2, 1));
        band.push_back(off(at + 200, beat % 2 == 0 ? 36 : 38, 9));
    }
    return midiFile(1, 480, {eventTrack(bass), eventTrack(band, 0)});
}

// What a rebuild into the first build's folder finds there, and how its sounds are mixed.
enum class Edit { None, OtherBytes, Link };
enum class Loudness { Held, Spilled, Off };  // the preview mixes the renders held, the files, the files
struct RebuildCase {
    const char* what;
    bool cached;
    Edit edit;
    Loudness loudness;
};

workflow::BuildRequest shaped(workflow::BuildRequest request, Loudness loudness)
{
    if (loudness == Loudness::Off) {
        request.loudness.reset();
    }
    if (loudness == Loudness::Spilled) {
        request.heldSoundBytes = 0;
    }
    return request;
}

class KeptSoundsBuild : public ::testing::Test {
protected:
    // An OGG build with its loudness pass, every other note a keysound, into `folder`.
    workflow::BuildRequest request(const std::string& folder, bool cached)
    {
        auto request = keptSoundsBuildRequest(bandSong(), m_dir.path(), folder, cached);
        request.soundFont = kTestSoundFont;
        return request;
    }

    // The same request with other chart options only.
    static workflow::BuildRequest otherCharts(workflow::BuildRequest request)
    {
        request.charts.difficulties = {chartset::Difficulty::Normal};
        request.charts.lanes = chartset::LaneRule::Seed;
        request.charts.scratch = false;
        request.title = "Another Title";
        return request;
    }

    workflow::BuildOutcome build(const workflow::BuildRequest& request, workflow::BuildServices services = {})
    {
        auto outcome = workflow::runBuild(request, m_quiet, services);
        if (!outcome) {
            ADD_FAILURE() << outcome.error().message;
            workflow::BuildOutcome none;
            return none;
        }
        return std::move(outcome).value();
    }

    // A rebuild into the first build's folder with other chart options writes and moves none of
    // the sound files whose bytes stay the same, and leaves the folder as a build without the kept
    // sounds leaves a fresh one.
    void rebuildIntoItsFolder(const RebuildCase& c)
    {
        SCOPED_TRACE(c.what);
        const auto out = m_dir.path() / "first";
        std::filesystem::remove_all(out);
        const std::string fresh = "fresh-" + std::to_string(static_cast<int>(c.loudness));
        if (!std::filesystem::exists(m_dir.path() / fresh)) {
            build(shaped(otherCharts(request(fresh, false)), c.loudness));
        }
        build(shaped(request("first", true), c.loudness));
        std::set<std::string> sounds;
        for (const auto& [name, bytes] : folder("first")) {
            if (name.ends_with(".ogg")) {
                sounds.insert(name);
            }
        }
        ASSERT_GT(sounds.size(), 4U);
        const std::string edited = *std::next(sounds.begin());
        if (c.edit == Edit::OtherBytes) {
            auto bytes = readFile(out / edited);
            bytes[bytes.size() / 2] ^= 0x10;
            writeFile(out / edited, bytes);
        } else if (c.edit == Edit::Link) {
            std::filesystem::remove(m_dir.path() / "linked.ogg");
            std::filesystem::rename(out / edited, m_dir.path() / "linked.ogg");
            std::filesystem::create_symlink(m_dir.path() / "linked.ogg", out / edited);
        }
        FaultyFileSystem disk;
        workflow::BuildServices services;
        services.fileSystem = &disk;
        const auto again = build(shaped(otherCharts(request("first", c.cached)), c.loudness), services);
        EXPECT_EQ(folder("first"), folder(fresh));
        std::set<std::string> changed;  // the folder's own sound files the commit moved or removed
        for (const auto& path : disk.touched) {
            if (path.parent_path() == out && sounds.count(path.filename().string()) != 0) {
                changed.insert(path.filename().string());
            }
        }
        EXPECT_EQ(changed, c.edit == Edit::None ? std::set<std::string>{} : std::set<std::string>{edited});
        if (c.cached) {
            EXPECT_EQ(again.keptSounds.previewsTaken, 1U);
            EXPECT_EQ(again.keptSounds.previewsMade, 0U);
        }
    }

    std::map<std::string, Bytes> folder(const std::string& name) const { return folderSnapshot(m_dir.path() / name); }

    TempDir m_dir;
    NullProgress m_quiet;
};

TEST_F(KeptSoundsBuild, ARebuildWithOtherChartOptionsMakesNoSoundAgainAndWritesTheSameBytes)
{
    const auto first = build(request("first", true));
    ASSERT_TRUE(first.keptSounds.used);
    EXPECT_GT(first.keptSounds.rendersMade, 4U);
    EXPECT_EQ(first.keptSounds.encodedMade + first.keptSounds.encodedTaken, first.keysoundFiles.size());
    EXPECT_FALSE(first.keptSounds.trouble);

    // The same sounds at the same places: the mix is recalled, and no render is even read.
    const auto again = build(otherCharts(request("again", true)));
    EXPECT_EQ(again.keptSounds.mixesTaken, 1U);
    EXPECT_EQ(again.keptSounds.rendersMade + again.keptSounds.rendersTaken, 0U);
    EXPECT_EQ(again.keptSounds.encodedMade, 0U);
    EXPECT_EQ(again.keptSounds.encodedTaken, again.keysoundFiles.size());
    build(otherCharts(request("uncached", false)));
    const auto kept = folder("again");
    const auto made = folder("uncached");
    ASSERT_EQ(kept.size(), made.size());
    for (const auto& [name, bytes] : made) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(kept.count(name) == 1 && kept.at(name) == bytes);
    }
}

// A rebuild into its folder, with the kept sounds or without, writes and moves none of the files
// whose bytes stay the same (the sounds, the preview).
TEST_F(KeptSoundsBuild, ARebuildIntoItsFolderMovesNoFileThatStaysTheSame)
{
    for (const auto& c : {RebuildCase{"with the kept sounds", true, Edit::None, Loudness::Held},
                          RebuildCase{"without them", false, Edit::None, Loudness::Held},
                          RebuildCase{"renders spilled to disk", true, Edit::None, Loudness::Spilled}}) {
        rebuildIntoItsFolder(c);
    }
}

// A sound file changed by hand since, or made a link, is written again, and only it.
TEST_F(KeptSoundsBuild, ARebuildIntoItsFolderWritesAFileChangedSinceAgain)
{
    for (const auto& c : {RebuildCase{"a sound rewritten by hand", true, Edit::OtherBytes, Loudness::Held},
                          // The preview mixes the other files where the rebuild left them.
                          RebuildCase{"a sound made a link, no loudness pass", false, Edit::Link, Loudness::Off}}) {
        rebuildIntoItsFolder(c);
    }
}

// A dense lane track played in rather than written to the beat (every note a few ticks off
// its eighth), chords of three with a melody over them, on a drum groove: charts of other
// difficulties, lanes and scratch leave other notes out of their lanes, and a chart may move its
// lanes' notes to the beat, so the easiest charts of two sets do not play quite the same.
Bytes denseSong()
{
    std::vector<TimedEvent> lanes = {{0, 0xC0, 0, 0}};
    std::vector<TimedEvent> drums;
    for (int eighth = 0; eighth < 12; ++eighth) {
        const std::int64_t at = eighth * 240;
        const int root = 48 + (eighth / 4) * 3;
        for (const int note : {root, root + 4, root + 7, root + 12 + eighth % 5}) {
            const std::int64_t played = at + (note * 7 + eighth * 5) % 23 - 11;
            lanes.push_back(on(std::max<std::int64_t>(played, 0), note, 60 + 9 * (eighth % 5)));
            lanes.push_back(off(at + 120 + 60 * (eighth % 3), note));
        }
        drums.push_back(on(at, eighth % 2 == 0 ? 36 : 42, 100, 9));
        drums.push_back(off(at + 60, eighth % 2 == 0 ? 36 : 42, 9));
    }
    // A track's events in time order, as its deltas count.
    std::stable_sort(lanes.begin(), lanes.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.time < b.time; });
    return midiFile(1, 480, {eventTrack(lanes), eventTrack(drums, 0)});
}

// The loudness every file is brought to is measured on what every chart of the set plays, the
// song's notes at their times, never on one chart: a rebuild with other chart options gives
// the encoder the same samples, so it renders and encodes nothing again, and writes what a build
// without the kept sounds writes.
TEST_F(KeptSoundsBuild, TheGainOwesNothingToTheChartOptions)
{
    std::atomic<int> renders{0};
    workflow::BuildServices services;
    services.renderers = fakeRenderers({nullptr, &renders});
    const auto withSong = [&](const std::string& folder, bool cached) {
        auto made = wavBuildRequest(denseSong(), m_dir.path() / "song.mid", m_dir.path() / folder);
        made.bgm = workflow::BgmMode::Keysounds;
        made.loudness = -14;
        if (cached) {
            made.cacheFolder = m_dir.path() / "cache";
        }
        return made;
    };
    const auto first = build(withSong("first", true), services);
    ASSERT_GT(renders.load(), 10);
    const int rendersBefore = renders.load();
    // Normal alone on the seed's lanes, nothing on the scratch: the first set's easiest chart is
    // normal on playable lanes, which moves other notes.
    auto again = withSong("again", true);
    again.charts.difficulties = {chartset::Difficulty::Normal};
    again.charts.lanes = chartset::LaneRule::Seed;
    again.charts.scratch = false;
    const auto rebuilt = build(again, services);
    EXPECT_EQ(renders.load(), rendersBefore);
    EXPECT_EQ(rebuilt.keptSounds.rendersMade, 0U);
    EXPECT_EQ(rebuilt.keptSounds.encodedMade, 0U);
    ASSERT_TRUE(rebuilt.loudness && first.loudness);
    EXPECT_EQ(rebuilt.loudness->gainDb, first.loudness->gainDb);
    auto plain = again;
    plain.cacheFolder.reset();
    plain.conversion.outputFolder = m_dir.path() / "plain";
    build(plain, services);
    const auto kept = folder("again");
    EXPECT_EQ(kept, folder("plain"));
    // Every keysound file as the first build wrote it.
    const auto firstFiles = folder("first");
    for (const auto& [file, bytes] : kept) {
        if (file.ends_with(".wav")) {
            SCOPED_TRACE(file);
            EXPECT_TRUE(firstFiles.count(file) == 1 && firstFiles.at(file) == bytes);
        }
    }
}

TEST_F(KeptSoundsBuild, OneOrTwoThreadsWriteTheSameFolder)
{
    auto one = request("one", false);
    one.threads = 1;
    build(one);
    build(request("two", false));
    const auto alone = folder("one");
    const auto together = folder("two");
    ASSERT_EQ(alone.size(), together.size());
    for (const auto& [name, bytes] : alone) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(together.count(name) == 1 && together.at(name) == bytes);
    }
}

// A soundfont no build opened before is opened at once, so that one that cannot be opened fails
// the build before anything is rendered; a rebuild that finds every note and every preset's
// answer kept opens none: its threads' renderers wait for a note to render.
TEST_F(KeptSoundsBuild, ARebuildFindingEveryNoteOpensNoSoundFont)
{
    std::atomic<int> opened{0};
    workflow::BuildServices services;
    services.renderers = [&]() -> Result<std::unique_ptr<audio::Renderer>> {
        ++opened;
        auto synth = audio::SynthRenderer::open(kTestSoundFont);
        if (!synth) {
            return synth.error();
        }
        return std::unique_ptr<audio::Renderer>(std::make_unique<audio::SynthRenderer>(std::move(synth).value()));
    };
    struct Case {
        const char* what;
        bool rebuild;
        bool soundFontOpened;
    };
    for (const auto& c : {Case{"a first build", false, true}, Case{"a rebuild", true, false}}) {
        SCOPED_TRACE(c.what);
        opened = 0;
        auto made = request(c.rebuild ? "again" : "first", true);
        const auto outcome = build(c.rebuild ? otherCharts(made) : made, services);
        EXPECT_EQ(outcome.keptSounds.rendersMade == 0, c.rebuild);
        EXPECT_EQ(opened.load() > 0, c.soundFontOpened);
    }
}

// The soundfont's hash is kept by where it is, its size and when it was written: one rewritten in
// place with other bytes of the same length renders every note again.
TEST_F(KeptSoundsBuild, ASoundFontRewrittenInPlaceRendersAgain)
{
    const auto font = m_dir.path() / "font.sf2";
    std::filesystem::copy_file(kTestSoundFont, font);
    auto first = request("first", true);
    first.soundFont = font;
    ASSERT_GT(build(first).keptSounds.rendersMade, 0U);
    EXPECT_EQ(build(first).keptSounds.rendersMade, 0U);
    {
        // A byte in the middle, among the samples: the font still loads.
        std::fstream bytes(font, std::ios::in | std::ios::out | std::ios::binary);
        bytes.seekp(static_cast<std::streamoff>(std::filesystem::file_size(font) / 2));
        bytes.put('\x55');
    }
    EXPECT_GT(build(first).keptSounds.rendersMade, 0U);
}

// However the cache fails, the build goes on without it, says so once, and writes what a build
// without it writes.
TEST_F(KeptSoundsBuild, ADamagedFullOrUnwritableCacheLeavesTheBuildAsWithoutIt)
{
    build(request("uncached", false));
    const auto made = folder("uncached");
    enum class Fault { CutShort, FullDisk, NotAFolder };
    for (const auto fault : {Fault::CutShort, Fault::FullDisk, Fault::NotAFolder}) {
        SCOPED_TRACE(static_cast<int>(fault));
        std::filesystem::remove_all(m_dir.path() / "cache");
        std::filesystem::remove_all(m_dir.path() / "out");
        FaultyFileSystem disk;
        if (fault == Fault::CutShort) {
            build(request("warm", true));
            for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path() / "cache")) {
                if (entry.is_regular_file()) {
                    std::filesystem::resize_file(entry.path(), entry.file_size() / 2);
                }
            }
        } else if (fault == Fault::FullDisk) {
            disk.fullUnder = m_dir.path() / "cache";
        } else {
            std::ofstream(m_dir.path() / "cache") << "a file where the folder would be";
        }
        workflow::BuildServices services;
        services.fileSystem = &disk;
        const auto outcome = build(request("out", true), services);
        ASSERT_TRUE(outcome.keptSounds.trouble);
        const auto& trouble = *outcome.keptSounds.trouble;
        if (fault == Fault::CutShort) {
            EXPECT_GT(trouble.damagedEntries, 4U);
            EXPECT_EQ(outcome.keptSounds.rendersTaken + outcome.keptSounds.encodedTaken, 0U);
        } else {
            EXPECT_TRUE(trouble.writeError);
        }
        const auto built = folder("out");
        ASSERT_EQ(built.size(), made.size());
        for (const auto& [name, bytes] : made) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(built.count(name) == 1 && built.at(name) == bytes);
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing

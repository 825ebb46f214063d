#include "core/workflow/kept_mix.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>
#include <vector>

#include "core/convert/convert_test_support.h"
#include "core/workflow/build.h"
#include "support/build_request.h"
#include "support/fake_renderer.h"
#include "support/faulty_file_system.h"
#include "support/folder_snapshot.h"

namespace zentrowe::testing {
namespace {

std::uint64_t bits(double value)
{
    return std::bit_cast<std::uint64_t>(value);
}

workflow::MixFacts someFacts()
{
    workflow::MixFacts facts;
    facts.silentNames = {"k01.ogg", "quiet é.ogg"};
    facts.gain = {-3.25, audio::LoudnessBound::TruePeak, {-14.000000000000002, -1}};
    facts.longFiles = {{"bgm.ogg", 61.5}};
    facts.encoded = {{"k02.ogg", std::string("encoded\0\x01key", 13)}, {"preview.ogg", "preview key"}};
    return facts;
}

TEST(KeptMix, FactsReadBackBitForBit)
{
    const auto facts = someFacts();
    const auto back = workflow::readMixFacts(workflow::mixFactsBytes(facts));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->silentNames, facts.silentNames);
    EXPECT_EQ(bits(back->gain.gainDb), bits(facts.gain.gainDb));
    EXPECT_EQ(back->gain.bound, facts.gain.bound);
    EXPECT_EQ(bits(back->gain.after.integratedLufs), bits(facts.gain.after.integratedLufs));
    EXPECT_EQ(bits(back->gain.after.truePeakDbtp), bits(facts.gain.after.truePeakDbtp));
    ASSERT_EQ(back->longFiles.size(), 1U);
    EXPECT_EQ(back->longFiles[0].path, "bgm.ogg");
    EXPECT_EQ(back->longFiles[0].seconds, 61.5);
    EXPECT_EQ(back->encoded, facts.encoded);
}

// Facts that do not read whole are no facts: the build then mixes again.
TEST(KeptMix, DamagedFactsReadAsNone)
{
    const auto bytes = workflow::mixFactsBytes(someFacts());
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(workflow::readMixFacts(std::span(bytes).first(length)));
    }
    struct Case {
        const char* what;
        std::size_t offset;  // gain 8 bytes, bound 4, loudness 8, peak 8, then the silent files' count
        std::uint8_t value;
    };
    for (const auto& c : {Case{"a bound no gain has", 8, 7}, Case{"more silent files than bytes", 31, 0x10}}) {
        SCOPED_TRACE(c.what);
        auto damaged = bytes;
        damaged[c.offset] = c.value;
        EXPECT_FALSE(workflow::readMixFacts(damaged));
    }
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(workflow::readMixFacts(longer));
}

// Everything a mix is made of, to change one thing at a time.
struct MixSetup {
    std::vector<audio::RenderJob> jobs;
    std::vector<audio::TimedEvent> events{{0, 0x90, 60, 100}, {4410, 0x80, 60, 0}};
    chart::Chart sounding;
    workflow::MixInputs inputs;
    std::uint64_t soundFontHash = 7;

    MixSetup()
    {
        audio::RenderJob note;
        note.target = "/stage/k01.ogg";
        note.note.note = 60;
        note.note.velocity = 100;
        note.note.noteFrames = 22050;
        audio::RenderJob sequence;
        sequence.target = "/stage/bgm.ogg";
        sequence.sequence = true;
        sequence.tailFrames = 44100;
        jobs = {sequence, note};
        sounding.header.initialBpm = 120;
        sounding.keysounds = {{1, "k01.ogg"}, {2, "bgm.ogg"}};
        sounding.addLine(0, chart::kBackgroundChannel, 4);
        sounding.addObject(0, 2);
        sounding.addObject(1, 1);
        inputs.target = {-14, -1};
        inputs.quality = 0.5;
        inputs.heldSoundBytes = 1000;
        inputs.previewFromSeconds = 3;
    }

    std::string key(const std::filesystem::path& cacheFolder)
    {
        jobs[0].events = events;
        inputs.jobs = jobs;
        inputs.sounding = &sounding;
        std::error_code error;
        auto cache = FileCache::open(cacheFolder, kDefaultCacheBytes, realFileSystem(), error);
        const workflow::KeptSounds kept(std::move(*cache), soundFontHash);
        return workflow::mixKey(kept, inputs);
    }
};

// The key changes with everything the mix's files and gain follow from, and with nothing else.
TEST(KeptMix, TheKeyFollowsEverySoundItsPlaceAndHowItIsEncoded)
{
    TempDir dir;
    const auto base = MixSetup().key(dir.path());
    struct Case {
        const char* what;
        std::function<void(MixSetup&)> change;
        bool sameKey;
    };
    const std::vector<Case> cases = {
        {"nothing changed", [](MixSetup&) {}, true},
        {"another velocity", [](MixSetup& s) { s.jobs[1].note.velocity = 101; }, false},
        {"a longer note", [](MixSetup& s) { s.jobs[1].note.noteFrames += 1; }, false},
        {"another instrument", [](MixSetup& s) { s.jobs[1].note.instrument.program = 5; }, false},
        {"another file name", [](MixSetup& s) { s.jobs[1].target = "/stage/k02.ogg"; }, false},
        {"another stage", [](MixSetup& s) { s.jobs[1].target = "/elsewhere/k01.ogg"; }, true},
        {"another event of the BGM", [](MixSetup& s) { s.events[0].data2 = 90; }, false},
        {"a longer BGM tail", [](MixSetup& s) { s.jobs[0].tailFrames += 1; }, false},
        {"another soundfont", [](MixSetup& s) { s.soundFontHash = 8; }, false},
        {"a keysound struck later", [](MixSetup& s) { s.sounding.objects[1].slot = 2; }, false},
        {"a code playing another file", [](MixSetup& s) { s.sounding.keysounds[0].fileName = "k03.ogg"; }, false},
        {"another tempo", [](MixSetup& s) { s.sounding.header.initialBpm = 121; }, false},
        {"another loudness", [](MixSetup& s) { s.inputs.target.lufs = -16; }, false},
        {"another format", [](MixSetup& s) { s.inputs.format = audio::SoundFormat::Wave; }, false},
        {"another quality", [](MixSetup& s) { s.inputs.quality = 0.6; }, false},
        {"another preview start", [](MixSetup& s) { s.inputs.previewFromSeconds = 4; }, false},
        {"another memory budget", [](MixSetup& s) { s.inputs.heldSoundBytes = 0; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MixSetup setup;
        c.change(setup);
        EXPECT_EQ(setup.key(dir.path()) == base, c.sameKey);
    }
}

// A lane track of a few notes; a second track on a channel at volume 0 (its notes render as
// silence, so the build leaves them out) and one heard on another.
Bytes quietBandSong()
{
    std::vector<TimedEvent> lanes = {{0, 0xC0, 0, 0}};
    std::vector<TimedEvent> band = {control(0, 7, 0, 2), {0, 0xC1, 40, 0}};
    for (int beat = 0; beat < 6; ++beat) {
        const std::int64_t at = beat * 240;
        lanes.push_back(on(at, 60 + beat % 4, 80 + 5 * beat));
        lanes.push_back(off(at + 200, 60 + beat % 4));
        band.push_back(on(at, 48 + beat % 2, 90, beat % 3 == 0 ? 2 : 1));
        band.push_back(off(at + 120, 48 + beat % 2, beat % 3 == 0 ? 2 : 1));
    }
    return midiFile(1, 480, {eventTrack(lanes), eventTrack(band, 0)});
}

class KeptMixBuild : public ::testing::Test {
protected:
    workflow::BuildRequest request(const std::string& folder, bool cached)
    {
        return keptSoundsBuildRequest(quietBandSong(), m_dir.path(), folder, cached);
    }

    static workflow::BuildRequest otherCharts(workflow::BuildRequest made)
    {
        made.charts.difficulties = {chartset::Difficulty::Hyper};
        made.charts.scratch = false;
        return made;
    }

    workflow::BuildOutcome build(const workflow::BuildRequest& made, FileSystem* fileSystem = nullptr)
    {
        workflow::BuildServices services;
        services.renderers = fakeRenderers();
        services.fileSystem = fileSystem;
        auto outcome = workflow::runBuild(made, m_quiet, services);
        if (!outcome) {
            ADD_FAILURE() << outcome.error().message;
            workflow::BuildOutcome none;
            return none;
        }
        return std::move(outcome).value();
    }

    // Renders read from the kept sounds, as `disk` saw them.
    std::size_t rendersRead(const FaultyFileSystem& disk) const
    {
        return static_cast<std::size_t>(std::count_if(disk.read.begin(), disk.read.end(), [&](const auto& path) {
            return path.parent_path() == m_dir.path() / "cache" / "renders";
        }));
    }

    // The outcomes agree on what the build found: the same gain to the bit, the same silence.
    static void expectSameOutcome(const workflow::BuildOutcome& built, const workflow::BuildOutcome& plain)
    {
        ASSERT_TRUE(built.loudness && plain.loudness);
        EXPECT_EQ(bits(built.loudness->gainDb), bits(plain.loudness->gainDb));
        EXPECT_EQ(bits(built.loudness->after.integratedLufs), bits(plain.loudness->after.integratedLufs));
        EXPECT_EQ(bits(built.loudness->after.truePeakDbtp), bits(plain.loudness->after.truePeakDbtp));
        EXPECT_EQ(built.loudness->bound, plain.loudness->bound);
        EXPECT_EQ(built.silentKeysounds.size(), plain.silentKeysounds.size());
        EXPECT_EQ(built.silentBackgroundKeysounds, plain.silentBackgroundKeysounds);
        EXPECT_EQ(built.backgroundNotes, plain.backgroundNotes);
        EXPECT_EQ(built.keysoundFiles.size(), plain.keysoundFiles.size());
    }

    std::map<std::string, Bytes> folder(const std::string& name) const { return folderSnapshot(m_dir.path() / name); }

    TempDir m_dir;
    NullProgress m_quiet;
};

// A rebuild into the same folder with other chart options only plays the same sounds at the same
// places: it reads no render and mixes nothing, yet leaves the folder as a build without the kept
// sounds leaves a fresh one, every file byte for byte, and finds the same gain to the bit.
TEST_F(KeptMixBuild, ARebuildWithOtherChartsReadsNoRenderAndWritesTheSameFolder)
{
    const auto first = build(request("out", true));
    ASSERT_EQ(first.keptSounds.mixesTaken, 0U);
    ASSERT_GT(first.silentBackgroundKeysounds, 0U);
    FaultyFileSystem disk;
    const auto again = build(otherCharts(request("out", true)), &disk);
    EXPECT_EQ(again.keptSounds.mixesTaken, 1U);
    EXPECT_EQ(rendersRead(disk), 0U);
    EXPECT_EQ(again.keptSounds.rendersTaken + again.keptSounds.rendersMade, 0U);
    EXPECT_EQ(again.keptSounds.encodedTaken, again.keysoundFiles.size());
    EXPECT_EQ(again.keptSounds.previewsTaken, 1U);
    const auto plain = build(otherCharts(request("plain", false)));
    EXPECT_EQ(folder("out"), folder("plain"));
    expectSameOutcome(again, plain);
}

// A mix not kept whole (its entry damaged, a file it names let go) or one of other sounds (another
// loudness) is made again from the renders, the folder as one built without the kept sounds, and
// kept again: the next rebuild recalls it. Each case comes to the cache the one before left.
TEST_F(KeptMixBuild, AMixNotKeptWholeIsMadeAgainAsWithoutTheKeptSounds)
{
    using Path = std::filesystem::path;
    struct Case {
        const char* what;
        std::function<void(const Path& cache)> change;
        double loudness;
    };
    const auto eachEntry = [](const Path& shelf, const std::function<void(const Path&)>& act) {
        for (const auto& entry : std::filesystem::directory_iterator(shelf)) {
            act(entry.path());
        }
    };
    const std::vector<Case> cases = {
        {"the mix's entry cut short",
         [&](const Path& cache) {
             eachEntry(cache / "mixes", [](const Path& path) {
                 std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
             });
         },
         -14},
        {"its encoded files let go",
         [&](const Path& cache) {
             eachEntry(cache / "encoded", [](const Path& path) { std::filesystem::remove(path); });
         },
         -14},
        {"another loudness", [](const Path&) {}, -20},
    };
    build(otherCharts(request("out", true)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.change(m_dir.path() / "cache");
        FaultyFileSystem disk;
        auto rebuild = otherCharts(request("out", true));
        rebuild.loudness = c.loudness;
        const auto again = build(rebuild, &disk);
        EXPECT_EQ(again.keptSounds.mixesTaken, 0U);
        EXPECT_GT(rendersRead(disk), 0U);
        const std::string plainFolder = "plain" + std::to_string(static_cast<int>(c.loudness));
        auto plainRequest = otherCharts(request(plainFolder, false));
        plainRequest.loudness = c.loudness;
        const auto plain = build(plainRequest);
        EXPECT_EQ(folder("out"), folder(plainFolder));
        expectSameOutcome(again, plain);
        EXPECT_EQ(build(rebuild).keptSounds.mixesTaken, 1U);
        EXPECT_EQ(folder("out"), folder(plainFolder));
    }
}

}  // namespace
}  // namespace zentrowe::testing

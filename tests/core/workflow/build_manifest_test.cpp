#include "core/workflow/build_manifest.h"

#include <gtest/gtest.h>

#include <string_view>

namespace zentrowe::workflow {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(BuildManifest, SongFingerprintIsFnv1a64)
{
    // The published FNV-1a 64-bit test vectors.
    EXPECT_EQ(songFingerprint(bytesOf("")), "fnv1a64:cbf29ce484222325");
    EXPECT_EQ(songFingerprint(bytesOf("a")), "fnv1a64:af63dc4c8601ec8c");
    EXPECT_EQ(songFingerprint(bytesOf("foobar")), "fnv1a64:85944171f73967e8");
}

TEST(BuildManifest, ReadsWhatItCanAndNothingFromDamagedText)
{
    struct Case {
        const char* name;
        std::string_view text;
        std::vector<std::string> charts;  // of the records read, in order
    };
    const std::vector<Case> cases = {
        {"not JSON", R"({"builds":[{"chart":"a.bms"})", {}},
        {"not an object", R"([{"chart":"a.bms"}])", {}},
        {"builds not a list", R"({"builds":{"chart":"a.bms"}})", {}},
        {"the last of two builds lists counts", R"({"builds":[{"chart":"a.bms"}],"builds":[{"chart":"b.bms"}]})",
         {"b.bms"}},
        {"records not objects or without a plain chart name",
         R"({"builds":[1,[{"chart":"x.bms"}],{"chart":"../a.bms"},{"chart":7},{"files":[]},{"chart":"c.bms"}]})",
         {"c.bms"}},
        {"the first record of a chart counts", R"({"builds":[{"chart":"a.bms","track":1},{"chart":"a.bms"}]})",
         {"a.bms"}},
        {"members of no use are passed over",
         R"({"v":{"builds":[{"chart":"x.bms"}]},"builds":[{"chart":"a.bms","more":[[{}],{"chart":"y"}]}]})",
         {"a.bms"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto manifest = parseBuildManifest(bytesOf(c.text));
        std::vector<std::string> charts;
        for (const auto& record : manifest.builds) {
            charts.push_back(record.chart);
        }
        EXPECT_EQ(charts, c.charts);
    }
}

TEST(BuildManifest, AnOlderManifestKnowsTheSongByItsFileNameOnly)
{
    // As builds wrote it before songs had a hash: the MIDI file's absolute path.
    const auto manifest = parseBuildManifest(bytesOf(R"({"builds": [{"chart": "ode_N.bms",
        "song": "/home/someone/midi/ode.mid", "track": 2, "track": 3,
        "files": ["A60-48-100.ogg", "../escape.ogg", "sub/x.ogg", 5, "K-Midi.mid"],
        "settings": {"gap": "0", "mode": "plain", "gap": "48"}}]})"));
    ASSERT_EQ(manifest.builds.size(), 1u);
    const BuildRecord& record = manifest.builds[0];
    EXPECT_EQ(record.song, "ode.mid");
    EXPECT_EQ(record.songHash, "");
    EXPECT_EQ(record.track, 3);  // of a repeated key, the last
    EXPECT_EQ(record.files, (std::vector<std::string>{"A60-48-100.ogg", "K-Midi.mid"}));
    using Setting = std::pair<std::string, std::string>;
    EXPECT_EQ(record.settings, (std::vector<Setting>{{"gap", "48"}, {"mode", "plain"}}));

    EXPECT_TRUE(isSameSong(record, "ode.mid", "fnv1a64:0000000000000001", 3));
    EXPECT_FALSE(isSameSong(record, "ode.mid", "", 2));
    EXPECT_FALSE(isSameSong(record, "joy.mid", "", 3));
    // Written again, the record holds the name only.
    const std::string text = manifestText(manifest);
    EXPECT_EQ(text.find("/home"), std::string::npos) << text;
    EXPECT_EQ(parseBuildManifest(bytesOf(text)).builds[0].files, record.files);
}

TEST(BuildManifest, WrittenTextReadsBackWithTheSongKnownByItsBytes)
{
    BuildManifest manifest;
    manifest.builds.push_back({"a_N.bms", {"x \"1\".wav", "K-Midi.mid"}, "a.mid", 2, {{"gap", "0"}}, "fnv1a64:00000000000000ff"});
    manifest.builds.push_back({"a_H.bms", {}, "a.mid", 2, {}, "fnv1a64:00000000000000ff"});
    const std::string text = manifestText(manifest);
    const auto read = parseBuildManifest(bytesOf(text));
    ASSERT_EQ(read.builds.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(read.builds[k].chart, manifest.builds[k].chart);
        EXPECT_EQ(read.builds[k].files, manifest.builds[k].files);
        EXPECT_EQ(read.builds[k].settings, manifest.builds[k].settings);
        EXPECT_TRUE(isSameSong(read.builds[k], "b.mid", "fnv1a64:00000000000000ff", 2));   // its bytes, renamed
        EXPECT_TRUE(isSameSong(read.builds[k], "a.mid", "fnv1a64:00000000000000fe", 2));   // edited since
        EXPECT_FALSE(isSameSong(read.builds[k], "b.mid", "fnv1a64:00000000000000fe", 2));  // another song
        EXPECT_FALSE(isSameSong(read.builds[k], "a.mid", "fnv1a64:00000000000000ff", 1));  // another track
    }
    EXPECT_EQ(manifestText(BuildManifest{}), "{\n  \"builds\": []\n}\n");
}

TEST(BuildManifest, SoundsNameTheTrackAndChannelOfEachFile)
{
    using Sounds = std::vector<std::pair<std::string, SoundSource>>;
    struct Case {
        const char* name;
        std::string_view text;
        Sounds sounds;
    };
    const std::vector<Case> cases = {
        {"before sounds were kept", R"({"builds": []})", {}},
        {"two files",
         R"({"builds": [], "sounds": {"A64-47-100.ogg": {"track": 2, "channel": 1}, "A36-1-90.ogg": {"channel": 10, "track": 4}}})",
         {{"A64-47-100.ogg", {2, 1}}, {"A36-1-90.ogg", {4, 10}}}},
        {"unknown fields and nested values are stepped over",
         R"({"sounds": {"a.ogg": {"track": 1, "channel": 2, "note": 60, "more": {"track": 9}}}, "builds": []})",
         {{"a.ogg", {1, 2}}}},
        {"out of range, missing or not whole",
         R"({"sounds": {"a.ogg": {"track": 1, "channel": 17}, "b.ogg": {"track": 0, "channel": 1},
            "c.ogg": {"track": 1}, "d.ogg": {"track": 1.5, "channel": 1}, "e.ogg": {"track": "1", "channel": 1}}})",
         {}},
        {"a path is no file name, and a name given twice counts once",
         R"({"sounds": {"../x.ogg": {"track": 1, "channel": 1}, "f.ogg": {"track": 1, "channel": 1},
            "f.ogg": {"track": 2, "channel": 2}}})",
         {{"f.ogg", {1, 1}}}},
        {"sounds given twice: the last counts",
         R"({"sounds": {"g.ogg": {"track": 1, "channel": 1}}, "sounds": {"h.ogg": {"track": 3, "channel": 3}}})",
         {{"h.ogg", {3, 3}}}},
        {"not an object", R"({"sounds": [{"track": 1, "channel": 1}]})", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseBuildManifest(bytesOf(c.text)).sounds, c.sounds);
    }

    BuildManifest written;
    written.sounds = {{"A64-47-100.ogg", {2, 1}}, {"\"odd\".ogg", {16, 16}}};
    const std::string text = manifestText(written);
    EXPECT_NE(text.find(R"("A64-47-100.ogg": {"track": 2, "channel": 1})"), std::string::npos);
    EXPECT_EQ(parseBuildManifest(bytesOf(text)).sounds, written.sounds);
}

// What check and later builds act on comes back as values; a manifest written before they were
// kept gives what its settings, worded for a reader, show.
TEST(BuildManifest, OptionsAreValuesAndOlderManifestsGiveThemFromTheirSettings)
{
    struct Case {
        const char* name;
        std::string_view record;  // the members after "chart"
        BuildRecordOptions options;
    };
    const std::vector<Case> cases = {
        {"options given", R"("options": {"bgm": "keysounds", "codeBase": 62})", {BgmMode::Keysounds, 62}},
        {"options over the settings",
         R"("settings": {"bgm": "slices"}, "options": {"bgm": "one"})",
         {BgmMode::One, std::nullopt}},
        {"an older record: keysounds", R"("settings": {"bgm": "keysounds", "codes": "36"})", {BgmMode::Keysounds, 36}},
        {"an older record: no BGM", R"("settings": {"bgm": "no"})", {BgmMode::None, std::nullopt}},
        {"words this version does not know", R"("options": {"bgm": "piano", "codeBase": 16})", {}},
        {"a base written as text", R"("options": {"codeBase": "62"})", {}},
        {"nothing recorded", R"("track": 1)", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = R"({"builds": [{"chart": "a_N.bms", )" + std::string(c.record) + "}]}";
        const auto manifest = parseBuildManifest(bytesOf(text));
        ASSERT_EQ(manifest.builds.size(), 1u);
        EXPECT_EQ(manifest.builds[0].options, c.options);
    }
}

TEST(BuildManifest, OptionsReadBackAsWrittenForEveryWayOfPlayingTheOtherTracks)
{
    for (const auto bgm : {BgmMode::Keysounds, BgmMode::Slices, BgmMode::One, BgmMode::None}) {
        for (const int base : {36, 62}) {
            SCOPED_TRACE(static_cast<int>(bgm) * 100 + base);
            BuildManifest manifest;
            manifest.builds.push_back({"a_N.bms", {}, "a.mid", 1, {{"gap", "0"}}, "", {bgm, base}});
            const std::string text = manifestText(manifest);
            EXPECT_NE(text.find("\"codeBase\": " + std::to_string(base)), std::string::npos) << text;
            EXPECT_EQ(parseBuildManifest(bytesOf(text)).builds.at(0).options, (BuildRecordOptions{bgm, base}));
        }
    }
}

}  // namespace
}  // namespace zentrowe::workflow

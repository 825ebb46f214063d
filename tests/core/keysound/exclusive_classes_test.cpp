#include "core/keysound/exclusive_classes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using keysound::ExclusiveClasses;
using keysound::KeysoundInstrument;

// SoundFont 2 generators written by these tests.
constexpr int kInstrument = 41;
constexpr int kKeyRange = 43;
constexpr int kSample = 53;
constexpr int kExclusiveClass = 57;

void appendU16le(Bytes& out, int value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void appendU32le(Bytes& out, std::size_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
    }
}

Bytes chunk(const std::string& id, const Bytes& body)
{
    Bytes out;
    appendText(out, id);
    appendU32le(out, body.size());
    append(out, body);
    if (body.size() % 2 == 1) {
        out.push_back(0);
    }
    return out;
}

Bytes name20(const std::string& text)
{
    Bytes out(20, 0);
    std::copy(text.begin(), text.end(), out.begin());
    return out;
}

struct Generator {
    int op;
    int amount;
};
using ZoneGenerators = std::vector<Generator>;

Generator keys(int low, int high)
{
    return {kKeyRange, low | (high << 8)};
}

struct Preset {
    int bank;
    int program;
    std::vector<ZoneGenerators> zones;  // each ends with its kInstrument generator
};

// A "pdta" list body: presets, then instruments, each a list of zones, with their terminal
// records; no modulators, no samples (the reader needs neither).
Bytes presetData(const std::vector<Preset>& presets, const std::vector<std::vector<ZoneGenerators>>& instruments)
{
    Bytes phdr, pbag, pgen, inst, ibag, igen;
    int bags = 0;
    int generators = 0;
    const auto zonesInto = [&](const std::vector<ZoneGenerators>& zones, Bytes& bag, Bytes& gen) {
        for (const auto& zone : zones) {
            appendU16le(bag, generators);
            appendU16le(bag, 0);
            for (const auto& g : zone) {
                appendU16le(gen, g.op);
                appendU16le(gen, g.amount);
                ++generators;
            }
            ++bags;
        }
    };
    for (const auto& preset : presets) {
        append(phdr, name20("preset"));
        appendU16le(phdr, preset.program);
        appendU16le(phdr, preset.bank);
        appendU16le(phdr, bags);
        append(phdr, Bytes(12, 0));
        zonesInto(preset.zones, pbag, pgen);
    }
    append(phdr, name20("EOP"));
    appendU16le(phdr, 0);
    appendU16le(phdr, 0);
    appendU16le(phdr, bags);
    append(phdr, Bytes(12, 0));
    appendU16le(pbag, generators);
    appendU16le(pbag, 0);
    append(pgen, Bytes(4, 0));
    bags = 0;
    generators = 0;
    for (const auto& zones : instruments) {
        append(inst, name20("instrument"));
        appendU16le(inst, bags);
        zonesInto(zones, ibag, igen);
    }
    append(inst, name20("EOI"));
    appendU16le(inst, bags);
    appendU16le(ibag, generators);
    appendU16le(ibag, 0);
    append(igen, Bytes(4, 0));
    Bytes body;
    for (const auto& [id, table] : std::vector<std::pair<std::string, Bytes>>{{"phdr", phdr},
                                                                              {"pbag", pbag},
                                                                              {"pmod", Bytes(10, 0)},
                                                                              {"pgen", pgen},
                                                                              {"inst", inst},
                                                                              {"ibag", ibag},
                                                                              {"imod", Bytes(10, 0)},
                                                                              {"igen", igen}}) {
        append(body, chunk(id, table));
    }
    return body;
}

Bytes soundFontFile(const Bytes& pdtaBody)
{
    Bytes lists;
    Bytes info;
    appendText(info, "INFO");
    append(info, chunk("ifil", bytes({2, 0, 1, 0})));
    append(lists, chunk("LIST", info));
    Bytes samples;
    appendText(samples, "sdta");
    append(samples, chunk("smpl", Bytes(92, 0)));
    append(lists, chunk("LIST", samples));
    Bytes pdta;
    appendText(pdta, "pdta");
    append(pdta, pdtaBody);
    append(lists, chunk("LIST", pdta));
    Bytes riff;
    appendText(riff, "sfbk");
    append(riff, lists);
    return chunk("RIFF", riff);
}

// A General MIDI kit: the hi-hats (42 closed, 44 pedal, 46 open) one group through a global
// zone; a melodic preset with a group of its own numbered past 127.
Bytes sampleSoundFont()
{
    const std::vector<std::vector<ZoneGenerators>> instruments{
        {
            {{kExclusiveClass, 1}},                              // global zone: no sample
            {keys(35, 41), {kSample, 0}},                        // kick to floor tom: group 1 too, by the global zone
            {keys(42, 42), {kSample, 0}},                        // closed hat
            {keys(44, 44), {kSample, 0}},                        // pedal hat
            {keys(46, 46), {kSample, 0}},                        // open hat
            {keys(49, 49), {kExclusiveClass, 0}, {kSample, 0}},  // crash: its own 0 overrides
        },
        {
            {keys(60, 72), {kExclusiveClass, 300}, {kSample, 0}},
        },
    };
    const std::vector<Preset> presets{
        {128, 0, {{keys(0, 127), {kInstrument, 0}}}},
        {0, 5, {{keys(64, 127), {kInstrument, 1}}}},
    };
    return soundFontFile(presetData(presets, instruments));
}

TEST(ExclusiveClasses, ChokeGroupsComeFromTheInstrumentZonesUnderEachPreset)
{
    TempDir dir;
    writeFile(dir / "kit.sf2", sampleSoundFont());
    const auto classes = keysound::readExclusiveClasses(dir / "kit.sf2");
    ASSERT_TRUE(classes.ok()) << classes.error().message;
    struct Case {
        const char* name;
        KeysoundInstrument instrument;
        std::uint8_t key;
        std::uint16_t group;
    };
    const std::vector<Case> cases{
        {"open hat", {0, 0, true}, 46, 1},
        {"closed hat", {0, 0, true}, 42, 1},
        {"pedal hat", {0, 0, true}, 44, 1},
        {"a zone's own 0 overrides the global group", {0, 0, true}, 49, 0},
        {"the global zone's group", {0, 0, true}, 38, 1},
        {"a key no zone covers", {0, 0, true}, 80, 0},
        {"a kit the font lacks plays kit 0", {0, 25, true}, 46, 1},
        {"a melodic group past 127", {0, 5, false}, 65, 300},
        {"below the preset zone's keys", {0, 5, false}, 62, 0},
        {"a bank the font lacks plays bank 0", {8, 5, false}, 65, 300},
        {"a program without groups", {0, 6, false}, 65, 0},
        {"the drum kit's program on a melodic channel", {0, 0, false}, 46, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(classes->classOf(c.instrument, c.key), c.group);
    }
}

// A damaged list (cut anywhere, or indices that point past their tables or go back) gives the
// groups of what could be read, never a crash or a read past the bytes.
TEST(ExclusiveClasses, DamagedPresetDataGivesWhatCanBeRead)
{
    const std::vector<std::vector<ZoneGenerators>> instruments{{{keys(42, 46), {kExclusiveClass, 1}, {kSample, 0}}}};
    const Bytes whole = presetData({{128, 0, {{keys(0, 127), {kInstrument, 0}}}}}, instruments);
    EXPECT_EQ(keysound::exclusiveClassesOf(whole).classOf({0, 0, true}, 46), 1);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const auto classes = keysound::exclusiveClassesOf(std::span(whole).first(size));
        EXPECT_LE(classes.classOf({0, 0, true}, 46), 1);
    }
    const Bytes pastItsTables =
        presetData({{128, 0, {{keys(0, 127), {kInstrument, 7}}}}, {0, 1, {{{kInstrument, 0}}}}}, instruments);
    const auto classes = keysound::exclusiveClassesOf(pastItsTables);
    EXPECT_EQ(classes.classOf({0, 0, true}, 46), 0);
    EXPECT_EQ(classes.classOf({0, 1, false}, 44), 1);
}

TEST(ExclusiveClasses, AFileThatIsNoSoundFontIsNamed)
{
    TempDir dir;
    const std::vector<std::pair<std::string, Bytes>> cases{
        {"empty.sf2", {}},
        {"midi.sf2", bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96})},
        {"no-pdta.sf2", chunk("RIFF",
                              [] {
                                  Bytes riff;
                                  appendText(riff, "sfbk");
                                  return riff;
                              }())},
    };
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        writeFile(dir / name, content);
        const auto classes = keysound::readExclusiveClasses(dir / name);
        ASSERT_FALSE(classes.ok());
        EXPECT_EQ(classes.error().code, ErrorCode::CannotOpen);
        EXPECT_NE(classes.error().message.find(name), std::string::npos) << classes.error().message;
    }
    EXPECT_FALSE(keysound::readExclusiveClasses(dir / "missing.sf2").ok());
}

}  // namespace
}  // namespace zentrowe::testing

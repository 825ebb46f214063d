#include "core/keysound/exclusive_classes.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "core/base/byte_reader.h"
#include "core/base/file_error.h"

namespace zentrowe::keysound {

namespace {

// SoundFont 2 generator numbers.
constexpr std::uint16_t kInstrumentGenerator = 41;  // a preset zone's instrument
constexpr std::uint16_t kKeyRangeGenerator = 43;    // low key in the first byte, high in the second
constexpr std::uint16_t kSampleGenerator = 53;      // an instrument zone's sample
constexpr std::uint16_t kExclusiveClassGenerator = 57;

// Record sizes of the tables, and where a header record keeps its first bag.
constexpr std::size_t kPresetHeaderBytes = 38;  // name[20], preset, bank, bag index, three u32
constexpr std::size_t kPresetProgramAt = 20;
constexpr std::size_t kPresetBankAt = 22;
constexpr std::size_t kPresetBagAt = 24;
constexpr std::size_t kInstrumentHeaderBytes = 22;  // name[20], bag index
constexpr std::size_t kInstrumentBagAt = 20;
constexpr std::size_t kBagBytes = 4;        // generator index, modulator index
constexpr std::size_t kGeneratorBytes = 4;  // operator, amount

struct Tables {
    std::span<const std::uint8_t> presets, presetBags, presetGenerators;
    std::span<const std::uint8_t> instruments, instrumentBags, instrumentGenerators;
};

// Every table ends with a terminal record, which only closes the one before it.
std::size_t recordCount(std::span<const std::uint8_t> table, std::size_t recordBytes)
{
    return table.size() / recordBytes;
}

std::uint16_t u16At(std::span<const std::uint8_t> table, std::size_t record, std::size_t recordBytes,
                    std::size_t offset)
{
    const std::size_t at = record * recordBytes + offset;
    return static_cast<std::uint16_t>(table[at] | (table[at + 1] << 8));
}

Tables tablesOf(std::span<const std::uint8_t> presetData)
{
    Tables tables;
    ByteReader reader(presetData);
    while (!reader.atEnd()) {
        const auto id = reader.take(4);
        const auto size = reader.u32le();
        if (!id || !size || *size > reader.remaining()) {
            break;
        }
        const auto body = *reader.take(*size);
        if (*size % 2 == 1 && !reader.atEnd()) {
            reader.skip(1);  // RIFF pads a chunk to an even length
        }
        const std::string_view name(reinterpret_cast<const char*>(id->data()), 4);
        if (name == "phdr") {
            tables.presets = body;
        } else if (name == "pbag") {
            tables.presetBags = body;
        } else if (name == "pgen") {
            tables.presetGenerators = body;
        } else if (name == "inst") {
            tables.instruments = body;
        } else if (name == "ibag") {
            tables.instrumentBags = body;
        } else if (name == "igen") {
            tables.instrumentGenerators = body;
        }
    }
    return tables;
}

struct Zone {
    std::uint8_t lowKey = 0;
    std::uint8_t highKey = 127;
    std::optional<std::uint16_t> link;  // the instrument (preset zone) or sample (instrument zone)
    std::optional<std::uint16_t> exclusiveClass;
};

// Walks the zones of header records in order. Indices must not go back (the format keeps them
// rising): a record whose bags or generators would go back is skipped, so each bag and each
// generator is read once however the file is damaged.
class ZoneWalk {
public:
    ZoneWalk(std::span<const std::uint8_t> headers, std::size_t headerBytes, std::size_t bagOffset,
             std::span<const std::uint8_t> bags, std::span<const std::uint8_t> generators, std::uint16_t linkGenerator)
        : m_headers(headers),
          m_headerBytes(headerBytes),
          m_bagOffset(bagOffset),
          m_bags(bags),
          m_generators(generators),
          m_linkGenerator(linkGenerator)
    {
    }

    std::size_t headerCount() const
    {
        const std::size_t records = recordCount(m_headers, m_headerBytes);
        return records == 0 ? 0 : records - 1;
    }

    std::vector<Zone> zones(std::size_t header)
    {
        std::vector<Zone> out;
        const std::size_t bagRecords = recordCount(m_bags, kBagBytes);
        if (bagRecords == 0) {
            return out;
        }
        const std::size_t firstBag = u16At(m_headers, header, m_headerBytes, m_bagOffset);
        const std::size_t endBag =
            std::min<std::size_t>(u16At(m_headers, header + 1, m_headerBytes, m_bagOffset), bagRecords - 1);
        if (firstBag < m_nextBag || firstBag > endBag) {
            return out;
        }
        m_nextBag = endBag;
        for (std::size_t bag = firstBag; bag < endBag; ++bag) {
            if (auto zone = zoneOf(bag)) {
                out.push_back(*zone);
            }
        }
        return out;
    }

private:
    std::optional<Zone> zoneOf(std::size_t bag)
    {
        const std::size_t generatorRecords = recordCount(m_generators, kGeneratorBytes);
        const std::size_t first = u16At(m_bags, bag, kBagBytes, 0);
        const std::size_t end = std::min<std::size_t>(u16At(m_bags, bag + 1, kBagBytes, 0), generatorRecords);
        if (first < m_nextGenerator || first > end) {
            return std::nullopt;
        }
        m_nextGenerator = end;
        Zone zone;
        for (std::size_t g = first; g < end; ++g) {
            const std::uint16_t generator = u16At(m_generators, g, kGeneratorBytes, 0);
            const std::uint16_t amount = u16At(m_generators, g, kGeneratorBytes, 2);
            if (generator == kKeyRangeGenerator) {
                zone.lowKey = static_cast<std::uint8_t>(amount & 0xFF);
                zone.highKey = static_cast<std::uint8_t>(amount >> 8);
            } else if (generator == kExclusiveClassGenerator) {
                zone.exclusiveClass = amount;
            } else if (generator == m_linkGenerator) {
                zone.link = amount;
                break;  // the last generator of a zone
            }
        }
        return zone;
    }

    std::span<const std::uint8_t> m_headers;
    std::size_t m_headerBytes;
    std::size_t m_bagOffset;
    std::span<const std::uint8_t> m_bags;
    std::span<const std::uint8_t> m_generators;
    std::uint16_t m_linkGenerator;
    std::size_t m_nextBag = 0;
    std::size_t m_nextGenerator = 0;
};

// Each key of a zone's range takes `classes` of that key unless an earlier zone gave it one.
void fillKeys(ExclusiveClasses::KeyClasses& into, const Zone& zone, const ExclusiveClasses::KeyClasses& classes)
{
    for (int key = zone.lowKey; key <= std::min<int>(zone.highKey, 127); ++key) {
        const auto k = static_cast<std::size_t>(key);
        if (into[k] == 0) {
            into[k] = classes[k];
        }
    }
}

// Per instrument, the class of each key: its zone's exclusiveClass, else its global zone's.
std::vector<std::optional<ExclusiveClasses::KeyClasses>> instrumentClasses(const Tables& tables)
{
    ZoneWalk walk(tables.instruments, kInstrumentHeaderBytes, kInstrumentBagAt, tables.instrumentBags,
                  tables.instrumentGenerators, kSampleGenerator);
    std::vector<std::optional<ExclusiveClasses::KeyClasses>> out(walk.headerCount());
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto zones = walk.zones(i);
        std::uint16_t global = 0;
        ExclusiveClasses::KeyClasses classes{};
        for (std::size_t z = 0; z < zones.size(); ++z) {
            if (!zones[z].link) {
                global = z == 0 ? zones[z].exclusiveClass.value_or(0) : global;
                continue;
            }
            ExclusiveClasses::KeyClasses zoneClass;
            zoneClass.fill(zones[z].exclusiveClass.value_or(global));
            fillKeys(classes, zones[z], zoneClass);
        }
        if (std::any_of(classes.begin(), classes.end(), [](std::uint16_t c) { return c != 0; })) {
            out[i] = classes;
        }
    }
    return out;
}

}  // namespace

std::uint16_t ExclusiveClasses::classOf(const KeysoundInstrument& instrument, std::uint8_t key) const
{
    if (key > 127) {
        return 0;
    }
    const KeyClasses* classes =
        instrument.drums ? preset(kDrumKitBank, instrument.program) : preset(instrument.bank, instrument.program);
    if (classes == nullptr) {
        classes = instrument.drums ? preset(kDrumKitBank, 0) : preset(0, instrument.program);
    }
    return classes == nullptr ? 0 : (*classes)[key];
}

void ExclusiveClasses::setPreset(int bank, int program, const KeyClasses& classes)
{
    m_presets.try_emplace({bank, program}, classes);
}

const ExclusiveClasses::KeyClasses* ExclusiveClasses::preset(int bank, int program) const
{
    const auto found = m_presets.find({bank, program});
    return found == m_presets.end() ? nullptr : &found->second;
}

ExclusiveClasses exclusiveClassesOf(std::span<const std::uint8_t> presetData)
{
    const Tables tables = tablesOf(presetData);
    const auto instruments = instrumentClasses(tables);
    ExclusiveClasses out;
    ZoneWalk walk(tables.presets, kPresetHeaderBytes, kPresetBagAt, tables.presetBags, tables.presetGenerators,
                  kInstrumentGenerator);
    for (std::size_t p = 0; p < walk.headerCount(); ++p) {
        ExclusiveClasses::KeyClasses classes{};
        for (const Zone& zone : walk.zones(p)) {
            if (zone.link && *zone.link < instruments.size() && instruments[*zone.link]) {
                fillKeys(classes, zone, *instruments[*zone.link]);
            }
        }
        if (std::any_of(classes.begin(), classes.end(), [](std::uint16_t c) { return c != 0; })) {
            out.setPreset(u16At(tables.presets, p, kPresetHeaderBytes, kPresetBankAt),
                          u16At(tables.presets, p, kPresetHeaderBytes, kPresetProgramAt), classes);
        }
    }
    return out;
}

Result<ExclusiveClasses> readExclusiveClasses(const std::filesystem::path& soundFont)
{
    const auto notSoundFont = [&](std::string_view why) {
        return Error{ErrorCode::CannotOpen,
                     displayPath(soundFont) + ": not a SoundFont file (" + std::string(why) + ")"}
            .inFile(displayPath(soundFont))
            .about("soundFont");
    };
    std::ifstream file(soundFont, std::ios::binary);
    std::error_code error;
    const auto fileSize = std::filesystem::file_size(soundFont, error);
    if (!file || error) {
        return fileError(ErrorCode::CannotOpen, soundFont, "read", "cannot be opened");
    }
    std::array<char, 12> head{};
    if (!file.read(head.data(), head.size()) || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "sfbk", 4) != 0) {
        return notSoundFont("no RIFF sfbk header");
    }
    std::uint64_t at = head.size();
    const auto u32 = [](const char* p) {
        return std::uint32_t{static_cast<unsigned char>(p[0])} | std::uint32_t{static_cast<unsigned char>(p[1])} << 8 |
               std::uint32_t{static_cast<unsigned char>(p[2])} << 16 |
               std::uint32_t{static_cast<unsigned char>(p[3])} << 24;
    };
    while (at + 12 <= fileSize) {
        file.seekg(static_cast<std::streamoff>(at));
        if (!file.read(head.data(), head.size())) {
            break;
        }
        const std::uint64_t size = u32(head.data() + 4);
        if (size > fileSize - at - 8) {
            break;
        }
        if (std::memcmp(head.data(), "LIST", 4) == 0 && std::memcmp(head.data() + 8, "pdta", 4) == 0 && size >= 4) {
            std::vector<std::uint8_t> body(static_cast<std::size_t>(size - 4));
            if (!file.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size()))) {
                break;
            }
            return exclusiveClassesOf(body);
        }
        at += 8 + size + size % 2;
    }
    return notSoundFont("no whole preset list");
}

}  // namespace zentrowe::keysound

#include "core/workflow/kept_mix.h"

#include <bit>

#include "core/audio/chart_mixer.h"
#include "core/base/byte_reader.h"
#include "core/base/content_hash.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::workflow {

namespace {

// Raised whenever what a mix's facts hold, or how a build comes to them, changes.
constexpr std::uint32_t kMixVersion = 1;

void putU32(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void putU64(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    putU32(out, value & 0xFFFF'FFFFU);
    putU32(out, value >> 32);
}

void putDouble(std::vector<std::uint8_t>& out, double value)
{
    putU64(out, std::bit_cast<std::uint64_t>(value));
}

void putText(std::vector<std::uint8_t>& out, const std::string& text)
{
    putU32(out, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

std::optional<double> realNumber(ByteReader& reader)
{
    const auto bits = reader.u64le();
    return bits ? std::optional<double>(std::bit_cast<double>(*bits)) : std::nullopt;
}

std::optional<std::string> text(ByteReader& reader)
{
    const auto length = reader.u32le();
    if (!length || *length > reader.remaining()) {
        return std::nullopt;
    }
    const auto bytes = reader.take(*length);
    return bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end())) : std::nullopt;
}

// A count of entries that each take at least `leastBytes`: none past what remains.
std::optional<std::uint32_t> count(ByteReader& reader, std::size_t leastBytes)
{
    const auto read = reader.u32le();
    if (!read || *read > reader.remaining() / leastBytes) {
        return std::nullopt;
    }
    return read;
}

// Each the hash of one description, told apart by their seeds: 128 bits against a clash.
class TwoHashes {
public:
    TwoHashes() { m_second.add(std::string_view("second")); }
    void add(std::string_view bytes)
    {
        m_first.add(bytes);
        m_second.add(bytes);
    }
    void addNumber(std::uint64_t value)
    {
        std::string bytes;
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<char>(value >> (8 * i)));
        }
        add(bytes);
    }
    void addText(std::string_view text)
    {
        addNumber(text.size());
        add(text);
    }
    std::string text() const { return hashText(m_first.value()) + hashText(m_second.value()); }

private:
    ContentHash m_first;
    ContentHash m_second;
};

}  // namespace

std::string mixKey(const KeptSounds& kept, const MixInputs& inputs)
{
    TwoHashes hash;
    hash.addNumber(inputs.jobs.size());
    for (const auto& job : inputs.jobs) {
        hash.addText(job.target.filename().string());
        hash.addText(kept.soundKey(job));
    }
    const auto timed = chart::timeChart(chart::ChartReading{*inputs.sounding, 0, {}});
    const auto strikes = audio::chartStrikes(timed);
    hash.addNumber(strikes.size());
    for (const auto& strike : strikes) {
        hash.addNumber(std::bit_cast<std::uint64_t>(strike.seconds));
        hash.addText(strike.keysound < timed.keysoundNames.size() ? timed.keysoundNames[strike.keysound] : "");
    }
    for (const double value :
         {inputs.target.lufs, inputs.target.truePeakLimitDbtp, inputs.quality, inputs.previewFromSeconds}) {
        hash.addNumber(std::bit_cast<std::uint64_t>(value));
    }
    hash.addNumber(static_cast<std::uint64_t>(inputs.format));
    hash.addNumber(inputs.heldSoundBytes);
    return "mix" + std::to_string(kMixVersion) + "-" + hash.text();
}

std::vector<std::uint8_t> mixFactsBytes(const MixFacts& facts)
{
    std::vector<std::uint8_t> out;
    putDouble(out, facts.gain.gainDb);
    putU32(out, static_cast<std::uint32_t>(facts.gain.bound));
    putDouble(out, facts.gain.after.integratedLufs);
    putDouble(out, facts.gain.after.truePeakDbtp);
    putU32(out, facts.silentNames.size());
    for (const auto& name : facts.silentNames) {
        putText(out, name);
    }
    putU32(out, facts.longFiles.size());
    for (const auto& file : facts.longFiles) {
        putText(out, file.path.filename().string());
        putDouble(out, file.seconds);
    }
    putU32(out, facts.encoded.size());
    for (const auto& [name, key] : facts.encoded) {
        putText(out, name);
        putText(out, key);
    }
    return out;
}

std::optional<MixFacts> readMixFacts(std::span<const std::uint8_t> bytes)
{
    ByteReader reader(bytes);
    MixFacts facts;
    const auto gain = realNumber(reader);
    const auto bound = reader.u32le();
    const auto lufs = realNumber(reader);
    const auto peak = realNumber(reader);
    if (!gain || !bound || *bound > static_cast<std::uint32_t>(audio::LoudnessBound::Silent) || !lufs || !peak) {
        return std::nullopt;
    }
    facts.gain = {*gain, static_cast<audio::LoudnessBound>(*bound), {*lufs, *peak}};
    const auto silent = count(reader, 4);
    for (std::uint32_t i = 0; silent && i < *silent; ++i) {
        const auto name = text(reader);
        if (!name) {
            return std::nullopt;
        }
        facts.silentNames.insert(*name);
    }
    const auto long_ = silent ? count(reader, 12) : std::nullopt;
    for (std::uint32_t i = 0; long_ && i < *long_; ++i) {
        const auto name = text(reader);
        const auto seconds = realNumber(reader);
        if (!name || !seconds) {
            return std::nullopt;
        }
        facts.longFiles.push_back({*name, *seconds});
    }
    const auto encoded = long_ ? count(reader, 8) : std::nullopt;
    for (std::uint32_t i = 0; encoded && i < *encoded; ++i) {
        auto name = text(reader);
        auto key = text(reader);
        if (!name || !key) {
            return std::nullopt;
        }
        facts.encoded.emplace_back(std::move(*name), std::move(*key));
    }
    if (!encoded || !reader.atEnd()) {
        return std::nullopt;
    }
    return facts;
}

std::optional<RecalledMix> recallMix(KeptSounds& kept, const std::string& key, const std::filesystem::path& stage)
{
    const auto entry = kept.findMix(key);
    if (!entry) {
        return std::nullopt;
    }
    auto facts = readMixFacts({reinterpret_cast<const std::uint8_t*>(entry->data()), entry->size()});
    if (!facts) {
        return std::nullopt;
    }
    RecalledMix recalled;
    for (const auto& [name, encodedKey] : facts->encoded) {
        auto target = stage / name;
        auto bytes = kept.encodedFile(encodedKey, target);
        if (!bytes) {
            return std::nullopt;
        }
        recalled.files.emplace_back(std::move(target), std::move(*bytes));
    }
    recalled.facts = std::move(*facts);
    kept.noteMixTaken(recalled.files.empty() ? 0 : recalled.files.size() - 1);
    return recalled;
}

void keepMix(KeptSounds& kept, const std::string& key, MixFacts facts, std::span<const std::filesystem::path> files)
{
    facts.encoded.clear();
    for (const auto& file : files) {
        auto name = file.filename().string();
        auto encodedKey = kept.encodedKey(name);
        if (!encodedKey) {
            return;
        }
        facts.encoded.emplace_back(std::move(name), std::move(*encodedKey));
    }
    const auto bytes = mixFactsBytes(facts);
    kept.keepMix(key, bytes);
}

}  // namespace zentrowe::workflow

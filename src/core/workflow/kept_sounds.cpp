#include "core/workflow/kept_sounds.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/base/content_hash.h"

namespace zentrowe::workflow {

namespace {

// Raised whenever the synthesiser's settings, the warm-up, the ring-out or the encoder's use
// change what the same key gives: an older version's entries then never match.
constexpr std::uint32_t kRenderVersion = 1;
constexpr std::uint32_t kEncodeVersion = 1;
constexpr std::string_view kRenderShelf = "renders";
constexpr std::string_view kEncodedShelf = "encoded";

void putNumber(std::string& key, std::int64_t value)
{
    for (int i = 0; i < 8; ++i) {
        key.push_back(static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i)));
    }
}

std::string renderKey(const audio::NoteSound& sound, std::uint64_t soundFontHash)
{
    std::string key = "note";
    for (const std::int64_t value : {
             std::int64_t{kRenderVersion},
             static_cast<std::int64_t>(soundFontHash),
             std::int64_t{audio::kSampleRate},
             std::int64_t{sound.instrument.bank},
             std::int64_t{sound.instrument.program},
             std::int64_t{sound.instrument.drums},
             std::int64_t{sound.note},
             std::int64_t{sound.velocity},
             std::int64_t{sound.controls.volume},
             std::int64_t{sound.controls.expression},
             std::int64_t{sound.controls.pan},
             std::int64_t{sound.controls.modulation},
             std::int64_t{sound.controls.pressure},
             std::int64_t{sound.controls.pitchBend},
             std::int64_t{sound.controls.bendRangeSemitones},
             std::int64_t{sound.controls.bendRangeCents},
             sound.noteFrames,
             std::int64_t{sound.cutFrames.has_value()},
             sound.cutFrames.value_or(0),
         }) {
        putNumber(key, value);
    }
    return key;
}

std::span<const std::uint8_t> bytesOf(std::span<const float> samples)
{
    return {reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()};
}

}  // namespace

// A renderer that asks the cache first.
class KeptSounds::Renderer final : public audio::Renderer {
public:
    Renderer(KeptSounds& kept, std::unique_ptr<audio::Renderer> made) : m_kept(kept), m_made(std::move(made)) { }

    Result<std::vector<float>> renderNote(const audio::NoteSound& sound) override
    {
        const std::string key = renderKey(sound, m_kept.m_soundFontHash);
        if (auto entry = m_kept.m_cache.find(kRenderShelf, key); entry && entry->size() % sizeof(float) == 0) {
            std::vector<float> samples(entry->size() / sizeof(float));
            if (!samples.empty()) {  // a silent render is kept as no bytes
                std::memcpy(samples.data(), entry->data(), entry->size());
            }
            ++m_kept.m_rendersTaken;
            return samples;
        }
        auto rendered = m_made->renderNote(sound);
        if (rendered) {
            m_kept.m_cache.put(kRenderShelf, key, bytesOf(*rendered));
            ++m_kept.m_rendersMade;
        }
        return rendered;
    }

    Result<std::vector<float>> renderEvents(std::span<const audio::TimedEvent> events, std::int64_t tailFrames,
                                            ProgressSink& progress) override
    {
        return m_made->renderEvents(events, tailFrames, progress);
    }

    bool hasPreset(const audio::Instrument& instrument) const override { return m_made->hasPreset(instrument); }

private:
    KeptSounds& m_kept;
    std::unique_ptr<audio::Renderer> m_made;
};

KeptSounds::KeptSounds(FileCache cache, std::uint64_t soundFontHash)
    : m_cache(std::move(cache)), m_soundFontHash(soundFontHash)
{
}

std::unique_ptr<audio::Renderer> KeptSounds::wrap(std::unique_ptr<audio::Renderer> renderer)
{
    return std::make_unique<Renderer>(*this, std::move(renderer));
}

audio::RendererFactory KeptSounds::renderers(audio::RendererFactory made)
{
    return [this, made = std::move(made)]() -> Result<std::unique_ptr<audio::Renderer>> {
        auto renderer = made();
        if (!renderer) {
            return renderer.error();
        }
        return wrap(std::move(renderer).value());
    };
}

audio::SoundWriter KeptSounds::writer(audio::SoundFormat format, double quality)
{
    return [this, format, quality](const std::filesystem::path& target, std::span<const float> samples) -> Status {
        std::string key = "encoded";
        putNumber(key, kEncodeVersion);
        putNumber(key, static_cast<std::int64_t>(format));
        putNumber(key, static_cast<std::int64_t>(quality * 1'000'000));
        putNumber(key, audio::kSampleRate);
        putNumber(key, static_cast<std::int64_t>(samples.size()));
        putNumber(key, static_cast<std::int64_t>(contentHash(bytesOf(samples))));
        if (auto entry = m_cache.find(kEncodedShelf, key)) {
            std::vector<std::uint8_t> bytes(entry->begin(), entry->end());
            if (format == audio::SoundFormat::OggVorbis) {
                audio::renameOggStream(bytes, target);
            }
            ++m_encodedTaken;
            return audio::writeSoundBytes(target, bytes);
        }
        NullProgress quiet;
        auto encoded = audio::encodeSound(target, samples, format, quality, audio::kSampleRate, quiet,
                                          audio::SoundChannels::MonoWhereAlike);
        if (!encoded) {
            return encoded.error();
        }
        m_cache.put(kEncodedShelf, key, *encoded);
        ++m_encodedMade;
        return audio::writeSoundBytes(target, *encoded);
    };
}

KeptSoundsReport KeptSounds::finish()
{
    m_cache.trim();
    KeptSoundsReport report;
    report.used = true;
    report.rendersTaken = m_rendersTaken;
    report.rendersMade = m_rendersMade;
    report.encodedTaken = m_encodedTaken;
    report.encodedMade = m_encodedMade;
    if (auto trouble = m_cache.trouble(); trouble.damagedEntries > 0 || trouble.writeError) {
        report.trouble = std::move(trouble);
    }
    return report;
}

std::unique_ptr<KeptSounds> openKeptSounds(const std::filesystem::path& folder, std::uintmax_t mostBytes,
                                           const std::filesystem::path& soundFont, FileSystem& fileSystem,
                                           KeptSoundsReport& report)
{
    std::error_code error;
    auto cache = FileCache::open(folder, mostBytes, fileSystem, error);
    if (!cache) {
        report.trouble = CacheTrouble{0, error, folder};
        return nullptr;
    }
    // A soundfont that cannot be read fails the build where it is opened, and says why there.
    const auto fontHash = fileContentHash(soundFont);
    if (!fontHash) {
        return nullptr;
    }
    return std::make_unique<KeptSounds>(std::move(cache).value(), *fontHash);
}

}  // namespace zentrowe::workflow

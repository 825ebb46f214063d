#include "core/workflow/kept_sounds.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/preview_writer.h"
#include "core/base/content_hash.h"

namespace zentrowe::workflow {

namespace {

// Raised whenever the synthesiser's settings, the warm-up, the ring-out or the encoder's use
// change what the same key gives: an older version's entries then never match.
constexpr std::uint32_t kRenderVersion = 1;
constexpr std::uint32_t kEncodeVersion = 1;
constexpr std::string_view kRenderShelf = "renders";
constexpr std::string_view kEncodedShelf = "encoded";
constexpr std::uint32_t kSoundFontVersion = 1;
constexpr std::string_view kSoundFontShelf = "soundfonts";
constexpr std::string_view kPresetShelf = "presets";
constexpr std::string_view kMixShelf = "mixes";

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

// The hash of the soundfont's bytes, kept under what the file system says of it (where it is,
// which file, its size and when it was last written), so that a build does not read 150 MB to
// find the hash it found before; a soundfont written since is hashed again.
std::optional<std::uint64_t> soundFontHash(FileCache& cache, const std::filesystem::path& soundFont,
                                           const FileSystem& fileSystem)
{
    std::error_code error;
    const auto file = std::filesystem::canonical(soundFont, error);
    const auto size = error ? 0 : std::filesystem::file_size(file, error);
    const auto written = error ? std::filesystem::file_time_type() : std::filesystem::last_write_time(file, error);
    const auto status = fileSystem.status(file);
    if (error || status.kind != FileKind::File) {
        const auto hash = fileContentHash(soundFont);
        return hash ? std::optional<std::uint64_t>(*hash) : std::nullopt;
    }
    std::string key = "soundfont";
    putNumber(key, kSoundFontVersion);
    for (const auto value : {status.id.device, status.id.inode, static_cast<std::uint64_t>(size),
                             static_cast<std::uint64_t>(written.time_since_epoch().count())}) {
        putNumber(key, static_cast<std::int64_t>(value));
    }
    key += file.generic_string();
    if (const auto kept = cache.find(kSoundFontShelf, key); kept && kept->size() == sizeof(std::uint64_t)) {
        std::uint64_t hash = 0;
        std::memcpy(&hash, kept->data(), sizeof hash);
        return hash;
    }
    const auto hash = fileContentHash(file);
    if (!hash) {
        return std::nullopt;
    }
    const std::uint64_t value = *hash;
    cache.put(kSoundFontShelf, key, {reinterpret_cast<const std::uint8_t*>(&value), sizeof value});
    return value;
}

std::span<const std::uint8_t> bytesOf(std::span<const float> samples)
{
    return {reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()};
}

}  // namespace

// A renderer that asks the cache first, and makes the one it renders with only when a note is
// not kept: a rebuild that finds every note then loads no soundfont for its threads.
class KeptSounds::Renderer final : public audio::Renderer {
public:
    Renderer(KeptSounds& kept, std::unique_ptr<audio::Renderer> made) : m_kept(kept), m_made(std::move(made)) { }
    Renderer(KeptSounds& kept, audio::RendererFactory factory) : m_kept(kept), m_factory(std::move(factory)) { }

    Result<std::vector<float>> renderNote(const audio::NoteSound& sound) override
    {
        const std::string key = renderKey(playedAs(sound), m_kept.m_soundFontHash);
        if (auto entry = m_kept.m_cache.find(kRenderShelf, key); entry && entry->size() % sizeof(float) == 0) {
            std::vector<float> samples(entry->size() / sizeof(float));
            if (!samples.empty()) {  // a silent render is kept as no bytes
                std::memcpy(samples.data(), entry->data(), entry->size());
            }
            ++m_kept.m_rendersTaken;
            return samples;
        }
        if (const auto made = make(); !made) {
            return made.error();
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
        if (const auto made = make(); !made) {
            return made.error();
        }
        return m_made->renderEvents(events, tailFrames, progress);
    }

    // As the soundfont answered before, else as it answers; false when it cannot be opened: the
    // renderings then fail and say why.
    bool hasPreset(const audio::Instrument& instrument) const override
    {
        std::string key = "preset";
        for (const std::int64_t value :
             {std::int64_t{instrument.bank}, std::int64_t{instrument.program}, std::int64_t{instrument.drums},
              static_cast<std::int64_t>(m_kept.m_soundFontHash)}) {
            putNumber(key, value);
        }
        if (const auto kept = m_kept.m_cache.find(kPresetShelf, key); kept && kept->size() == 1) {
            return kept->front() == '1';
        }
        if (!make()) {
            return false;
        }
        const bool has = m_made->hasPreset(instrument);
        const std::uint8_t answer = has ? '1' : '0';
        m_kept.m_cache.put(kPresetShelf, key, {&answer, 1});
        return has;
    }

    // As the kept sounds were told, made or not, so that a note is kept under the same key
    // whichever renderer looks for it; each note on its own when they were told nothing.
    audio::NoteSound playedAs(const audio::NoteSound& sound) const override
    {
        return m_kept.m_playedAs != nullptr ? m_kept.m_playedAs(sound) : sound;
    }

private:
    Status make() const
    {
        if (m_made) {
            return {};
        }
        auto made = m_factory();
        if (!made) {
            return made.error();
        }
        m_made = std::move(made).value();
        return {};
    }

    KeptSounds& m_kept;
    audio::RendererFactory m_factory;
    mutable std::unique_ptr<audio::Renderer> m_made;  // made on first use, by the thread using it
};

KeptSounds::KeptSounds(FileCache cache, std::uint64_t soundFontHash)
    : m_cache(std::move(cache)), m_soundFontHash(soundFontHash)
{
}

std::unique_ptr<audio::Renderer> KeptSounds::wrap(std::unique_ptr<audio::Renderer> renderer)
{
    return std::make_unique<Renderer>(*this, std::move(renderer));
}

audio::RendererFactory KeptSounds::renderers(audio::RendererFactory made,
                                             audio::NoteSound (*playedAs)(const audio::NoteSound&))
{
    m_playedAs = playedAs;
    // The first is made at once the first time a soundfont is used: it tells which presets the
    // soundfont has, and one that cannot be opened fails the build there, saying so. Once it has
    // opened, a mark under its hash says so, and every renderer waits for a note not kept.
    std::string opened = "opened";
    putNumber(opened, static_cast<std::int64_t>(m_soundFontHash));
    auto first = std::make_shared<std::atomic<bool>>(!m_cache.find(kSoundFontShelf, opened));
    return [this, made = std::move(made), first, opened]() -> Result<std::unique_ptr<audio::Renderer>> {
        if (first->exchange(false)) {
            auto renderer = made();
            if (!renderer) {
                return renderer.error();
            }
            m_cache.put(kSoundFontShelf, opened, {});
            return wrap(std::move(renderer).value());
        }
        return std::unique_ptr<audio::Renderer>(std::make_unique<Renderer>(*this, made));
    };
}

audio::SoundWriter KeptSounds::writer(audio::SoundFormat format, double quality, audio::SoundBytesWriter place)
{
    return encodingWriter({"encoded", false, format, quality, audio::SoundChannels::MonoWhereAlike}, std::move(place));
}

audio::SoundWriter KeptSounds::previewWriter(audio::SoundBytesWriter place)
{
    return encodingWriter(
        {"preview", true, audio::SoundFormat::OggVorbis, audio::kPreviewOggQuality, audio::SoundChannels::Stereo},
        std::move(place));
}

audio::SoundWriter KeptSounds::encodingWriter(Encoding encoding, audio::SoundBytesWriter place)
{
    return [this, encoding, place = std::move(place)](const std::filesystem::path& target,
                                                      std::span<const float> samples) -> Status {
        std::string key(encoding.kind);
        putNumber(key, kEncodeVersion);
        putNumber(key, static_cast<std::int64_t>(encoding.format));
        putNumber(key, static_cast<std::int64_t>(encoding.quality * 1'000'000));
        putNumber(key, audio::kSampleRate);
        putNumber(key, static_cast<std::int64_t>(samples.size()));
        putNumber(key, static_cast<std::int64_t>(contentHash(bytesOf(samples))));
        if (auto bytes = encodedFile(key, target)) {
            ++(encoding.preview ? m_previewsTaken : m_encodedTaken);
            return place(target, *bytes);
        }
        NullProgress quiet;
        auto encoded = audio::encodeSound(target, samples, encoding.format, encoding.quality, audio::kSampleRate, quiet,
                                          encoding.channels);
        if (!encoded) {
            return encoded.error();
        }
        m_cache.put(kEncodedShelf, key, *encoded);
        noteEncodedKey(target, key);
        ++(encoding.preview ? m_previewsMade : m_encodedMade);
        return place(target, *encoded);
    };
}

std::string KeptSounds::soundKey(const audio::RenderJob& job) const
{
    if (!job.sequence) {
        return renderKey(m_playedAs != nullptr ? m_playedAs(job.note) : job.note, m_soundFontHash);
    }
    ContentHash events;
    for (const auto& event : job.events) {
        std::string bytes;
        putNumber(bytes, event.frame);
        bytes += {static_cast<char>(event.status), static_cast<char>(event.data1), static_cast<char>(event.data2)};
        events.add(bytes);
    }
    std::string key = "sequence";
    for (const std::int64_t value :
         {std::int64_t{kRenderVersion}, static_cast<std::int64_t>(m_soundFontHash), std::int64_t{audio::kSampleRate},
          job.tailFrames, static_cast<std::int64_t>(job.events.size()), static_cast<std::int64_t>(events.value())}) {
        putNumber(key, value);
    }
    return key;
}

void KeptSounds::noteEncodedKey(const std::filesystem::path& target, const std::string& key)
{
    std::lock_guard lock(m_mutex);
    m_encodedKeys.insert_or_assign(target.filename().string(), key);
}

std::optional<std::string> KeptSounds::encodedKey(const std::string& fileName) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_encodedKeys.find(fileName);
    return found != m_encodedKeys.end() ? std::optional<std::string>(found->second) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> KeptSounds::encodedFile(const std::string& key,
                                                                 const std::filesystem::path& target)
{
    auto entry = m_cache.find(kEncodedShelf, key);
    if (!entry) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(entry->begin(), entry->end());
    if (entry->starts_with("OggS")) {  // as encoded in OGG Vorbis: the stream takes the target's name
        audio::renameOggStream(bytes, target);
    }
    noteEncodedKey(target, key);
    return bytes;
}

std::optional<std::string> KeptSounds::findMix(std::string_view key)
{
    return m_cache.find(kMixShelf, key);
}

void KeptSounds::noteMixTaken(std::size_t soundFiles)
{
    ++m_mixesTaken;
    ++m_previewsTaken;
    m_encodedTaken += soundFiles;
}

void KeptSounds::keepMix(std::string_view key, std::span<const std::uint8_t> facts)
{
    m_cache.put(kMixShelf, key, facts);
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
    report.previewsTaken = m_previewsTaken;
    report.previewsMade = m_previewsMade;
    report.mixesTaken = m_mixesTaken;
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
    const auto fontHash = soundFontHash(*cache, soundFont, fileSystem);
    if (!fontHash) {
        return nullptr;
    }
    return std::make_unique<KeptSounds>(std::move(cache).value(), *fontHash);
}

}  // namespace zentrowe::workflow

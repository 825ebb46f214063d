#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/audio/sound_file_writer.h"
#include "core/base/file_cache.h"

namespace zentrowe::workflow {

// What a build took from its kept sounds, and what kept it from them.
struct KeptSoundsReport {
    bool used = false;             // the cache was on and could be read
    std::size_t rendersTaken = 0;  // keysounds not rendered again
    std::size_t rendersMade = 0;   // rendered (and kept for the next build)
    std::size_t encodedTaken = 0;  // files not encoded again
    std::size_t encodedMade = 0;
    std::size_t previewsTaken = 0;  // previews not encoded again
    std::size_t previewsMade = 0;
    std::size_t mixesTaken = 0;           // a loudness and preview recalled: no render read, nothing mixed
    std::optional<CacheTrouble> trouble;  // a folder that could not be used or written, damaged entries
};

// A build's renders and encoded files kept from one build to the next in a FileCache, so that a
// build with other chart options renders and encodes nothing it made before, and writes the same
// bytes as one without them.
// A render is kept under a key of everything that makes its sound: the soundfont's bytes (their
// hash), the note's instrument, controllers, note, velocity, length and cut, the sample rate and
// the version of the rendering. An encoded file is kept under the hash of the exact samples the
// encoder is given (so the loudness gain is in it), the format, quality and rate.
class KeptSounds {
public:
    // The kept sounds in `cache`, rendered with the soundfont whose bytes hash to `soundFontHash`.
    KeptSounds(FileCache cache, std::uint64_t soundFontHash);

    // Renderers that take a note from the cache where it is kept and keep what they render; a
    // sequence (a BGM slice) is always rendered. The first time a soundfont is used, the first
    // renderer opens it at once (one that cannot be opened fails the build there); every other
    // renderer, and every one once a build has opened it, opens it only for a note not kept or a
    // preset not asked before: a rebuild that finds them all opens none. `playedAs`, where given,
    // tells the notes the made renderers play alike (audio::Renderer::playedAs) without a
    // soundfont: such notes are kept as one.
    audio::RendererFactory renderers(audio::RendererFactory made,
                                     audio::NoteSound (*playedAs)(const audio::NoteSound&) = nullptr);
    // Wraps the first renderer the build made itself.
    std::unique_ptr<audio::Renderer> wrap(std::unique_ptr<audio::Renderer> renderer);
    // Encodes as audio::encodeSound does in `format` and `quality`, in one channel where the
    // sides are alike, taking the bytes from the cache where the same samples were encoded
    // before; `place` puts them under the target's name.
    audio::SoundWriter writer(audio::SoundFormat format, double quality, audio::SoundBytesWriter place);
    // Encodes a preview as audio::writePreviewFile does in OGG Vorbis, taking the bytes from the
    // cache where the same mix was encoded before: a rebuild whose preview plays the same sounds
    // at the same place encodes none.
    audio::SoundWriter previewWriter(audio::SoundBytesWriter place);

    // Everything that makes the sound of `job` as a key: the render's for a note (as the renderers
    // play it), and for a sequence its events, tail and soundfont; the same job, the same key.
    std::string soundKey(const audio::RenderJob& job) const;
    // The key under which the file named `fileName` was encoded or found by this cache's writers
    // in this build; none if they wrote no file of that name.
    std::optional<std::string> encodedKey(const std::string& fileName) const;
    // The bytes of the file encoded under `key` (as encodedKey() gives it), renamed for `target`
    // as the writers rename them; none when not kept or damaged.
    std::optional<std::vector<std::uint8_t>> encodedFile(const std::string& key, const std::filesystem::path& target);
    // What a build's loudness pass and preview came to (kept_mix.h), under `key`.
    std::optional<std::string> findMix(std::string_view key);
    void keepMix(std::string_view key, std::span<const std::uint8_t> facts);
    // Counts a mix recalled, with its preview and `soundFiles` sound files taken as encoded.
    void noteMixTaken(std::size_t soundFiles);

    // What was taken and made so far; lets the least recently used entries go first.
    KeptSoundsReport finish();

private:
    class Renderer;
    // The file named as `target` is of the bytes kept under `key` (encodedKey() tells it).
    void noteEncodedKey(const std::filesystem::path& target, const std::string& key);
    // How one kind of file is encoded: part of its key.
    struct Encoding {
        std::string_view kind;
        bool preview;  // counted as a preview, not as a sound file
        audio::SoundFormat format;
        double quality;
        audio::SoundChannels channels;
    };
    audio::SoundWriter encodingWriter(Encoding encoding, audio::SoundBytesWriter place);

    FileCache m_cache;
    std::uint64_t m_soundFontHash;
    audio::NoteSound (*m_playedAs)(const audio::NoteSound&) = nullptr;
    std::atomic<std::size_t> m_rendersTaken{0};
    std::atomic<std::size_t> m_rendersMade{0};
    std::atomic<std::size_t> m_encodedTaken{0};
    std::atomic<std::size_t> m_encodedMade{0};
    std::atomic<std::size_t> m_previewsTaken{0};
    std::atomic<std::size_t> m_previewsMade{0};
    std::atomic<std::size_t> m_mixesTaken{0};
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_encodedKeys;  // by file name, as the writers saw them
};

// The kept sounds of `folder` for a build with `soundFont`: none with a report saying why when
// the folder cannot be made or the soundfont read (the build then renders everything).
std::unique_ptr<KeptSounds> openKeptSounds(const std::filesystem::path& folder, std::uintmax_t mostBytes,
                                           const std::filesystem::path& soundFont, FileSystem& fileSystem,
                                           KeptSoundsReport& report);

}  // namespace zentrowe::workflow

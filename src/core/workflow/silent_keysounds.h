#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/base/result.h"
#include "core/chart/chart_model.h"

namespace zentrowe::workflow {

// Why a keysound renders as silence.
enum class SilenceCause {
    VolumeZero,  // its channel's volume or expression is 0
    NoPreset,    // the soundfont has neither its preset nor one to play instead
    NoSound,     // the preset has no sound for the note, or one too faint to hear
};

// A keysound file the soundfont renders as silence, and the notes of the track that played it:
// they are left out of every chart, and the file is never written.
struct SilentKeysound {
    std::string fileName;
    audio::Instrument instrument;
    std::uint8_t note = 0;
    std::int64_t noteCount = 0;
    SilenceCause cause = SilenceCause::NoSound;
};

// True if no sample reaches audio::kRingOutFloor (-60 dBFS): the synthesiser renders a note never
// heard as no samples at all, and an encoder given none writes a file no player decodes.
bool isSilentSound(std::span<const float> interleaved);

// Stands between the rendering threads and the writer: a keysound file (one of `keysoundFiles`)
// that came out silent is set aside, not written; every other sound goes to the writer.
class SilenceFilter {
public:
    explicit SilenceFilter(std::set<std::filesystem::path> keysoundFiles)
        : m_keysoundFiles(std::move(keysoundFiles)) { }

    // A writer for the rendering pool; `this` must outlive it.
    audio::SoundWriter writerFor(audio::SoundWriter writer);
    // The file names set aside, once rendering is over.
    std::set<std::string> silentNames() const;

private:
    std::set<std::filesystem::path> m_keysoundFiles;
    mutable std::mutex m_mutex;
    std::set<std::string> m_silent;
};

// Takes the notes of the silent keysounds (`silentNames`, among `keysoundJobs`) out of `chart`:
// lane, long-note and background objects alike, so that no lane points at silence. `unplayable`
// lists the instruments the soundfont has no preset for, nor a stand-in. One entry per silent
// file, in the order of the jobs, with the notes it played.
std::vector<SilentKeysound> dropSilentNotes(chart::Chart& chart, std::span<const audio::RenderJob> keysoundJobs,
                                            const std::set<std::string>& silentNames,
                                            std::span<const audio::Instrument> unplayable);

// Removes the definitions of the silent keysounds' files from a chart whose notes no longer play them.
void dropSilentDefinitions(chart::Chart& chart, std::span<const SilentKeysound> silent);

// How a sentence names the cause: "channel volume 0", "no preset in the soundfont", ...
std::string silenceCauseText(SilenceCause cause);

// The refusal of a track whose every keysound renders as silence: one sentence naming the track,
// the soundfont and the causes; SilentRecording.
Error allKeysoundsSilent(std::span<const SilentKeysound> silent, int trackNumber,
                         const std::filesystem::path& soundFont);

}  // namespace zentrowe::workflow

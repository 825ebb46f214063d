#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/convert/keysound_table.h"
#include "core/keysound/keysound_states.h"

namespace zentrowe::workflow {

// Where and at what tempo a build renders its keysounds.
struct KeysoundRendering {
    std::filesystem::path folder;  // the files go here
    std::string keysoundName;      // the prefix of every stem
    std::string extension;         // ".ogg" or ".wav"
    std::int32_t ticksPerQuarter = 480;
    std::int32_t ticksPerMeasure = 1920;
    std::uint32_t tempoMicros = 500'000;  // "K-Midi.mid"'s: a keysound's length becomes frames at it
};

// The controllers of a channel state as the renderer takes them.
audio::NoteControls noteControls(const song::ChannelState& channel);

// One render job per keysound stem, in table order (keysounds whose lengths round to one stem
// share the first one's file): the note with its variant's instrument and controllers, released
// after its sounding length (its variant's, else its own) at the tempo of "K-Midi.mid", which
// the variant counts its seconds in, and faded from its variant's choke if it has one.
std::vector<audio::RenderJob> keysoundJobs(const convert::KeysoundTable& keysounds,
                                           const keysound::KeysoundStates& states, const KeysoundRendering& rendering);
// The same for keysounds whose variants index `sounds` (the background's, of many tracks).
std::vector<audio::RenderJob> keysoundJobs(const convert::KeysoundTable& keysounds,
                                           std::span<const keysound::VariantSound> sounds,
                                           const KeysoundRendering& rendering);
// The same with the sound of each variant from `soundOf`.
std::vector<audio::RenderJob> keysoundJobs(const convert::KeysoundTable& keysounds, const KeysoundRendering& rendering,
                                           const std::function<keysound::VariantSound(std::uint32_t)>& soundOf);

}  // namespace zentrowe::workflow

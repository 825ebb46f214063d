#include "core/workflow/keysound_jobs.h"

#include <cmath>
#include <functional>
#include <set>

#include "core/keysound/keysound_midi_writer.h"
#include "core/song/timeline.h"

namespace zentrowe::workflow {

namespace {

constexpr std::int32_t kKeysoundMidiTicksPerQuarter = 96;

// Ticks of the song as "K-Midi.mid" plays them: rounded to its 96 a quarter note, then at its tempo.
std::int64_t framesOfSongTicks(std::int64_t ticks, const KeysoundRendering& rendering)
{
    const auto midiTicks = static_cast<std::int64_t>(keysound::keysoundMidiDuration(ticks, rendering.ticksPerQuarter));
    return song::Timeline::steady(kKeysoundMidiTicksPerQuarter, rendering.tempoMicros)
        .frame(midiTicks, audio::kSampleRate);
}

}  // namespace

audio::NoteControls noteControls(const song::ChannelState& channel)
{
    return {channel.volume,    channel.expression,         channel.pan,           channel.modulation, channel.pressure,
            channel.pitchBend, channel.bendRangeSemitones, channel.bendRangeCents};
}

std::vector<audio::RenderJob> keysoundJobs(const convert::KeysoundTable& keysounds,
                                           const keysound::KeysoundStates& states, const KeysoundRendering& rendering)
{
    return keysoundJobs(keysounds, rendering, [&](std::uint32_t variant) { return states.sound(variant); });
}

std::vector<audio::RenderJob> keysoundJobs(const convert::KeysoundTable& keysounds,
                                           std::span<const keysound::VariantSound> sounds,
                                           const KeysoundRendering& rendering)
{
    return keysoundJobs(keysounds, rendering, [&](std::uint32_t variant) {
        return variant < sounds.size() ? sounds[variant] : keysound::VariantSound{};
    });
}

std::vector<audio::RenderJob> keysoundJobs(const convert::KeysoundTable& keysounds, const KeysoundRendering& rendering,
                                           const std::function<keysound::VariantSound(std::uint32_t)>& soundOf)
{
    std::vector<audio::RenderJob> jobs;
    std::set<std::string> stems;
    for (std::size_t k = 0; k < keysounds.size(); ++k) {
        const auto& entry = keysounds[k];
        auto stem =
            convert::keysoundStem(rendering.keysoundName, entry, rendering.ticksPerMeasure, keysounds.suffix(k));
        if (!stems.insert(stem).second) {
            continue;
        }
        const auto sound = soundOf(keysounds.variant(k));
        audio::RenderJob job;
        job.name = stem + rendering.extension;
        job.target = rendering.folder / job.name;
        job.note.instrument = {sound.instrument.bank, sound.instrument.program, sound.instrument.drums};
        job.note.note = entry.note;
        job.note.velocity = entry.velocity;
        job.note.controls = noteControls(sound.channel);
        job.note.noteFrames = framesOfSongTicks(sound.soundingTicks.value_or(entry.duration), rendering);
        if (sound.cutTicks) {
            job.note.cutFrames = framesOfSongTicks(*sound.cutTicks, rendering);
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

}  // namespace zentrowe::workflow

#include "core/workflow/silent_keysounds.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "core/base/file_error.h"

namespace zentrowe::workflow {

bool isSilentSound(std::span<const float> interleaved)
{
    return std::none_of(interleaved.begin(), interleaved.end(),
                        [](float sample) { return std::fabs(sample) >= audio::kRingOutFloor; });
}

audio::SoundWriter SilenceFilter::writerFor(audio::SoundWriter writer)
{
    return [this, writer = std::move(writer)](const std::filesystem::path& target, std::span<const float> samples) {
        if (m_keysoundFiles.count(target) != 0 && isSilentSound(samples)) {
            std::lock_guard lock(m_mutex);
            m_silent.insert(target.filename().string());
            return Status{};
        }
        return writer(target, samples);
    };
}

std::set<std::string> SilenceFilter::silentNames() const
{
    std::lock_guard lock(m_mutex);
    return m_silent;
}

std::vector<SilentKeysound> dropSilentNotes(chart::Chart& chart, std::span<const audio::RenderJob> keysoundJobs,
                                            const std::set<std::string>& silentNames,
                                            std::span<const audio::Instrument> unplayable)
{
    std::vector<SilentKeysound> silent;
    for (const auto& job : keysoundJobs) {
        if (silentNames.count(job.name) == 0) {
            continue;
        }
        SilentKeysound entry{job.name, job.note.instrument, job.note.note, 0, SilenceCause::NoSound};
        if (job.note.controls.volume == 0 || job.note.controls.expression == 0 || job.note.velocity == 0) {
            entry.cause = SilenceCause::VolumeZero;
        } else if (std::find(unplayable.begin(), unplayable.end(), job.note.instrument) != unplayable.end()) {
            entry.cause = SilenceCause::NoPreset;
        }
        silent.push_back(entry);
    }
    if (silent.empty()) {
        return silent;
    }
    std::map<chart::ChartCode, std::size_t> silentCodes;  // the code, its entry
    for (const auto& definition : chart.keysounds) {
        const auto found = std::find_if(silent.begin(), silent.end(),
                                        [&](const SilentKeysound& s) { return s.fileName == definition.fileName; });
        if (found != silent.end()) {
            silentCodes[definition.code] = static_cast<std::size_t>(found - silent.begin());
        }
    }
    // The lines again, without the silent objects; a line left empty goes. A long note's start
    // and end carry one code, so both go and the channel keeps its start-end turns.
    std::vector<chart::ChannelLine> lines;
    std::vector<chart::LineObject> objects;
    for (const auto& line : chart.lines) {
        const bool sounding = line.channel == chart::kBackgroundChannel || chart::isLaneChannel(line.channel) ||
                              chart::isLongNoteChannel(line.channel);
        chart::ChannelLine kept = line;
        kept.firstObject = static_cast<std::uint32_t>(objects.size());
        kept.objectCount = 0;
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            const auto code = silentCodes.find(object.code);
            if (sounding && code != silentCodes.end()) {
                // Counted in halves for a long note: its start and its end.
                silent[code->second].noteCount += chart::isLongNoteChannel(line.channel) ? 1 : 2;
                continue;
            }
            objects.push_back(object);
            ++kept.objectCount;
        }
        if (kept.objectCount > 0 || line.objectCount == 0) {
            lines.push_back(kept);
        }
    }
    chart.lines = std::move(lines);
    chart.objects = std::move(objects);
    for (auto& entry : silent) {
        entry.noteCount = (entry.noteCount + 1) / 2;
    }
    return silent;
}

void dropSilentDefinitions(chart::Chart& chart, std::span<const SilentKeysound> silent)
{
    std::erase_if(chart.keysounds, [&](const chart::KeysoundDefinition& definition) {
        return std::any_of(silent.begin(), silent.end(),
                           [&](const SilentKeysound& s) { return s.fileName == definition.fileName; });
    });
}

std::string silenceCauseText(SilenceCause cause)
{
    switch (cause) {
    case SilenceCause::VolumeZero:
        return "channel volume 0";
    case SilenceCause::NoPreset:
        return "no preset in the soundfont";
    case SilenceCause::NoSound:
        break;
    }
    return "the soundfont gives the note no sound above -60 dBFS";
}

Error allKeysoundsSilent(std::span<const SilentKeysound> silent, int trackNumber,
                         const std::filesystem::path& soundFont)
{
    std::int64_t notes = 0;
    std::vector<SilenceCause> causes;
    for (const auto& entry : silent) {
        notes += entry.noteCount;
        if (std::find(causes.begin(), causes.end(), entry.cause) == causes.end()) {
            causes.push_back(entry.cause);
        }
    }
    std::string why;
    for (const auto cause : causes) {
        why += (why.empty() ? "" : ", ") + silenceCauseText(cause);
    }
    return Error{ErrorCode::SilentRecording, "every note of track " + std::to_string(trackNumber) + " (" +
                                                 std::to_string(notes) + ") sounds nothing with " +
                                                 displayPath(soundFont) + " (" + why +
                                                 "), so there is no keysound to write"}
        .inFile(displayPath(soundFont))
        .withNumber(trackNumber);
}

}  // namespace zentrowe::workflow

#include "core/workflow/background_keysounds.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_set>

#include "core/convert/percussion_mode.h"

namespace zentrowe::workflow {

namespace {

constexpr std::uint8_t kDrumChannel = 9;
constexpr unsigned kEveryPart = keysound::kInstrumentPart | keysound::kLevelPart | keysound::kPanPart |
                                keysound::kBendPart | keysound::kModulationPart | keysound::kPressurePart |
                                keysound::kSoundingPart | keysound::kCutPart | keysound::kVoicePart;

// A note of the other tracks before doubled notes are weeded out: its keysound's identity, merged.
struct Candidate {
    std::int64_t tick = 0;
    std::int64_t duration = 0;
    std::uint8_t channel = 0;
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
    std::uint32_t variant = 0;
    int track = 0;
};

// The channel states of every track, each distinct one once.
struct SongStates {
    std::vector<keysound::KeysoundState> states;
    std::vector<keysound::VariantSound> sounds;

    std::uint32_t add(const keysound::KeysoundState& state, const keysound::VariantSound& sound)
    {
        const auto found = std::find(states.begin(), states.end(), state);
        if (found != states.end()) {
            return static_cast<std::uint32_t>(found - states.begin());
        }
        states.push_back(state);
        sounds.push_back(sound);
        return static_cast<std::uint32_t>(states.size() - 1);
    }
};

// True if one of `parts` takes the notes of `track` on channel index `channel`.
bool inParts(std::span<const song::TrackPart> parts, int track, std::uint8_t channel)
{
    return std::any_of(parts.begin(), parts.end(),
                       [&](const song::TrackPart& part) { return part.trackNumber == track && part.takes(channel); });
}

// The notes of `track` that no lane part takes.
void addCandidates(const keysound::TrackNoteStarts& starts, const song::SongSummary& song, int track,
                   std::span<const song::TrackPart> laneParts, const convert::ConversionSettings& settings,
                   SongStates& songStates, std::vector<Candidate>& out)
{
    const keysound::StateMerge merge{settings.merge.velocityStep, settings.merge.lengthStep,
                                     song.ticksPerMeasure,        false,
                                     song::Timeline(song),        keysound::keysoundMidiTempo(settings, song)};
    const keysound::KeysoundStates states(starts, merge);
    // A state enters the song's list with its first note here, so the lanes' channels add none.
    std::vector<std::optional<std::uint32_t>> variantOf(states.variantCount());
    const auto variant = [&](std::uint32_t local) {
        if (!variantOf[local]) {
            variantOf[local] = songStates.add(states.state(local), states.sound(local));
        }
        return *variantOf[local];
    };
    // Lengths to the nearest 1/192 measure at least: lengths that round to one file name share it.
    const std::int64_t lengthStep = std::max<std::int64_t>(settings.merge.lengthStep, 1);
    for (std::size_t k = 0; k < starts.notes.size(); ++k) {
        const auto& note = starts.notes[k];
        if (inParts(laneParts, track, note.channel)) {
            continue;
        }
        const std::int64_t length = std::min(note.lengthTicks, convert::kLongestDurationTicks);
        const std::int64_t duration = note.channel == kDrumChannel
                                          ? convert::PercussionMode::kDurationTicks
                                          : convert::mergedDuration(length, lengthStep, song.ticksPerMeasure);
        out.push_back({note.startTick, duration, note.channel, note.note,
                       convert::mergedVelocity(note.velocity, settings.merge.velocityStep),
                       variant(states.variantOf(k)), track});
    }
}

using NoteKey = std::tuple<std::int64_t, std::uint8_t, std::uint8_t>;  // tick, channel, note

// The notes the lanes' parts strike, by tick, channel and key.
std::set<NoteKey> laneNoteKeys(const keysound::TrackNoteStarts& laneNotes)
{
    std::set<NoteKey> keys;
    for (const auto& note : laneNotes.notes) {
        keys.emplace(note.startTick, note.channel, note.note);
    }
    return keys;
}

}  // namespace

std::string BackgroundKeysounds::stem(const std::string& keysoundName, std::size_t index,
                                      std::int32_t ticksPerMeasure) const
{
    return convert::keysoundStem(keysoundName + kBackgroundStemMark, table[index], ticksPerMeasure,
                                 table.suffix(index));
}

std::vector<TrackStarts> readOtherTrackStarts(song::SongSource file, const song::SongSummary& song,
                                              std::span<const song::TrackPart> laneParts,
                                              const keysound::ExclusiveClasses* classes)
{
    std::vector<TrackStarts> tracks;
    for (int track = 1; track <= static_cast<int>(song.tracks.size()); ++track) {
        const bool wholeInLanes = std::any_of(laneParts.begin(), laneParts.end(), [&](const song::TrackPart& part) {
            return part.trackNumber == track && part.channel == 0;
        });
        if (!wholeInLanes) {
            tracks.push_back({track, keysound::readNoteStarts(file, song, track, classes)});
        }
    }
    return tracks;
}

BackgroundKeysounds collectBackgroundKeysounds(std::span<const TrackStarts> otherTracks,
                                               const keysound::TrackNoteStarts& laneNotes,
                                               std::span<const song::TrackPart> laneParts,
                                               const song::SongSummary& song,
                                               const convert::ConversionSettings& settings)
{
    SongStates songStates;
    std::vector<Candidate> candidates;
    for (const auto& track : otherTracks) {
        addCandidates(track.starts, song, track.trackNumber, laneParts, settings, songStates, candidates);
    }
    // Doubled notes side by side, the longest first, then the loudest, then the earliest track's.
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.tick, a.channel, a.note, b.duration, b.velocity) <
               std::tie(b.tick, b.channel, b.note, a.duration, a.velocity);
    });
    const auto inLanes = laneNoteKeys(laneNotes);
    BackgroundKeysounds out;
    out.table.liftCodeLimit();
    out.states = std::move(songStates.states);
    out.sounds = std::move(songStates.sounds);
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const auto& note = candidates[k];
        const bool again = k > 0 && candidates[k - 1].tick == note.tick && candidates[k - 1].channel == note.channel &&
                           candidates[k - 1].note == note.note;
        if (again || inLanes.contains({note.tick, note.channel, note.note})) {
            ++out.doubledNotes;
            continue;
        }
        const std::size_t known = out.table.size();
        const auto index = out.table.findOrAdd(note.note, note.duration, note.velocity, note.tick, note.variant);
        if (!index) {
            continue;  // only a table with a code limit refuses
        }
        if (out.table.size() > known) {
            out.table.setSuffix(*index, keysound::stateSuffix(out.states[note.variant], kEveryPart));
            out.sources.push_back({note.track, note.channel});
        }
        out.notes.push_back({note.tick, *index});
    }
    return out;
}

void addBackgroundKeysounds(chart::Chart& chart, const BackgroundKeysounds& background,
                            std::span<const std::string> fileNames, chart::ChartCode firstCode,
                            std::int32_t ticksPerMeasure)
{
    for (std::size_t k = 0; k < background.table.size() && k < fileNames.size(); ++k) {
        chart.keysounds.push_back({firstCode + static_cast<chart::ChartCode>(k), fileNames[k]});
    }
    const auto slots = static_cast<std::uint32_t>(ticksPerMeasure);
    std::size_t next = 0;
    while (next < background.notes.size()) {
        const std::int64_t measure = background.notes[next].tick / ticksPerMeasure;
        std::map<std::uint32_t, std::size_t> layerAt;  // slot, the layers holding it
        std::vector<std::vector<chart::LineObject>> layers;
        for (; next < background.notes.size() && background.notes[next].tick / ticksPerMeasure == measure; ++next) {
            const auto& note = background.notes[next];
            const auto slot = static_cast<std::uint32_t>(note.tick % ticksPerMeasure);
            const std::size_t layer = layerAt[slot]++;
            if (layer == layers.size()) {
                layers.emplace_back();
            }
            layers[layer].push_back({slot, firstCode + static_cast<chart::ChartCode>(note.keysound)});
        }
        for (const auto& layer : layers) {
            chart.addLine(static_cast<std::int32_t>(measure), chart::kBackgroundChannel, slots);
            for (const auto& object : layer) {
                chart.addObject(object.slot, object.code);
            }
        }
        chart.lines.back().blankLinesAfter = 1;
    }
}

std::optional<Error> codesExhausted(const CodeDemand& demand, const std::optional<CodeRelief>& relief)
{
    const std::size_t needed = demand.laneKeysounds + demand.backgroundKeysounds;
    const auto fits = [&](std::size_t count, bool base62) {
        return static_cast<std::int64_t>(count) <= convert::largestCode(base62) - demand.startValue;
    };
    if (demand.bmson || fits(needed, demand.base62)) {
        return std::nullopt;
    }
    std::vector<std::string> ways;
    if (!demand.base62 && fits(needed, true)) {
        ways.push_back("with base-62 codes (--codes 62)");
    }
    ways.push_back("as a bmson chart (--chart-format bmson)");
    if (relief) {
        std::string way = "merged with";
        if (relief->velocityStep > 1) {
            way += " --velocity-step " + std::to_string(relief->velocityStep);
        }
        if (relief->lengthStep > 0) {
            way += " --length-step " + std::to_string(relief->lengthStep);
        }
        ways.push_back(way + " (" + std::to_string(relief->keysounds) + " keysounds)");
    }
    if (demand.backgroundKeysounds > 0 && fits(demand.laneKeysounds + 1, demand.base62)) {
        ways.push_back("with the other tracks in BGM slices (--bgm slices)");
    }
    const std::string startCode = convert::encodeCode(demand.startValue, demand.base62);
    std::string message = demand.backgroundKeysounds == 0
                              ? "the track has " + std::to_string(needed) + " keysounds"
                              : "the song has " + std::to_string(needed) + " keysounds (" +
                                    std::to_string(demand.laneKeysounds) + " of the lanes' track, " +
                                    std::to_string(demand.backgroundKeysounds) + " of the other tracks)";
    message += std::string(", more than the codes after start code ") + startCode + " up to " +
               (demand.base62 ? "zz" : "ZZ") + " can number; it would fit ";
    for (std::size_t k = 0; k < ways.size(); ++k) {
        message += (k == 0 ? "" : k + 1 == ways.size() ? " or " : ", ") + ways[k];
    }
    return Error{ErrorCode::CodesExhausted, message + "; nothing was written"}
        .about("keysounds")
        .withValue(startCode)
        .withNumber(static_cast<std::int64_t>(needed));
}

std::size_t keysoundsMergedAgain(const convert::KeysoundTable& table, const convert::KeysoundMerge& merge,
                                 std::int32_t ticksPerMeasure)
{
    std::unordered_set<convert::KeysoundIdentity, convert::KeysoundIdentityHash> merged;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto& entry = table[k];
        merged.emplace(entry.note, convert::mergedDuration(entry.duration, merge.lengthStep, ticksPerMeasure),
                       convert::mergedVelocity(entry.velocity, merge.velocityStep), table.variant(k));
    }
    return merged.size();
}

}  // namespace zentrowe::workflow

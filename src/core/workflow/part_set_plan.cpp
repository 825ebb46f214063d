#include "core/workflow/part_set_plan.h"

#include <algorithm>
#include <tuple>

#include "core/workflow/conversion.h"
#include "core/workflow/followed_parts.h"

namespace zentrowe::workflow {

namespace {

bool covers(const song::TrackPart& named, const song::TrackPart& other)
{
    return named.trackNumber == other.trackNumber && (named.channel == 0 || named.channel == other.channel);
}

// The song's parts as sets take them: a track whose notes are on one channel whole, else each
// of its channels; with their note counts.
std::vector<std::pair<song::TrackPart, std::int64_t>> songParts(SongParts& song)
{
    const auto& rows = song.rows();
    std::vector<std::pair<song::TrackPart, std::int64_t>> parts;
    for (const auto& row : rows) {
        const auto channels = std::count_if(rows.begin(), rows.end(), [&](const song::ChannelPartRow& other) {
            return other.part.trackNumber == row.part.trackNumber;
        });
        const song::TrackPart part{row.part.trackNumber, channels == 1 ? 0 : row.part.channel};
        parts.emplace_back(part, row.noteCount);
    }
    return parts;
}

// With one part named, it and the song's other parts that have enough notes.
BuildRequest withSongParts(BuildRequest request, SongParts& song, PartSetFindings& found)
{
    const auto named = chartedParts(request.conversion);
    if (named.size() != 1) {
        return request;
    }
    for (const auto& [part, notes] : songParts(song)) {
        if (!covers(named.front(), part) && !covers(part, named.front()) && notes >= kLeastPartSetNotes) {
            request.conversion.moreParts.push_back(part);
            found.added.push_back(part);
        }
    }
    return request;
}

using NoteKey = std::tuple<std::int64_t, std::uint8_t, std::int64_t>;  // start, key, length

std::vector<NoteKey> notesOf(SongParts& song, const song::TrackPart& part)
{
    std::vector<NoteKey> notes;
    for (const auto& start : song.noteStarts(part)) {
        notes.emplace_back(start.startTick, start.note, start.lengthTicks);
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// A set for each of the first `named` parts of the conversion that plays notes, alike ones once.
std::vector<chartset::PartSet> partSetsOf(const BuildRequest& request, SongParts& song, std::size_t named,
                                          PartSetFindings& found)
{
    const auto parts = chartedParts(request.conversion);
    std::vector<chartset::PartSet> sets;
    std::vector<std::vector<NoteKey>> setNotes;
    for (std::size_t k = 0; k < named && k < parts.size(); ++k) {
        auto notes = notesOf(song, parts[k]);
        if (notes.empty()) {
            found.silent.push_back(parts[k]);
            continue;
        }
        const auto same = std::find(setNotes.begin(), setNotes.end(), notes);
        if (same != setNotes.end()) {
            const auto& first = parts[sets[static_cast<std::size_t>(same - setNotes.begin())].part];
            auto group = std::find_if(found.alike.begin(), found.alike.end(),
                                      [&](const auto& alike) { return alike.front() == first; });
            if (group == found.alike.end()) {
                found.alike.push_back({first});
                group = found.alike.end() - 1;
            }
            group->push_back(parts[k]);
            continue;
        }
        std::string tag = song::partText(parts[k]);
        std::replace(tag.begin(), tag.end(), ':', '-');
        sets.push_back({k, std::move(tag), partSetName(song, parts[k])});
        setNotes.push_back(std::move(notes));
    }
    return sets;
}

}  // namespace

BuildRequest withPartSets(const BuildRequest& asked, SongParts& song, PartSetFindings& found)
{
    if (!asked.charts.setPerPart) {
        return withFollowedParts(asked, song);
    }
    BuildRequest named = withSongParts(asked, song, found);
    const std::size_t namedCount = chartedParts(named.conversion).size();
    BuildRequest request = withFollowedParts(std::move(named), song);
    request.charts.follow = request.charts.follow && !followSetAside(request);
    request.charts.partSets = partSetsOf(request, song, namedCount, found);
    return request;
}

std::string partSetName(SongParts& song, const song::TrackPart& part)
{
    const auto& tracks = song.song().tracks;
    const auto index = static_cast<std::size_t>(part.trackNumber - 1);
    if (part.channel == 0 && part.trackNumber >= 1 && index < tracks.size() && !tracks[index].name.empty()) {
        return tracks[index].name;
    }
    for (const auto& row : song.rows()) {
        if (covers(part, row.part) && !row.instrument.empty()) {
            return row.instrument;
        }
    }
    return song::partName(part);
}

}  // namespace zentrowe::workflow

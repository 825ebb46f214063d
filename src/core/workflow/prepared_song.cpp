#include "core/workflow/prepared_song.h"

#include "core/workflow/conversion.h"

namespace zentrowe::workflow {

PreparedSong prepareSong(const BuildRequest& request, std::span<const std::uint8_t> file)
{
    const auto& song = request.conversion.song;
    PreparedSong prepared{
        file,        chartedParts(request.conversion), song::Timeline(song), song::readSongCredits(file, song), {},
        std::nullopt};
    if (auto classes = keysound::readExclusiveClasses(request.soundFont)) {
        prepared.chokeGroups = std::move(classes).value();
    }
    prepared.notes = keysound::readNoteStarts(file, song, prepared.parts, prepared.groups());
    return prepared;
}

}  // namespace zentrowe::workflow

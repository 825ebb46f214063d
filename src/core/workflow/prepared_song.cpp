#include "core/workflow/prepared_song.h"

#include "core/audio/song_sequence.h"
#include "core/workflow/conversion.h"

namespace zentrowe::workflow {

PreparedSong prepareSong(const BuildRequest& request, song::SongSource file)
{
    const auto& song = request.conversion.song;
    // The fields a BGM mode asks for are filled below, each only where that mode needs it.
    const std::uint64_t sourceSize = file.size();
    PreparedSong prepared{sourceSize,
                          chartedParts(request.conversion),
                          song::Timeline(song),
                          song::readSongCredits(file, song),
                          song::PartNotes(),
                          {},
                          std::nullopt,
                          {},
                          {},
                          {}};
    if (auto classes = keysound::readExclusiveClasses(request.soundFont)) {
        prepared.chokeGroups = std::move(classes).value();
    }
    prepared.partNotes = song::readPartNotes(file, song, prepared.parts);
    prepared.notes = keysound::readNoteStarts(file, song, prepared.parts, prepared.groups());
    if (request.bgm != BgmMode::None) {
        prepared.otherParts = audio::sequenceOtherParts(file, song, prepared.parts);
    }
    if (request.bgm == BgmMode::One) {
        prepared.trackEndTicks = audio::lastSequencedTicks(file, song);
    }
    if (request.bgm == BgmMode::Keysounds) {
        prepared.otherTracks = readOtherTrackStarts(file, song, prepared.parts, prepared.groups());
    }
    return prepared;
}

BackgroundKeysounds backgroundKeysounds(const PreparedSong& prepared, const song::SongSummary& song,
                                        const convert::ConversionSettings& settings)
{
    return collectBackgroundKeysounds(prepared.otherTracks, prepared.notes, prepared.parts, song, settings);
}

}  // namespace zentrowe::workflow

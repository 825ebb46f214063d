#include "core/keysound/keysound_cuts.h"

#include "core/base/file_reading.h"

namespace zentrowe::keysound {

namespace {

class CutVisitor {
public:
    CutVisitor(CutList& cuts, std::int64_t origin) : m_cuts(cuts), m_origin(origin) { }

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        m_lastTime = time;
        if (event.kind() != 0x90 || event.data2 == 0 || event.data1 == 0 || event.data1 == 127) {
            return;
        }
        const std::int64_t start = time - m_origin;
        if (!m_cuts.empty()) {
            m_cuts.back().length = start - m_cuts.back().start;
        }
        m_cuts.push_back({event.data1, 0, start});
    }
    void onEvent(std::int64_t time, std::uint32_t, const song::MetaEvent&) { m_lastTime = time; }
    void onEvent(std::int64_t time, std::uint32_t, const song::SysExEvent&) { m_lastTime = time; }

    std::int64_t endTime() const { return m_lastTime - m_origin; }

private:
    CutList& m_cuts;
    std::int64_t m_origin;
    std::int64_t m_lastTime = 0;
};

}  // namespace

CutList collectKeysoundCuts(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                            std::int64_t gapTicks)
{
    CutList cuts;
    if (trackNumber < 1 || trackNumber > static_cast<int>(song.tracks.size())) {
        return cuts;
    }
    CutVisitor visitor(cuts, song.firstNoteTime.value_or(0));
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    song::walkTrack(file, song.tracks[static_cast<std::size_t>(trackNumber - 1)].location, visitor, throttle);
    if (!cuts.empty()) {
        cuts.back().length = (visitor.endTime() - cuts.back().start) - gapTicks;
    }
    return cuts;
}

Result<KeysoundReadBack> readBackKeysoundFile(const std::filesystem::path& keysoundFile, std::int64_t gapTicks,
                                              ProgressSink& progress)
{
    const auto file = song::readSongFile(keysoundFile);
    if (!file) {
        return file.error();
    }
    return readBackKeysoundBytes(file->bytes(), displayPath(keysoundFile), gapTicks, progress);
}

Result<KeysoundReadBack> readBackKeysoundBytes(std::span<const std::uint8_t> keysoundMidi, const std::string& name,
                                               std::int64_t gapTicks, ProgressSink& progress)
{
    auto song = song::summarizeSong(keysoundMidi, name, progress);
    if (!song) {
        return song.error();
    }
    KeysoundReadBack readBack;
    readBack.cuts = collectKeysoundCuts(keysoundMidi, *song, 1, gapTicks);
    readBack.song = std::move(song).value();
    return readBack;
}

}  // namespace zentrowe::keysound

#include "app/ui/passes/song_read_pass.h"

#include "core/base/file_reading.h"

namespace zentrowe::app {

SongReadPass::Output SongReadPass::operator()(ProgressSink& progress) const
{
    Output read{song::readSongSummary(m_midiFile, progress), {}, {}};
    if (!read.summary) {
        return read;
    }
    if (auto details = song::readTrackDetails(m_midiFile, *read.summary, progress)) {
        read.details = std::move(details).value();
    }
    if (const auto bytes = readFileBytes(m_midiFile)) {
        read.channelParts = song::listChannelParts(bytes->bytes(), *read.summary);
    }
    return read;
}

}  // namespace zentrowe::app

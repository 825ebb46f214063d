#include "core/song/song_summary.h"

#include <algorithm>
#include <cstring>

#include "core/base/file_reading.h"
#include "core/base/text_decoding.h"
#include "core/song/event_text.h"
#include "core/song/instrument_names.h"

namespace zentrowe::song {

namespace {

constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kChunkHeaderSize = 8;

class SummaryVisitor {
public:
    SummaryVisitor(SongSummary& song, TrackSummary& track) : m_song(song), m_track(track) { }

    void onEvent(std::int64_t time, std::uint32_t, const ChannelEvent& event)
    {
        switch (event.kind()) {
        case 0x90:
            if (event.data2 != 0) {
                ++m_track.noteCount;
            }
            if (!m_sawNoteOn) {
                m_sawNoteOn = true;
                if (!m_song.firstNoteTime || time < *m_song.firstNoteTime) {
                    m_song.firstNoteTime = time;
                }
            }
            break;
        case 0xC0:
            if (event.channel() == 9) {
                m_track.family = kDrumFamily;
                m_track.instrument = kDrumInstrument;
            } else if (event.data1 < 128) {
                // A malformed program byte of 128 or more names no instrument: keep the texts.
                m_track.instrument = kInstrumentNames[event.data1];
                m_track.family = kFamilyNames[event.data1 / 8u];
            }
            break;
        default:
            break;
        }
    }

    void onEvent(std::int64_t time, std::uint32_t, const MetaEvent& event)
    {
        if (event.type == 0x2F) {
            m_sawEndOfTrack = true;
        } else if (event.type == 0x03) {
            // By detection, as the chart headers are: a Shift_JIS name reads as Japanese.
            m_track.name = decodeListedText(event.data);
        } else if (event.type == 0x02) {
            if (!m_song.copyright) {
                m_song.copyright = decodeListedText(event.data);
            }
        } else if (event.type == 0x51) {
            const std::uint32_t tempo = tempoOf(event);
            if (tempo == 0) {
                return;  // a tempo of 0 cannot be played; the song keeps its current tempo
            }
            m_song.tempoMicros = tempo;
            std::copy_n(event.data.begin(), 3, m_song.tempoBytes.begin());
            m_song.tempoMap.push_back({tempo, time});
        }
    }

    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }

    // Writers that overstate the last track's length are common; what comes after its End of
    // Track is no part of it, so only a track the file ends before that is cut short.
    bool sawEndOfTrack() const { return m_sawEndOfTrack; }

private:
    SongSummary& m_song;
    TrackSummary& m_track;
    bool m_sawNoteOn = false;
    bool m_sawEndOfTrack = false;
};

// `rule` names what the header broke, for faces that word the refusal themselves.
Error notMidi(const std::string& name, const char* rule, const std::string& why)
{
    return Error{ErrorCode::NotMidi, name + ": not a MIDI file (" + why + ")"}.inFile(name).about(rule);
}

}  // namespace

std::string trackLabel(int trackNumber)
{
    std::string label = "音轨 ";
    if (trackNumber < 10) {
        label += '0';
    }
    label += std::to_string(trackNumber);
    return label;
}

namespace {

// The 14-byte header: format, track count and division, or why the file is not a song we read.
Result<SongSummary> readHeader(std::span<const std::uint8_t> file, const std::string& name)
{
    ByteReader header(file);
    if (file.size() < kHeaderSize) {
        return notMidi(name, "tooShort", "too short for a header");
    }
    if (std::memcmp(file.data(), "MThd", 4) != 0) {
        return notMidi(name, "noHeader", "no \"MThd\" header");
    }
    header.skip(4);
    if (*header.u32be() != 6) {
        return notMidi(name, "headerLength", "header length is not 6");
    }
    SongSummary song;
    song.format = *header.u16be();
    song.declaredTrackCount = *header.u16be();
    const std::uint16_t division = *header.u16be();
    if (song.declaredTrackCount >= 0x8000) {
        return notMidi(name, "trackCount",
                       "the header announces " + std::to_string(song.declaredTrackCount) + " tracks")
            .withNumber(song.declaredTrackCount);
    }
    if (song.format == 0 && song.declaredTrackCount > 1) {
        return notMidi(name, "formatZeroTracks", "format 0 with " + std::to_string(song.declaredTrackCount) + " tracks")
            .withNumber(song.declaredTrackCount);
    }
    if (division & 0x8000) {
        return Error{ErrorCode::UnsupportedDivision,
                     name + ": SMPTE time division is not supported (only ticks per quarter note)"}
            .inFile(name)
            .about("smpte");
    }
    song.ticksPerQuarter = division;
    song.ticksPerMeasure = division * 4;
    return song;
}

}  // namespace

Result<SongSummary> summarizeSong(std::span<const std::uint8_t> file, const std::string& name, ProgressSink& progress)
{
    auto header = readHeader(file, name);
    if (!header) {
        return header.error();
    }
    SongSummary song = std::move(header).value();
    song.fileSize = file.size();

    ProgressThrottle throttle(progress, static_cast<std::int64_t>(file.size()));
    std::uint64_t offset = kHeaderSize;
    std::optional<std::size_t> truncatedTrack;  // 1-based
    while (song.tracks.size() < song.declaredTrackCount) {
        if (file.size() - std::min<std::uint64_t>(offset, file.size()) < kChunkHeaderSize) {
            break;
        }
        ByteReader chunk(file.subspan(static_cast<std::size_t>(offset), kChunkHeaderSize));
        const bool isTrack = std::memcmp(file.data() + offset, "MTrk", 4) == 0;
        chunk.skip(4);
        const std::uint32_t length = *chunk.u32be();
        const std::uint64_t dataStart = offset + kChunkHeaderSize;
        offset = dataStart + length;
        if (!isTrack) {
            continue;  // chunks of other types carry nothing for us
        }
        TrackSummary track;
        track.location = {dataStart, length};
        track.label = trackLabel(static_cast<int>(song.tracks.size()) + 1);
        SummaryVisitor visitor(song, track);
        throttle.setBase(static_cast<std::int64_t>(dataStart));
        const WalkEnd end = walkTrack(file, track.location, visitor, throttle);
        if (end == WalkEnd::Cancelled) {
            return Error{ErrorCode::Cancelled, name + ": reading was cancelled"};
        }
        if (end == WalkEnd::Truncated && !visitor.sawEndOfTrack() && !truncatedTrack) {
            truncatedTrack = song.tracks.size() + 1;
        }
        song.tracks.push_back(std::move(track));
    }
    if (song.tracks.size() < song.declaredTrackCount) {
        song.warning = name + ": the header announces " + std::to_string(song.declaredTrackCount) +
                       " tracks, but only " + std::to_string(song.tracks.size()) + " could be read";
    } else if (truncatedTrack) {
        // The track is listed with what was read; the user should know the rest is missing.
        song.warning = name + ": the file ends inside track " + std::to_string(*truncatedTrack) +
                       ", so its last events are missing";
    }
    std::stable_sort(song.tempoMap.begin(), song.tempoMap.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.time < b.time; });
    throttle.finish();
    return song;
}

Result<FileBytes> readSongFile(const std::filesystem::path& midiFile)
{
    const std::string name = displayPath(midiFile);
    return readFileBytes(midiFile, kHeaderSize, [&](std::span<const std::uint8_t> head) -> Status {
        if (auto header = readHeader(head, name); !header) {
            return header.error();
        }
        return {};
    });
}

Status checkUnchangedSince(const SongSummary& song, std::span<const std::uint8_t> file,
                           const std::filesystem::path& midiFile)
{
    return checkUnchangedSince(song, std::uint64_t{file.size()}, midiFile);
}

Status checkUnchangedSince(const SongSummary& song, std::uint64_t fileSize, const std::filesystem::path& midiFile)
{
    if (fileSize >= song.fileSize) {
        return {};
    }
    return fileError(ErrorCode::CannotOpen, midiFile, "read",
                     "it holds " + std::to_string(fileSize) + " bytes now but held " + std::to_string(song.fileSize) +
                         " when it was opened; open it again");
}

Result<SongSummary> readSongSummary(const std::filesystem::path& midiFile, ProgressSink& progress)
{
    auto bytes = readSongFile(midiFile);
    if (!bytes) {
        return bytes.error();
    }
    return summarizeSong(bytes->bytes(), displayPath(midiFile), progress);
}

}  // namespace zentrowe::song

#include "app/ui/track_choice.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "app/controls/list_view.h"
#include "app/ui/text.h"

namespace zentrowe::app {

namespace {

constexpr int kDrumChannel = 10;  // General MIDI's, as musicians count

// "0:30": from the track's first note to its last.
QString durationText(const song::TrackDetails& details)
{
    if (details.noteCount == 0) {
        return {};
    }
    const auto seconds = static_cast<long long>(std::lround(details.seconds()));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// "2.1 / 4.0 旋律": notes per second on average and at most, and the mark of the likely tune.
QString densityText(const song::TrackDetails& details, bool melody)
{
    if (details.noteCount == 0) {
        return {};
    }
    const QString text = QStringLiteral("%1 / %2")
                             .arg(details.averageNotesPerSecond, 0, 'f', 1)
                             .arg(details.peakNotesPerSecond, 0, 'f', 1);
    return melody ? text + QObject::tr(" 旋律") : text;
}

// The channel parts of track `trackNumber`, if it plays on more than one channel: a track of one
// channel is its one part already.
std::vector<const song::ChannelPartRow*> partsOfTrack(const std::vector<song::ChannelPartRow>& channelParts,
                                                      int trackNumber)
{
    std::vector<const song::ChannelPartRow*> parts;
    for (const auto& row : channelParts) {
        if (row.part.trackNumber == trackNumber) {
            parts.push_back(&row);
        }
    }
    return parts.size() > 1 ? parts : std::vector<const song::ChannelPartRow*>{};
}

bool overlaps(const song::TrackPart& a, const song::TrackPart& b)
{
    return a.trackNumber == b.trackNumber && (a.channel == 0 || b.channel == 0 || a.channel == b.channel);
}

}  // namespace

void TrackChoice::list(ListView& list, const song::SongSummary& song, const std::vector<song::TrackDetails>& details,
                       const std::vector<song::ChannelPartRow>& channelParts)
{
    list.removeAllItems();
    m_rows.clear();
    m_ticked.clear();
    const bool detailed = details.size() == song.tracks.size() && !song.tracks.empty();
    list.setCheckBoxes(detailed);
    const auto melody = detailed ? song::likelyMelodyTrack(details) : std::nullopt;
    for (std::size_t k = 0; k < song.tracks.size(); ++k) {
        const auto& track = song.tracks[k];
        const int trackNumber = static_cast<int>(k) + 1;
        const int row = list.itemCount();
        m_rows.push_back({trackNumber, 0});
        list.insertItem(row, track.label);
        list.setItemText(row, 1, std::to_string(track.noteCount));
        if (detailed) {
            list.setItemText(row, 2, toUtf8(durationText(details[k])));
            list.setItemText(row, 3, toUtf8(densityText(details[k], melody == trackNumber)));
        }
        list.setItemText(row, 4, track.name);
        list.setItemText(row, 5, toUtf8(displayedName(track.family)));
        list.setItemText(row, 6, toUtf8(displayedName(track.instrument)));
        if (!detailed) {
            continue;
        }
        // Each channel of a track that plays on several, indented under it, as --track T:C names it.
        for (const song::ChannelPartRow* part : partsOfTrack(channelParts, trackNumber)) {
            const int partRow = list.itemCount();
            m_rows.push_back(part->part);
            list.insertItem(partRow, toUtf8(QObject::tr("  └ 通道 %1").arg(part->part.channel)));
            list.setItemText(partRow, 1, std::to_string(part->noteCount));
            list.setItemText(partRow, 2, toUtf8(durationText(part->details)));
            list.setItemText(partRow, 3, toUtf8(densityText(part->details, false)));
            list.setItemText(partRow, 5, toUtf8(displayedName(part->family)));
            list.setItemText(partRow, 6, toUtf8(displayedName(part->instrument)));
        }
    }
}

std::optional<song::TrackPart> TrackChoice::partAt(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        return std::nullopt;
    }
    return m_rows[static_cast<std::size_t>(row)];
}

int TrackChoice::rowOf(const song::TrackPart& part) const
{
    const auto at = std::find(m_rows.begin(), m_rows.end(), part);
    return at == m_rows.end() ? -1 : static_cast<int>(at - m_rows.begin());
}

void TrackChoice::onTicked(ListView& list, int row, bool ticked)
{
    const auto part = partAt(row);
    if (!part) {
        return;
    }
    const auto known = std::find(m_ticked.begin(), m_ticked.end(), *part);
    if (!ticked) {
        if (known != m_ticked.end()) {
            m_ticked.erase(known);
        }
        return;
    }
    if (known != m_ticked.end()) {
        return;
    }
    // Unticking reports back here, and takes the other part out of m_ticked.
    const std::vector<song::TrackPart> before = m_ticked;
    for (const auto& other : before) {
        if (overlaps(other, *part)) {
            list.setItemChecked(rowOf(other), false);
        }
    }
    m_ticked.push_back(*part);
}

std::vector<song::TrackPart> TrackChoice::chosen(int selectedRow) const
{
    if (!m_ticked.empty()) {
        return m_ticked;
    }
    const auto part = partAt(selectedRow);
    return part ? std::vector<song::TrackPart>{*part} : std::vector<song::TrackPart>{};
}

bool TrackChoice::allDrums(const std::vector<song::TrackPart>& parts, const std::vector<song::TrackDetails>& details)
{
    return !parts.empty() && std::all_of(parts.begin(), parts.end(), [&](const song::TrackPart& part) {
        if (part.channel != 0) {
            return part.channel == kDrumChannel;
        }
        const auto index = static_cast<std::size_t>(part.trackNumber - 1);
        return part.trackNumber >= 1 && index < details.size() && details[index].onlyDrumChannel();
    });
}

QString partLabel(const song::TrackPart& part)
{
    const QString track = toQString(song::trackLabel(part.trackNumber));
    return part.channel == 0 ? track : QObject::tr("%1 通道 %2").arg(track).arg(part.channel);
}

QString choiceTitle(const std::vector<song::TrackPart>& parts, const song::SongSummary& song)
{
    if (parts.size() == 1 && parts.front().channel == 0 && parts.front().trackNumber >= 1 &&
        parts.front().trackNumber <= static_cast<int>(song.tracks.size())) {
        const auto& track = song.tracks[static_cast<std::size_t>(parts.front().trackNumber - 1)];
        const QString name = displayedName(track.name);
        return name.isEmpty() ? toQString(track.label) : toQString(track.label) + QLatin1Char(' ') + name;
    }
    QStringList labels;
    for (const auto& part : parts) {
        labels << partLabel(part);
    }
    return labels.join(QStringLiteral("、"));
}

}  // namespace zentrowe::app

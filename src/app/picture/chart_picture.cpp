#include "app/picture/chart_picture.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace zentrowe::picture {

namespace {

constexpr double kPixelsPerBeat = 14;
constexpr double kColumnBeats = 32;  // eight measures of four beats
// A measure longer than this (16 measures of four beats) is drawn this tall, what lies in it in
// proportion, so that a "#xxx02:1000000000" line makes no column millions of pixels tall.
constexpr double kLongestDrawnMeasureBeats = 64;
constexpr int kColumnsPerRow = 10;
constexpr int kScratchWidth = 18;
constexpr int kKeyWidth = 12;
constexpr int kSideGap = 6;        // between the first and the second player's lanes
constexpr int kNumberMargin = 28;  // left of a column: the measure numbers
constexpr int kTempoMargin = 40;   // right of a column: the tempo changes
constexpr int kNoteHeight = 4;
constexpr int kPadding = 16;
constexpr int kHeaderHeight = 52;
constexpr int kRowGap = 24;
constexpr int kGraphHeight = 90;

const QColor kBackground{11, 13, 20};
const QColor kWhiteKeyLane{20, 20, 28};
const QColor kBlackKeyLane{14, 18, 32};
const QColor kScratchLane{26, 14, 20};
const QColor kWhiteKey{240, 240, 240};
const QColor kBlackKey{90, 160, 255};
const QColor kScratch{255, 77, 77};
const QColor kMeasureLine{108, 112, 128};
const QColor kBeatLine{38, 42, 54};
const QColor kLaneLine{30, 32, 42};
const QColor kNumberText{160, 164, 176};
const QColor kTempo{255, 210, 74};
const QColor kHeaderText{230, 232, 240};
const QColor kGraphLow{70, 200, 120};
const QColor kGraphHigh{255, 170, 60};

enum class Key { Scratch, White, Black };

struct Lane {
    std::uint8_t channel = 0;
    int x = 0;  // from the column's lanes' left edge
    int width = 0;
    Key key = Key::White;
};

// A run of whole measures drawn bottom to top.
struct Column {
    int firstMeasure = 0;
    int endMeasure = 0;  // one past the last
    double firstBeat = 0;
    double endBeat = 0;
    QPoint origin;  // the lanes' bottom left corner
};

struct Layout {
    std::vector<Lane> lanes;
    int lanesWidth = 0;
    int columnHeight = 0;
    std::vector<Column> columns;
    QSize size;
    QRect graph;
};

// The score as drawn: every measure longer than kLongestDrawnMeasureBeats squeezed to that many
// beats, the notes and tempo changes in it moved in proportion; `squeezed` marks those measures,
// whose beat lines would lie.
struct DrawnScore {
    chart::ChartScore score;
    std::vector<bool> squeezed;
};

DrawnScore drawnScore(const chart::ChartScore& real)
{
    DrawnScore drawn{real, {}};
    const auto& starts = real.measureBeats;
    std::vector<double> drawnStarts{starts.front()};
    for (std::size_t m = 0; m + 1 < starts.size(); ++m) {
        const double length = starts[m + 1] - starts[m];
        drawn.squeezed.push_back(length > kLongestDrawnMeasureBeats);
        drawnStarts.push_back(drawnStarts.back() + std::min(length, kLongestDrawnMeasureBeats));
    }
    const auto place = [&](double beat) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), beat);
        if (next == starts.begin()) {
            return drawnStarts.front();
        }
        if (next == starts.end()) {
            return drawnStarts.back() + std::min(beat - starts.back(), kLongestDrawnMeasureBeats);
        }
        const auto m = static_cast<std::size_t>(next - starts.begin()) - 1;
        const double length = starts[m + 1] - starts[m];
        return drawnStarts[m] + (beat - starts[m]) * (drawnStarts[m + 1] - drawnStarts[m]) / length;
    };
    if (std::find(drawn.squeezed.begin(), drawn.squeezed.end(), true) == drawn.squeezed.end()) {
        return drawn;
    }
    for (auto& note : drawn.score.notes) {
        note.beat = place(note.beat);
        note.endBeat = place(note.endBeat);
    }
    for (auto& tempo : drawn.score.tempos) {
        tempo.beat = place(tempo.beat);
    }
    drawn.score.measureBeats = std::move(drawnStarts);
    return drawn;
}

// The first player's scratch (16) and keys 1..7 (11..15, 18, 19); then the second player's keys
// and scratch (21..25, 28, 29, 26) when the chart uses them.
std::vector<Lane> lanesOf(const chart::ChartScore& score)
{
    const bool secondPlayer = std::any_of(score.notes.begin(), score.notes.end(),
                                          [](const chart::ScoreNote& note) { return note.lane >= 21; });
    std::vector<Lane> lanes;
    int x = 0;
    const auto add = [&](std::uint8_t channel, Key key) {
        const int width = key == Key::Scratch ? kScratchWidth : kKeyWidth;
        lanes.push_back({channel, x, width, key});
        x += width;
    };
    const std::uint8_t keys[] = {1, 2, 3, 4, 5, 8, 9};
    add(16, Key::Scratch);
    for (int k = 0; k < 7; ++k) {
        add(static_cast<std::uint8_t>(10 + keys[k]), k % 2 == 0 ? Key::White : Key::Black);
    }
    if (secondPlayer) {
        x += kSideGap;
        for (int k = 0; k < 7; ++k) {
            add(static_cast<std::uint8_t>(20 + keys[k]), k % 2 == 0 ? Key::White : Key::Black);
        }
        add(26, Key::Scratch);
    }
    return lanes;
}

// Whole measures to a column, as many as fit in kColumnBeats; a longer measure has one to itself
// and makes every column as tall.
std::vector<Column> columnsOf(const chart::ChartScore& score, double& tallestBeats)
{
    std::vector<Column> columns;
    tallestBeats = kColumnBeats;
    const auto& starts = score.measureBeats;
    for (int m = 0; m < score.measureCount(); ++m) {
        const double begin = starts[static_cast<std::size_t>(m)];
        const double end = starts[static_cast<std::size_t>(m) + 1];
        if (columns.empty() || end - columns.back().firstBeat > kColumnBeats + 1e-9) {
            columns.push_back({m, m, begin, begin, {}});
        }
        columns.back().endMeasure = m + 1;
        columns.back().endBeat = end;
        tallestBeats = std::max(tallestBeats, end - columns.back().firstBeat);
    }
    return columns;
}

Layout layoutOf(const chart::ChartScore& score)
{
    Layout layout;
    layout.lanes = lanesOf(score);
    layout.lanesWidth = layout.lanes.back().x + layout.lanes.back().width;
    double tallestBeats = kColumnBeats;
    layout.columns = columnsOf(score, tallestBeats);
    layout.columnHeight = static_cast<int>(std::ceil(std::min(tallestBeats * kPixelsPerBeat, 1e6)));
    const int pitch = kNumberMargin + layout.lanesWidth + kTempoMargin;
    const int count = static_cast<int>(layout.columns.size());
    const int rows = std::max(1, (count + kColumnsPerRow - 1) / kColumnsPerRow);
    const int columnsWide = std::max(1, std::min(count, kColumnsPerRow));
    const double height =
        kHeaderHeight + static_cast<double>(rows) * (layout.columnHeight + kRowGap) + kGraphHeight + 2.0 * kPadding;
    const int width = 2 * kPadding + columnsWide * pitch;
    if (height > kLargestSide) {
        return layout;
    }
    layout.size = QSize(width, static_cast<int>(height));
    for (int c = 0; c < count; ++c) {
        const int row = c / kColumnsPerRow;
        const int top = kPadding + kHeaderHeight + row * (layout.columnHeight + kRowGap);
        layout.columns[static_cast<std::size_t>(c)].origin =
            QPoint(kPadding + (c % kColumnsPerRow) * pitch + kNumberMargin, top + layout.columnHeight);
    }
    layout.graph =
        QRect(kPadding, layout.size.height() - kPadding - kGraphHeight + 8, width - 2 * kPadding, kGraphHeight - 8);
    return layout;
}

QColor noteColour(Key key)
{
    switch (key) {
    case Key::Scratch:
        return kScratch;
    case Key::Black:
        return kBlackKey;
    case Key::White:
        break;
    }
    return kWhiteKey;
}

QColor laneColour(Key key)
{
    switch (key) {
    case Key::Scratch:
        return kScratchLane;
    case Key::Black:
        return kBlackKeyLane;
    case Key::White:
        break;
    }
    return kWhiteKeyLane;
}

int yOf(const Column& column, double beat)
{
    return column.origin.y() - static_cast<int>(std::lround((beat - column.firstBeat) * kPixelsPerBeat));
}

// The lanes' backgrounds, a faint line each beat, a bright one at each measure, and its number.
void drawColumnGround(QPainter& painter, const Layout& layout, const DrawnScore& drawn, const Column& column)
{
    const auto& score = drawn.score;
    const int top = yOf(column, column.endBeat);
    for (const auto& lane : layout.lanes) {
        painter.fillRect(column.origin.x() + lane.x, top, lane.width, column.origin.y() - top, laneColour(lane.key));
        painter.fillRect(column.origin.x() + lane.x, top, 1, column.origin.y() - top, kLaneLine);
    }
    for (int m = column.firstMeasure; m < column.endMeasure; ++m) {
        const auto at = static_cast<std::size_t>(m);
        for (double beat = std::ceil(score.measureBeats[at]); !drawn.squeezed[at] && beat < score.measureBeats[at + 1];
             beat += 1) {
            painter.fillRect(column.origin.x(), yOf(column, beat), layout.lanesWidth, 1, kBeatLine);
        }
    }
    painter.setPen(kNumberText);
    for (int m = column.firstMeasure; m <= column.endMeasure; ++m) {
        const int y = yOf(column, score.measureBeats[static_cast<std::size_t>(m)]);
        painter.fillRect(column.origin.x(), y, layout.lanesWidth, 1, kMeasureLine);
        if (m < column.endMeasure) {
            const QRect numberBox(column.origin.x() - kNumberMargin, y - 14, kNumberMargin - 4, 14);
            painter.drawText(numberBox, Qt::AlignRight | Qt::AlignVCenter,
                             QStringLiteral("%1").arg(m, 3, 10, QLatin1Char('0')));
        }
    }
}

void drawNote(QPainter& painter, const Layout& layout, const Column& column, const chart::ScoreNote& note)
{
    const auto lane =
        std::find_if(layout.lanes.begin(), layout.lanes.end(), [&](const Lane& l) { return l.channel == note.lane; });
    if (lane == layout.lanes.end()) {
        return;
    }
    const QColor colour = noteColour(lane->key);
    const int x = column.origin.x() + lane->x + 1;
    const int width = lane->width - 1;
    if (note.longNote) {
        const int top = std::max(yOf(column, note.endBeat), yOf(column, column.endBeat));
        const int bottom = std::min(yOf(column, note.beat), column.origin.y());
        QColor body = colour;
        body.setAlpha(140);
        painter.fillRect(x + 2, top, width - 4, bottom - top, body);
        if (note.endBeat <= column.endBeat) {
            painter.fillRect(x, top - kNoteHeight / 2, width, kNoteHeight, colour);
        }
    }
    if (note.beat >= column.firstBeat && note.beat < column.endBeat) {
        painter.fillRect(x, yOf(column, note.beat) - kNoteHeight / 2, width, kNoteHeight, colour);
    }
}

void drawColumnNotes(QPainter& painter, const Layout& layout, const chart::ChartScore& score, const Column& column)
{
    // Long notes begun in an earlier column show their bodies here too.
    for (const auto& note : score.notes) {
        if (note.beat >= column.endBeat) {
            break;
        }
        if (note.beat >= column.firstBeat || (note.longNote && note.endBeat > column.firstBeat)) {
            drawNote(painter, layout, column, note);
        }
    }
}

void drawColumnTempos(QPainter& painter, const Layout& layout, const chart::ChartScore& score, const Column& column)
{
    painter.setPen(kTempo);
    for (std::size_t k = 1; k < score.tempos.size(); ++k) {
        const auto& tempo = score.tempos[k];
        if (tempo.beat < column.firstBeat || tempo.beat >= column.endBeat) {
            continue;
        }
        const int y = yOf(column, tempo.beat);
        painter.fillRect(column.origin.x(), y, layout.lanesWidth, 1, kTempo);
        const QRect box(column.origin.x() + layout.lanesWidth + 3, y - 7, kTempoMargin - 4, 14);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, QString::number(tempo.bpm, 'g', 4));
    }
}

QString clockText(double seconds)
{
    const auto whole = static_cast<long long>(std::lround(seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

void drawHeader(QPainter& painter, const chart::ChartScore& score, const Layout& layout)
{
    auto [slowest, fastest] = std::minmax_element(score.tempos.begin(), score.tempos.end(),
                                                  [](const auto& a, const auto& b) { return a.bpm < b.bpm; });
    QString facts = QStringLiteral("%1 notes   BPM %2").arg(score.notes.size()).arg(slowest->bpm, 0, 'g', 4);
    if (fastest->bpm != slowest->bpm) {
        facts += QStringLiteral("-%1").arg(fastest->bpm, 0, 'g', 4);
    }
    facts += QStringLiteral("   %1").arg(clockText(score.lengthSeconds));
    if (score.playLevel) {
        facts += QStringLiteral("   Lv %1").arg(*score.playLevel);
    }
    QString title = QString::fromStdString(score.title);
    if (!score.artist.empty()) {
        title += QStringLiteral("  /  ") + QString::fromStdString(score.artist);
    }
    const int width = layout.size.width() - 2 * kPadding;
    QFont font = painter.font();
    font.setPixelSize(18);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(kHeaderText);
    painter.drawText(QRect(kPadding, kPadding, width, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
    font.setPixelSize(12);
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(kNumberText);
    painter.drawText(QRect(kPadding, kPadding + 26, width, 18), Qt::AlignLeft | Qt::AlignVCenter, facts);
}

// Notes in each second of the chart, a bar each, coloured from calm to dense by the peak. A chart
// of more seconds than the graph has pixels gives each bar a run of seconds and shows the busiest
// of them, so the work grows with the notes and the graph, never with the chart's length.
void drawDensity(QPainter& painter, const chart::ChartScore& score, const QRect& graph)
{
    painter.fillRect(graph, kWhiteKeyLane);
    // The score's times are finite and at most chart::kLongestScoreSeconds.
    const auto seconds = static_cast<std::size_t>(std::ceil(std::max(0.0, score.lengthSeconds))) + 1;
    const std::size_t bars = std::min(seconds, static_cast<std::size_t>(std::max(1, graph.width())));
    std::vector<int> perBar(bars, 0);
    int peak = 1;
    // The notes' times are in order, so the notes of one second are one run.
    const auto& times = score.noteSeconds;
    for (std::size_t k = 0; k < times.size();) {
        const auto second = std::min(seconds - 1, static_cast<std::size_t>(std::max(0.0, times[k])));
        int count = 0;
        for (; k < times.size() && std::min(seconds - 1, static_cast<std::size_t>(std::max(0.0, times[k]))) == second;
             ++k) {
            ++count;
        }
        auto& bar = perBar[second * bars / seconds];
        bar = std::max(bar, count);
        peak = std::max(peak, count);
    }
    const double barWidth = static_cast<double>(graph.width()) / static_cast<double>(bars);
    for (std::size_t b = 0; b < bars; ++b) {
        const double share = static_cast<double>(perBar[b]) / peak;
        const int height = static_cast<int>(std::lround(share * (graph.height() - 16)));
        const QColor colour = QColor::fromRgbF(
            static_cast<float>(kGraphLow.redF() + share * (kGraphHigh.redF() - kGraphLow.redF())),
            static_cast<float>(kGraphLow.greenF() + share * (kGraphHigh.greenF() - kGraphLow.greenF())),
            static_cast<float>(kGraphLow.blueF() + share * (kGraphHigh.blueF() - kGraphLow.blueF())));
        const int left = graph.left() + static_cast<int>(static_cast<double>(b) * barWidth);
        const int right = graph.left() + static_cast<int>(static_cast<double>(b + 1) * barWidth);
        painter.fillRect(left, graph.bottom() - height, std::max(1, right - left - 1), height, colour);
    }
    // The figures are the build report's (song::noteDensity), not the bars' one-second counts.
    painter.setPen(kNumberText);
    painter.drawText(graph.adjusted(4, 2, -4, 0), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("notes/s   peak %1   average %2")
                         .arg(score.density.peak, 0, 'f', 1)
                         .arg(score.density.average, 0, 'f', 1));
}

}  // namespace

QImage drawChartPicture(const chart::ChartScore& score)
{
    if (score.measureCount() == 0) {
        return {};
    }
    const DrawnScore drawn = drawnScore(score);
    const Layout layout = layoutOf(drawn.score);
    if (layout.size.isEmpty() || layout.size.width() > kLargestSide) {
        return {};
    }
    QImage image(layout.size, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    drawHeader(painter, score, layout);
    QFont small = painter.font();
    small.setPixelSize(10);
    painter.setFont(small);
    for (const auto& column : layout.columns) {
        drawColumnGround(painter, layout, drawn, column);
        drawColumnNotes(painter, layout, drawn.score, column);
        drawColumnTempos(painter, layout, drawn.score, column);
    }
    drawDensity(painter, score, layout.graph);
    return image;
}

}  // namespace zentrowe::picture

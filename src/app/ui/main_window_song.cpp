// The main window's song: reading and listing it, choosing its tracks, listing a track's events.

#include <QCheckBox>
#include <QSignalBlocker>
#include <QTableView>

#include "app/controls/list_view.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/error_sentence.h"
#include "app/ui/main_window.h"
#include "app/ui/pass_runner.h"
#include "app/ui/passes/event_listing_pass.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "app/ui/track_info_window.h"
#include "core/workflow/song_folder.h"

namespace zentrowe::app {

std::vector<song::TrackPart> MainWindow::chosenParts() const
{
    return m_choice.chosen(m_trackList->selectionMark());
}

void MainWindow::syncPercussionBox()
{
    const auto parts = chosenParts();
    if (!m_settings || parts.empty() || parts == m_percussionChoice || m_trackDetails.empty()) {
        return;
    }
    m_percussionChoice = parts;
    // A drum part's keysounds are strikes: percussion mode, which excludes long notes.
    const bool drums = TrackChoice::allDrums(parts, m_trackDetails);
    if (drums) {
        m_settings->longNotesBox()->setChecked(false);
    }
    m_settings->percussionBox()->setChecked(drums);
}

void MainWindow::onChoiceChanged()
{
    updateCommands();
    syncPercussionBox();
    if (m_settings && m_settings->isVisible() && !isBusy()) {
        const auto parts = chosenParts();
        m_settings->prepare(m_startBuilds ? tr("一键生成") : tr("转换到BMS"),
                            parts.empty() ? tr("未选择音轨") : choiceTitle(parts, m_state.song));
    }
}

void MainWindow::onTrackClicked(int row)
{
    onChoiceChanged();
    const auto part = m_choice.partAt(row);
    if (part && part->channel == 0 && part->trackNumber <= static_cast<int>(m_state.song.tracks.size()) &&
        m_state.song.tracks[static_cast<std::size_t>(part->trackNumber - 1)].noteCount == 0) {
        setResult(tr("提示：%1 没有音符，转换它不会生成K音").arg(partLabel(*part)));
    }
}

void MainWindow::onTrackTicked(int row, bool ticked)
{
    m_choice.onTicked(*m_trackList, row, ticked);
    onChoiceChanged();
    const auto& parts = m_choice.ticked();
    if (parts.empty()) {
        setResult(tr("没有勾选的音轨：转换和一键生成用选中的那一行"));
        return;
    }
    QStringList named;
    for (const auto& part : parts) {
        const auto index = static_cast<std::size_t>(part.trackNumber - 1);
        const bool silent =
            part.channel == 0 && index < m_state.song.tracks.size() && m_state.song.tracks[index].noteCount == 0;
        named << (silent ? tr("%1（没有音符）").arg(partLabel(part)) : partLabel(part));
    }
    setResult(tr("已勾选 %1；一键生成 的按键音符取自它们，先勾选的优先当作旋律").arg(named.join(QStringLiteral("、"))));
}

void MainWindow::onTrackDoubleClicked(int selectionMark)
{
    const auto part = m_choice.partAt(selectionMark);
    if (!part || isBusy()) {
        return;
    }
    listEvents(part->trackNumber);
}

void MainWindow::readSong(const std::filesystem::path& midiFile, bool asSource)
{
    const QString shownPath = pathToQString(midiFile);
    setResult(tr("正在读取 %1").arg(shownPath));
    m_jobs->run<SongReadPass::Output>(
        SongReadPass(midiFile),
        [this](int percent, std::int64_t, std::int64_t) { setResult(tr("正在读取 %1%").arg(percent)); },
        [this, midiFile, asSource, shownPath](SongReadPass::Output& read) {
            if (!read.summary) {
                showFailure(read.summary.error(), tr("已取消读取 %1").arg(shownPath));
            } else {
                showSongRead(midiFile, asSource, read);
            }
            emit passFinished();
        });
}

void MainWindow::showSongRead(const std::filesystem::path& midiFile, bool asSource, SongReadPass::Output& read)
{
    m_trackDetails = std::move(read.details);
    m_channelParts = std::move(read.channelParts);
    m_percussionChoice.clear();
    if (asSource) {
        workflow::openSong(m_state, midiFile, std::move(read.summary.value()));
        m_state.outputFolder = m_library / workflow::songFolderName(midiFile);
        m_places.rememberOpenedFile(pathToQString(midiFile));
        updateRecentMenu();
    } else {
        workflow::returnToSource(m_state, std::move(read.summary.value()));
    }
    if (m_trackInfo) {
        m_trackInfo->list()->removeAllItems();
    }
    showTracks(m_state.song);
    updateCommands();
    const QString listed =
        m_state.song.warning ? toQString(*m_state.song.warning) : tr("%1 个音轨").arg(m_state.song.tracks.size());
    setResult(listed + tr("；选择一个音轨（或勾选几个，一起进入按键），然后 工具 › 一键生成，"
                          "得到可以直接游玩的目录（自己渲染K音：工具 › 转换到BMS，渲染后 切割）"));
}

void MainWindow::showTracks(const song::SongSummary& song)
{
    // The keysound file listed after a conversion has no details of its own, nor parts to tick.
    static const std::vector<song::TrackDetails> kNoDetails;
    const bool source = m_state.stage != workflow::SessionStage::Converted;
    m_choice.list(*m_trackList, song, source ? m_trackDetails : kNoDetails, m_channelParts);
    // Each column as wide as its widest text (the last one takes what is left), never narrower
    // than designed, so that short headers keep their room.
    QTableView* view = m_trackList->view();
    const int last = view->model()->columnCount() - 1;
    for (int column = 0; column < last; ++column) {
        view->resizeColumnToContents(column);
        view->setColumnWidth(column, std::max(m_designedWidths.value(column), view->columnWidth(column)));
    }
}

void MainWindow::relistSource(song::SongSummary source, const ListedChoice& choice)
{
    workflow::returnToSource(m_state, std::move(source));
    showTracks(m_state.song);
    // Ticked again quietly: the result line keeps what the build did.
    for (const auto& part : choice.ticked) {
        const int row = m_choice.rowOf(part);
        const QSignalBlocker quiet(m_trackList);
        m_trackList->setItemChecked(row, true);
        m_choice.onTicked(*m_trackList, row, true);
    }
    if (choice.selectedRow >= 0 && choice.selectedRow < m_trackList->itemCount()) {
        m_trackList->view()->selectRow(choice.selectedRow);
        m_trackList->setSelectionMark(choice.selectedRow);
    }
    updateCommands();
}

void MainWindow::showChartPictures(const std::vector<std::filesystem::path>& charts)
{
    if (!m_pictures) {
        m_pictures = new ChartPictureWindow(this);
        m_pictures->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_pictures->showCharts(charts);
    // A window the user minimised comes back: opening a chart is asking to see it.
    m_pictures->setWindowState(m_pictures->windowState() & ~Qt::WindowMinimized);
    m_pictures->show();
    m_pictures->raise();
    m_pictures->activateWindow();
}

void MainWindow::onOpenChart()
{
    const QString folder = pathToQString(m_state.outputFolder);
    const QString path = m_dialogs.chooseFileToOpen(this, tr("打开谱面"), chartFileFilter(), folder);
    if (!path.isEmpty()) {
        showChartPictures({toPath(path)});
        // 试听 then plays this chart, mixed apart from its folder.
        m_lastChart = toPath(path);
        m_lastPreview.reset();
        updateCommands();
    }
}

ChartPictureWindow* MainWindow::chartPictureWindow() const
{
    return m_pictures;
}

void MainWindow::listEvents(int trackNumber)
{
    TrackInfoWindow& window = ensureTrackInfo();
    window.show();
    window.raise();
    ListView* list = window.list();
    list->removeAllItems();

    // The listing shares the conversion's check of the keysound start code.
    const auto texts = ensureSettings().texts();
    if (convert::firstInvalidField(texts) == convert::SettingsField::StartCode) {
        const auto refused = convert::parseSettings(texts, m_conversionSettings);
        showError(refused ? tr("输入有误") : errorSentence(refused.error()), &window);
        return;
    }

    list->hide();
    QPointer<TrackInfoWindow> target = &window;
    setResult(tr("正在列出事件"));
    m_jobs->run<EventListingPass::Output>(
        EventListingPass(m_state.currentMidiPath, m_state.song, trackNumber),
        [this](int percent, std::int64_t, std::int64_t) { setResult(tr("正在列出事件 %1%").arg(percent)); },
        [this, target](EventListingPass::Output& listing) {
            if (target) {
                target->list()->replaceRows(std::move(listing.second));
                target->list()->show();
            }
            setResult(tr("%1 个事件").arg(target ? target->list()->itemCount() : 0));
            if (!listing.first) {
                showFailure(listing.first.error(), tr("已取消列出事件"), target);
            }
            emit passFinished();
        });
}

}  // namespace zentrowe::app

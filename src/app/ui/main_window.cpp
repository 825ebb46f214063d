#include "app/ui/main_window.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QUrl>

#include "app/controls/list_view.h"
#include "app/controls/progress_bar.h"
#include "app/ui/about_window.h"
#include "app/ui/job.h"
#include "app/ui/progress_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "app/ui/track_info_window.h"
#include "app/ui/user_dialogs.h"
#include "core/base/file_reading.h"
#include "core/convert/keysound_table.h"
#include "core/song/chart_file_name.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"

namespace zentrowe::app {

namespace {

const QString kCaption = QStringLiteral("Zentrowe v1.1-beta");

// Layout in twips, as designed.
constexpr int kListTop = 480;
constexpr int kListHeightMargin = 1270;  // outer height minus list height
constexpr int kListWidthMargin = 120;
constexpr int kOpenFolderRightMargin = 400;

// Rows of an event listing gathered on the worker thread, handed over whole when it ends.
class TableRows final : public song::EventRowSink {
public:
    void addRow(std::string_view delta, std::string_view label, std::string_view description) override
    {
        table.appendRow({delta, label, description});
    }
    TextTable table{3};
};

QString leadInText(keysound::LeadIn leadIn)
{
    return leadIn == keysound::LeadIn::FileStart ? QObject::tr("录音从 K-Midi.mid 的开头开始")
                                                 : QObject::tr("录音从第一个K音开始");
}

}  // namespace

MainWindow::MainWindow(UserDialogs& dialogs, QWidget* parent) : QMainWindow(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("MIANFORM"));
    setWindowTitle(kCaption);
    setAcceptDrops(true);
    buildMenus();
    buildContent();
    statusBar();
    resize(700, 450);
    updateCommands();
}

MainWindow::~MainWindow()
{
    m_stop = true;
    if (m_waitForJob) {
        m_waitForJob();
    }
}

void MainWindow::buildMenus()
{
    auto* file = menuBar()->addMenu(tr("文件(&F)"));
    file->setObjectName(QStringLiteral("File"));
    m_open = file->addAction(tr("打开  "), QKeySequence(Qt::CTRL | Qt::Key_O), this, &MainWindow::onOpen);
    m_open->setObjectName(QStringLiteral("Open"));

    auto* tool = menuBar()->addMenu(tr("工具(&T)"));
    tool->setObjectName(QStringLiteral("Tool"));
    m_wavCut = tool->addAction(tr("切割     "), QKeySequence(Qt::CTRL | Qt::Key_K), this, &MainWindow::onWavCut);
    m_wavCut->setObjectName(QStringLiteral("WavCut"));
    // Where the recording starts relative to the keysound file; the cutter can tell by itself.
    auto* leadIn = tool->addMenu(tr("录音起点"));
    leadIn->setObjectName(QStringLiteral("LeadIn"));
    m_leadIn = new QActionGroup(this);
    m_leadIn->setExclusive(true);
    m_leadInAuto = leadIn->addAction(tr("自动"));
    m_leadInFirstNote = leadIn->addAction(tr("第一个K音"));
    m_leadInFileStart = leadIn->addAction(tr("文件开头"));
    for (auto* action : {m_leadInAuto, m_leadInFirstNote, m_leadInFileStart}) {
        action->setCheckable(true);
        m_leadIn->addAction(action);
    }
    m_leadInAuto->setChecked(true);
    tool->addSeparator()->setObjectName(QStringLiteral("DD"));
    m_toBms = tool->addAction(tr("转换到BMS  "), QKeySequence(Qt::CTRL | Qt::Key_T), this, &MainWindow::onToBms);
    m_toBms->setObjectName(QStringLiteral("ToBMS"));

    auto* settings = menuBar()->addMenu(tr("设置(&S)"));
    settings->setObjectName(QStringLiteral("Sething"));
    m_setOutFolder = settings->addAction(tr("改变输出目录  "), QKeySequence(Qt::CTRL | Qt::Key_D), this,
                                         &MainWindow::onSetOutFolder);
    m_setOutFolder->setObjectName(QStringLiteral("SetOutFolder"));

    auto* others = menuBar()->addMenu(tr("其它(&O)"));
    others->setObjectName(QStringLiteral("Others"));
    m_about = others->addAction(tr("关于(&A) ... "), this, &MainWindow::onAbout);
    m_about->setObjectName(QStringLiteral("mAbout"));
}

void MainWindow::buildContent()
{
    auto* content = new QWidget(this);
    setCentralWidget(content);

    m_back = new QPushButton(QStringLiteral("<-"), content);
    m_back->setObjectName(QStringLiteral("Command1"));
    m_back->setGeometry(twipsToPixels(120), twipsToPixels(90), twipsToPixels(735), twipsToPixels(300));
    connect(m_back, &QPushButton::clicked, this, &MainWindow::onBack);

    m_openFolder = new QPushButton(tr("打开输出目录"), content);
    m_openFolder->setObjectName(QStringLiteral("Command2"));
    m_openFolder->setGeometry(twipsToPixels(7800), twipsToPixels(90), twipsToPixels(2055), twipsToPixels(300));
    connect(m_openFolder, &QPushButton::clicked, this, &MainWindow::onOpenFolder);

    m_trackList = new ListView(content);
    m_trackList->setObjectName(QStringLiteral("ListView2"));
    m_trackList->setGeometry(0, twipsToPixels(kListTop), twipsToPixels(10335), twipsToPixels(4500));
    m_trackList->SetExtendedListViewStyleEx();
    m_trackList->ColumnAdd(0, QString(), 70);
    m_trackList->ColumnAdd(1, tr("音符数"), 60);
    m_trackList->ColumnAdd(2, tr("音轨名"), 120);
    m_trackList->ColumnAdd(3, tr("乐器种类"), 90);
    m_trackList->ColumnAdd(4, tr("乐器"), 340);
    connect(m_trackList, &ListView::itemClicked, this, &MainWindow::onTrackClicked);
    connect(m_trackList, &ListView::itemDoubleClicked, this, &MainWindow::onTrackDoubleClicked);
}

bool MainWindow::askOutputFolderAtStart()
{
    const QString folder = m_dialogs.chooseFolder(this, tr("请选择输出目录"));
    if (folder.isEmpty()) {
        return false;
    }
    m_state.outputFolder = toPath(folder);
    statusBar()->showMessage(tr("输出目录：%1").arg(folder));
    return true;
}

// --- Commands -------------------------------------------------------------------------------

void MainWindow::onOpen()
{
    const QString path = m_dialogs.chooseFileToOpen(this, tr("打开文件"), QStringLiteral("MIDI(*.mid)"));
    if (!path.isEmpty()) {
        openMidiPath(path);
    }
}

void MainWindow::openMidiPath(const QString& path)
{
    if (m_busy) {
        return;
    }
    m_listOn = true;
    m_toBmsOn = false;
    m_wavCutOn = false;
    m_backOn = false;
    m_state.sourceMidiPath = toPath(path);
    m_state.chartFileName = song::deriveChartFileName(toUtf8(path));
    m_state.currentMidiPath = m_state.sourceMidiPath;
    if (m_trackInfo) {
        m_trackInfo->list()->DeleteAllItems();
    }
    m_trackList->DeleteAllItems();
    readSummary(m_state.currentMidiPath);
}

void MainWindow::onBack()
{
    if (m_busy) {
        return;
    }
    m_trackList->DeleteAllItems();
    m_listOn = true;
    m_state.currentMidiPath = m_state.sourceMidiPath;
    m_backOn = false;
    m_wavCutOn = false;
    m_toBmsOn = false;
    readSummary(m_state.currentMidiPath);
}

void MainWindow::onOpenFolder()
{
    m_dialogs.showFolder(pathToQString(m_state.outputFolder));
}

void MainWindow::onSetOutFolder()
{
    if (m_busy) {
        return;
    }
    const QString folder = m_dialogs.chooseFolder(this, tr("请选择输出目录"));
    if (!folder.isEmpty()) {
        m_state.outputFolder = toPath(folder);
        statusBar()->showMessage(tr("输出目录：%1").arg(folder));
    }
}

void MainWindow::onToBms()
{
    SettingsDialog& dialog = ensureSettings();
    centreOverThis(dialog);
    dialog.show();
    dialog.raise();
}

void MainWindow::onAbout()
{
    if (!m_aboutWindow) {
        m_aboutWindow = new AboutWindow(this);
        m_aboutWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_aboutWindow->show();
    m_aboutWindow->raise();
}

void MainWindow::onTrackClicked(int)
{
    m_toBmsOn = true;
    updateCommands();
}

void MainWindow::onTrackDoubleClicked(int selectionMark)
{
    if (selectionMark < 0 || m_busy) {
        return;
    }
    listEvents(selectionMark + 1);
}

// --- Passes ---------------------------------------------------------------------------------

void MainWindow::readSummary(const std::filesystem::path& midiFile)
{
    setBusy(true);
    statusBar()->showMessage(tr("正在读取 %1").arg(pathToQString(midiFile)));
    trackJob([future = runJob<Result<song::SongSummary>>(
                  this,
                  [this](int percent, std::int64_t, std::int64_t) {
                      statusBar()->showMessage(tr("正在读取 %1%").arg(percent));
                  },
                  m_stop, [midiFile](ProgressSink& progress) { return song::readSongSummary(midiFile, progress); },
                  [this](Result<song::SongSummary>& summary) {
                      setBusy(false);
                      if (!summary) {
                          m_state.song = {};
                          statusBar()->clearMessage();
                          showError(toQString(summary.error().message));
                      } else {
                          m_state.song = std::move(summary.value());
                          showTracks(m_state.song);
                          statusBar()->showMessage(m_state.song.warning ? toQString(*m_state.song.warning)
                                                                        : tr("%1 个音轨").arg(m_state.song.tracks.size()));
                      }
                      emit passFinished();
                  })]() mutable { future.waitForFinished(); });
}

void MainWindow::showTracks(const song::SongSummary& song)
{
    m_trackList->DeleteAllItems();
    for (const auto& track : song.tracks) {
        const int row = m_trackList->GetItemCount();
        m_trackList->InsertItem(row, track.label);
        m_trackList->SetItemText(row, 1, std::to_string(track.noteCount));
        m_trackList->SetItemText(row, 2, track.name);
        m_trackList->SetItemText(row, 3, track.family);
        m_trackList->SetItemText(row, 4, track.instrument);
    }
}

void MainWindow::listEvents(int trackNumber)
{
    TrackInfoWindow& window = ensureTrackInfo();
    window.show();
    window.raise();
    ListView* list = window.list();
    list->DeleteAllItems();

    // The listing shares the conversion's check of the keysound start code.
    const auto texts = ensureSettings().texts();
    if (convert::firstInvalidField(texts) == convert::SettingsField::StartCode) {
        const auto refused = convert::parseSettings(texts, m_conversionSettings);
        showError(refused ? tr("输入有误") : toQString(refused.error().message));
        return;
    }

    list->hide();
    setBusy(true);
    const std::filesystem::path midiFile = m_state.currentMidiPath;
    const song::SongSummary song = m_state.song;
    QPointer<TrackInfoWindow> target = &window;
    trackJob([future = runJob<std::pair<Status, TextTable>>(
                  this,
                  [this](int percent, std::int64_t, std::int64_t) {
                      statusBar()->showMessage(tr("正在列出事件 %1%").arg(percent));
                  },
                  m_stop,
                  [midiFile, song, trackNumber](ProgressSink& progress) {
                      TableRows rows;
                      Status listed = song::listTrackEvents(midiFile, song, trackNumber, rows, progress);
                      return std::pair<Status, TextTable>(std::move(listed), std::move(rows.table));
                  },
                  [this, target](std::pair<Status, TextTable>& listing) {
                      setBusy(false);
                      if (target) {
                          target->list()->replaceRows(std::move(listing.second));
                          target->list()->show();
                      }
                      statusBar()->showMessage(tr("%1 个事件").arg(target ? target->list()->GetItemCount() : 0));
                      if (!listing.first) {
                          showError(toQString(listing.first.error().message));
                      }
                      emit passFinished();
                  })]() mutable { future.waitForFinished(); });
}

void MainWindow::onStartRequested()
{
    if (m_busy) {
        return;
    }
    SettingsDialog& dialog = ensureSettings();
    auto settings = convert::parseSettings(dialog.texts(), m_conversionSettings);
    if (!settings) {
        m_dialogs.showMessage(&dialog, kCaption, toQString(settings.error().message));
        return;
    }
    const int trackNumber = m_trackList->GetSelectionMark() + 1;
    if (trackNumber <= 0 || !m_trackList->Enabled()) {
        m_dialogs.showMessage(&dialog, kCaption, tr("请先在音轨列表中选择一个音轨"));
        return;
    }
    m_conversionSettings = settings.value();
    if (m_trackInfo) {
        m_trackInfo->list()->DeleteAllItems();
    }

    workflow::ConversionRequest request;
    request.sourceMidiPath = m_state.currentMidiPath;
    request.song = m_state.song;
    request.chartFileName = m_state.chartFileName;
    request.outputFolder = m_state.outputFolder;
    request.trackNumber = trackNumber;
    request.settings = m_conversionSettings;

    PorogrsessBar* bar = dialog.bar();
    bar->Min(0);
    bar->Max(100);
    bar->Pos(0);
    setBusy(true);
    statusBar()->showMessage(tr("正在转换音轨 %1").arg(trackNumber));
    QPointer<SettingsDialog> target = &dialog;
    trackJob([future = runJob<Result<workflow::ConversionOutcome>>(
                  this,
                  [target](int percent, std::int64_t, std::int64_t) {
                      if (target) {
                          target->bar()->Pos(percent);
                      }
                  },
                  m_stop,
                  [request](ProgressSink& progress) { return workflow::runConversion(request, progress); },
                  [this](Result<workflow::ConversionOutcome>& outcome) {
                      setBusy(false);
                      if (!outcome) {
                          statusBar()->clearMessage();
                          showError(toQString(outcome.error().message));
                      } else {
                          showConversion(std::move(outcome.value()));
                      }
                      emit passFinished();
                  })]() mutable { future.waitForFinished(); });
}

void MainWindow::showConversion(workflow::ConversionOutcome&& outcome)
{
    if (m_settings) {
        m_settings->hide();
    }
    m_state.sourceTicksPerMeasure = outcome.sourceTicksPerMeasure;
    m_state.currentMidiPath = outcome.keysoundMidiPath;
    m_state.song = outcome.keysoundSong;
    m_state.cutList = outcome.cuts;
    showTracks(m_state.song);
    if (m_trackInfo) {
        m_trackInfo->list()->DeleteAllItems();
    }
    m_toBmsOn = false;
    m_wavCutOn = true;
    m_listOn = false;
    m_backOn = true;
    statusBar()->showMessage(tr("已写入 %1 和 %2，共 %3 个K音")
                                 .arg(pathToQString(outcome.chartPath.filename()))
                                 .arg(pathToQString(outcome.keysoundMidiPath.filename()))
                                 .arg(outcome.keysounds.size()));
    m_lastConversion = std::move(outcome);
    updateCommands();
}

void MainWindow::onWavCut()
{
    if (m_busy || !m_lastConversion) {
        return;
    }
    const QString recording = m_dialogs.chooseFileToOpen(this, tr("打开文件"), QStringLiteral("WAVE(*.wav)"));
    if (recording.isEmpty()) {
        return;
    }
    // The keysound name is read from the settings dialog as it stands now.
    const std::string keysoundName = toUtf8(ensureSettings().keysoundNameEdit()->text());

    keysound::CutRequest request;
    request.recording = toPath(recording);
    request.outputFolder = m_state.outputFolder;
    for (const auto& entry : m_lastConversion->keysounds.entries()) {
        request.keysoundStems.push_back(convert::keysoundStem(keysoundName, entry, m_state.sourceTicksPerMeasure));
    }
    request.cuts = m_state.cutList;
    request.ticksPerQuarter = m_state.song.ticksPerQuarter;
    request.tempoMicros = m_state.song.tempoMicros;
    request.gapTicks = m_conversionSettings.keysoundGap;
    request.leadIn = chosenLeadIn();

    const int count = static_cast<int>(request.keysoundStems.size());
    ProgressWindow& window = ensureProgress();
    window.bar()->Max(count);
    window.bar()->Min(0);
    window.bar()->Pos(0);
    window.showCount(0, count);
    centreOverThis(window);
    window.show();
    window.raise();

    setBusy(true);
    QPointer<ProgressWindow> target = &window;
    trackJob([future = runJob<Result<keysound::CutReport>>(
                  this,
                  [target](int, std::int64_t done, std::int64_t total) {
                      if (target) {
                          target->bar()->Pos(static_cast<std::int32_t>(done));
                          target->showCount(static_cast<int>(done), static_cast<int>(total));
                      }
                  },
                  m_stop, [request](ProgressSink& progress) { return keysound::cutRecording(request, progress); },
                  [this, target](Result<keysound::CutReport>& report) {
                      setBusy(false);
                      if (target) {
                          target->hide();
                      }
                      if (!report) {
                          statusBar()->clearMessage();
                          showError(toQString(report.error().message));
                      } else {
                          QStringList parts{tr("已切割 %1 个文件").arg(report->written.size()),
                                            leadInText(report->leadInUsed)};
                          for (const auto& warning : report->warnings) {
                              parts << toQString(warning);
                          }
                          statusBar()->showMessage(parts.join(QStringLiteral("；")));
                      }
                      emit passFinished();
                  })]() mutable { future.waitForFinished(); });
}

keysound::LeadIn MainWindow::chosenLeadIn() const
{
    if (m_leadInFirstNote->isChecked()) {
        return keysound::LeadIn::FirstNote;
    }
    if (m_leadInFileStart->isChecked()) {
        return keysound::LeadIn::FileStart;
    }
    return keysound::LeadIn::Auto;
}

// --- Windows and states ---------------------------------------------------------------------

TrackInfoWindow* MainWindow::trackInfo() const
{
    return m_trackInfo;
}

SettingsDialog* MainWindow::settingsDialog() const
{
    return m_settings;
}

ProgressWindow* MainWindow::progressWindow() const
{
    return m_progress;
}

AboutWindow* MainWindow::aboutWindow() const
{
    return m_aboutWindow;
}

TrackInfoWindow& MainWindow::ensureTrackInfo()
{
    if (!m_trackInfo) {
        m_trackInfo = new TrackInfoWindow(this);
        m_trackInfo->setAttribute(Qt::WA_DeleteOnClose);
    }
    return *m_trackInfo;
}

SettingsDialog& MainWindow::ensureSettings()
{
    if (!m_settings) {
        m_settings = new SettingsDialog(this);
        connect(m_settings, &SettingsDialog::startRequested, this, &MainWindow::onStartRequested);
        m_settings->setStartEnabled(!m_busy);
    }
    return *m_settings;
}

ProgressWindow& MainWindow::ensureProgress()
{
    if (!m_progress) {
        m_progress = new ProgressWindow(this);
    }
    return *m_progress;
}

void MainWindow::centreOverThis(QWidget& window)
{
    const QRect frame = frameGeometry();
    const QSize size = window.frameGeometry().size();
    window.move(frame.left() + (frame.width() - size.width()) / 2, frame.top() + (frame.height() - size.height()) / 2);
}

void MainWindow::setBusy(bool busy)
{
    m_busy = busy;
    if (m_settings) {
        m_settings->setStartEnabled(!busy);
    }
    updateCommands();
}

void MainWindow::updateCommands()
{
    m_open->setEnabled(!m_busy);
    m_setOutFolder->setEnabled(!m_busy);
    m_toBms->setEnabled(m_toBmsOn && !m_busy);
    m_wavCut->setEnabled(m_wavCutOn && !m_busy);
    m_back->setEnabled(m_backOn && !m_busy);
    m_trackList->Enabled(m_listOn && !m_busy);
}

void MainWindow::showError(const QString& text)
{
    m_dialogs.showMessage(this, kCaption, text);
}

void MainWindow::trackJob(std::function<void()> wait)
{
    m_waitForJob = std::move(wait);
}

// --- Window events --------------------------------------------------------------------------

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // The rules work on the window's outer size in twips.
    const QSize outer = event->size() + (frameGeometry().size() - geometry().size());
    const int width = pixelsToTwips(outer.width());
    const int height = pixelsToTwips(outer.height());
    QSize list = m_trackList->size();
    if (height - kListHeightMargin > 0) {
        list.setHeight(twipsToPixels(height - kListHeightMargin));
    }
    if (width - kListWidthMargin > 0) {
        list.setWidth(twipsToPixels(width - kListWidthMargin));
    }
    m_trackList->resize(list);
    const int buttonWidth = pixelsToTwips(m_openFolder->width());
    if (width - buttonWidth - kOpenFolderRightMargin > 0) {
        m_openFolder->move(twipsToPixels(width - buttonWidth - kOpenFolderRightMargin), m_openFolder->y());
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_stop = true;
    if (m_waitForJob) {
        m_waitForJob();
        m_waitForJob = nullptr;
    }
    for (QWidget* window : {static_cast<QWidget*>(m_progress.data()), static_cast<QWidget*>(m_settings.data()),
                            static_cast<QWidget*>(m_trackInfo.data()), static_cast<QWidget*>(m_aboutWindow.data())}) {
        if (window) {
            window->close();
        }
    }
    event->accept();
}

namespace {

QString droppedMidiFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && url.toLocalFile().endsWith(QStringLiteral(".mid"), Qt::CaseInsensitive)) {
            return url.toLocalFile();
        }
    }
    return {};
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_busy && !droppedMidiFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = droppedMidiFile(event->mimeData());
    if (!path.isEmpty() && !m_busy) {
        event->acceptProposedAction();
        openMidiPath(path);
    }
}

}  // namespace zentrowe::app

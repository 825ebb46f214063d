#include "app/ui/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QAudioDevice>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>

#include "app/controls/list_view.h"
#include "app/controls/progress_bar.h"
#include "app/ui/about_window.h"
#include "app/ui/audit_text.h"
#include "app/ui/build_options_box.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/error_sentence.h"
#include "app/ui/finding_text.h"
#include "app/ui/findings_dialog.h"
#include "app/ui/pass_runner.h"
#include "app/ui/preview_player.h"
#include "app/ui/progress_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "app/ui/track_info_window.h"
#include "app/ui/user_dialogs.h"
#include "core/base/file_reading.h"
#include "core/base/time_left.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "core/workflow/audit.h"
#include "core/workflow/cut_plan.h"
#include "core/workflow/preview.h"
#include "core/workflow/song_folder.h"

namespace zentrowe::app {

namespace {

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

// The kind of message box an error gets: a failure of the machine or the files (the icon of a
// failure), or a refusal of what was asked or given (a warning).
UserDialogs::MessageKind messageKindOf(ErrorCode code)
{
    switch (code) {
    case ErrorCode::CannotOpen:
    case ErrorCode::WriteFailed:
    case ErrorCode::OutOfMemory:
        return UserDialogs::MessageKind::Critical;
    default:
        return UserDialogs::MessageKind::Warning;
    }
}

QString stageText(ProgressStage stage)
{
    switch (stage) {
    case ProgressStage::Converting:
        return QObject::tr("正在转换");
    case ProgressStage::Rendering:
        return QObject::tr("正在生成K音文件");
    case ProgressStage::Previewing:
        return QObject::tr("正在生成试听");
    case ProgressStage::Mixing:
        return QObject::tr("正在混音");
    }
    return {};
}

// A build's progress line: the stage, how far (the conversion counts bytes of the track: only its
// percentage means something), and the time left at the stage's rate so far, as the command
// line gives it.
QString buildProgressText(ProgressStage stage, int percent, std::int64_t done, std::int64_t total,
                          const QElapsedTimer& stageStart)
{
    if (stage == ProgressStage::Converting) {
        return QObject::tr("%1  %2%").arg(stageText(stage)).arg(percent);
    }
    QString text = QObject::tr("%1  %2/%3（%4%）").arg(stageText(stage)).arg(done).arg(total).arg(percent);
    if (const auto left = secondsLeft(static_cast<double>(stageStart.elapsed()) / 1000, done, total);
        left && done < total) {
        text += QObject::tr("，还剩 %1").arg(toQString(durationText(*left)));
    }
    return text;
}

// The release checklist's errors and warnings, a line each; notices, such as this program's own
// files, are left to the list of every finding.
QStringList findingLines(const std::vector<workflow::AuditFinding>& audit)
{
    QStringList lines;
    for (const auto& finding : audit) {
        if (finding.severity != workflow::AuditSeverity::Notice) {
            lines << pathToQString(finding.file) + QStringLiteral(": ") + toQString(finding.message);
        }
    }
    return lines;
}

QWidget* widgetIfShown(QWidget* window)
{
    return window != nullptr && window->isVisible() ? window : nullptr;
}

}  // namespace

MainWindow::MainWindow(UserDialogs& dialogs, QSettings& settings, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_places(settings), m_jobs(new PassRunner(this))
{
    setObjectName(QStringLiteral("MIANFORM"));
    setWindowTitle(programCaption());
    setAcceptDrops(true);
    buildMenus();
    buildContent();
    // A permanent widget: the status bar's own messages (menu tips among them) never cover it.
    m_resultLine = new QLabel(this);
    m_resultLine->setObjectName(QStringLiteral("ResultLine"));
    m_resultLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long result must not hold the window wider than the user makes it; the tooltip keeps
    // the whole text.
    m_resultLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // Two lines, so that a build's whole result shows at the window's first size.
    m_resultLine->setWordWrap(true);
    // A fixed height: a wrapping label otherwise asks for the height of its text at its
    // narrowest, and holds the window taller than the user made it.
    m_resultLine->setFixedHeight(2 * m_resultLine->fontMetrics().lineSpacing() + 2);
    m_resultLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    statusBar()->addPermanentWidget(m_resultLine, 1);
    m_findings = new FindingsList(m_resultLine);
    // The size the user left it at, else one that shows a full song's list.
    if (!restoreGeometry(m_places.windowGeometry())) {
        resize(firstSize(screen() != nullptr ? screen()->availableGeometry().size() : QSize(1920, 1080)));
    }

    connect(m_jobs, &PassRunner::runningChanged, this, &MainWindow::onRunningChanged);
    // Esc stops the running pass from whichever of the program's windows has the keyboard; it is
    // only on while a pass runs, so Esc keeps its own meaning in the windows otherwise.
    m_cancelShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_cancelShortcut->setContext(Qt::ApplicationShortcut);
    connect(m_cancelShortcut, &QShortcut::activated, m_jobs, &PassRunner::requestStop);
    updateCommands();
}

MainWindow::~MainWindow()
{
    m_jobs->stopAndWait();
}

bool MainWindow::isBusy() const
{
    return m_jobs->isRunning();
}

void MainWindow::buildFileMenu()
{
    auto* file = menuBar()->addMenu(tr("文件(&F)"));
    file->setObjectName(QStringLiteral("File"));
    m_open = file->addAction(tr("打开  "), QKeySequence(Qt::CTRL | Qt::Key_O), this, &MainWindow::onOpen);
    m_open->setObjectName(QStringLiteral("Open"));
    m_openChart = file->addAction(tr("打开谱面"), this, &MainWindow::onOpenChart);
    m_openChart->setObjectName(QStringLiteral("OpenChart"));
    m_recent = file->addMenu(tr("最近打开的文件"));
    m_recent->setObjectName(QStringLiteral("Recent"));
    file->addSeparator();
    // Before a release: the checklist events use, then the zip they take.
    m_audit = file->addAction(tr("发布检查"), this, &MainWindow::onAudit);
    m_audit->setObjectName(QStringLiteral("Audit"));
    m_auditChart = file->addAction(tr("发布检查单个谱面"), this, &MainWindow::onAuditChart);
    m_auditChart->setObjectName(QStringLiteral("AuditChart"));
    m_package = file->addAction(tr("打包"), this, &MainWindow::onPackage);
    m_package->setObjectName(QStringLiteral("Package"));
    file->addSeparator();
    m_quit = file->addAction(tr("退出"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, &QWidget::close);
    m_quit->setObjectName(QStringLiteral("Quit"));
    updateRecentMenu();
}

void MainWindow::buildMenus()
{
    buildFileMenu();
    // In the order of the work: convert (or build in one step), cut a rendering, listen.
    auto* tool = menuBar()->addMenu(tr("工具(&T)"));
    tool->setObjectName(QStringLiteral("Tool"));
    m_toBms = tool->addAction(tr("转换到BMS  "), QKeySequence(Qt::CTRL | Qt::Key_T), this, &MainWindow::onToBms);
    m_toBms->setObjectName(QStringLiteral("ToBMS"));
    m_oneStepBuild =
        tool->addAction(tr("一键生成"), QKeySequence(Qt::CTRL | Qt::Key_B), this, &MainWindow::onOneStepBuild);
    m_oneStepBuild->setObjectName(QStringLiteral("OneStepBuild"));
    tool->addSeparator()->setObjectName(QStringLiteral("DD"));
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
    tool->addSeparator();
    m_preview = tool->addAction(tr("试听"), QKeySequence(Qt::CTRL | Qt::Key_P), this, &MainWindow::onPreview);
    m_preview->setObjectName(QStringLiteral("Preview"));

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
    m_trackList->setExtendedStyle();
    // Wide enough for the tick box and an indented channel part.
    m_trackList->addColumn(0, QString(), 100);
    m_trackList->addColumn(1, tr("音符数"), 60);
    // How long and how dense a track is tells a tune from a pad or a fill.
    m_trackList->addColumn(2, tr("时长"), 50);
    m_trackList->addColumn(3, tr("音符/秒"), 90);
    m_trackList->addColumn(4, tr("音轨名"), 120);
    m_trackList->addColumn(5, tr("乐器种类"), 90);
    m_trackList->addColumn(6, tr("乐器"), 340);
    m_trackList->stretchLastColumn();
    for (int column = 0; column < m_trackList->view()->model()->columnCount(); ++column) {
        m_designedWidths << m_trackList->view()->columnWidth(column);
    }
    connect(m_trackList, &ListView::itemClicked, this, &MainWindow::onTrackClicked);
    connect(m_trackList, &ListView::itemChecked, this, &MainWindow::onTrackTicked);
    connect(m_trackList, &ListView::itemDoubleClicked, this, &MainWindow::onTrackDoubleClicked);
    connect(m_trackList, &ListView::itemActivated, this, &MainWindow::onTrackDoubleClicked);
}

bool MainWindow::askOutputFolderAtStart()
{
    // The folder of the last run, while it is still there: a user works on one folder for days.
    const QString remembered = m_places.outputFolder();
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir()) {
        setOutputFolder(remembered);
        return true;
    }
    const QString folder = m_dialogs.chooseFolder(this, tr("请选择输出目录"), m_places.outputFolder());
    if (folder.isEmpty()) {
        return false;
    }
    setOutputFolder(folder);
    return true;
}

void MainWindow::setOutputFolder(const QString& folder)
{
    m_library = toPath(folder);
    m_places.rememberOutputFolder(folder);
    // Each song builds into a folder of its own inside the output folder.
    m_state.outputFolder =
        m_state.sourceMidiPath.empty() ? m_library : m_library / workflow::songFolderName(m_state.sourceMidiPath);
    if (m_settings) {
        m_settings->buildOptions()->setFolderText(pathToQString(m_state.outputFolder));
    }
    setResult(tr("输出目录：%1（每首歌在其中有自己的目录）").arg(folder));
    // The list showed the old folder's K-Midi.mid: the source file's tracks are what is next.
    if (m_state.stage == workflow::SessionStage::Converted) {
        onBack();
    }
}

QSize MainWindow::firstSize(QSize available) const
{
    // Every column of a song of 25 tracks (a conductor track, 16 channels' parts and a few of
    // text or drums), at the columns' designed widths, within the screen.
    constexpr int kRowsShown = 25;
    const QTableView* view = m_trackList->view();
    int columns = 0;
    for (int column = 0; column < view->model()->columnCount(); ++column) {
        columns += view->columnWidth(column);
    }
    const int frame = 2 * view->frameWidth();
    const int width = columns + frame + view->verticalScrollBar()->sizeHint().width() + twipsToPixels(kListWidthMargin);
    const int height = view->horizontalHeader()->sizeHint().height() +
                       kRowsShown * view->verticalHeader()->defaultSectionSize() + frame +
                       twipsToPixels(kListHeightMargin) + menuBar()->sizeHint().height();
    return QSize(width, height).boundedTo(available * 9 / 10);
}

void MainWindow::updateRecentMenu()
{
    m_recent->clear();
    const QStringList files = m_places.recentFiles();
    for (const QString& path : files) {
        m_recent->addAction(QFileInfo(path).fileName() + QStringLiteral("  (") + path + QLatin1Char(')'), this,
                            [this, path] { openMidiPath(path); });
    }
    m_recent->setEnabled(!files.isEmpty() && !isBusy());
}

// --- Commands -------------------------------------------------------------------------------

void MainWindow::onOpen()
{
    const QString path =
        m_dialogs.chooseFileToOpen(this, tr("打开文件"), midiFileFilter(),
                                   m_places.openFolder().isEmpty() ? userMusicFolder() : m_places.openFolder());
    if (!path.isEmpty()) {
        openMidiPath(path);
    }
}

void MainWindow::openMidiPath(const QString& path)
{
    if (!isBusy()) {
        readSong(toPath(path), true);
    }
}

void MainWindow::onBack()
{
    if (!isBusy()) {
        readSong(m_state.sourceMidiPath, false);
    }
}

void MainWindow::onOpenFolder()
{
    // A song not built yet has no folder: the output folder holding the others is shown.
    const std::filesystem::path shown =
        std::filesystem::is_directory(m_state.outputFolder) ? m_state.outputFolder : m_library;
    const QString folder = QFileInfo(pathToQString(shown)).absoluteFilePath();
    if (!m_dialogs.showFolder(folder)) {
        showError(tr("桌面没有能打开文件夹的程序。输出目录是：\n%1").arg(folder));
    }
}

void MainWindow::onSetOutFolder()
{
    if (isBusy()) {
        return;
    }
    const QString folder = m_dialogs.chooseFolder(this, tr("请选择输出目录"), m_places.outputFolder());
    if (!folder.isEmpty()) {
        setOutputFolder(folder);
    }
}

void MainWindow::onToBms()
{
    showSettings(false);
}

void MainWindow::onOneStepBuild()
{
    showSettings(true);
}

void MainWindow::showSettings(bool builds)
{
    m_startBuilds = builds;
    SettingsDialog& dialog = ensureSettings();
    const auto parts = chosenParts();
    dialog.prepare(builds ? tr("一键生成") : tr("转换到BMS"),
                   parts.empty() ? tr("未选择音轨") : choiceTitle(parts, m_state.song));
    dialog.showBuildOptions(builds);
    syncPercussionBox();
    // The header texts start as the song gives them, once per song: what the user typed for it stays.
    if (m_creditsSong != m_state.sourceMidiPath) {
        m_creditsSong = m_state.sourceMidiPath;
        dialog.buildOptions()->setFolderText(pathToQString(m_state.outputFolder));
        dialog.fillCredits(toQString(chartset::chartTitle({}, m_state.song, m_state.sourceMidiPath)),
                           toQString(chartset::chartArtist(std::nullopt, m_state.song, m_state.sourceMidiPath)));
    }
    placeBesideSelectedRow(dialog);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

void MainWindow::onPreview()
{
    if (isBusy() || !m_lastChart) {
        return;
    }
    // The build's own preview is what players play: heard as it is, never mixed again over it.
    if (m_lastPreview && std::filesystem::is_regular_file(*m_lastPreview)) {
        const QString file = QFileInfo(pathToQString(*m_lastPreview)).absoluteFilePath();
        setResult(tr("试听 %1").arg(file));
        playPreview(file);
        return;
    }
    // A chart without a build's preview is mixed into a file of the program's own, so that
    // listening writes nothing into the chart's folder.
    if (!m_previewFolder) {
        m_previewFolder = std::make_unique<QTemporaryDir>();
    }
    if (!m_previewFolder->isValid()) {
        showError(tr("无法创建临时目录来生成试听：%1").arg(m_previewFolder->errorString()));
        return;
    }
    workflow::PreviewRequest request = workflow::folderPreviewRequest(*m_lastChart);
    request.outputPath = toPath(m_previewFolder->filePath(QStringLiteral("preview.ogg")));
    const QString file = pathToQString(request.outputPath);
    setResult(tr("正在生成试听 %1").arg(pathToQString(m_lastChart->filename())));
    m_jobs->run<Result<workflow::PreviewOutcome>>(
        [request](ProgressSink& progress) { return workflow::writeChartPreview(request, progress); },
        [this](int percent, std::int64_t, std::int64_t) { setResult(tr("正在生成试听 %1%").arg(percent)); },
        [this, file](Result<workflow::PreviewOutcome>& outcome) {
            if (!outcome) {
                showFailure(outcome.error(), tr("已取消试听"));
            } else {
                setResult(previewMixedText(*outcome));
                playPreview(file);
            }
            emit passFinished();
        });
}

QString MainWindow::previewMixedText(const workflow::PreviewOutcome& outcome) const
{
    QStringList parts{
        tr("试听 %1（%2 秒，临时文件）").arg(pathToQString(m_lastChart->filename())).arg(outcome.seconds, 0, 'f', 1)};
    const auto& missing = outcome.missingKeysounds;
    if (!missing.empty()) {
        QStringList names;
        for (std::size_t i = 0; i < std::min<std::size_t>(missing.size(), 3); ++i) {
            names << toQString(missing[i]);
        }
        parts << tr("缺少 %1 个K音文件，试听中没有它们的声音：%2%3")
                     .arg(missing.size())
                     .arg(names.join(QStringLiteral("、")))
                     .arg(missing.size() > 3 ? tr(" 等") : QString());
    }
    return parts.join(QStringLiteral("；"));
}

void MainWindow::playPreview(const QString& file)
{
    // Without a sound device the program's player would stand at 0:00 / 0:00: the desktop's
    // player gets the file, and only if there is none the user learns where it is, once.
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        if (m_player) {
            m_player->close();
        }
        if (!m_dialogs.openFile(file)) {
            showError(tr("没有音频输出设备，桌面也没有能播放声音文件的程序。试听文件是：\n%1").arg(file), nullptr,
                      UserDialogs::MessageKind::Information);
        }
        return;
    }
    ensurePlayer().play(file);
}

void MainWindow::onAbout()
{
    if (!m_aboutWindow) {
        m_aboutWindow = new AboutWindow(this);
        m_aboutWindow->setAttribute(Qt::WA_DeleteOnClose);
        centreOverThis(*m_aboutWindow);
    }
    m_aboutWindow->show();
    m_aboutWindow->raise();
    m_aboutWindow->activateWindow();
}

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

// --- Passes ---------------------------------------------------------------------------------

void MainWindow::readSong(const std::filesystem::path& midiFile, bool asSource)
{
    const QString shownPath = pathToQString(midiFile);
    setResult(tr("正在读取 %1").arg(shownPath));
    // The tracks' times and densities, and the channels they play on, come with the summary,
    // from the same job.
    auto details = std::make_shared<std::vector<song::TrackDetails>>();
    auto channelParts = std::make_shared<std::vector<song::ChannelPartRow>>();
    m_jobs->run<Result<song::SongSummary>>(
        [midiFile, details, channelParts](ProgressSink& progress) {
            auto summary = song::readSongSummary(midiFile, progress);
            if (summary) {
                if (auto read = song::readTrackDetails(midiFile, *summary, progress)) {
                    *details = std::move(read).value();
                }
                if (const auto bytes = readFileBytes(midiFile)) {
                    *channelParts = song::listChannelParts(bytes->bytes(), *summary);
                }
            }
            return summary;
        },
        [this](int percent, std::int64_t, std::int64_t) { setResult(tr("正在读取 %1%").arg(percent)); },
        [this, midiFile, asSource, shownPath, details, channelParts](Result<song::SongSummary>& summary) {
            if (!summary) {
                showFailure(summary.error(), tr("已取消读取 %1").arg(shownPath));
            } else {
                m_trackDetails = std::move(*details);
                m_channelParts = std::move(*channelParts);
                m_percussionChoice.clear();
                if (asSource) {
                    workflow::openSong(m_state, midiFile, std::move(summary.value()));
                    m_state.outputFolder = m_library / workflow::songFolderName(midiFile);
                    m_places.rememberOpenedFile(shownPath);
                    updateRecentMenu();
                } else {
                    workflow::returnToSource(m_state, std::move(summary.value()));
                }
                if (m_trackInfo) {
                    m_trackInfo->list()->removeAllItems();
                }
                showTracks(m_state.song);
                updateCommands();
                const QString read = m_state.song.warning ? toQString(*m_state.song.warning)
                                                          : tr("%1 个音轨").arg(m_state.song.tracks.size());
                setResult(read + tr("；选择一个音轨（或勾选几个，一起进入按键），然后 工具 › 一键生成，"
                                    "得到可以直接游玩的目录（自己渲染K音：工具 › 转换到BMS，渲染后 切割）"));
            }
            emit passFinished();
        });
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

PreviewPlayer* MainWindow::previewPlayer() const
{
    return m_player;
}

PreviewPlayer& MainWindow::ensurePlayer()
{
    if (!m_player) {
        m_player = new PreviewPlayer(this);
        // Without an audio backend (or for a file it cannot decode) the desktop's player is the
        // way left.
        connect(m_player, &PreviewPlayer::cannotPlay, this, [this](const QString& file, const QString&) {
            m_player->close();
            if (!m_dialogs.openFile(file)) {
                showError(tr("桌面没有能播放声音文件的程序。试听文件是：\n%1").arg(file));
            }
        });
    }
    centreOverThis(*m_player);
    m_player->show();
    m_player->raise();
    return *m_player;
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
    const std::filesystem::path midiFile = m_state.currentMidiPath;
    const song::SongSummary song = m_state.song;
    QPointer<TrackInfoWindow> target = &window;
    setResult(tr("正在列出事件"));
    m_jobs->run<std::pair<Status, TextTable>>(
        [midiFile, song, trackNumber](ProgressSink& progress) {
            TableRows rows;
            Status listed = song::listTrackEvents(midiFile, song, trackNumber, rows, progress);
            return std::pair<Status, TextTable>(std::move(listed), std::move(rows.table));
        },
        [this](int percent, std::int64_t, std::int64_t) { setResult(tr("正在列出事件 %1%").arg(percent)); },
        [this, target](std::pair<Status, TextTable>& listing) {
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

void MainWindow::onStartRequested()
{
    if (isBusy()) {
        return;
    }
    SettingsDialog& dialog = ensureSettings();
    auto settings = convert::parseSettings(dialog.texts(), m_conversionSettings);
    if (!settings) {
        m_dialogs.showMessage(&dialog, programCaption(), errorSentence(settings.error()),
                              UserDialogs::MessageKind::Warning);
        return;
    }
    const auto parts = chosenParts();
    if (parts.empty() || m_state.stage != workflow::SessionStage::SongOpen) {
        m_dialogs.showMessage(&dialog, programCaption(), tr("请先在音轨列表中选择一个音轨"),
                              UserDialogs::MessageKind::Warning);
        return;
    }
    // As zentrowe-cli convert: one track or channel; several share a build's lanes.
    if (!m_startBuilds && parts.size() > 1) {
        m_dialogs.showMessage(&dialog, programCaption(),
                              tr("转换到BMS 只转换一个音轨或通道；要让勾选的 %1 一起进入按键，请用 一键生成")
                                  .arg(choiceTitle(parts, m_state.song)),
                              UserDialogs::MessageKind::Warning);
        return;
    }
    m_conversionSettings = settings.value();
    if (m_trackInfo) {
        m_trackInfo->list()->removeAllItems();
    }

    if (m_startBuilds && !dialog.chartSet()) {
        m_dialogs.showMessage(&dialog, programCaption(), tr("请至少选择一个难度"), UserDialogs::MessageKind::Warning);
        return;
    }
    if (!prepareFolder(dialog)) {
        return;
    }
    // The request zentrowe-cli makes of the same parts typed after --track.
    const workflow::ConversionRequest request = workflow::conversionRequest(m_state, parts, m_conversionSettings);
    if (m_startBuilds) {
        startBuild(request);
        return;
    }

    ProgressBar* bar = dialog.bar();
    bar->setMinimum(0);
    bar->setMaximum(100);
    bar->setPosition(0);
    bar->show();
    setResult(tr("正在转换 %1").arg(choiceTitle(parts, m_state.song)));
    QPointer<SettingsDialog> target = &dialog;
    m_jobs->run<Result<workflow::ConversionOutcome>>(
        [request](ProgressSink& progress) { return workflow::runConversion(request, progress); },
        [target](int percent, std::int64_t, std::int64_t) {
            if (target) {
                target->bar()->setPosition(percent);
            }
        },
        [this, target](Result<workflow::ConversionOutcome>& outcome) {
            if (!outcome) {
                discardMadeFolder();
                showFailure(outcome.error(), tr("已取消转换，没有写入文件"), target);
            } else {
                workflow::finishConversion(m_state, std::move(outcome.value()));
                m_lastChart = m_state.lastConversion->chartPath;
                m_lastPreview.reset();
                showConversion();
            }
            emit passFinished();
        });
}

bool MainWindow::prepareFolder(SettingsDialog& dialog)
{
    // 一键生成 writes where its folder row says; 转换到BMS into the song's folder.
    if (m_startBuilds) {
        const QString typed = dialog.buildOptions()->folderText();
        if (!typed.isEmpty()) {
            m_state.outputFolder = toPath(QDir::cleanPath(typed));
        }
    }
    std::error_code error;
    m_madeFolder.reset();
    if (!std::filesystem::exists(m_state.outputFolder, error)) {
        m_madeFolder = m_state.outputFolder;
    }
    if (const Status ready = workflow::prepareSongFolder(m_state.outputFolder); !ready) {
        setResult(errorSentence(ready.error()));
        m_dialogs.showMessage(&dialog, programCaption(), errorSentence(ready.error()),
                              messageKindOf(ready.error().code));
        return false;
    }
    return true;
}

void MainWindow::discardMadeFolder()
{
    // A refused pass leaves no trace: the folder it made for the song goes if it stayed empty.
    if (m_madeFolder) {
        workflow::removeEmptySongFolder(*m_madeFolder);
        m_madeFolder.reset();
    }
}

void MainWindow::startBuild(const workflow::ConversionRequest& conversion)
{
    workflow::BuildRequest request;
    request.conversion = conversion;
    const SettingsDialog& settings = ensureSettings();
    request.charts = settings.chartSet().value_or(chartset::ChartSetRequest{});
    request.title = toUtf8(settings.titleText());
    request.artist = toUtf8(settings.artistText());
    settings.buildOptions()->applyTo(request);
    m_places.rememberSoundFont(settings.buildOptions()->soundFontText());
    const QString chosen = choiceTitle(workflow::chartedParts(conversion), m_state.song);
    const auto other = workflow::wouldReplaceAnotherChart(request);
    // The song's own folder: built from this song before (another track, other settings), it is
    // rebuilt without asking. Only a folder of another song, which the user picked, asks.
    if (other && other->song == conversion.sourceMidiPath.filename().string()) {
        request.replace = true;
    } else if (other) {
        // A folder holds one song: the other song's charts and the files they name go.
        const QString question = tr("输出目录中的谱面（如 %1）是由 %2 的音轨 %3 生成的，而一个目录只放一首歌。"
                                    "要删除那首歌的谱面和声音文件，换成 %4 的 %5 的结果吗？")
                                     .arg(toQString(other->chart), toQString(other->song))
                                     .arg(other->track)
                                     .arg(pathToQString(conversion.sourceMidiPath.filename()), chosen);
        if (!m_dialogs.ask(widgetIfShown(m_settings), tr("一键生成"), question)) {
            discardMadeFolder();
            setResult(tr("没有一键生成：目录中原有的谱面保持不变"));
            emit passFinished();
            return;
        }
        request.replace = true;
    }
    ProgressWindow& window = ensureProgress();
    window.bar()->setMinimum(0);
    window.bar()->setMaximum(100);
    window.bar()->setPosition(0);
    window.label()->setText(stageText(ProgressStage::Converting));
    centreOverThis(window);
    window.show();
    window.raise();

    QPointer<ProgressWindow> target = &window;
    QPointer<SettingsDialog> dialog = m_settings;
    // The stage the build is in, as the last report of it reached this thread.
    auto stage = std::make_shared<ProgressStage>(ProgressStage::Converting);
    // When it began, for the time the stage has left at its rate so far.
    auto stageStart = std::make_shared<QElapsedTimer>();
    stageStart->start();
    setResult(tr("正在一键生成 %1").arg(chosen));
    // The release checklist runs on the folder in the same job; the job hands back only the build.
    auto audit = std::make_shared<std::vector<workflow::AuditFinding>>();
    m_jobs->run<Result<workflow::BuildOutcome>>(
        [request, audit](ProgressSink& progress) {
            auto built = workflow::runBuild(request, progress);
            if (built) {
                NullProgress quiet;
                if (auto report = workflow::auditFolder(request.conversion.outputFolder, quiet)) {
                    *audit = std::move(report->findings);
                }
            }
            return built;
        },
        [target, stage, stageStart](int percent, std::int64_t done, std::int64_t total) {
            if (target) {
                target->bar()->setPosition(percent);
                target->label()->setText(buildProgressText(*stage, percent, done, total, *stageStart));
            }
        },
        [this, target, dialog, audit, source = m_state.song,
         choice = ListedChoice{m_trackList->selectionMark(), m_choice.ticked()}](
            Result<workflow::BuildOutcome>& outcome) mutable {
            if (target) {
                target->hide();
            }
            if (!outcome) {
                // Every file is staged inside the folder and moved in only when all are whole.
                discardMadeFolder();
                showFailure(outcome.error(), tr("已取消一键生成：目录中原有的文件没有改动"), dialog);
            } else {
                finishBuild(std::move(outcome).value(), *audit, std::move(source), choice);
            }
            emit passFinished();
        },
        [target, stage, stageStart](ProgressStage entered) {
            *stage = entered;
            stageStart->start();
            if (target) {
                target->bar()->setPosition(0);
                target->label()->setText(stageText(entered));
            }
        });
}

void MainWindow::finishBuild(workflow::BuildOutcome built, const std::vector<workflow::AuditFinding>& audit,
                             song::SongSummary source, const ListedChoice& choice)
{
    workflow::finishConversion(m_state, std::move(built.conversion));
    m_lastChart = m_state.lastConversion->chartPath;
    m_lastPreview = built.previewFile;
    showBuild(built, audit);
    // The folder plays as it is: nothing is left to cut, and the next build starts from the
    // source song again.
    relistSource(std::move(source), choice);
    std::vector<std::filesystem::path> charts;
    for (const auto& chart : built.charts) {
        charts.push_back(chart.path);
    }
    showChartPictures(charts);
    m_pictures->addFindings(auditLines(audit, false));
}

void MainWindow::showConvertedSong()
{
    if (m_settings) {
        m_settings->hide();
    }
    showTracks(m_state.song);
    if (m_trackInfo) {
        m_trackInfo->list()->removeAllItems();
    }
    updateCommands();
}

QString MainWindow::conversionWritten() const
{
    const workflow::ConversionOutcome& outcome = *m_state.lastConversion;
    return tr("已写入 %1 和 %2，共 %3 个K音")
        .arg(pathToQString(outcome.chartPath.filename()))
        .arg(pathToQString(outcome.keysoundMidiPath.filename()))
        .arg(outcome.keysounds.size());
}

void MainWindow::showBuild(const workflow::BuildOutcome& built, const std::vector<workflow::AuditFinding>& audit)
{
    showConvertedSong();
    const workflow::ConversionOutcome& outcome = *m_state.lastConversion;
    QString sounds = tr("%1 个K音文件").arg(built.keysoundFiles.size());
    if (built.bgmFiles.size() == 1) {
        sounds += tr("、背景音乐 %1").arg(pathToQString(built.bgmFiles.front().filename()));
    } else if (!built.bgmFiles.empty()) {
        sounds += tr("、背景音乐 %1 段").arg(built.bgmFiles.size());
    }
    // "3 个谱面，等级 3/6/9": the set, easiest first.
    QStringList levels;
    for (const auto& chart : built.charts) {
        levels << QString::number(chart.report.level);
    }
    const QString charts = tr("%1 个谱面，等级 %2").arg(built.charts.size()).arg(levels.join(QLatin1Char('/')));
    QStringList parts{charts,
                      tr("已写入 %1，共 %2 个K音")
                          .arg(pathToQString(outcome.keysoundMidiPath.filename()))
                          .arg(outcome.keysounds.size()),
                      sounds};
    if (outcome.keysounds.mergedAway() != 0) {
        parts << tr("合并省下 %1 个K音").arg(outcome.keysounds.mergedAway());
    }
    // Keysounds whose names come out alike (lengths that round to one slot count) share a file.
    if (built.keysoundFiles.size() < outcome.keysounds.size()) {
        parts << tr("%1 个K音与别的K音同名，共用一个文件").arg(outcome.keysounds.size() - built.keysoundFiles.size());
    }
    if (built.loudness && built.loudness->bound != audio::LoudnessBound::Silent) {
        parts << tr("响度 %1 LUFS，峰值 %2 dBTP")
                     .arg(built.loudness->after.integratedLufs, 0, 'f', 1)
                     .arg(built.loudness->after.truePeakDbtp, 0, 'f', 1);
    }
    if (built.base62) {
        parts << tr("62 进制编号（#BASE 62）");
    }
    // Every kind of finding with its count; the full list is a click on 详情 away.
    parts << findingSummary(built.findings, audit);
    if (built.previewFile) {
        parts << tr("可直接游玩；试听 播放 %1").arg(pathToQString(built.previewFile->filename()));
    } else {
        parts << tr("可直接游玩");
    }
    parts << tr("目录 %1").arg(pathToQString(m_state.outputFolder));
    setResult(parts.join(QStringLiteral("；")));
    // The tooltip adds the release checklist's first errors and warnings.
    const QStringList findings = findingLines(audit);
    if (!findings.isEmpty()) {
        constexpr int kListedFindings = 10;
        const QString more = findings.size() > kListedFindings ? tr("\n……共 %1 条").arg(findings.size()) : QString();
        m_resultLine->setToolTip(m_resultLine->toolTip() + tr("\n发布检查：\n") +
                                 findings.mid(0, kListedFindings).join(QLatin1Char('\n')) + more);
    }
    m_findings->setRows(findingRows(built.findings, audit));
    if (m_findings->hasRows()) {
        m_resultLine->setToolTip(m_resultLine->toolTip() + tr("\n（单击列出全部提示）"));
    }
}

void MainWindow::showConversion()
{
    showConvertedSong();
    const workflow::ConversionOutcome& outcome = *m_state.lastConversion;
    QStringList parts{conversionWritten(),
                      tr("渲染 %1，然后 工具 › 切割").arg(pathToQString(outcome.keysoundMidiPath.filename()))};
    if (outcome.keysounds.mergedAway() != 0) {
        parts.insert(1, tr("合并省下 %1 个K音").arg(outcome.keysounds.mergedAway()));
    }
    if (outcome.allNotesOnDrumChannel) {
        parts << drumChannelHint();
    }
    // The folder goes last: a narrow window cuts the line's end, and the tooltip holds it whole.
    parts << tr("输出目录 %1").arg(pathToQString(outcome.chartPath.parent_path()));
    setResult(parts.join(QStringLiteral("；")));
}

void MainWindow::onWavCut()
{
    if (isBusy() || m_state.stage != workflow::SessionStage::Converted) {
        return;
    }
    // The recording is usually rendered into the output folder, beside "K-Midi.mid".
    const QString recording = m_dialogs.chooseFileToOpen(this, tr("打开文件"), QStringLiteral("WAVE(*.wav)"),
                                                         pathToQString(m_state.outputFolder));
    if (recording.isEmpty()) {
        return;
    }
    // The keysound name is read from the settings dialog as it stands now, and checked as the
    // command line checks its name.
    const std::string keysoundName = toUtf8(ensureSettings().keysoundNameEdit()->text());
    auto planned =
        workflow::planCut(workflow::cutPlanRequest(m_state, toPath(recording), keysoundName, chosenLeadIn()));
    if (!planned) {
        showFailure(planned.error(), QString());
        return;
    }
    // The job gets the plan as a value: it refers to nothing the window may change meanwhile.
    keysound::CutRequest request = std::move(planned).value();

    const int count = static_cast<int>(request.keysoundStems.size());
    ProgressWindow& window = ensureProgress();
    window.bar()->setMaximum(count);
    window.bar()->setMinimum(0);
    window.bar()->setPosition(0);
    window.showCount(0, count);
    centreOverThis(window);
    window.show();
    window.raise();

    QPointer<ProgressWindow> target = &window;
    const QString folder = pathToQString(m_state.outputFolder);
    setResult(tr("正在切割 %1").arg(recording));
    m_jobs->run<Result<keysound::CutReport>>(
        [request](ProgressSink& progress) { return keysound::cutRecording(request, progress); },
        [target](int, std::int64_t done, std::int64_t total) {
            if (target) {
                target->bar()->setPosition(static_cast<std::int32_t>(done));
                target->showCount(static_cast<int>(done), static_cast<int>(total));
            }
        },
        [this, target, folder](Result<keysound::CutReport>& report) {
            if (target) {
                target->hide();
            }
            if (!report) {
                showFailure(report.error(), tr("已取消切割：已切好的K音文件完整保留，其余没有写入"));
            } else {
                QStringList parts{tr("已切割 %1 个文件").arg(report->written.size()), leadInText(report->leadInUsed)};
                for (const auto& warning : report->warnings) {
                    parts << toQString(warning);
                }
                parts << tr("输出目录 %1").arg(folder);
                setResult(parts.join(QStringLiteral("；")));
            }
            emit passFinished();
        });
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
        centreOverThis(*m_trackInfo);
    }
    return *m_trackInfo;
}

SettingsDialog& MainWindow::ensureSettings()
{
    if (!m_settings) {
        m_settings = new SettingsDialog(this);
        connect(m_settings, &SettingsDialog::startRequested, this, &MainWindow::onStartRequested);
        // 取消 and Esc also stop the pass the dialog started, as Esc does anywhere while one runs.
        connect(m_settings, &SettingsDialog::cancelRequested, m_jobs, &PassRunner::requestStop);
        BuildOptionsBox* options = m_settings->buildOptions();
        options->setSoundFontText(m_places.soundFont());
        connect(options, &BuildOptionsBox::folderChoiceRequested, this, [this, options] {
            const QString folder = m_dialogs.chooseFolder(m_settings, tr("选择这首歌的目录"), options->folderText());
            if (!folder.isEmpty()) {
                options->setFolderText(folder);
            }
        });
        connect(options, &BuildOptionsBox::soundFontChoiceRequested, this, [this, options] {
            const QString file = m_dialogs.chooseFileToOpen(m_settings, tr("选择音色库"),
                                                            QStringLiteral("SoundFont (*.sf2 *.SF2 *.sf3 *.SF3)"),
                                                            QFileInfo(options->soundFontText()).absolutePath());
            if (!file.isEmpty()) {
                options->setSoundFontText(file);
            }
        });
        m_settings->setStartEnabled(!isBusy());
    }
    return *m_settings;
}

ProgressWindow& MainWindow::ensureProgress()
{
    if (!m_progress) {
        m_progress = new ProgressWindow(this);
        connect(m_progress, &ProgressWindow::cancelRequested, m_jobs, &PassRunner::requestStop);
    }
    return *m_progress;
}

void MainWindow::placeBesideSelectedRow(QWidget& window)
{
    const QSize size = window.frameGeometry().size();
    const QRect frame = frameGeometry();
    const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(frame.topLeft(), frame.size());
    QRect row;
    const int selected = m_trackList->selectionMark();
    if (selected >= 0) {
        QTableView* view = m_trackList->view();
        const QRect cells = view->visualRect(view->model()->index(selected, 0));
        row = QRect(view->viewport()->mapToGlobal(QPoint(0, cells.top())),
                    QSize(view->viewport()->width(), cells.height()));
    }
    // Beside the main window, else over it clear of the selected row (below it, else above it),
    // else centred.
    const QList<QPoint> places = {
        QPoint(frame.right() + 1, frame.top()),
        QPoint(frame.left() - size.width(), frame.top()),
        QPoint(frame.left() + (frame.width() - size.width()) / 2, row.bottom() + 1 + twipsToPixels(120)),
        QPoint(frame.left() + (frame.width() - size.width()) / 2, row.top() - size.height() - twipsToPixels(120)),
    };
    for (const QPoint& at : places) {
        const QRect placed(at, size);
        if (area.contains(placed) && (row.isNull() || !placed.intersects(row))) {
            window.move(at);
            return;
        }
    }
    centreOverThis(window);
}

void MainWindow::centreOverThis(QWidget& window)
{
    const QRect frame = frameGeometry();
    const QSize size = window.frameGeometry().size();
    QPoint at(frame.left() + (frame.width() - size.width()) / 2, frame.top() + (frame.height() - size.height()) / 2);
    if (const QScreen* shown = screen()) {
        const QRect area = shown->availableGeometry();
        at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - size.width())));
        at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - size.height())));
    }
    window.move(at);
}

void MainWindow::onRunningChanged()
{
    if (m_settings) {
        m_settings->setStartEnabled(!isBusy());
    }
    updateCommands();
}

MainWindow::Stage MainWindow::stage() const
{
    if (m_state.stage == workflow::SessionStage::Converted) {
        return Stage::Converted;
    }
    // Listing a song again clears the list and with it the selection mark.
    return chosenParts().empty() ? Stage::SongListed : Stage::TrackChosen;
}

void MainWindow::updateCommands()
{
    const bool idle = !isBusy();
    const Stage now = stage();
    m_open->setEnabled(idle);
    m_recent->setEnabled(idle && !m_recent->isEmpty());
    m_setOutFolder->setEnabled(idle);
    m_audit->setEnabled(idle);
    m_auditChart->setEnabled(idle);
    m_package->setEnabled(idle);
    m_toBms->setEnabled(now == Stage::TrackChosen && idle);
    m_oneStepBuild->setEnabled(now == Stage::TrackChosen && idle);
    m_preview->setEnabled(m_lastChart.has_value() && idle);
    m_wavCut->setEnabled(now == Stage::Converted && idle);
    m_back->setEnabled(now == Stage::Converted && idle);
    m_trackList->setEnabled(now != Stage::Converted && idle);
    m_cancelShortcut->setEnabled(!idle);
}

void MainWindow::setResult(const QString& text)
{
    m_resultLine->setText(text);
    m_resultLine->setToolTip(text);
    m_findings->setRows({});
}

void MainWindow::showFailure(const Error& error, const QString& cancelledText, QWidget* preferred)
{
    if (error.code == ErrorCode::Cancelled) {
        setResult(cancelledText);
        return;
    }
    const QString sentence = errorSentence(error);
    setResult(sentence);
    showError(sentence, preferred, messageKindOf(error.code));
}

void MainWindow::showError(const QString& text, QWidget* preferred, UserDialogs::MessageKind kind)
{
    m_dialogs.showMessage(messageOwner(preferred), programCaption(), text, kind);
}

QWidget* MainWindow::messageOwner(QWidget* preferred) const
{
    if (QWidget* shown = widgetIfShown(preferred)) {
        return shown;
    }
    // The program's window in front: one of its secondary windows if the user is in one, else
    // the settings dialog when it is up, since it stands above the main window.
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active != this && active->isVisible() && active->parentWidget() == this) {
        return active;
    }
    if (QWidget* settings = widgetIfShown(m_settings)) {
        return settings;
    }
    return const_cast<MainWindow*>(this);
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
    m_jobs->stopAndWait();
    m_places.rememberWindowGeometry(saveGeometry());
    for (QWidget* window : {static_cast<QWidget*>(m_progress.data()), static_cast<QWidget*>(m_settings.data()),
                            static_cast<QWidget*>(m_trackInfo.data()), static_cast<QWidget*>(m_aboutWindow.data()),
                            static_cast<QWidget*>(m_pictures.data()), static_cast<QWidget*>(m_player.data())}) {
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
        if (url.isLocalFile() && isMidiFileName(url.toLocalFile())) {
            return url.toLocalFile();
        }
    }
    return {};
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!isBusy() && !droppedMidiFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = droppedMidiFile(event->mimeData());
    if (!path.isEmpty() && !isBusy()) {
        event->acceptProposedAction();
        openMidiPath(path);
    }
}

}  // namespace zentrowe::app

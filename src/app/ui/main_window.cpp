#include "app/ui/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>

#include "app/controls/list_view.h"
#include "app/controls/progress_bar.h"
#include "app/ui/about_window.h"
#include "app/ui/build_options_box.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/error_sentence.h"
#include "app/ui/findings_dialog.h"
#include "app/ui/pass_runner.h"
#include "app/ui/preview_player.h"
#include "app/ui/progress_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "app/ui/track_info_window.h"
#include "app/ui/user_dialogs.h"
#include "core/song/song_summary.h"
#include "core/workflow/audit.h"
#include "core/workflow/song_folder.h"

namespace zentrowe::app {

namespace {

// Layout in twips, as designed.
constexpr int kListTop = 480;
constexpr int kListHeightMargin = 1270;  // outer height minus list height
constexpr int kListWidthMargin = 120;
constexpr int kOpenFolderRightMargin = 400;

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

UserDialogs::MessageKind MainWindow::messageKindOf(ErrorCode code)
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

QWidget* MainWindow::widgetIfShown(QWidget* window)
{
    return window != nullptr && window->isVisible() ? window : nullptr;
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

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QAudioDevice>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSemaphore>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <set>

#include "app/controls/flat_button.h"
#include "app/controls/list_view.h"
#include "app/controls/progress_bar.h"
#include "app/ui/about_window.h"
#include "app/ui/build_options_box.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/main_window.h"
#include "app/ui/pass_runner.h"
#include "app/ui/preview_player.h"
#include "app/ui/progress_window.h"
#include "app/ui/qt_translations.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "app/ui/track_info_window.h"
#include "app/ui/user_dialogs.h"
#include "core/song/track_part.h"
#include "core/workflow/session_state.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "widget_driving.h"

namespace zentrowe::app {
namespace {

using namespace zentrowe::testing;
using widget_driving::mouse;
using widget_driving::waitForPass;
namespace fs = std::filesystem;

// Settings in a file of the test's own folder, never the user's.
QString settingsFile(const TempDir& folder)
{
    return QString::fromStdString((folder.path() / "settings.ini").string());
}

// A song of three tracks at 96 ticks per quarter: a conductor track, a melody whose first event
// is its name at tick 0, and a drum track.
Bytes demoSong()
{
    Bytes conductor = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    append(conductor, kEndOfTrack);
    Bytes melody = bytes({0x00, 0xFF, 0x03, 0x05});
    appendText(melody, "Piano");
    append(melody, bytes({0x00, 0xC0, 0x00}));
    for (const int note : {60, 62, 64, 60, 67, 67}) {
        append(melody, bytes({0x00, 0x90, note, 100, 0x60, 0x80, note, 0x40}));
    }
    append(melody, bytes({0x00, 0x90, 72, 90, 0x83, 0x00, 0x80, 72, 0x40}));  // held for 384 ticks
    append(melody, kEndOfTrack);
    Bytes drums = bytes({0x00, 0xC9, 0x00});
    for (int beat = 0; beat < 8; ++beat) {
        append(drums, bytes({0x00, 0x99, beat % 2 == 0 ? 36 : 38, 110, 0x30, 0x89, beat % 2 == 0 ? 36 : 38, 0}));
    }
    append(drums, kEndOfTrack);
    return midiFile(1, 96, {conductor, melody, drums});
}

// A format-0 song, as many a game's: its one track plays a piano on channel 1 (8 notes),
// pizzicato strings on channel 2 (4) and drums on channel 10 (2), a beat of 96 ticks each.
Bytes oneTrackSong()
{
    Bytes track = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC0, 0x00, 0x00, 0xC1, 45});
    for (int beat = 0; beat < 8; ++beat) {
        const int pluck = 48 + beat / 2;
        append(track, bytes({0x00, 0x90, 60 + beat, 100}));
        append(track, beat % 2 == 0 ? bytes({0x00, 0x91, pluck, 90}) : Bytes{});
        append(track, beat % 4 == 0 ? bytes({0x00, 0x99, 36, 110}) : Bytes{});
        append(track, bytes({0x60, 0x80, 60 + beat, 0x40}));
        append(track, beat % 2 == 0 ? bytes({0x00, 0x81, pluck, 0x40}) : Bytes{});
        append(track, beat % 4 == 0 ? bytes({0x00, 0x89, 36, 0}) : Bytes{});
    }
    append(track, kEndOfTrack);
    return midiFile(0, 96, {track});
}

// 16-bit stereo PCM at 44,100 Hz: a plain 44-byte header and `frames` frames of a quiet tone.
Bytes recording(std::uint32_t frames)
{
    Bytes out;
    const std::uint32_t dataSize = frames * 4;
    auto u32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&out](std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    appendText(out, "RIFF");
    u32(36 + dataSize);
    appendText(out, "WAVEfmt ");
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(176400);
    u16(4);
    u16(16);
    appendText(out, "data");
    u32(dataSize);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::uint16_t>((i % 100) < 50 ? 3000 : -3000);
        u16(sample);
        u16(sample);
    }
    return out;
}

QPoint rowCentre(ListView* list, int row)
{
    return list->view()->visualRect(list->view()->model()->index(row, 1)).center();
}

std::vector<std::string> wavStemsOfChart(const fs::path& chart)
{
    std::vector<std::string> stems;
    std::string text = readText(chart);
    std::size_t at = 0;
    while ((at = text.find("#WAV", at)) != std::string::npos) {
        const std::size_t nameStart = at + 7;  // "#WAVxx "
        const std::size_t nameEnd = text.find(".OGG", nameStart);
        stems.push_back(text.substr(nameStart, nameEnd - nameStart));
        at = nameEnd;
    }
    return stems;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        songPath = temp / "ode.mid";
        writeFile(songPath, demoSong());
        library = temp.path() / "out";
        fs::create_directory(library);
        // Each song writes into a folder of its own inside the output folder: ode.mid's is "ode".
        out = library / "ode";
        dialogs.folders << toQString(library.string());
        window.show();
        ASSERT_TRUE(window.askOutputFolderAtStart());
    }

    void open()
    {
        window.openMidiPath(toQString(songPath.string()));
        ASSERT_TRUE(waitForPass(window));
    }

    void selectRow(int row)
    {
        QApplication::processEvents();
        mouse(window.trackList()->view()->viewport(), rowCentre(window.trackList(), row), QEvent::MouseButtonPress);
    }

    // Ticks (or unticks) a row's box as a click on it does: through the list's model.
    void tick(int row, bool on = true)
    {
        QAbstractItemModel* model = window.trackList()->view()->model();
        ASSERT_TRUE(model->setData(model->index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
    }

    void start()
    {
        window.settingsDialog()->startButton()->click();
        ASSERT_TRUE(waitForPass(window));
    }

    struct Commands {
        bool toBms, wavCut, back, list;
        friend bool operator==(const Commands&, const Commands&) = default;
    };
    Commands commands() const
    {
        return {window.toBmsAction()->isEnabled(), window.wavCutAction()->isEnabled(),
                window.backButton()->isEnabled(), window.trackList()->isEnabled()};
    }
    void expectAlwaysOn() const
    {
        EXPECT_TRUE(window.openAction()->isEnabled());
        EXPECT_TRUE(window.setOutFolderAction()->isEnabled());
        EXPECT_TRUE(window.aboutAction()->isEnabled());
        EXPECT_TRUE(window.openFolderButton()->isEnabled());
    }

    TempDir temp;
    fs::path songPath;
    fs::path library;
    fs::path out;
    ScriptedDialogs dialogs;
    QSettings settings{settingsFile(temp), QSettings::IniFormat};
    MainWindow window{dialogs, settings};
};

TEST(StartUp, CancellingTheFolderQuestionEndsTheProgram)
{
    TempDir temp;
    QSettings settings(settingsFile(temp), QSettings::IniFormat);
    ScriptedDialogs dialogs;
    MainWindow window(dialogs, settings);
    EXPECT_FALSE(window.askOutputFolderAtStart());
    EXPECT_EQ(dialogs.folderTitles, QStringList{QStringLiteral("请选择输出目录")});
}

TEST_F(MainWindowTest, CaptionsMenusShortcutsAndColumns)
{
    // The build's one version string, the one `zentrowe-cli --version` prints.
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Zentrowe " ZENTROWE_VERSION));
    QStringList menus;
    for (QAction* action : window.menuBar()->actions()) {
        menus << action->text();
    }
    EXPECT_EQ(menus, (QStringList{"文件(&F)", "工具(&T)", "设置(&S)", "其它(&O)"}));

    EXPECT_EQ(window.openAction()->text(), QStringLiteral("打开  "));
    EXPECT_EQ(window.openAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(window.wavCutAction()->text(), QStringLiteral("切割     "));
    EXPECT_EQ(window.wavCutAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));
    EXPECT_EQ(window.toBmsAction()->text(), QStringLiteral("转换到BMS  "));
    EXPECT_EQ(window.toBmsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    EXPECT_EQ(window.setOutFolderAction()->text(), QStringLiteral("改变输出目录  "));
    EXPECT_EQ(window.setOutFolderAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+D")));
    EXPECT_EQ(window.aboutAction()->text(), QStringLiteral("关于(&A) ... "));

    // Tools in the work's order: convert, build, a separator, cut with the recording's starting
    // point, a separator, listen.
    const auto tools = window.menuBar()->actions().at(1)->menu()->actions();
    ASSERT_EQ(tools.size(), 7);
    EXPECT_EQ(tools[0], window.toBmsAction());
    EXPECT_EQ(tools[1], window.oneStepBuildAction());
    EXPECT_EQ(window.oneStepBuildAction()->text(), QStringLiteral("一键生成"));
    EXPECT_TRUE(tools[2]->isSeparator());
    EXPECT_EQ(tools[3], window.wavCutAction());
    EXPECT_EQ(tools[4]->text(), QStringLiteral("录音起点"));
    QStringList leadIns;
    for (QAction* action : tools[4]->menu()->actions()) {
        leadIns << action->text() + (action->isChecked() ? "*" : "");
    }
    EXPECT_EQ(leadIns, (QStringList{"自动*", "第一个K音", "文件开头"}));
    EXPECT_TRUE(tools[5]->isSeparator());
    EXPECT_EQ(tools[6], window.previewAction());
    EXPECT_EQ(window.previewAction()->text(), QStringLiteral("试听"));

    EXPECT_EQ(window.backButton()->text(), QStringLiteral("<-"));
    EXPECT_EQ(window.backButton()->geometry(), QRect(8, 6, 49, 20));
    EXPECT_EQ(window.openFolderButton()->text(), QStringLiteral("打开输出目录"));
    EXPECT_EQ(window.trackList()->y(), 32);
    const QStringList headers{"", "音符数", "时长", "音符/秒", "音轨名", "乐器种类", "乐器"};
    const int widths[] = {100, 60, 50, 90, 120, 90, 340};
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(window.trackList()->view()->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        // The last column takes the room left over; the others keep their widths.
        if (column < 6) {
            EXPECT_EQ(window.trackList()->columnWidth(column), widths[column]);
        } else {
            EXPECT_GE(window.trackList()->columnWidth(column), widths[column]);
        }
    }

    // File: open, open a chart's picture, the recent files, a separator, the release check of a
    // folder and of one chart, the package, a separator, quit.
    const auto file = window.menuBar()->actions().at(0)->menu()->actions();
    ASSERT_EQ(file.size(), 9);
    EXPECT_EQ(file[4], window.auditAction());
    EXPECT_EQ(file[5], window.auditChartAction());
    EXPECT_EQ(file[6], window.packageAction());
    EXPECT_EQ(file[0], window.openAction());
    EXPECT_EQ(file[1], window.openChartAction());
    EXPECT_EQ(window.openChartAction()->text(), QStringLiteral("打开谱面"));
    EXPECT_EQ(file[2]->menu(), window.recentMenu());
    EXPECT_TRUE(file[3]->isSeparator());
    EXPECT_TRUE(file[7]->isSeparator());
    EXPECT_EQ(file[8], window.quitAction());
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

TEST_F(MainWindowTest, TheLastColumnStretchesAndANarrowListScrollsSideways)
{
    QTableView* view = window.trackList()->view();
    window.resize(1000, 450);
    QApplication::processEvents();
    EXPECT_EQ(window.trackList()->columnWidth(6), view->viewport()->width() - (100 + 60 + 50 + 90 + 120 + 90));
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());

    window.resize(400, 450);
    QApplication::processEvents();
    EXPECT_GE(window.trackList()->columnWidth(6), 340);
    EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
    EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
}

TEST_F(MainWindowTest, ResizingKeepsTheListAndTheFolderButtonOnTheWindowEdges)
{
    // The rules are in twips of the window's outer size, frame included.
    window.resize(800, 600);
    QApplication::processEvents();
    const QSize frame = window.frameGeometry().size() - window.size();
    const int outerWidth = (800 + frame.width()) * 15;
    const int outerHeight = (600 + frame.height()) * 15;
    const QSize list(qRound((outerWidth - 120) / 15.0), qRound((outerHeight - 1270) / 15.0));
    EXPECT_EQ(window.trackList()->size(), list);
    EXPECT_EQ(window.openFolderButton()->x(), qRound((outerWidth - 2055 - 400) / 15.0));
    EXPECT_EQ(window.backButton()->pos(), QPoint(8, 6));
    // As short as the window goes (the two-line result line sets a floor): under 1270 twips the
    // list's height stays, above it the rule holds.
    window.resize(800, 80 - frame.height());
    QApplication::processEvents();
    const int shortOuterHeight = (window.height() + frame.height()) * 15;
    EXPECT_EQ(window.trackList()->height(),
              shortOuterHeight <= 1270 ? list.height() : qRound((shortOuterHeight - 1270) / 15.0));
}

TEST_F(MainWindowTest, OpenListsTheTracksAndKeepsCommandsOffWhileReading)
{
    EXPECT_EQ(commands(), (Commands{false, false, false, true}));
    expectAlwaysOn();

    window.openMidiPath(toQString(songPath.string()));
    // A pass is running: nothing that changes the song can start under it.
    EXPECT_TRUE(window.isBusy());
    EXPECT_FALSE(window.openAction()->isEnabled());
    EXPECT_FALSE(window.setOutFolderAction()->isEnabled());
    EXPECT_FALSE(window.trackList()->isEnabled());
    ASSERT_TRUE(waitForPass(window));

    EXPECT_EQ(commands(), (Commands{false, false, false, true}));
    expectAlwaysOn();
    ListView* list = window.trackList();
    ASSERT_EQ(list->itemCount(), 3);
    EXPECT_EQ(list->itemText(0), "音轨 01");
    EXPECT_EQ(list->itemText(1, 1), "7");
    EXPECT_EQ(list->itemText(1, 4), "Piano");
    EXPECT_EQ(list->itemText(2, 1), "8");
    // The melody: seven quarter notes at 120 BPM, 3 s from first to last start, the last held
    // 2 s: 7 notes in 5 s, and four in its busiest two seconds; the drums: eight eighth notes
    // ending at 2 s, four to a second. The tune is marked.
    EXPECT_EQ(list->itemText(0, 2), "");
    EXPECT_EQ(list->itemText(1, 2), "0:03");
    EXPECT_EQ(list->itemText(1, 3), "1.4 / 2.0 旋律");
    EXPECT_EQ(list->itemText(2, 2), "0:02");
    EXPECT_EQ(list->itemText(2, 3), "4.0 / 4.0");
    EXPECT_EQ(window.state().chartFileName, "ode.bms");

    selectRow(1);
    EXPECT_EQ(commands(), (Commands{true, false, false, true}));

    // Opening again replaces the rows and needs a new selection.
    open();
    EXPECT_EQ(list->itemCount(), 3);
    EXPECT_EQ(commands(), (Commands{false, false, false, true}));
}

TEST_F(MainWindowTest, AFileThatIsNotMidiIsNamedInAMessage)
{
    const fs::path notMidi = temp / "notes.mid";
    writeFile(notMidi, std::string_view("this is text"));
    window.openMidiPath(toQString(notMidi.string()));
    ASSERT_TRUE(waitForPass(window));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("notes.mid")));
    EXPECT_EQ(window.trackList()->itemCount(), 0);
    EXPECT_FALSE(window.isBusy());
    EXPECT_TRUE(window.openAction()->isEnabled());
}

TEST_F(MainWindowTest, DoubleClickListsTheEventsOfTheSelectionMarksTrack)
{
    open();
    ListView* list = window.trackList();
    selectRow(1);
    mouse(list->view()->viewport(), rowCentre(list, 1), QEvent::MouseButtonDblClick);
    ASSERT_TRUE(waitForPass(window));
    TrackInfoWindow* info = window.trackInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->isVisible());
    EXPECT_EQ(info->windowTitle(), QStringLiteral("音轨信息"));
    ListView* events = info->list();
    EXPECT_TRUE(events->isVisible());
    // Name, program change, 7 notes on and off, end of track.
    ASSERT_EQ(events->itemCount(), 17);
    EXPECT_EQ(events->itemText(0), "0");
    EXPECT_EQ(events->itemText(0, 1), "FF");
    EXPECT_TRUE(QString::fromStdString(events->itemText(0, 2)).contains(QStringLiteral("Piano")));
    QStringList headers;
    for (int column = 0; column < 3; ++column) {
        headers << events->view()->model()->headerData(column, Qt::Horizontal).toString();
    }
    EXPECT_EQ(headers, (QStringList{"间隔（tick）", "事件", "内容"}));
    EXPECT_EQ(events->columnWidth(2), 300);

    // Another track replaces every row.
    selectRow(2);
    mouse(list->view()->viewport(), rowCentre(list, 2), QEvent::MouseButtonDblClick);
    ASSERT_TRUE(waitForPass(window));
    EXPECT_EQ(events->itemCount(), 18);
}

TEST_F(MainWindowTest, ListingRefusesABadStartCodeWithAnEmptyTable)
{
    open();
    window.toBmsAction()->setEnabled(true);
    selectRow(1);
    window.toBmsAction()->trigger();
    window.settingsDialog()->startCodeEdit()->setText(QStringLiteral("0"));
    mouse(window.trackList()->view()->viewport(), rowCentre(window.trackList(), 1), QEvent::MouseButtonDblClick);
    QApplication::processEvents();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("输入有误")));
    ASSERT_NE(window.trackInfo(), nullptr);
    EXPECT_EQ(window.trackInfo()->list()->itemCount(), 0);
    EXPECT_TRUE(window.trackInfo()->list()->isVisible());
    EXPECT_FALSE(window.isBusy());
}

TEST_F(MainWindowTest, SettingsDialogDefaultsAndItsExclusiveBoxes)
{
    open();
    selectRow(1);
    window.toBmsAction()->trigger();
    SettingsDialog* dialog = window.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    // Above the main window only: a message box over any other window is not hidden behind it.
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_NE(dialog->windowHandle(), nullptr);
    EXPECT_EQ(dialog->windowHandle()->transientParent(), window.windowHandle());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("转换到BMS — 音轨 02 Piano"));
    EXPECT_EQ(dialog->startCodeEdit()->text(), QStringLiteral("00"));
    EXPECT_EQ(dialog->keysoundNameEdit()->text(), QStringLiteral("A"));
    EXPECT_EQ(dialog->longNoteMinimumEdit()->text(), QStringLiteral("24"));
    EXPECT_EQ(dialog->tempoEdit()->text(), QStringLiteral("0"));
    EXPECT_EQ(dialog->gapEdit()->text(), QStringLiteral("100"));
    EXPECT_EQ(dialog->longNotesBox()->text(), QStringLiteral("生成面条"));
    EXPECT_EQ(dialog->percussionBox()->text(), QStringLiteral("打击乐器 "));
    EXPECT_EQ(dialog->customTempoBox()->text(), QStringLiteral("自定义"));
    EXPECT_EQ(dialog->startButton()->text(), QStringLiteral("转换到BMS"));
    // The start code and tempo boxes show their usual longest text whole, inside the frame.
    for (const auto& [edit, text] : {std::pair{dialog->startCodeEdit(), "00"}, std::pair{dialog->tempoEdit(), "120.00"}}) {
        SCOPED_TRACE(text);
        const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
        EXPECT_GT(edit->width() - 2 * frame, edit->fontMetrics().horizontalAdvance(QString::fromLatin1(text)));
    }
    for (QLineEdit* edit : {dialog->longNoteMinimumEdit(), dialog->tempoEdit(), dialog->gapEdit()}) {
        EXPECT_TRUE(edit->toolTip().contains(QStringLiteral("单位"))) << edit->objectName().toStdString();
    }

    auto state = [dialog] {
        return QString("%1%2%3%4").arg(dialog->longNotesBox()->isEnabled()).arg(dialog->percussionBox()->isEnabled())
            .arg(dialog->longNoteMinimumEdit()->isEnabled()).arg(dialog->tempoEdit()->isEnabled());
    };
    EXPECT_EQ(state(), "1100");  // long notes, percussion, minimum length, tempo
    dialog->longNotesBox()->click();
    EXPECT_EQ(state(), "1010");
    dialog->longNotesBox()->click();
    EXPECT_EQ(state(), "1100");
    dialog->percussionBox()->click();
    EXPECT_EQ(state(), "0100");
    dialog->percussionBox()->click();
    dialog->customTempoBox()->click();
    EXPECT_EQ(state(), "1101");
}

// The box reaches the conversion: the window writes the bmson chart the command line writes, and
// no BMS chart.
TEST_F(MainWindowTest, TheBmsonBoxWritesTheCommandLinesBmsonChart)
{
    open();
    selectRow(1);
    window.toBmsAction()->trigger();
    SettingsDialog* dialog = window.settingsDialog();
    EXPECT_FALSE(dialog->bmsonBox()->isChecked());
    dialog->bmsonBox()->setChecked(true);
    start();
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    EXPECT_FALSE(fs::exists(out / "ode.bms"));
    const fs::path cliOut = temp.path() / "cli-bmson";
    fs::create_directory(cliOut);
    const std::string command = std::string(ZENTROWE_CLI) + " convert " + songPath.string() + " --track 2 --out " +
                                cliOut.string() + " --chart-format bmson >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(fs::exists(out / "ode.bmson"));
    EXPECT_EQ(readFile(out / "ode.bmson"), readFile(cliOut / "ode.bmson"));
}

TEST_F(MainWindowTest, StartWithoutASelectedTrackConvertsNothing)
{
    open();
    window.toBmsAction()->setEnabled(true);
    window.toBmsAction()->trigger();
    window.settingsDialog()->startButton()->click();
    QApplication::processEvents();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_FALSE(window.isBusy());
    EXPECT_TRUE(fs::is_empty(library));  // not even the song's folder
}

TEST_F(MainWindowTest, AFailedWriteIsReportedAndTheSongStays)
{
    open();
    // A conversion makes a missing folder; one inside a file cannot be made.
    writeFile(temp / "a-file", std::string_view("x"));
    dialogs.folders << toQString((temp / "a-file" / "folder").string());
    window.setOutFolderAction()->trigger();
    selectRow(1);
    window.toBmsAction()->trigger();
    // Refused before any pass starts: the song's folder cannot be made.
    window.settingsDialog()->startButton()->click();
    EXPECT_FALSE(window.isBusy());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messageKinds, QList{UserDialogs::MessageKind::Critical});
    EXPECT_EQ(commands(), (Commands{true, false, false, true}));
    EXPECT_TRUE(window.settingsDialog()->isVisible());
    EXPECT_TRUE(window.settingsDialog()->startButton()->isEnabled());
    EXPECT_EQ(window.trackList()->itemCount(), 3);
}

TEST_F(MainWindowTest, ConvertInEveryModeThenCutAndGoBack)
{
    const char* cli = ZENTROWE_CLI;
    open();
    struct Mode {
        const char* name;
        QCheckBox* (SettingsDialog::*box)() const;
    };
    const Mode modes[] = {{"plain", nullptr}, {"long", &SettingsDialog::longNotesBox},
                          {"percussion", &SettingsDialog::percussionBox}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.name);
        const int track = mode.box == &SettingsDialog::percussionBox ? 3 : 2;
        selectRow(track - 1);
        ASSERT_TRUE(window.toBmsAction()->isEnabled());
        window.toBmsAction()->trigger();
        SettingsDialog* dialog = window.settingsDialog();
        dialog->longNotesBox()->setChecked(false);
        dialog->percussionBox()->setChecked(false);
        if (mode.box != nullptr) {
            (dialog->*mode.box)()->setChecked(true);
        }
        dialog->startButton()->click();
        // The conversion runs: Start and the song-changing commands are off.
        EXPECT_FALSE(dialog->startButton()->isEnabled());
        EXPECT_FALSE(window.openAction()->isEnabled());
        ASSERT_TRUE(waitForPass(window));
        ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();

        // After the conversion the list shows the keysound file, and only cut and back remain.
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(commands(), (Commands{false, true, true, false}));
        expectAlwaysOn();
        ASSERT_EQ(window.trackList()->itemCount(), 1);
        EXPECT_EQ(window.trackList()->itemText(0), "音轨 01");
        EXPECT_EQ(dialog->bar()->position(), 100);
        const QString converted = window.resultLine()->text();
        EXPECT_TRUE(converted.contains(QStringLiteral("渲染 K-Midi.mid，然后 工具 › 切割"))) << converted.toStdString();
        EXPECT_TRUE(converted.contains(toQString(out.string()))) << converted.toStdString();

        // The window writes what the command line writes for the same choices.
        const fs::path chart = out / "ode.bms";
        ASSERT_TRUE(fs::exists(chart));
        ASSERT_TRUE(fs::exists(out / "K-Midi.mid"));
        const fs::path cliOut = temp.path() / (std::string("cli-") + mode.name);
        fs::create_directory(cliOut);
        const std::string command = std::string(cli) + " convert " + songPath.string() + " --track " +
                                    std::to_string(track) + " --out " + cliOut.string() + " --mode " + mode.name +
                                    " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(readFile(chart), readFile(cliOut / "ode.bms"));
        EXPECT_EQ(readFile(out / "K-Midi.mid"), readFile(cliOut / "K-Midi.mid"));

        // Cut a recording of the keysound file, told that it starts at the first keysound.
        const fs::path wav = temp / "render.wav";
        writeFile(wav, recording(44100 * 30));
        dialogs.files << toQString(wav.string());
        window.leadInGroup()->actions().at(1)->trigger();
        window.wavCutAction()->trigger();
        ProgressWindow* progress = window.progressWindow();
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(progress->isVisible());
        EXPECT_EQ(progress->windowTitle(), QStringLiteral("进度"));
        ASSERT_TRUE(waitForPass(window));
        ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
        EXPECT_FALSE(progress->isVisible());
        const auto stems = wavStemsOfChart(chart);
        ASSERT_FALSE(stems.empty());
        for (const auto& stem : stems) {
            EXPECT_TRUE(fs::exists(out / (stem + ".wav"))) << stem;
        }
        EXPECT_EQ(progress->bar()->position(), static_cast<int>(stems.size()));
        EXPECT_EQ(progress->label()->text(),
                  QString("K音总数 %1个  以切K音 %1个").arg(stems.size()));
        const QString cutResult = window.resultLine()->text();
        EXPECT_TRUE(cutResult.contains(QStringLiteral("已切割 %1 个文件").arg(stems.size()))) << cutResult.toStdString();
        EXPECT_TRUE(cutResult.contains(QStringLiteral("第一个K音"))) << cutResult.toStdString();
        EXPECT_TRUE(cutResult.contains(toQString(out.string()))) << cutResult.toStdString();
        // The recording's dialog started in the output folder, where it is usually rendered.
        EXPECT_EQ(dialogs.fileStarts.last(), toQString(out.string()));

        // Back to the source file.
        window.backButton()->click();
        ASSERT_TRUE(waitForPass(window));
        EXPECT_EQ(commands(), (Commands{false, false, false, true}));
        EXPECT_EQ(window.trackList()->itemCount(), 3);
        EXPECT_EQ(window.state().currentMidiPath, songPath);
        for (const auto& entry : fs::directory_iterator(out)) {
            fs::remove(entry.path());
        }
    }
}

TEST_F(MainWindowTest, FolderButtonAboutWindowAndDroppedFiles)
{
    // No song yet: the output folder that holds every song's folder.
    window.openFolderButton()->click();
    EXPECT_EQ(dialogs.shownFolders, QStringList{toQString(library.string())});

    window.aboutAction()->trigger();
    AboutWindow* about = window.aboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("关于"));
    EXPECT_EQ(about->okButton()->text(), QStringLiteral("确定"));
    mouse(about->okButton(), QPoint(10, 10), QEvent::MouseButtonPress);
    EXPECT_FALSE(about->isVisible());
    window.aboutAction()->trigger();
    EXPECT_EQ(window.aboutWindow(), about);
    EXPECT_TRUE(about->isVisible());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(toQString(songPath.string()))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    ASSERT_TRUE(waitForPass(window));
    EXPECT_EQ(window.trackList()->itemCount(), 3);
}

TEST_F(MainWindowTest, AFailedOpenKeepsTheSongTheListAndTheChosenTrack)
{
    open();
    selectRow(1);
    const fs::path notMidi = temp / "notes.mid";
    writeFile(notMidi, std::string_view("this is text"));
    const fs::path missing = temp / "gone.mid";
    for (const fs::path& bad : {notMidi, missing}) {
        SCOPED_TRACE(bad.filename().string());
        window.openMidiPath(toQString(bad.string()));
        ASSERT_TRUE(waitForPass(window));
        ASSERT_FALSE(dialogs.messages.isEmpty());
        EXPECT_TRUE(dialogs.messages.last().contains(toQString(bad.filename().string())));
        EXPECT_EQ(window.trackList()->itemCount(), 3);
        EXPECT_EQ(window.trackList()->itemText(1, 4), "Piano");
        EXPECT_EQ(window.state().sourceMidiPath, songPath);
        EXPECT_EQ(window.state().chartFileName, "ode.bms");
        EXPECT_EQ(commands(), (Commands{true, false, false, true}));
    }
    ASSERT_EQ(dialogs.messages.size(), 2);
    // Only the file that opened is among the recent ones.
    ASSERT_EQ(window.recentMenu()->actions().size(), 1);
    EXPECT_TRUE(window.recentMenu()->actions()[0]->text().contains(toQString(songPath.string())));

    // The kept song still converts, under its own chart name.
    window.toBmsAction()->trigger();
    start();
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(fs::exists(out / "ode.bms"));
}

TEST_F(MainWindowTest, MessagesStandInFrontOfTheWindowTheUserIsLookingAt)
{
    // A desktop without a file browser: the message gives the whole path instead.
    dialogs.desktopOpensFolders = false;
    window.openFolderButton()->click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(toQString(library.string()))) << dialogs.messages[0].toStdString();
    EXPECT_EQ(dialogs.messageOwners[0], &window);

    // With the settings dialog up, a failed conversion and a failed open speak in front of it.
    open();
    // A conversion makes a missing folder; one inside a file cannot be made.
    writeFile(temp / "a-file", std::string_view("x"));
    dialogs.folders << toQString((temp / "a-file" / "folder").string());
    window.setOutFolderAction()->trigger();
    selectRow(1);
    window.toBmsAction()->trigger();
    window.settingsDialog()->startButton()->click();  // refused before a pass starts
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messageOwners[1], window.settingsDialog());
    window.openMidiPath(toQString((temp / "gone.mid").string()));
    ASSERT_TRUE(waitForPass(window));
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_EQ(dialogs.messageOwners[2], window.settingsDialog());

    // A refused listing speaks in front of the track information window it left empty.
    window.settingsDialog()->startCodeEdit()->setText(QStringLiteral("0"));
    window.settingsDialog()->hide();
    mouse(window.trackList()->view()->viewport(), rowCentre(window.trackList(), 1), QEvent::MouseButtonDblClick);
    QApplication::processEvents();
    ASSERT_EQ(dialogs.messages.size(), 4);
    ASSERT_NE(window.trackInfo(), nullptr);
    EXPECT_EQ(dialogs.messageOwners[3], window.trackInfo());
}

TEST_F(MainWindowTest, TheResultLineOutlivesMenuTipsAndNamesTheNextStep)
{
    open();
    // The one step that gives a playable folder first, the manual path beside it.
    EXPECT_TRUE(window.resultLine()->text().contains(QStringLiteral("工具 › 一键生成")));
    EXPECT_TRUE(window.resultLine()->text().contains(QStringLiteral("转换到BMS")));
    selectRow(1);
    window.toBmsAction()->trigger();
    start();
    const QString result = window.resultLine()->text();
    ASSERT_TRUE(result.contains(QStringLiteral("渲染 K-Midi.mid，然后 工具 › 切割"))) << result.toStdString();

    // A menu item under the pointer puts its tip in the status bar, and leaving it clears the
    // bar's message; the result line stays in view all the while.
    QMenu* tools = window.menuBar()->actions().at(1)->menu();
    tools->popup(window.mapToGlobal(QPoint(20, 20)));
    QApplication::processEvents();
    QStatusTipEvent tip(QStringLiteral("切割录音"));
    QApplication::sendEvent(&window, &tip);
    EXPECT_EQ(window.statusBar()->currentMessage(), QStringLiteral("切割录音"));
    EXPECT_TRUE(window.resultLine()->isVisible());
    QStatusTipEvent cleared{QString()};
    QApplication::sendEvent(&window, &cleared);
    tools->hide();
    QApplication::processEvents();
    EXPECT_TRUE(window.resultLine()->isVisible());
    EXPECT_EQ(window.resultLine()->text(), result);

    // However long the line, the window still narrows as far as the user drags it.
    window.resize(300, 300);
    QApplication::processEvents();
    EXPECT_EQ(window.width(), 300);
}

TEST_F(MainWindowTest, HintsForATrackWithoutNotesAndForDrumsWithoutPercussion)
{
    open();
    const QString drumHint = QStringLiteral("第 10 通道");
    // The conductor track has no notes: a hint, and the track can still be chosen.
    selectRow(0);
    EXPECT_TRUE(window.resultLine()->text().contains(QStringLiteral("音轨 01 没有音符")));
    EXPECT_TRUE(window.toBmsAction()->isEnabled());

    struct Case {
        int row;
        bool percussion;
        bool hint;
    };
    for (const Case& c : {Case{2, false, true}, Case{2, true, false}, Case{1, false, false}}) {
        SCOPED_TRACE(::testing::Message() << "row " << c.row << " percussion " << c.percussion);
        selectRow(c.row);
        window.toBmsAction()->trigger();
        window.settingsDialog()->percussionBox()->setChecked(c.percussion);
        start();
        ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
        EXPECT_EQ(window.resultLine()->text().contains(drumHint), c.hint) << window.resultLine()->text().toStdString();
        window.backButton()->click();
        ASSERT_TRUE(waitForPass(window));
    }
}

TEST_F(MainWindowTest, ADrumTrackTicksPercussionOncePerChosenTrack)
{
    open();
    selectRow(2);
    window.oneStepBuildAction()->trigger();
    SettingsDialog* dialog = window.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->percussionBox()->isChecked());
    EXPECT_FALSE(dialog->longNotesBox()->isEnabled());
    // The melody is no drum part; choosing it with the dialog open unticks the box.
    selectRow(1);
    EXPECT_FALSE(dialog->percussionBox()->isChecked());
    // What the user sets for the chosen track stays when the dialog opens again.
    dialog->percussionBox()->setChecked(true);
    window.oneStepBuildAction()->trigger();
    EXPECT_TRUE(dialog->percussionBox()->isChecked());
    selectRow(2);
    selectRow(0);
    EXPECT_FALSE(dialog->percussionBox()->isChecked());
}

TEST_F(MainWindowTest, TheBuildDialogAsksForWhatABuildUsesAndHidesTheManualFields)
{
    open();
    selectRow(1);
    struct Case {
        QAction* action;
        bool builds;
    };
    for (const Case& c : {Case{window.oneStepBuildAction(), true}, Case{window.toBmsAction(), false}}) {
        SCOPED_TRACE(c.builds ? "一键生成" : "转换到BMS");
        c.action->trigger();
        SettingsDialog* dialog = window.settingsDialog();
        ASSERT_NE(dialog, nullptr);
        for (QWidget* manual : {static_cast<QWidget*>(dialog->startCodeEdit()), static_cast<QWidget*>(dialog->tempoEdit()),
                                static_cast<QWidget*>(dialog->gapEdit()), static_cast<QWidget*>(dialog->customTempoBox())}) {
            EXPECT_EQ(manual->isVisible(), !c.builds) << manual->objectName().toStdString();
        }
        BuildOptionsBox* options = dialog->buildOptions();
        EXPECT_EQ(options->isVisible(), c.builds);
        EXPECT_EQ(dialog->titleEdit()->isVisible(), c.builds);
        EXPECT_EQ(dialog->difficultyBox(chartset::Difficulty::Hyper)->isVisible(), c.builds);
        // Every group inside the dialog, none over another, the buttons below them all.
        const QList<QGroupBox*> groups = dialog->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly);
        for (QGroupBox* group : groups) {
            if (!group->isVisible()) {
                continue;
            }
            EXPECT_TRUE(dialog->rect().contains(group->geometry())) << group->objectName().toStdString();
            EXPECT_LT(group->geometry().bottom(), dialog->startButton()->y()) << group->objectName().toStdString();
            // The designed layout lets neighbouring frames share their border line.
            for (QGroupBox* other : groups) {
                EXPECT_TRUE(other == group || !other->isVisible() ||
                            other->geometry().intersected(group->geometry()).height() <= 1)
                    << group->objectName().toStdString() << " " << other->objectName().toStdString();
            }
        }
        EXPECT_TRUE(dialog->rect().contains(dialog->cancelButton()->geometry()));
    }
    // A custom tempo set for 转换到BMS is no part of a build: its keysound file is the build's own.
    SettingsDialog* dialog = window.settingsDialog();
    dialog->customTempoBox()->setChecked(true);
    dialog->tempoEdit()->setText(QStringLiteral("90"));
    EXPECT_TRUE(dialog->texts().useCustomTempo);
    window.oneStepBuildAction()->trigger();
    EXPECT_FALSE(dialog->texts().useCustomTempo);
    EXPECT_EQ(dialog->texts().gap, "100");
}

TEST(BuildOptionsBox, EachRowSetsItsFieldOfTheBuild)
{
    BuildOptionsBox options;
    EXPECT_EQ(options.rowCount(), 7);
    workflow::BuildRequest request;
    const auto defaultFont = request.soundFont;
    options.applyTo(request);
    EXPECT_EQ(request.bgm, workflow::BgmMode::Keysounds);  // the command line's defaults
    EXPECT_EQ(request.loudness, -14.0);
    EXPECT_EQ(request.charts.lanes, chartset::LaneRule::Playable);
    EXPECT_TRUE(request.charts.scratch);
    EXPECT_TRUE(request.charts.follow);
    EXPECT_EQ(request.charts.play, chartset::Play::Single);
    EXPECT_FALSE(request.charts.setPerPart);
    EXPECT_EQ(request.charts.quantizeGrid, 0U);
    EXPECT_EQ(request.soundFont, defaultFont);

    options.bgmBox()->setCurrentIndex(3);
    options.loudnessBox()->setChecked(false);
    EXPECT_FALSE(options.loudnessEdit()->isEnabled());
    options.lanesBox()->setCurrentIndex(1);
    options.scratchBox()->setChecked(false);
    options.followBox()->setChecked(false);
    options.doublePlayBox()->setChecked(true);
    options.chartsPerPartBox()->setChecked(true);
    options.quantizeBox()->setCurrentIndex(2);
    options.setSoundFontText(QStringLiteral("/fonts/small.sf2"));
    options.applyTo(request);
    EXPECT_EQ(request.bgm, workflow::BgmMode::None);
    EXPECT_EQ(request.loudness, std::nullopt);
    EXPECT_EQ(request.charts.lanes, chartset::LaneRule::Seed);
    EXPECT_FALSE(request.charts.scratch);
    EXPECT_FALSE(request.charts.follow);
    EXPECT_EQ(request.charts.play, chartset::Play::Double);
    EXPECT_TRUE(request.charts.setPerPart);
    EXPECT_EQ(request.charts.quantizeGrid, 24U);  // 16th triplets: 24 lines a measure
    EXPECT_EQ(request.soundFont, fs::path("/fonts/small.sf2"));

    options.bgmBox()->setCurrentIndex(2);
    options.loudnessBox()->setChecked(true);
    options.loudnessEdit()->setValue(-18);
    options.applyTo(request);
    EXPECT_EQ(request.bgm, workflow::BgmMode::One);
    EXPECT_EQ(request.loudness, -18.0);
}

TEST_F(MainWindowTest, OpeningAChartShowsItsPicture)
{
    const fs::path chart = temp / "song.bms";
    writeFile(chart, std::string_view("#TITLE song\n#BPM 120\n#WAV01 a.wav\n#00111:01010101\n#00216:01\n"));
    dialogs.files << toQString(chart.string());
    window.openChartAction()->trigger();
    ASSERT_EQ(dialogs.fileDialogs.size(), 1);
    EXPECT_TRUE(dialogs.fileDialogs[0].startsWith(QStringLiteral("打开谱面|BMS ("))) << dialogs.fileDialogs[0].toStdString();
    ChartPictureWindow* pictures = window.chartPictureWindow();
    ASSERT_NE(pictures, nullptr);
    ASSERT_EQ(pictures->tabs()->count(), 1);
    EXPECT_EQ(pictures->tabs()->tabText(0), QStringLiteral("song.bms"));
    const auto* picture = pictures->tabs()->widget(0)->findChild<QLabel*>(QStringLiteral("ChartPicture"));
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull());

    // A file that is no chart gets a tab that says why.
    const fs::path empty = temp / "empty.bms";
    writeFile(empty, std::string_view("not a chart\n"));
    dialogs.files << toQString(empty.string());
    window.openChartAction()->trigger();
    ASSERT_EQ(pictures->tabs()->count(), 1);
    auto* sentence = qobject_cast<QLabel*>(pictures->tabs()->widget(0));
    ASSERT_NE(sentence, nullptr);
    EXPECT_TRUE(sentence->text().contains(QStringLiteral("empty.bms"))) << sentence->text().toStdString();
}

TEST_F(MainWindowTest, KeyboardListsEventsAndClosesTheSmallWindows)
{
    open();
    selectRow(1);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(window.trackList()->view(), &enter);
    ASSERT_TRUE(waitForPass(window));
    TrackInfoWindow* info = window.trackInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->list()->itemCount(), 17);
    // It opens over the main window and within the screen.
    EXPECT_TRUE(window.frameGeometry().intersects(info->frameGeometry()));
    EXPECT_TRUE(window.screen()->availableGeometry().contains(info->frameGeometry()));

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(info->list()->view(), &escape);
    EXPECT_FALSE(info->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window.trackInfo(), nullptr);

    // The About window's button takes Enter and Space; Esc closes the window.
    struct Press {
        const char* name;
        Qt::Key key;
        bool release;
    };
    for (const Press& press : {Press{"Return", Qt::Key_Return, false}, Press{"Enter", Qt::Key_Enter, false},
                               Press{"Space", Qt::Key_Space, true}, Press{"Escape", Qt::Key_Escape, false}}) {
        SCOPED_TRACE(press.name);
        window.aboutAction()->trigger();
        AboutWindow* about = window.aboutWindow();
        ASSERT_NE(about, nullptr);
        ASSERT_TRUE(about->isVisible());
        QKeyEvent down(QEvent::KeyPress, press.key, Qt::NoModifier, press.key == Qt::Key_Space ? " " : "");
        QApplication::sendEvent(about->okButton(), &down);
        if (press.release) {
            QKeyEvent up(QEvent::KeyRelease, press.key, Qt::NoModifier, " ");
            QApplication::sendEvent(about->okButton(), &up);
        }
        EXPECT_FALSE(about->isVisible());
    }
}

TEST_F(MainWindowTest, CancellingACutKeepsFinishedFilesWholeAndLeavesNothingHalfWritten)
{
    open();
    selectRow(1);
    window.toBmsAction()->trigger();
    start();
    const fs::path wav = temp / "render.wav";
    writeFile(wav, recording(44100 * 30));
    for (const bool byEscape : {false, true}) {
        SCOPED_TRACE(byEscape ? "Esc" : "取消");
        dialogs.files << toQString(wav.string());
        // The cut waits at the runner's gate until the cancel is in: a cut of five files can
        // otherwise finish before the click arrives.
        QSemaphore cancelled;
        window.passRunner()->setPassGate([&cancelled] { cancelled.acquire(); });
        window.wavCutAction()->trigger();
        ProgressWindow* progress = window.progressWindow();
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(progress->cancelButton()->text(), QStringLiteral("取消"));
        if (byEscape) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(progress, &escape);
        } else {
            progress->cancelButton()->click();
        }
        cancelled.release();
        const bool finished = waitForPass(window);
        window.passRunner()->setPassGate({});
        ASSERT_TRUE(finished);
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
        EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("已取消切割")))
            << window.resultLine()->text().toStdString();
        EXPECT_FALSE(progress->isVisible());
        // The cut can run again.
        EXPECT_EQ(commands(), (Commands{false, true, true, false}));
        for (const auto& entry : fs::directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            SCOPED_TRACE(name);
            EXPECT_NE(name.front(), '.');  // no temporary file is left behind
            if (entry.path().extension() == ".wav") {
                // A whole WAV file: the RIFF size covers the rest of the file.
                const Bytes file = readFile(entry.path());
                ASSERT_GE(file.size(), 44u);
                const std::uint32_t riffSize = std::uint32_t{file[4]} | std::uint32_t{file[5]} << 8 |
                                               std::uint32_t{file[6]} << 16 | std::uint32_t{file[7]} << 24;
                EXPECT_EQ(riffSize + 8u, file.size());
            }
        }
    }
}

TEST_F(MainWindowTest, RefusalsSpeakChineseNameWhatIsAtFaultAndWriteNothing)
{
    open();
    auto wavFilesIn = [this] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(out)) {
            count += entry.path().extension() == ".wav" ? 1 : 0;
        }
        return count;
    };

    // The conductor track has no notes: refused, naming it.
    selectRow(0);
    window.toBmsAction()->trigger();
    start();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("音轨 01 没有可以转换的音符"))) << dialogs.messages[0].toStdString();
    EXPECT_FALSE(fs::exists(out));  // the song's folder the refused pass made went with it

    selectRow(1);
    start();
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();

    // A recording rendered without a soundfont: every sample is 0.
    const fs::path silent = temp / "silent.wav";
    Bytes silence = recording(44100 * 3);
    std::fill(silence.begin() + 44, silence.end(), std::uint8_t{0});
    writeFile(silent, silence);
    dialogs.files << toQString(silent.string());
    window.wavCutAction()->trigger();
    ASSERT_TRUE(waitForPass(window));
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[1].startsWith(toQString(silent.string()) + QStringLiteral(" 中没有一个采样")))
        << dialogs.messages[1].toStdString();
    EXPECT_EQ(window.resultLine()->text(), dialogs.messages[1]);
    EXPECT_EQ(wavFilesIn(), 0);

    // A keysound name the command line would refuse is refused here too, before any cut.
    const fs::path loud = temp / "render.wav";
    writeFile(loud, recording(44100 * 30));
    window.settingsDialog()->keysoundNameEdit()->setText(QStringLiteral("a/b"));
    dialogs.files << toQString(loud.string());
    window.wavCutAction()->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(window.isBusy());
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_TRUE(dialogs.messages[2].startsWith(QStringLiteral("输入有误：K音名 “a/b” 不可用")))
        << dialogs.messages[2].toStdString();
    EXPECT_EQ(wavFilesIn(), 0);
    EXPECT_EQ(commands(), (Commands{false, true, true, false}));

    // With the name mended the same recording cuts, under the new name.
    window.settingsDialog()->keysoundNameEdit()->setText(QStringLiteral("piano_"));
    dialogs.files << toQString(loud.string());
    window.wavCutAction()->trigger();
    ASSERT_TRUE(waitForPass(window));
    EXPECT_EQ(dialogs.messages.size(), 3);
    EXPECT_TRUE(fs::exists(out / "piano_60-48-100.wav"));
}

TEST(RememberedPlaces, FoldersAndRecentFilesCarryOverToTheNextRun)
{
    TempDir temp;
    const fs::path songs = temp / "songs";
    fs::create_directory(songs);
    const fs::path songPath = songs / "ode.mid";
    writeFile(songPath, demoSong());
    const fs::path out = temp / "out";
    fs::create_directory(out);
    {
        QSettings settings(settingsFile(temp), QSettings::IniFormat);
        ScriptedDialogs dialogs;
        MainWindow window(dialogs, settings);
        dialogs.folders << toQString(out.string());
        ASSERT_TRUE(window.askOutputFolderAtStart());
        EXPECT_EQ(dialogs.folderStarts, QStringList{QString()});  // nothing remembered yet
        EXPECT_FALSE(window.recentMenu()->isEnabled());
        dialogs.files << toQString(songPath.string());
        window.openAction()->trigger();
        ASSERT_TRUE(waitForPass(window));
        EXPECT_EQ(dialogs.fileStarts, QStringList{userMusicFolder()});  // not the program's folder
    }

    QSettings settings(settingsFile(temp), QSettings::IniFormat);
    ScriptedDialogs dialogs;
    MainWindow window(dialogs, settings);
    window.show();
    // The output folder of the last run is taken without a question.
    ASSERT_TRUE(window.askOutputFolderAtStart());
    EXPECT_TRUE(dialogs.folderTitles.isEmpty());
    EXPECT_EQ(window.state().outputFolder, out);
    window.openAction()->trigger();  // cancelled
    EXPECT_EQ(dialogs.fileStarts, QStringList{toQString(songs.string())});

    ASSERT_TRUE(window.recentMenu()->isEnabled());
    ASSERT_EQ(window.recentMenu()->actions().size(), 1);
    window.recentMenu()->actions()[0]->trigger();
    ASSERT_TRUE(waitForPass(window));
    EXPECT_EQ(window.trackList()->itemCount(), 3);
    EXPECT_EQ(window.state().sourceMidiPath, songPath);

    window.quitAction()->trigger();
    EXPECT_FALSE(window.isVisible());
}

TEST(RememberedPlaces, AnOutputFolderRemovedSinceIsAskedForAgain)
{
    TempDir temp;
    const fs::path gone = temp / "gone";
    QSettings settings(settingsFile(temp), QSettings::IniFormat);
    RememberedPlaces(settings).rememberOutputFolder(toQString(gone.string()));
    ScriptedDialogs dialogs;
    MainWindow window(dialogs, settings);
    dialogs.folders << toQString(temp.path().string());
    ASSERT_TRUE(window.askOutputFolderAtStart());
    EXPECT_EQ(dialogs.folderTitles, QStringList{QStringLiteral("请选择输出目录")});
    EXPECT_EQ(dialogs.folderStarts, QStringList{toQString(gone.string())});
    EXPECT_EQ(window.state().outputFolder, temp.path());
}

TEST(QtTranslations, QtsOwnDialogButtonsSpeakChinese)
{
    const QString before = QCoreApplication::translate("QPlatformTheme", "Cancel");
    QTranslator* translator = installQtTranslations(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("查找范围："));
    QCoreApplication::removeTranslator(translator);
    delete translator;
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), before);
}

// Double-clicks a track of `notes` notes on and off and reports how long the listing took.
void listBigTrack(MainWindow& window, ScriptedDialogs&, const fs::path& folder, int notes)
{
    Bytes events;
    for (int i = 0; i < notes; ++i) {
        append(events, bytes({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0}));
    }
    append(events, kEndOfTrack);
    const fs::path big = folder / "big.mid";
    writeFile(big, midiFile(0, 96, {events}));
    window.openMidiPath(toQString(big.string()));
    ASSERT_TRUE(waitForPass(window));
    QApplication::processEvents();
    mouse(window.trackList()->view()->viewport(), rowCentre(window.trackList(), 0), QEvent::MouseButtonPress);

    mouse(window.trackList()->view()->viewport(), rowCentre(window.trackList(), 0), QEvent::MouseButtonDblClick);
    // The double click only starts the listing: its rows arrive through the event loop, which
    // keeps running meanwhile, so the window is busy and shows none of them yet.
    EXPECT_TRUE(window.isBusy());
    EXPECT_TRUE(window.trackInfo() == nullptr || window.trackInfo()->list()->itemCount() == 0);
    ASSERT_TRUE(waitForPass(window));
    QApplication::processEvents();
    EXPECT_EQ(window.trackInfo()->list()->itemCount(), 2 * notes + 1);
    EXPECT_EQ(window.trackInfo()->list()->itemText(2 * notes, 1), "FF");
}

// The file names in a folder, temporary files included.
std::set<std::string> namesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The names `zentrowe-cli build` says it wrote ("wrote PATH" lines), for the same choices.
// A zip with the modification time and date of every entry zeroed, in its local header
// (signature PK 3 4, time at +10) and its central directory record (PK 1 2, time at +12): each
// writing stamps its own time, everything else is the same bytes.
Bytes withoutZipTimes(Bytes zip)
{
    for (std::size_t at = 0; at + 16 <= zip.size(); ++at) {
        if (zip[at] != 'P' || zip[at + 1] != 'K') {
            continue;
        }
        const std::size_t times = zip[at + 2] == 3 && zip[at + 3] == 4   ? at + 10
                                  : zip[at + 2] == 1 && zip[at + 3] == 2 ? at + 12
                                                                         : 0;
        if (times != 0) {
            std::fill(zip.begin() + static_cast<std::ptrdiff_t>(times), zip.begin() + static_cast<std::ptrdiff_t>(times + 4), 0);
        }
    }
    return zip;
}

// What `zentrowe-cli ARGUMENTS` prints on stdout, whatever its exit code.
std::string runCliOutput(const std::string& arguments)
{
    const std::string command = std::string(ZENTROWE_CLI) + " " + arguments + " 2>/dev/null";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        out += line;
    }
    pclose(pipe);
    return out;
}

std::set<std::string> namesTheCommandLineBuildLists(const fs::path& song, const std::string& track,
                                                    const fs::path& folder, const std::string& options = {})
{
    const std::string command = std::string(ZENTROWE_CLI) + " build " + song.string() + " --track " + track +
                                " --out " + folder.string() + " " + options + " 2>/dev/null";
    std::set<std::string> names;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        if (text.rfind("wrote ", 0) == 0) {
            names.insert(fs::path(text.substr(6, text.find_last_not_of("\r\n") - 5)).filename().string());
        }
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return names;
}

// True when an Ogg file ends with a whole page marked as the stream's last: a file cut short
// mid-write ends inside a page, or before the page that carries the end-of-stream flag.
bool endsWithLastOggPage(const Bytes& file)
{
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    const std::size_t page = text.rfind("OggS");
    if (page == std::string_view::npos || page + 27 > file.size() || file[page + 4] != 0) {
        return false;
    }
    const std::size_t segments = file[page + 26];
    if (page + 27 + segments > file.size()) {
        return false;
    }
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i) {
        body += file[page + 27 + i];
    }
    return (file[page + 5] & 0x04) != 0 && page + 27 + segments + body == file.size();
}

TEST_F(MainWindowTest, OneStepBuildWritesTheFolderTheCommandLineBuildsAndPreviewOpensIt)
{
    open();
    // Nothing to hear before a chart is written.
    EXPECT_FALSE(window.previewAction()->isEnabled());
    EXPECT_FALSE(window.oneStepBuildAction()->isEnabled());
    selectRow(1);
    ASSERT_TRUE(window.oneStepBuildAction()->isEnabled());
    window.oneStepBuildAction()->trigger();
    SettingsDialog* dialog = window.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    dialog->startButton()->click();
    ProgressWindow* progress = window.progressWindow();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_FALSE(window.openAction()->isEnabled());
    ASSERT_TRUE(waitForPass(window));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();

    // The folder plays as it is: the source song is listed again with the built track chosen,
    // so that another build (other settings, another track) is one click away.
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(commands(), (Commands{true, false, false, true}));
    EXPECT_TRUE(window.oneStepBuildAction()->isEnabled());
    EXPECT_EQ(window.state().stage, workflow::SessionStage::SongOpen);
    ASSERT_EQ(window.trackList()->itemCount(), 3);
    EXPECT_EQ(window.trackList()->selectionMark(), 1);
    EXPECT_EQ(window.trackList()->itemText(1, 4), "Piano");
    // The set's pictures, a tab per difficulty, easiest first.
    ChartPictureWindow* pictures = window.chartPictureWindow();
    ASSERT_NE(pictures, nullptr);
    EXPECT_TRUE(pictures->isVisible());
    QStringList tabs;
    for (int k = 0; k < pictures->tabs()->count(); ++k) {
        tabs << pictures->tabs()->tabText(k);
    }
    ASSERT_EQ(tabs.size(), 4);
    // Named as players name a chart: the difficulty and the level the report gives.
    const char* const names[] = {"NORMAL ", "HYPER ", "ANOTHER "};
    const char* const files[] = {"ode_N.bms", "ode_H.bms", "ode_A.bms"};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(files[k]);
        const std::string chart = readText(out / files[k]);
        const auto level = chart.find("#PLAYLEVEL ");
        ASSERT_NE(level, std::string::npos);
        EXPECT_EQ(tabs[k], QString::fromLatin1(names[k]) +
                               QString::fromStdString(chart.substr(level + 11, chart.find('\r', level) - level - 11)));
        EXPECT_EQ(pictures->tabs()->tabToolTip(k), toQString((out / files[k]).string()));
    }
    // Then the release checklist's findings, listed whole, in Chinese with the checker's figures.
    EXPECT_TRUE(tabs[3].startsWith(QStringLiteral("发布检查（"))) << tabs[3].toStdString();
    const auto* findings = qobject_cast<QPlainTextEdit*>(pictures->tabs()->widget(3));
    ASSERT_NE(findings, nullptr);
    EXPECT_TRUE(findings->toPlainText().contains(QStringLiteral("警告  ode_A.bms：缺少谱面信息（#ARTIST is missing")))
        << findings->toPlainText().toStdString();
    const auto* picture = pictures->tabs()->widget(0)->findChild<QLabel*>(QStringLiteral("ChartPicture"));
    ASSERT_NE(picture, nullptr);
    EXPECT_GT(picture->pixmap().height(), 300);
    const QString result = window.resultLine()->text();
    EXPECT_TRUE(result.startsWith(QStringLiteral("3 个谱面，等级 "))) << result.toStdString();
    // Every note of the other track is a keysound of its own: no BGM file to name.
    EXPECT_FALSE(result.contains(QStringLiteral("背景音乐"))) << result.toStdString();
    EXPECT_TRUE(result.contains(QStringLiteral("响度 -14.0 LUFS")) || result.contains(QStringLiteral("峰值 -1.0 dBTP")))
        << result.toStdString();
    // It says what 试听 plays, and the whole of it shows at the window's first size, in two lines.
    EXPECT_TRUE(result.contains(QStringLiteral("试听 播放 preview.ogg"))) << result.toStdString();
    // The tooltip holds the whole result and the release checklist's warnings (no #ARTIST here).
    const QString tip = window.resultLine()->toolTip();
    EXPECT_TRUE(tip.startsWith(result + QStringLiteral("\n发布检查：\n"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("ode_A.bms: #ARTIST is missing"))) << tip.toStdString();
    window.resize(700, 450);
    QApplication::processEvents();
    EXPECT_EQ(window.size(), QSize(700, 450));  // the line wraps inside the window, not below it
    const QRect lines = window.resultLine()->fontMetrics().boundingRect(
        QRect(0, 0, window.resultLine()->contentsRect().width(), 10000), Qt::TextWordWrap, result);
    EXPECT_LE(lines.height(), window.resultLine()->contentsRect().height()) << result.toStdString();
    EXPECT_LT(lines.height(), 3 * window.resultLine()->fontMetrics().lineSpacing());

    // The same files as the command line's build, the chart and K-Midi.mid byte for byte.
    const fs::path cliOut = temp.path() / "cli";
    fs::create_directory(cliOut);
    const auto listed = namesTheCommandLineBuildLists(songPath, "2", cliOut);
    const bool otherTrack = std::any_of(listed.begin(), listed.end(), [](const auto& name) {
        return std::string_view(name).substr(0, 3) == "Abg";  // a keysound of the other track's notes
    });
    ASSERT_TRUE(listed.count("ode_N.bms") && listed.count("K-Midi.mid") && otherTrack);
    EXPECT_GT(listed.size(), 3u);  // keysound files besides
    const auto written = namesIn(out);
    for (const auto& name : listed) {
        EXPECT_TRUE(written.count(name)) << name;
    }
    EXPECT_EQ(written, namesIn(cliOut));
    for (const char* chart : {"ode_N.bms", "ode_H.bms", "ode_A.bms"}) {
        EXPECT_EQ(readFile(out / chart), readFile(cliOut / chart)) << chart;
    }
    EXPECT_EQ(readFile(out / "K-Midi.mid"), readFile(cliOut / "K-Midi.mid"));

    // 试听 plays the build's preview.ogg as it is: listening changes nothing the build wrote.
    ASSERT_TRUE(window.previewAction()->isEnabled());
    const QString preview = QFileInfo(toQString((out / "preview.ogg").string())).absoluteFilePath();
    std::map<std::string, Bytes> before;
    for (const auto& name : namesIn(out)) {
        before[name] = readFile(out / name);
    }
    window.previewAction()->trigger();
    EXPECT_FALSE(window.isBusy());  // nothing to mix
    for (const auto& name : namesIn(out)) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(before.count(name));
        EXPECT_EQ(readFile(out / name), before[name]);
    }
    EXPECT_EQ(namesIn(out).size(), before.size());
    // A machine without a sound device (as the tests' often is) hands it to the desktop at
    // once, with no player standing at 0:00 and no message.
    const bool soundDevice = !QMediaDevices::defaultAudioOutput().isNull();
    PreviewPlayer* player = window.previewPlayer();
    if (soundDevice) {
        ASSERT_NE(player, nullptr);
        EXPECT_TRUE(player->isVisible());
        EXPECT_EQ(player->file(), preview);
        EXPECT_EQ(dialogs.openedFiles, QStringList{});
    } else {
        EXPECT_TRUE(player == nullptr || !player->isVisible());
        EXPECT_EQ(dialogs.openedFiles, QStringList{preview});
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
        // Where the desktop cannot play it either: one message naming the file, still no player.
        dialogs.desktopOpensFiles = false;
        window.previewAction()->trigger();
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages[0].contains(preview)) << dialogs.messages[0].toStdString();
        EXPECT_TRUE(window.previewPlayer() == nullptr || !window.previewPlayer()->isVisible());
    }
    EXPECT_EQ(commands(), (Commands{true, false, false, true}));
}

TEST_F(MainWindowTest, PreviewOfAChartWithoutABuildIsMixedOutsideItsFolder)
{
    // A chart opened by itself, with its one keysound beside it and no preview of its own.
    const fs::path folder = temp / "chart";
    fs::create_directory(folder);
    writeFile(folder / "one.bms", std::string_view("#PLAYER 1\r\n#BPM 120\r\n#WAV01 a.wav\r\n#00111:01010101\r\n"));
    writeFile(folder / "a.wav", recording(22050));
    dialogs.files << toQString((folder / "one.bms").string());
    window.openChartAction()->trigger();
    ASSERT_TRUE(window.previewAction()->isEnabled());
    window.previewAction()->trigger();
    ASSERT_TRUE(waitForPass(window));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    // Listening wrote nothing beside the chart.
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{"a.wav", "one.bms"}));
    const bool soundDevice = !QMediaDevices::defaultAudioOutput().isNull();
    const QString played = soundDevice ? window.previewPlayer()->file() : dialogs.openedFiles.value(0);
    ASSERT_FALSE(played.isEmpty());
    EXPECT_FALSE(played.startsWith(toQString(folder.string()))) << played.toStdString();
    EXPECT_TRUE(endsWithLastOggPage(readFile(toPath(played))));
    EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("试听 one.bms")))
        << window.resultLine()->text().toStdString();
}

TEST_F(MainWindowTest, CancellingABuildMidwayLeavesTheFolderAsItWas)
{
    // A melody of many different keysounds, a second each, so rendering takes a while.
    Bytes melody = bytes({0x00, 0xC0, 0x00});
    for (int i = 0; i < 400; ++i) {
        const int note = 36 + i % 48;
        const int velocity = 30 + (i / 48) * 10;
        append(melody, bytes({0x00, 0x90, note, velocity, 0x81, 0x40, 0x80, note, 0x40}));
    }
    append(melody, kEndOfTrack);
    Bytes conductor = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    append(conductor, kEndOfTrack);
    writeFile(songPath, midiFile(1, 96, {conductor, melody}));
    open();
    selectRow(1);
    window.oneStepBuildAction()->trigger();
    window.settingsDialog()->startButton()->click();
    ProgressWindow* progress = window.progressWindow();
    ASSERT_NE(progress, nullptr);
    // 取消 once the conversion is staged and the keysounds are rendering.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (fs::exists(out / ".zentrowe-staging" / "K-Midi.mid")) {
            progress->cancelButton()->click();
            poll.stop();
        }
    });
    poll.start(2);
    ASSERT_TRUE(waitForPass(window));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("已取消一键生成")))
        << window.resultLine()->text().toStdString();
    EXPECT_FALSE(progress->isVisible());
    // Not converted: the track is still chosen and can be built again.
    EXPECT_NE(window.state().stage, workflow::SessionStage::Converted);
    EXPECT_TRUE(window.oneStepBuildAction()->isEnabled());

    // Every new file was staged: the folder is as it was before, not there.
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(MainWindowTest, ALongListingKeepsTheWindowLive)
{
    listBigTrack(window, dialogs, temp.path(), 100000);
}

TEST_F(MainWindowTest, TheSettingsDialogNamesItsActionAndTrackStaysClearOfTheRowAndTabsInOrder)
{
    open();
    selectRow(1);
    struct Case {
        QAction* action;
        QString title;
        QString start;
    };
    for (const Case& c : {Case{window.oneStepBuildAction(), QStringLiteral("一键生成 — 音轨 02 Piano"), QStringLiteral("一键生成")},
                          Case{window.toBmsAction(), QStringLiteral("转换到BMS — 音轨 02 Piano"), QStringLiteral("转换到BMS")}}) {
        SCOPED_TRACE(c.start.toStdString());
        c.action->trigger();
        SettingsDialog* dialog = window.settingsDialog();
        ASSERT_NE(dialog, nullptr);
        QApplication::processEvents();
        EXPECT_EQ(dialog->windowTitle(), c.title);
        EXPECT_EQ(dialog->startButton()->text(), c.start);
        EXPECT_GE(dialog->startButton()->width(),
                  dialog->startButton()->fontMetrics().horizontalAdvance(c.start));
        EXPECT_EQ(dialog->cancelButton()->text(), QStringLiteral("取消"));
        EXPECT_FALSE(dialog->bar()->isVisible());  // nothing left over from an earlier run

        // The selected row stays in view.
        QTableView* view = window.trackList()->view();
        const QRect cells = view->visualRect(view->model()->index(1, 0));
        const QRect row(view->viewport()->mapToGlobal(cells.topLeft()), QSize(view->viewport()->width(), cells.height()));
        EXPECT_FALSE(dialog->frameGeometry().intersects(row));

        // Esc closes it, as 取消 does.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &escape);
        EXPECT_FALSE(dialog->isVisible());
    }

    // Tab goes through the boxes row by row, then Start, then 取消.
    SettingsDialog* dialog = window.settingsDialog();
    const QList<QWidget*> order = dialog->tabOrder();
    ASSERT_EQ(order.size(), 35);  // 一键生成's rows among them, its folder row first
    EXPECT_EQ(order.front(), dialog->startCodeEdit());
    EXPECT_EQ(order[order.size() - 2], dialog->startButton());
    EXPECT_EQ(order.back(), dialog->cancelButton());
    QList<QWidget*> visited;
    for (QWidget* at = order.front(); visited.size() < order.size(); at = at->nextInFocusChain()) {
        if (order.contains(at)) {
            visited << at;
        }
    }
    EXPECT_EQ(visited, order);
    for (qsizetype i = 0; i + 1 < 11; ++i) {  // the boxes: left to right within a row, rows downwards
        const QPoint here = order[i]->mapTo(dialog, QPoint(0, 0));
        const QPoint next = order[i + 1]->mapTo(dialog, QPoint(0, 0));
        EXPECT_TRUE(next.y() > here.y() + 5 || (std::abs(next.y() - here.y()) <= 5 && next.x() > here.x()))
            << order[i]->objectName().toStdString();
    }

    // A refused value is a warning, not news.
    window.toBmsAction()->trigger();
    dialog->gapEdit()->setText(QStringLiteral("x"));
    dialog->startButton()->click();
    ASSERT_EQ(dialogs.messageKinds, QList{UserDialogs::MessageKind::Warning});
}

TEST_F(MainWindowTest, ToolsInTheWorksOrderMidiNamesInAnyCaseAndNamesWithoutPadding)
{
    QStringList tools;
    for (QAction* action : window.menuBar()->actions().at(1)->menu()->actions()) {
        if (!action->isSeparator() && action->menu() == nullptr) {
            tools << action->text().trimmed();
        }
    }
    EXPECT_EQ(tools, (QStringList{"转换到BMS", "一键生成", "切割", "试听"}));

    window.openAction()->trigger();  // cancelled
    ASSERT_EQ(dialogs.fileDialogs.size(), 1);
    for (const char* pattern : {"*.mid", "*.MID", "*.midi", "*.kar"}) {
        EXPECT_TRUE(dialogs.fileDialogs[0].contains(QLatin1String(pattern))) << pattern;
    }
    struct Dropped {
        const char* name;
        bool accepted;
    };
    for (const Dropped& d : {Dropped{"SONG.MID", true}, Dropped{"song.midi", true}, Dropped{"song.Kar", true},
                             Dropped{"song.wav", false}}) {
        SCOPED_TRACE(d.name);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(toQString((temp / d.name).string()))});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(&window, &enter);
        EXPECT_EQ(enter.isAccepted(), d.accepted);
    }

    open();
    for (int row = 0; row < window.trackList()->itemCount(); ++row) {
        for (const int column : {3, 4}) {
            EXPECT_FALSE(window.trackList()->itemText(row, column).ends_with(' ')) << row << " " << column;
        }
    }
    EXPECT_EQ(displayedName("Lead 8 (bass+lead)合成主音8（贝司加主音） "),
              QStringLiteral("Lead 8 (bass+lead) 合成主音8（贝司加主音）"));
    EXPECT_EQ(displayedName("Pad 2 (warm) 合成音色2 （温暖） "), QStringLiteral("Pad 2 (warm) 合成音色2 （温暖）"));
}

TEST_F(MainWindowTest, EachSongBuildsIntoItsOwnFolderAndARebuildAsksNothing)
{
    const fs::path second = temp / "second song.mid";
    writeFile(second, demoSong());
    // Built quickly: no BGM, no loudness pass.
    auto build = [&](const fs::path& song, int row) {
        window.openMidiPath(toQString(song.string()));
        ASSERT_TRUE(waitForPass(window));
        selectRow(row);
        window.oneStepBuildAction()->trigger();
        BuildOptionsBox* options = window.settingsDialog()->buildOptions();
        options->bgmBox()->setCurrentIndex(3);
        options->loudnessBox()->setChecked(false);
        start();
    };
    build(songPath, 1);
    EXPECT_EQ(window.settingsDialog()->buildOptions()->folderText(), toQString(out.string()));
    build(second, 1);
    EXPECT_EQ(window.settingsDialog()->buildOptions()->folderText(), toQString((library / "second song").string()));
    // The same song again, another track of it: its folder is rebuilt without a question.
    build(second, 2);
    EXPECT_TRUE(dialogs.questions.isEmpty()) << dialogs.questions.join('\n').toStdString();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    EXPECT_TRUE(namesIn(out).count("ode_N.bms"));
    EXPECT_TRUE(namesIn(library / "second song").count("second song_N.bms"));
    EXPECT_EQ(namesIn(library), (std::set<std::string>{"ode", "second song"}));

    // A folder the user picks that holds another song asks before replacing it.
    window.settingsDialog()->buildOptions()->setFolderText(toQString(out.string()));
    dialogs.answerYes = false;
    window.settingsDialog()->startButton()->click();
    EXPECT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(namesIn(out).count("ode_N.bms"));
}

TEST_F(MainWindowTest, AFolderNoSystemCanHoldIsRefusedInOneSentenceAndNothingIsMade)
{
    open();
    selectRow(1);
    window.oneStepBuildAction()->trigger();
    writeFile(temp / "a file", std::string_view("x"));
    const std::vector<std::pair<fs::path, QString>> cases = {
        {library / "CON", QStringLiteral("Windows 把它留给设备")},
        {library / "dots...", QStringLiteral("不能以点或空格结尾")},
        {library / "what?", QStringLiteral("不能含")},
        // An output folder nothing can be made in (a file here; read-only would not stop root).
        {temp / "a file" / "ode", QStringLiteral("无法创建文件夹")},
    };
    for (const auto& [folder, words] : cases) {
        SCOPED_TRACE(folder.string());
        dialogs.messages.clear();
        window.settingsDialog()->buildOptions()->setFolderText(toQString(folder.string()));
        window.settingsDialog()->startButton()->click();
        EXPECT_FALSE(window.isBusy());
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages[0].contains(words)) << dialogs.messages[0].toStdString();
        EXPECT_EQ(dialogs.messages[0].count(QLatin1Char('\n')), 0);
        EXPECT_FALSE(fs::exists(folder));
    }
    EXPECT_TRUE(namesIn(library).empty());
}

TEST(MainWindowSize, AFullSongShowsWholeAtTheFirstSizeAndTheSizeIsRemembered)
{
    TempDir temp;
    // 25 tracks, each with a name of 24 characters and a program of its own on its channel.
    std::vector<Bytes> tracks;
    for (int k = 0; k < 25; ++k) {
        Bytes track = bytes({0x00, 0xFF, 0x03, 0x18});
        appendText(track, "Strings Ensemble Part " + std::to_string(10 + k));
        const int channel = k % 16;
        append(track, bytes({0x00, 0xC0 | channel, k * 5, 0x00, 0x90 | channel, 60, 100, 0x60, 0x80 | channel, 60, 0}));
        append(track, kEndOfTrack);
        tracks.push_back(track);
    }
    const fs::path song = temp / "full.mid";
    writeFile(song, midiFile(1, 96, tracks));
    const QSize large(1920, 1080);
    {
        QSettings settings(settingsFile(temp), QSettings::IniFormat);
        ScriptedDialogs dialogs;
        MainWindow window(dialogs, settings);
        dialogs.folders << toQString(temp.path().string());
        ASSERT_TRUE(window.askOutputFolderAtStart());
        window.show();
        window.openMidiPath(toQString(song.string()));
        ASSERT_TRUE(waitForPass(window));
        window.resize(window.firstSize(large));
        QApplication::processEvents();
        QTableView* view = window.trackList()->view();
        ASSERT_EQ(view->model()->rowCount(), 25);
        const int columns = view->model()->columnCount();
        for (int column = 0; column < columns; ++column) {
            SCOPED_TRACE(column);
            // Every column whole in the list, each as wide as its widest text.
            EXPECT_LE(view->columnViewportPosition(column) + view->columnWidth(column), view->viewport()->width());
            EXPECT_GE(view->columnWidth(column), static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column));
        }
        EXPECT_LE(view->rowViewportPosition(24) + view->rowHeight(24), view->viewport()->height());
        // A small screen bounds it.
        EXPECT_EQ(window.firstSize(QSize(640, 480)), QSize(576, 432));
        window.resize(810, 520);
        window.close();
    }
    QSettings settings(settingsFile(temp), QSettings::IniFormat);
    ScriptedDialogs dialogs;
    MainWindow window(dialogs, settings);
    EXPECT_EQ(window.size(), QSize(810, 520));
}

TEST_F(MainWindowTest, PublishingFromTheMenuMakesWhatAuditAndPackageMake)
{
    QStringList fileMenu;
    for (QAction* action : window.menuBar()->actions()[0]->menu()->actions()) {
        fileMenu << action->text();
    }
    EXPECT_TRUE(fileMenu.contains(QStringLiteral("发布检查")) && fileMenu.contains(QStringLiteral("打包")));
    const fs::path built = temp / "built";
    fs::create_directory(built);
    ASSERT_FALSE(namesTheCommandLineBuildLists(songPath, "2", built, "--bgm none --loudness off").empty());

    // 发布检查: the folder's findings, every one, as `zentrowe-cli audit` lists them.
    dialogs.folders << toQString(built.string());
    window.auditAction()->trigger();
    ASSERT_TRUE(waitForPass(window));
    ChartPictureWindow* pictures = window.chartPictureWindow();
    ASSERT_NE(pictures, nullptr);
    const auto* findings = qobject_cast<QPlainTextEdit*>(pictures->tabs()->currentWidget());
    ASSERT_NE(findings, nullptr);
    const std::string audit = runCliOutput("audit " + built.string());
    const auto lines = findings->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(static_cast<std::size_t>(lines.size()),
              static_cast<std::size_t>(std::count(audit.begin(), audit.end(), '\n')))
        << audit << findings->toPlainText().toStdString();
    EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("发布检查 ")))
        << window.resultLine()->text().toStdString();

    // 打包: the zip `zentrowe-cli package` writes, byte for byte.
    const fs::path zip = temp / "ode.zip";
    const fs::path cliZip = temp / "cli.zip";
    dialogs.folders << toQString(built.string());
    dialogs.saveFiles << toQString(zip.string());
    window.packageAction()->trigger();
    ASSERT_TRUE(waitForPass(window));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    runCliOutput("package " + built.string() + " --out " + cliZip.string());
    ASSERT_TRUE(fs::exists(zip));
    EXPECT_EQ(withoutZipTimes(readFile(zip)), withoutZipTimes(readFile(cliZip)));

    struct Refused {
        const char* what;
        fs::path folder;
        fs::path target;
        QString words;
    };
    const fs::path empty = temp / "empty";
    fs::create_directory(empty);
    for (const Refused& refused :
         {Refused{"an existing zip", built, zip, QStringLiteral("ode.zip")},
          Refused{"a folder with an error", empty, temp / "empty.zip", QStringLiteral("检查发现错误")}}) {
        SCOPED_TRACE(refused.what);
        const Bytes before = fs::exists(refused.target) ? readFile(refused.target) : Bytes{};
        dialogs.messages.clear();
        dialogs.folders << toQString(refused.folder.string());
        dialogs.saveFiles << toQString(refused.target.string());
        window.packageAction()->trigger();
        ASSERT_TRUE(waitForPass(window));
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages[0].contains(refused.words)) << dialogs.messages[0].toStdString();
        EXPECT_EQ(fs::exists(refused.target) ? readFile(refused.target) : Bytes{}, before);
    }
    // The refusal names what to fix: the audit's errors.
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("错误  目录"))) << dialogs.messages[0].toStdString();
}

TEST_F(MainWindowTest, OpeningAChartRaisesAMinimisedPictureWindow)
{
    const fs::path chart = temp / "one.bms";
    writeFile(chart, std::string_view("#PLAYER 1\r\n#DIFFICULTY 2\r\n#PLAYLEVEL 3\r\n#WAV01 a.wav\r\n#00111:01\r\n"));
    dialogs.files << toQString(chart.string()) << toQString(chart.string());
    window.openChartAction()->trigger();
    ChartPictureWindow* pictures = window.chartPictureWindow();
    ASSERT_NE(pictures, nullptr);
    EXPECT_EQ(pictures->tabs()->tabText(0), QStringLiteral("NORMAL 3"));
    pictures->showMinimized();
    window.openChartAction()->trigger();
    EXPECT_FALSE(pictures->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(pictures->isVisible());
    // 试听 now plays that chart.
    EXPECT_TRUE(window.previewAction()->isEnabled());
}

TEST_F(MainWindowTest, ChangingTheOutputFolderAfterAConversionListsTheSourceAgain)
{
    open();
    selectRow(1);
    window.toBmsAction()->trigger();
    start();
    ASSERT_EQ(window.state().stage, workflow::SessionStage::Converted);
    const fs::path other = temp / "other";
    fs::create_directory(other);
    dialogs.folders << toQString(other.string());
    window.setOutFolderAction()->trigger();
    ASSERT_TRUE(waitForPass(window));
    EXPECT_EQ(window.state().stage, workflow::SessionStage::SongOpen);
    EXPECT_EQ(window.trackList()->itemCount(), 3);
    EXPECT_EQ(window.state().outputFolder, other / "ode");
}

TEST_F(MainWindowTest, ABuildWithoutBgmOrLoudnessRemembersItsSoundFont)
{
    constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!fs::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    open();
    selectRow(1);
    window.oneStepBuildAction()->trigger();
    SettingsDialog* dialog = window.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->buildOptions()->bgmBox()->setCurrentIndex(3);
    dialog->buildOptions()->loudnessBox()->setChecked(false);
    dialog->buildOptions()->setSoundFontText(QString::fromLatin1(kSoundFont));
    start();
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    for (const auto& name : namesIn(out)) {
        EXPECT_FALSE(name.starts_with("bgm")) << name;
    }
    EXPECT_FALSE(window.resultLine()->text().contains(QStringLiteral("LUFS"))) << window.resultLine()->text().toStdString();

    // The next run's dialog starts with the soundfont of this build.
    ScriptedDialogs nextDialogs;
    MainWindow next(nextDialogs, settings);
    ASSERT_TRUE(next.askOutputFolderAtStart());
    next.openMidiPath(toQString(songPath.string()));
    ASSERT_TRUE(waitForPass(next));
    QApplication::processEvents();
    mouse(next.trackList()->view()->viewport(), rowCentre(next.trackList(), 1), QEvent::MouseButtonPress);
    next.oneStepBuildAction()->trigger();
    ASSERT_NE(next.settingsDialog(), nullptr);
    EXPECT_EQ(next.settingsDialog()->buildOptions()->soundFontText(), QString::fromLatin1(kSoundFont));
}

TEST_F(MainWindowTest, TickedRowsAndChannelPartsChooseWhatTheCommandLineTypes)
{
    const fs::path lively = temp / "lively.mid";
    writeFile(lively, oneTrackSong());
    window.openMidiPath(toQString(lively.string()));
    ASSERT_TRUE(waitForPass(window));
    // The track, then each channel it plays on, as `zentrowe-cli tracks --channels` lists them.
    ListView* list = window.trackList();
    ASSERT_EQ(list->itemCount(), 4);
    EXPECT_TRUE(list->hasCheckBoxes());
    const std::vector<std::string> notes{"14", "8", "4", "2"};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(list->itemText(row, 1), notes[static_cast<std::size_t>(row)]) << row;
    }
    EXPECT_EQ(list->itemText(0), "音轨 01");
    EXPECT_EQ(list->itemText(2), "  └ 通道 2");
    EXPECT_EQ(list->itemText(2, 6), "Pizzicato Strings 弦乐群拨弦音色");
    EXPECT_EQ(list->itemText(3), "  └ 通道 10");
    EXPECT_EQ(list->itemText(3, 5), "打击乐器");
    for (int row = 1; row < 4; ++row) {  // each part's own time and density, as its track's
        EXPECT_FALSE(list->itemText(row, 2).empty()) << row;
        EXPECT_FALSE(list->itemText(row, 3).empty()) << row;
    }

    struct Case {
        const fs::path& song;
        std::vector<int> ticks;  // rows, in the order ticked
        const char* typed;       // what --track takes for the same choice
        const char* title;
        bool percussion;
    };
    const Case cases[] = {
        {songPath, {2, 1}, "3,2", "音轨 03、音轨 02", false},
        {songPath, {2}, "3", "音轨 03", true},
        {lively, {2, 1}, "1:2,1:1", "音轨 01 通道 2、音轨 01 通道 1", false},
        {lively, {3}, "1:10", "音轨 01 通道 10", true},
        // A track ticked after its parts takes their place, and a part ticked after its track.
        {lively, {1, 2, 0}, "1", "音轨 01", false},
        {lively, {0, 3}, "1:10", "音轨 01 通道 10", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        window.openMidiPath(toQString(c.song.string()));
        ASSERT_TRUE(waitForPass(window));
        EXPECT_EQ(commands(), (Commands{false, false, false, true}));
        for (const int row : c.ticks) {
            tick(row);
        }
        EXPECT_EQ(commands(), (Commands{true, false, false, true}));
        const auto typed = song::parseTrackParts(window.state().song, c.typed, "song.mid");
        ASSERT_TRUE(typed);
        EXPECT_EQ(window.chosenParts(), *typed);
        EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("已勾选 "))) << window.resultLine()->text().toStdString();
        window.oneStepBuildAction()->trigger();
        EXPECT_EQ(window.settingsDialog()->windowTitle(), QStringLiteral("一键生成 — ") + QString::fromUtf8(c.title));
        EXPECT_EQ(window.settingsDialog()->percussionBox()->isChecked(), c.percussion);
        window.settingsDialog()->hide();
    }
    // With every box unticked again, the selected row is the choice.
    selectRow(1);
    tick(0, false);
    tick(3, false);
    EXPECT_EQ(window.chosenParts(), (std::vector<song::TrackPart>{{1, 1}}));
}

TEST_F(MainWindowTest, TwoTickedPartsBuildTheFolderTheCommandLineBuildsForThem)
{
    constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!fs::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    writeFile(songPath, oneTrackSong());
    open();
    tick(2);
    tick(1);
    // 转换到BMS charts one track or channel, as zentrowe-cli convert does: one sentence, nothing written.
    window.toBmsAction()->trigger();
    window.settingsDialog()->startButton()->click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("一键生成"))) << dialogs.messages[0].toStdString();
    EXPECT_FALSE(fs::exists(out));  // refused before the song's folder is made

    window.oneStepBuildAction()->trigger();
    SettingsDialog* dialog = window.settingsDialog();
    dialog->buildOptions()->loudnessBox()->setChecked(false);
    dialog->buildOptions()->setSoundFontText(QString::fromLatin1(kSoundFont));
    start();
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();
    EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("3 个谱面"))) << window.resultLine()->text().toStdString();
    // Listed again with the same boxes ticked, for the next build.
    EXPECT_EQ(window.chosenParts(), (std::vector<song::TrackPart>{{1, 2}, {1, 1}}));

    const fs::path cliOut = temp.path() / "cli";
    fs::create_directory(cliOut);
    const auto listed = namesTheCommandLineBuildLists(songPath, "1:2,1:1", cliOut,
                                                      std::string("--loudness off --soundfont ") + kSoundFont);
    ASSERT_TRUE(listed.count("ode_A.bms") && listed.count("K-Midi.mid"));
    // The same sound files, and the charts and K-Midi.mid byte for byte (renders of one note on
    // several threads are not: sounds are compared by name only).
    EXPECT_EQ(namesIn(out), namesIn(cliOut));
    for (const char* name : {"ode_N.bms", "ode_H.bms", "ode_A.bms", "K-Midi.mid", ".zentrowe-build.json"}) {
        EXPECT_EQ(readFile(out / name), readFile(cliOut / name)) << name;
    }
}

TEST_F(MainWindowTest, AChosenPartConvertsAsTheCommandLineAndATickedTrackWithoutNotesIsNamed)
{
    open();
    // The conductor track has no notes: built with the melody, it is named and nothing is written.
    tick(0);
    tick(1);
    EXPECT_TRUE(window.resultLine()->text().contains(QStringLiteral("音轨 01（没有音符）")));
    window.oneStepBuildAction()->trigger();
    start();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("音轨 01 没有可以转换的音符；没有写入文件"));
    EXPECT_FALSE(fs::exists(out));

    // One channel of a format-0 song converts as `zentrowe-cli convert --track 1:2` does.
    writeFile(songPath, oneTrackSong());
    open();
    selectRow(2);
    window.toBmsAction()->trigger();
    start();
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();
    const fs::path cliOut = temp.path() / "cli";
    const std::string command = std::string(ZENTROWE_CLI) + " convert " + songPath.string() + " --track 1:2 --out " +
                                cliOut.string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(namesIn(out), namesIn(cliOut));
    for (const auto& name : namesIn(cliOut)) {
        EXPECT_EQ(readFile(out / name), readFile(cliOut / name)) << name;
    }
}

}  // namespace
}  // namespace zentrowe::app

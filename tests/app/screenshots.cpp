// Takes a picture of every window of the program with a song loaded, for the README:
//   zentrowe_screenshots SONG.mid OUTPUT_FOLDER
// Run it on a real display or under Xvfb (scripts/screenshots), not on the offscreen platform,
// so that fonts and styles are those a user sees.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/controls/list_view.h"
#include "app/ui/about_window.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/track_info_window.h"
#include "app/ui/user_dialogs.h"
#include "app/controls/progress_bar.h"
#include "widget_driving.h"

namespace {

using namespace zentrowe::app;
using widget_driving::mouse;

class FixedAnswers final : public UserDialogs {
public:
    explicit FixedAnswers(QString folder) : m_folder(std::move(folder)) {}
    QString chooseFolder(QWidget*, const QString&, const QString&) override { return m_folder; }
    QString chooseFileToOpen(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString chooseFileToSave(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    void showMessage(QWidget*, const QString&, const QString& text, MessageKind) override
    {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    }
    bool ask(QWidget*, const QString&, const QString&) override { return true; }
    bool showFolder(const QString&) override { return true; }
    bool openFile(const QString&) override { return true; }

private:
    QString m_folder;
};

void settle(int milliseconds = 300)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitForPass(MainWindow& window)
{
    const bool finished = widget_driving::waitForPass(window, 300000);
    settle();
    return finished;
}

bool save(QWidget* widget, const QDir& folder, const char* name)
{
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
        return false;
    }
    std::printf("%s\n", path.toUtf8().constData());
    return true;
}

// A song of 25 tracks, each named and on an instrument of its own, as a full arrangement has:
// the main window's first size shows its whole list.
bool writeFullSong(const QString& path)
{
    auto u32be = [](std::string& out, std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<char>(value >> shift));
        }
    };
    constexpr int kTracks = 25;
    std::string file("MThd");
    u32be(file, 6);
    file += std::string("\x00\x01\x00", 3) + static_cast<char>(kTracks) + std::string("\x00\x60", 2);
    for (int k = 0; k < kTracks; ++k) {
        const std::string name = "Strings Ensemble Part " + std::to_string(10 + k);
        const auto channel = static_cast<char>(k % 16);
        std::string track = std::string("\x00\xFF\x03", 3) + static_cast<char>(name.size()) + name;
        track += std::string("\x00", 1) + static_cast<char>('\xC0' | channel) + static_cast<char>(k * 5);
        for (int beat = 0; beat < 8; ++beat) {
            track += std::string("\x00", 1) + static_cast<char>('\x90' | channel) + static_cast<char>(48 + k) + '\x64';
            track += std::string("\x60", 1) + static_cast<char>('\x80' | channel) + static_cast<char>(48 + k) + '\x40';
        }
        track += std::string("\x00\xFF\x2F\x00", 4);
        file += "MTrk";
        u32be(file, static_cast<std::uint32_t>(track.size()));
        file += track;
    }
    QFile out(path);
    return out.open(QIODevice::WriteOnly) &&
           out.write(file.data(), static_cast<qint64>(file.size())) == static_cast<qint64>(file.size());
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zentrowe_screenshots SONG.mid OUTPUT_FOLDER\n");
        return 2;
    }
    const QString song = QString::fromLocal8Bit(argv[1]);
    const QDir pictures(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir output;
    FixedAnswers answers(output.path());
    QSettings settings(output.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);

    MainWindow window(answers, settings);
    window.resize(720, 360);
    window.show();
    if (!window.askOutputFolderAtStart()) {
        return 1;
    }
    window.openMidiPath(song);
    if (!waitForPass(window)) {
        return 1;
    }
    ListView* tracks = window.trackList();
    const int row = tracks->itemCount() > 1 ? 1 : 0;
    const QPoint rowCentre = tracks->view()->visualRect(tracks->view()->model()->index(row, 1)).center();
    mouse(tracks->view()->viewport(), rowCentre, QEvent::MouseButtonPress);
    // Two tracks ticked for one set, as the README tells; unticked again for the one-track passes.
    const int other = tracks->itemCount() > 2 ? 2 : row;
    tracks->setItemChecked(row, true);
    tracks->setItemChecked(other, true);
    settle();
    bool ok = save(&window, pictures, "main-window.png");
    tracks->setItemChecked(row, false);
    tracks->setItemChecked(other, false);

    window.toBmsAction()->trigger();
    settle();
    ok = save(window.settingsDialog(), pictures, "settings-dialog.png") && ok;
    window.settingsDialog()->hide();

    mouse(tracks->view()->viewport(), rowCentre, QEvent::MouseButtonDblClick);
    ok = waitForPass(window) && ok;
    ok = save(window.trackInfo(), pictures, "track-info.png") && ok;
    window.trackInfo()->close();

    window.aboutAction()->trigger();
    settle();
    ok = save(window.aboutWindow(), pictures, "about.png") && ok;
    window.aboutWindow()->hide();

    // The one-step build of the same track, at the window's first size: its dialog, and the
    // result line it leaves.
    window.resize(700, 450);
    settle();
    window.oneStepBuildAction()->trigger();
    settle();
    ok = save(window.settingsDialog(), pictures, "settings-dialog-build.png") && ok;
    window.settingsDialog()->startButton()->click();
    ok = waitForPass(window) && ok;
    // The built set's pictures, a tab per difficulty.
    if (ChartPictureWindow* charts = window.chartPictureWindow()) {
        charts->resize(900, 700);
        settle();
        ok = save(charts, pictures, "chart-pictures.png") && ok;
        charts->close();
    } else {
        ok = false;
    }
    ok = save(&window, pictures, "main-window-after-build.png") && ok;

    // Then the manual path: convert, and the keysound file listed.
    window.resize(720, 360);
    window.toBmsAction()->trigger();
    window.settingsDialog()->startButton()->click();
    ok = waitForPass(window) && ok;
    ok = save(&window, pictures, "main-window-after-conversion.png") && ok;

    // The cutter's progress window halfway through a cut of 24 keysounds.
    ProgressWindow progress;
    progress.bar()->setMinimum(0);
    progress.bar()->setMaximum(24);
    progress.bar()->setPosition(12);
    progress.showCount(12, 24);
    progress.show();
    settle();
    ok = save(&progress, pictures, "progress.png") && ok;
    progress.close();

    // A window as a user first sees it (nothing remembered), with a song of 25 tracks.
    QSettings fresh(output.filePath(QStringLiteral("fresh.ini")), QSettings::IniFormat);
    MainWindow first(answers, fresh);
    first.show();
    const QString full = output.filePath(QStringLiteral("full-arrangement.mid"));
    if (!writeFullSong(full) || !first.askOutputFolderAtStart()) {
        return 1;
    }
    first.openMidiPath(full);
    ok = waitForPass(first) && ok;
    ok = save(&first, pictures, "main-window-first-size.png") && ok;
    return ok ? 0 : 1;
}

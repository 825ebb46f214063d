// The window's publishing of a single chart and what a refused pass leaves behind.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <gtest/gtest.h>

#include "app/controls/list_view.h"
#include "app/ui/build_options_box.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/main_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "widget_driving.h"

namespace zentrowe::app {
namespace {

using namespace zentrowe::testing;
namespace fs = std::filesystem;

// One track of four quarter notes at 96 ticks a beat.
Bytes fourNotes()
{
    Bytes track = bytes({0x00, 0xC0, 0x00});
    for (const int note : {60, 62, 64, 65}) {
        append(track, bytes({0x00, 0x90, note, 100, 0x60, 0x80, note, 0x40}));
    }
    append(track, kEndOfTrack);
    return midiFile(1, 96, {track});
}

class PublishAndRefusal : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = temp / "library";
        fs::create_directory(library);
        dialogs.folders << toQString(library.string());
        window.show();
        ASSERT_TRUE(window.askOutputFolderAtStart());
    }

    TempDir temp;
    fs::path library;
    ScriptedDialogs dialogs;
    QSettings settings{toQString((temp / "settings.ini").string()), QSettings::IniFormat};
    MainWindow window{dialogs, settings};
};

TEST_F(PublishAndRefusal, ARefusedBuildLeavesNoEmptySongFolder)
{
    const fs::path song = temp / "tune.mid";
    writeFile(song, fourNotes());
    SettingsDialog* dialog = widget_driving::openBuildOfFirstTrack(window, toQString(song.string()));
    ASSERT_NE(dialog, nullptr);
    dialog->buildOptions()->setSoundFontText(toQString((temp / "missing.sf2").string()));
    dialog->startButton()->click();
    ASSERT_TRUE(widget_driving::waitForPass(window));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("missing.sf2"))) << dialogs.messages[0].toStdString();
    // The folder made for the song went with the refusal; the library stays.
    EXPECT_FALSE(fs::exists(library / "tune"));
    EXPECT_TRUE(fs::is_directory(library));
}

// 发布检查单个谱面 checks the one chart picked, and names a MIDI file picked by mistake in Chinese.
TEST_F(PublishAndRefusal, AuditingOneChartChecksItAloneAndAMidiFileIsRefusedInChinese)
{
    const fs::path folder = temp / "charts";
    fs::create_directory(folder);
    const std::string chart = "#PLAYER 1\r\n#TITLE t\r\n#BPM 120\r\n#WAV01 a.wav\r\n#00111:01\r\n";
    writeFile(folder / "one.bms", chart);
    writeFile(folder / "two.bms", chart);
    writeFile(folder / "song.mid", fourNotes());
    struct Case {
        const char* picked;
        int charts;           // pictures shown; 0 for a refusal
        const char* message;  // the refusal's words; none for a check
    };
    const Case cases[] = {
        {"one.bms", 1, nullptr},
        {"song.mid", 0, "是 MIDI 文件，不是谱面"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picked);
        dialogs.messages.clear();
        dialogs.files << toQString((folder / c.picked).string());
        window.auditChartAction()->trigger();
        ASSERT_TRUE(widget_driving::waitForPass(window));
        if (c.message != nullptr) {
            ASSERT_EQ(dialogs.messages.size(), 1);
            EXPECT_TRUE(dialogs.messages[0].contains(QString::fromUtf8(c.message)))
                << dialogs.messages[0].toStdString();
            EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("song.mid")));
            continue;
        }
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
        ChartPictureWindow* pictures = window.chartPictureWindow();
        ASSERT_NE(pictures, nullptr);
        // The chart's picture and the findings tab; two.bms is not looked at.
        ASSERT_EQ(pictures->tabs()->count(), c.charts + 1);
        EXPECT_EQ(pictures->tabs()->tabToolTip(0), toQString((folder / c.picked).string()));
        EXPECT_TRUE(window.resultLine()->text().startsWith(QStringLiteral("发布检查 ")))
            << window.resultLine()->text().toStdString();
    }
    EXPECT_TRUE(dialogs.fileDialogs.first().contains(QStringLiteral("*.bmson")));
}

}  // namespace
}  // namespace zentrowe::app

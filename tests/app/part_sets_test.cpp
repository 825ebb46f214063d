// 一键生成 with a set of charts per part, against `zentrowe-cli build --charts parts`.

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <cstdio>
#include <gtest/gtest.h>
#include <ostream>
#include <set>
#include <string>

#include "app/ui/build_options_box.h"
#include "app/ui/findings_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "support/folder_snapshot.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "widget_driving.h"

namespace zentrowe::app {
namespace {

using namespace zentrowe::testing;
namespace fs = std::filesystem;

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Two tracks at 96 ticks a beat, 64 eighth notes each (as many as a part needs for a set of its
// own): a piano arpeggio on four keys and a bass on two, six keysounds in all.
Bytes twoPartSong()
{
    const auto part = [](int channel, int program, std::initializer_list<int> keys) {
        Bytes track = bytes({0x00, 0xC0 | channel, program});
        for (int k = 0; k < 64; k += static_cast<int>(keys.size())) {
            for (const int key : keys) {
                append(track, bytes({0x00, 0x90 | channel, key, 100, 0x30, 0x80 | channel, key, 0x40}));
            }
        }
        append(track, kEndOfTrack);
        return track;
    };
    return midiFile(1, 96, {part(0, 0, {60, 64, 67, 72}), part(1, 33, {36, 43})});
}

// The exit code of `zentrowe-cli build SONG --track 1 --out FOLDER OPTIONS`.
int commandLineBuild(const fs::path& song, const fs::path& folder, const std::string& options)
{
    const std::string command = std::string(ZENTROWE_CLI) + " build " + song.string() + " --track 1 --out " +
                                folder.string() + " " + options + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

// The codes of every finding the window's list of them holds, opened as a click on the result
// line opens it.
std::set<workflow::FindingCode> listedFindings(MainWindow& window)
{
    std::set<workflow::FindingCode> codes;
    if (!window.findingsList()->hasRows()) {
        return codes;
    }
    widget_driving::mouse(window.resultLine(), window.resultLine()->rect().center());
    if (window.findingsList()->dialog() == nullptr) {
        return codes;
    }
    QListWidget* list = window.findingsList()->dialog()->list();
    for (int row = 0; row < list->count(); ++row) {
        const QVariant code = list->item(row)->data(FindingsDialog::kFindingCodeRole);
        if (code.isValid()) {
            codes.insert(static_cast<workflow::FindingCode>(code.toInt()));
        }
    }
    return codes;
}

struct PartSetCase {
    const char* name;
    bool doublePlay;
    const char* options;  // what the command line is given besides the loudness and the soundfont
};

// The case by its name, in the test's name and its failures.
void PrintTo(const PartSetCase& test, std::ostream* out)
{
    *out << test.name;
}

class ChartsPerPartInTheWindow : public ::testing::TestWithParam<PartSetCase> { };

// With double play too, both make single-play sets and say why.
INSTANTIATE_TEST_SUITE_P(Builds, ChartsPerPartInTheWindow,
                         ::testing::Values(PartSetCase{"PerPart", false, "--charts parts"},
                                           PartSetCase{"PerPartAndDoublePlay", true, "--charts parts --play double"}),
                         [](const auto& named) { return std::string(named.param.name); });

TEST_P(ChartsPerPartInTheWindow, TheBoxBuildsTheFolderTheCommandLineBuildsWithChartsParts)
{
    if (!fs::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont; scripts/install-deps installs it";
    }
    const PartSetCase& test = GetParam();
    TempDir temp;
    const fs::path song = temp / "two.mid";
    writeFile(song, twoPartSong());
    fs::create_directory(temp / "out");
    ScriptedDialogs dialogs;
    dialogs.folders << toQString((temp / "out").string());
    QSettings settings(toQString((temp / "settings.ini").string()), QSettings::IniFormat);
    MainWindow window(dialogs, settings);
    window.show();
    ASSERT_TRUE(window.askOutputFolderAtStart());
    SettingsDialog* dialog = widget_driving::openBuildOfFirstTrack(window, toQString(song.string()));
    ASSERT_NE(dialog, nullptr);
    BuildOptionsBox* options = dialog->buildOptions();
    EXPECT_EQ(options->chartsPerPartBox()->objectName(), QStringLiteral("CheckChartsPerPart"));
    EXPECT_FALSE(options->chartsPerPartBox()->isChecked());
    options->chartsPerPartBox()->setChecked(true);
    options->doublePlayBox()->setChecked(test.doublePlay);
    options->loudnessBox()->setChecked(false);
    options->setSoundFontText(QString::fromLatin1(kSoundFont));
    dialog->startButton()->click();
    ASSERT_TRUE(widget_driving::waitForPass(window));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();

    const fs::path built = window.state().outputFolder;
    const fs::path cli = temp / "cli";
    ASSERT_EQ(commandLineBuild(song, cli, std::string(test.options) + " --loudness off --soundfont " + kSoundFont), 0);
    // A set for the track chosen and one for the other, named after their parts.
    const auto files = folderSnapshot(built);
    for (const char* chart : {"two_1_N.bms", "two_1_A.bms", "two_2_N.bms", "two_2_A.bms"}) {
        EXPECT_TRUE(files.count(chart)) << chart;
    }
    const auto cliFiles = folderSnapshot(cli);
    ASSERT_EQ(files.size(), cliFiles.size());
    for (const auto& [name, content] : cliFiles) {
        ASSERT_TRUE(files.count(name)) << name;
        EXPECT_TRUE(files.at(name) == content) << name << " differs from the command line's";
    }
    const QString result = window.resultLine()->text();
    EXPECT_TRUE(result.startsWith(QStringLiteral("6 个谱面"))) << result.toStdString();
    EXPECT_TRUE(result.contains(QStringLiteral("另为音符不少于 64 个的 音轨 02 各生成一套谱面")))
        << result.toStdString();
    EXPECT_EQ(listedFindings(window).count(workflow::FindingCode::SinglePlayMade), test.doublePlay ? 1U : 0U);
}

}  // namespace
}  // namespace zentrowe::app

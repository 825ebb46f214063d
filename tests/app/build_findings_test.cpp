// What the window tells after a build, against what the command line prints for the same build.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <string>

#include "app/controls/list_view.h"
#include "app/ui/build_options_box.h"
#include "app/ui/findings_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "widget_driving.h"

namespace zentrowe::app {
namespace {

using namespace zentrowe::testing;
using workflow::FindingCode;
namespace fs = std::filesystem;

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// A song at 96 ticks a beat and 120 beats a minute. Track 1 plays four notes a listener hears,
// then turns its channel's volume to 0 and strikes note 67 under three pans: three keysounds of
// one note and instrument that sound nothing. Track 2 holds one note for 124 beats (62 s), so
// that its single BGM file is over the minute events accept.
Bytes silentAndLongSong()
{
    Bytes lead = bytes({0x00, 0xC0, 0x00});
    for (const int note : {60, 62, 64, 65}) {
        append(lead, bytes({0x00, 0x90, note, 100, 0x60, 0x80, note, 0x40}));
    }
    append(lead, bytes({0x00, 0xB0, 7, 0}));
    for (const int pan : {0, 127, 32}) {
        append(lead, bytes({0x00, 0xB0, 10, pan, 0x00, 0x90, 67, 100, 0x60, 0x80, 67, 0x40}));
    }
    append(lead, kEndOfTrack);
    Bytes held = bytes({0x00, 0xC1, 48, 0x00, 0x91, 48, 90});
    append(held, varLen(124 * 96));
    append(held, bytes({0x81, 48, 0x40}));
    append(held, kEndOfTrack);
    return midiFile(1, 96, {lead, held});
}

// The command line run in the background while the window builds: what it prints on stderr.
class CliRun {
public:
    explicit CliRun(const std::string& arguments)
        : m_pipe(popen((std::string(ZENTROWE_CLI) + " " + arguments + " 2>&1 >/dev/null").c_str(), "r"))
    {
    }
    ~CliRun()
    {
        if (m_pipe != nullptr) {
            pclose(m_pipe);
        }
    }
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    // Everything it printed, once it has ended.
    std::string errors()
    {
        std::string text;
        char line[4096];
        while (m_pipe != nullptr && std::fgets(line, sizeof line, m_pipe) != nullptr) {
            text += line;
        }
        return text;
    }

private:
    FILE* m_pipe;
};

// Each finding the command line words, by the words that begin or mark its sentence there.
struct CliWords {
    FindingCode code;
    const char* words;
};
constexpr CliWords kCliWords[] = {
    {FindingCode::CommitCompleted, "its move was finished"},
    {FindingCode::CommitUndone, "the files it had replaced were put back"},
    {FindingCode::StagingSetAside, "it was not obeyed and nothing of the folder was touched"},
    {FindingCode::BgmInOneFile, "warning: the BGM is one file: its "},
    {FindingCode::NoCodeForBgm, "warning: no BGM: the keysounds use every code"},
    {FindingCode::NoOtherNotes, "warning: no BGM: the other tracks have no notes"},
    {FindingCode::InstrumentMissing, " has no bank "},
    {FindingCode::SoundOver60s, ": events accept no sound file of 60 s or more"},
    {FindingCode::KeysoundSilent, " notes sound nothing with "},
    {FindingCode::CodesMerged, "warning: the song's sounds need more codes than ZZ"},
    {FindingCode::ShortLeadIn, "warning: the charts first sound at "},
    {FindingCode::AllNotesOnDrumChannel, "warning: every note of this track is on channel 10"},
    {FindingCode::EarlierFileRemoved, "(the earlier build's, no longer named)"},
    {FindingCode::UnlistedFileReplaced, "(no build had made it; --replace)"},
    {FindingCode::PlayedIn, "warning: the track was played in"},
    {FindingCode::SinglePlayMade, "warning: single-play charts made: "},
};

std::set<FindingCode> codesInWords(const std::string& printed)
{
    std::set<FindingCode> codes;
    for (const auto& [code, words] : kCliWords) {
        if (printed.find(words) != std::string::npos) {
            codes.insert(code);
        }
    }
    return codes;
}

TEST(BuildFindingsInTheWindow, EveryFindingTheCommandLinePrintsIsInTheWindowsList)
{
    if (!fs::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont; scripts/install-deps installs it";
    }
    TempDir temp;
    const fs::path song = temp / "drift.mid";
    writeFile(song, silentAndLongSong());
    const fs::path library = temp / "out";
    fs::create_directory(library);
    ScriptedDialogs dialogs;
    dialogs.folders << toQString(library.string());
    QSettings settings(toQString((temp / "settings.ini").string()), QSettings::IniFormat);
    // Both faces build at once, each into its own folder.
    CliRun cli("build " + song.string() + " --track 1 --out " + (temp / "cli").string() +
               " --bgm one --loudness off --soundfont " + kSoundFont);
    MainWindow window(dialogs, settings);
    window.show();
    ASSERT_TRUE(window.askOutputFolderAtStart());
    SettingsDialog* dialog = widget_driving::openBuildOfFirstTrack(window, toQString(song.string()));
    ASSERT_NE(dialog, nullptr);
    BuildOptionsBox* options = dialog->buildOptions();
    options->bgmBox()->setCurrentIndex(options->bgmBox()->findData(static_cast<int>(workflow::BgmMode::One)));
    options->loudnessBox()->setChecked(false);
    options->setSoundFontText(QString::fromLatin1(kSoundFont));
    dialog->startButton()->click();
    ASSERT_TRUE(widget_driving::waitForPass(window));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();

    const std::string printed = cli.errors();
    const auto cliCodes = codesInWords(printed);
    // The song makes both, and the command line says the three alike keysounds once.
    ASSERT_TRUE(cliCodes.count(FindingCode::KeysoundSilent) && cliCodes.count(FindingCode::SoundOver60s)) << printed;
    EXPECT_NE(printed.find("3 notes sound nothing with "), std::string::npos) << printed;
    EXPECT_NE(printed.find(", 1 note (channel volume 0) (3 times)"), std::string::npos) << printed;

    // The result line names each kind with its count; 详情 lists every finding by its code.
    const QString result = window.resultLine()->text();
    EXPECT_TRUE(result.contains(QStringLiteral("3 个K音没有声音，3 个音符未放入谱面"))) << result.toStdString();
    EXPECT_TRUE(result.contains(QStringLiteral("1 个声音文件长达 60 秒以上"))) << result.toStdString();
    // A click on the result line opens the list.
    FindingsList* findings = window.findingsList();
    ASSERT_TRUE(findings->hasRows());
    widget_driving::mouse(window.resultLine(), window.resultLine()->rect().center());
    ASSERT_NE(findings->dialog(), nullptr);
    ASSERT_TRUE(findings->dialog()->isVisible());
    QListWidget* list = findings->dialog()->list();
    std::set<FindingCode> listed;
    bool silentSaidOnce = false;
    for (int row = 0; row < list->count(); ++row) {
        const QVariant code = list->item(row)->data(FindingsDialog::kFindingCodeRole);
        if (code.isValid()) {
            listed.insert(static_cast<FindingCode>(code.toInt()));
            silentSaidOnce |= list->item(row)->text().endsWith(QStringLiteral("（共 3 次）"));
        }
    }
    for (const auto code : cliCodes) {
        EXPECT_TRUE(listed.count(code)) << "code " << static_cast<int>(code) << " printed by the command line:\n"
                                        << printed;
    }
    EXPECT_TRUE(silentSaidOnce);
    // The release check's findings follow the build's.
    EXPECT_GT(list->count(), static_cast<int>(listed.size()));
}

}  // namespace
}  // namespace zentrowe::app

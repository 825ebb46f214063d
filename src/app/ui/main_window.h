#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

#include "app/ui/passes/song_read_pass.h"
#include "app/ui/remembered_places.h"
#include "app/ui/track_choice.h"
#include "app/ui/user_dialogs.h"
#include "core/keysound/wav_cutter.h"
#include "core/song/track_details.h"
#include "core/song/track_part.h"
#include "core/workflow/audit.h"
#include "core/workflow/build.h"
#include "core/workflow/conversion.h"
#include "core/workflow/package.h"
#include "core/workflow/preview.h"
#include "core/workflow/session_state.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPushButton;
class QSettings;
class QShortcut;
class QTemporaryDir;

namespace zentrowe::app {

class AboutWindow;
class FindingsList;
class ChartPictureWindow;
class PreviewPlayer;
class PassRunner;
class ListView;
class ProgressWindow;
class SettingsDialog;
class TrackInfoWindow;

// The program's main window: the track list of the current MIDI file and every command of the
// workflow (open, list a track's events, convert, cut a rendering, build a folder that plays in
// one step, hear the last chart, go back to the source file, change or show the output folder). The work itself is done
// by the core, on a worker thread; while a pass runs, the commands that would change the song under it are off, and
// 取消 or Esc stops it. The result line at the bottom keeps what the last pass did and what comes next.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    // Where the work stands, which decides the commands that are on: the session's stage as
    // the core keeps it, with the song's stage split by whether a track is selected in the list.
    enum class Stage {
        SongListed,   // a song's tracks are listed (or none yet), no track chosen
        TrackChosen,  // a track or part was selected, or rows ticked: it can be converted or built
        Converted,    // the keysound file is listed: it can be cut, or "<-" goes back
    };

    // `settings` keeps the remembered folders and recent files across runs.
    MainWindow(UserDialogs& dialogs, QSettings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Asks for the output folder; false if the user cancelled, and the program should end.
    bool askOutputFolderAtStart();
    // Opens a MIDI file as the open command does after its dialog.
    void openMidiPath(const QString& path);

    // The window's size at its first start, on a screen of `available` size: every column and
    // row of a 25-track song shows, at most nine tenths of the screen.
    QSize firstSize(QSize available) const;

    bool isBusy() const;
    // What runs the window's passes, one at a time.
    PassRunner* passRunner() const { return m_jobs; }
    Stage stage() const;
    const workflow::SongState& state() const { return m_state; }

    QAction* openAction() const { return m_open; }
    QAction* openChartAction() const { return m_openChart; }
    QAction* wavCutAction() const { return m_wavCut; }
    QAction* toBmsAction() const { return m_toBms; }
    QAction* oneStepBuildAction() const { return m_oneStepBuild; }
    QAction* previewAction() const { return m_preview; }
    QAction* setOutFolderAction() const { return m_setOutFolder; }
    QAction* auditAction() const { return m_audit; }
    QAction* auditChartAction() const { return m_auditChart; }
    QAction* packageAction() const { return m_package; }
    QAction* aboutAction() const { return m_about; }
    QAction* quitAction() const { return m_quit; }
    QMenu* recentMenu() const { return m_recent; }
    QActionGroup* leadInGroup() const { return m_leadIn; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* openFolderButton() const { return m_openFolder; }
    ListView* trackList() const { return m_trackList; }
    // What 转换到BMS and 一键生成 take now: the ticked rows' parts in the order they were ticked,
    // else the selected row's; empty if neither.
    std::vector<song::TrackPart> chosenParts() const;
    // What the last pass did and the next step; menus and tips do not clear it.
    QLabel* resultLine() const { return m_resultLine; }
    FindingsList* findingsList() const { return m_findings; }
    // The secondary windows, made on first use (nullptr before, or after the user closed one
    // that closing unloads).
    TrackInfoWindow* trackInfo() const;
    SettingsDialog* settingsDialog() const;
    ProgressWindow* progressWindow() const;
    AboutWindow* aboutWindow() const;
    ChartPictureWindow* chartPictureWindow() const;
    PreviewPlayer* previewPlayer() const;

signals:
    // A pass (summary, listing, conversion or cut) has finished and its result is shown.
    void passFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void buildFileMenu();
    void buildContent();

    void onOpen();
    // 打开谱面: the picture of any chart the user picks.
    void onOpenChart();
    void onBack();
    void onOpenFolder();
    void onSetOutFolder();
    void onToBms();
    void onOneStepBuild();
    void onPreview();
    void onAbout();
    // 发布检查: the release checklist on a folder the user picks, its charts' pictures and the
    // findings shown. 打包: the zip of such a folder, refused with the audit's errors.
    void onAudit();
    void onAuditChart();
    void onPackage();
    // The song's folder once built, else the output folder: where publishing starts.
    std::filesystem::path folderToPublish() const;
    // Audits `folder` and, with `zip`, packages it there, with progress and 取消.
    void runPublish(const std::filesystem::path& folder, const std::optional<std::filesystem::path>& zip);
    void showAudit(const workflow::AuditReport& audit);
    void showPackage(const workflow::AuditReport& audit, const Result<workflow::PackageOutcome>& packaged);
    void onWavCut();
    void onTrackClicked(int row);
    void onTrackTicked(int row, bool ticked);
    // The commands, the settings dialog's title and its percussion box follow a new choice.
    void onChoiceChanged();
    // Ticks 打击乐器 for a choice whose notes are all on the drum channel, unticks it for another,
    // once per choice: what the user sets for the same tracks stays.
    void syncPercussionBox();
    void onTrackDoubleClicked(int selectionMark);
    void onStartRequested();
    void onRunningChanged();

    // Reads a song and lists it. Nothing changes unless it reads: a file that fails keeps the
    // song and the list shown before. `asSource` makes it the song conversions start from.
    void readSong(const std::filesystem::path& midiFile, bool asSource);
    // A song read: its tracks listed, and what to do next in the result line.
    void showSongRead(const std::filesystem::path& midiFile, bool asSource, SongReadPass::Output& read);
    void showTracks(const song::SongSummary& song);
    // The rows a build chose, to choose again when the source is listed after it.
    struct ListedChoice {
        int selectedRow = -1;
        std::vector<song::TrackPart> ticked;
    };
    // After a build: the source song listed again (`source`, as it was read before the build),
    // with `choice` made again, so that another build needs one click.
    void relistSource(song::SongSummary source, const ListedChoice& choice);
    // The pictures of these charts in their window, one tab each.
    void showChartPictures(const std::vector<std::filesystem::path>& charts);
    void listEvents(int trackNumber);
    // Converts, renders every keysound and the rest of the song: the folder then plays as it is.
    void startBuild(const workflow::ConversionRequest& conversion);
    // The build the settings dialog asks for, with `conversion`; nothing if the user would not
    // have another song's folder replaced.
    std::optional<workflow::BuildRequest> buildRequest(const workflow::ConversionRequest& conversion);
    // Whether the dialog's settings and the chosen parts make a pass that can start; if not,
    // the reason is shown over `dialog`.
    bool acceptStart(SettingsDialog& dialog, const std::vector<song::TrackPart>& parts);
    // 转换到BMS: the chart and keysound file, the dialog's bar showing how far.
    void startConversion(SettingsDialog& dialog, const workflow::ConversionRequest& request);
    // The progress window, at 0 of 100 under `label`, shown over this one.
    ProgressWindow& showProgress(const QString& label);
    // Lists the keysound file of the state's last conversion and says what comes next.
    void showConversion();
    // A build succeeded: says what it wrote, lists the source song (`source`, as read before the
    // build) again with the same rows chosen, and shows the set's pictures and findings.
    void finishBuild(workflow::BuildOutcome built, const std::vector<workflow::AuditFinding>& audit,
                     song::SongSummary source, const ListedChoice& choice);
    // Lists the keysound file of the build's conversion and says what the build wrote.
    void showBuild(const workflow::BuildOutcome& built, const std::vector<workflow::AuditFinding>& audit);
    // The result line's tooltip adds the release checklist's first errors and warnings.
    void addAuditToolTip(const std::vector<workflow::AuditFinding>& audit);
    // Opens the settings dialog for converting (转换到BMS) or building (一键生成) the selected track.
    void showSettings(bool builds);
    // The list and the commands after a conversion, shared by convert and build.
    void showConvertedSong();
    // "<chart> and K-Midi.mid written, N keysounds" for the state's last conversion.
    QString conversionWritten() const;
    // The output folder: every song gets a folder of its own inside it.
    void setOutputFolder(const QString& folder);
    // Where Start writes, made ready: the build dialog's folder row for 一键生成, else the song's
    // folder. False, with the reason shown over `dialog`, if it cannot be made or named so.
    bool prepareFolder(SettingsDialog& dialog);
    void discardMadeFolder();
    void updateRecentMenu();

    TrackInfoWindow& ensureTrackInfo();
    SettingsDialog& ensureSettings();
    ProgressWindow& ensureProgress();
    // The player 试听 plays the preview in, shown.
    PreviewPlayer& ensurePlayer();
    // Plays `file` in the program's player, or hands it to the desktop without a sound device.
    void playPreview(const QString& file);
    // "试听 ode_N.bms（20.0 秒，临时文件）" and the keysound files the mix lacked.
    QString previewMixedText(const workflow::PreviewOutcome& outcome) const;
    // Places `window` beside this one, or over it without hiding the selected track's row.
    void placeBesideSelectedRow(QWidget& window);
    // Centres `window` over this one, within the screen.
    void centreOverThis(QWidget& window);

    void updateCommands();
    void setResult(const QString& text);
    // A refused or failed pass: a message in front of `preferred` if that window is showing,
    // else in front of the window the user is looking at; a cancelled one only says so in the
    // result line.
    void showFailure(const Error& error, const QString& cancelledText, QWidget* preferred = nullptr);
    void showError(const QString& text, QWidget* preferred = nullptr,
                   UserDialogs::MessageKind kind = UserDialogs::MessageKind::Critical);
    QWidget* messageOwner(QWidget* preferred) const;
    // The kind of message box an error gets: a failure of the machine or the files (the icon of a
    // failure), or a refusal of what was asked or given (a warning).
    static UserDialogs::MessageKind messageKindOf(ErrorCode code);
    static QWidget* widgetIfShown(QWidget* window);
    keysound::LeadIn chosenLeadIn() const;

    UserDialogs& m_dialogs;
    RememberedPlaces m_places;
    PassRunner* m_jobs;
    workflow::SongState m_state;
    // The output folder the user chose; the song's own folder inside it is m_state.outputFolder.
    std::filesystem::path m_library;
    convert::ConversionSettings m_conversionSettings;
    // Whether the settings dialog's Start builds the whole folder (一键生成) or only converts.
    bool m_startBuilds = false;
    // The song whose title and artist the settings dialog was last given.
    std::filesystem::path m_creditsSong;
    // Of the listed song's tracks, from its reading; empty for the keysound file.
    std::vector<song::TrackDetails> m_trackDetails;
    // Of the source song: every channel of a track that plays notes, listed as parts.
    std::vector<song::ChannelPartRow> m_channelParts;
    // The list's rows as tracks and parts, and the ticked ones.
    TrackChoice m_choice;
    // The choice whose drum state last set the settings dialog's percussion box.
    std::vector<song::TrackPart> m_percussionChoice;
    // The last chart written or opened in this session, which 试听 plays.
    std::optional<std::filesystem::path> m_lastChart;
    // The preview the build of m_lastChart wrote, played as it is; without one, 试听 mixes
    // the chart into m_previewFolder, never into the chart's folder.
    std::optional<std::filesystem::path> m_lastPreview;
    std::unique_ptr<QTemporaryDir> m_previewFolder;

    QAction* m_open = nullptr;
    QAction* m_openChart = nullptr;
    QAction* m_wavCut = nullptr;
    QAction* m_toBms = nullptr;
    QAction* m_oneStepBuild = nullptr;
    QAction* m_preview = nullptr;
    QAction* m_setOutFolder = nullptr;
    QAction* m_audit = nullptr;
    QAction* m_auditChart = nullptr;
    // The song's folder the pass running now made; removed again if the pass is refused.
    std::optional<std::filesystem::path> m_madeFolder;
    QAction* m_package = nullptr;
    QAction* m_about = nullptr;
    QAction* m_quit = nullptr;
    QMenu* m_recent = nullptr;
    QShortcut* m_cancelShortcut = nullptr;
    QActionGroup* m_leadIn = nullptr;
    QAction* m_leadInAuto = nullptr;
    QAction* m_leadInFirstNote = nullptr;
    QAction* m_leadInFileStart = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_openFolder = nullptr;
    ListView* m_trackList = nullptr;
    // The track list's columns as laid out, the least each keeps when fitted to its texts.
    QList<int> m_designedWidths;
    QLabel* m_resultLine = nullptr;
    FindingsList* m_findings = nullptr;

    QPointer<TrackInfoWindow> m_trackInfo;
    QPointer<SettingsDialog> m_settings;
    QPointer<ProgressWindow> m_progress;
    QPointer<AboutWindow> m_aboutWindow;
    QPointer<ChartPictureWindow> m_pictures;
    QPointer<PreviewPlayer> m_player;
};

}  // namespace zentrowe::app

#pragma once

#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <functional>
#include <optional>

#include "core/workflow/conversion.h"
#include "core/keysound/wav_cutter.h"
#include "core/workflow/session_state.h"

class QAction;
class QActionGroup;
class QPushButton;

namespace zentrowe::app {

class AboutWindow;
class ListView;
class ProgressWindow;
class SettingsDialog;
class TrackInfoWindow;
class UserDialogs;

// The program's main window: the track list of the current MIDI file and every command of the
// workflow (open, list a track's events, convert, cut a rendering, go back to the source file,
// change or show the output folder). The work itself is done by the core, on a worker thread;
// while a pass runs, the commands that would change the song under it are off.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(UserDialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Asks for the output folder; false if the user cancelled, and the program should end.
    bool askOutputFolderAtStart();
    // Opens a MIDI file as the open command does after its dialog.
    void openMidiPath(const QString& path);

    bool isBusy() const { return m_busy; }
    const workflow::SongState& state() const { return m_state; }

    QAction* openAction() const { return m_open; }
    QAction* wavCutAction() const { return m_wavCut; }
    QAction* toBmsAction() const { return m_toBms; }
    QAction* setOutFolderAction() const { return m_setOutFolder; }
    QAction* aboutAction() const { return m_about; }
    QActionGroup* leadInGroup() const { return m_leadIn; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* openFolderButton() const { return m_openFolder; }
    ListView* trackList() const { return m_trackList; }
    // The secondary windows, made on first use (nullptr before, or after the user closed one
    // that closing unloads).
    TrackInfoWindow* trackInfo() const;
    SettingsDialog* settingsDialog() const;
    ProgressWindow* progressWindow() const;
    AboutWindow* aboutWindow() const;

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
    void buildContent();

    void onOpen();
    void onBack();
    void onOpenFolder();
    void onSetOutFolder();
    void onToBms();
    void onAbout();
    void onWavCut();
    void onTrackClicked(int row);
    void onTrackDoubleClicked(int selectionMark);
    void onStartRequested();

    void readSummary(const std::filesystem::path& midiFile);
    void showTracks(const song::SongSummary& song);
    void listEvents(int trackNumber);
    void showConversion(workflow::ConversionOutcome&& outcome);

    TrackInfoWindow& ensureTrackInfo();
    SettingsDialog& ensureSettings();
    ProgressWindow& ensureProgress();
    void centreOverThis(QWidget& window);

    void setBusy(bool busy);
    void updateCommands();
    void showError(const QString& text);
    void trackJob(std::function<void()> wait);
    keysound::LeadIn chosenLeadIn() const;

    UserDialogs& m_dialogs;
    workflow::SongState m_state;
    convert::ConversionSettings m_conversionSettings;
    std::optional<workflow::ConversionOutcome> m_lastConversion;

    QAction* m_open = nullptr;
    QAction* m_wavCut = nullptr;
    QAction* m_toBms = nullptr;
    QAction* m_setOutFolder = nullptr;
    QAction* m_about = nullptr;
    QActionGroup* m_leadIn = nullptr;
    QAction* m_leadInAuto = nullptr;
    QAction* m_leadInFirstNote = nullptr;
    QAction* m_leadInFileStart = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_openFolder = nullptr;
    ListView* m_trackList = nullptr;

    QPointer<TrackInfoWindow> m_trackInfo;
    QPointer<SettingsDialog> m_settings;
    QPointer<ProgressWindow> m_progress;
    QPointer<AboutWindow> m_aboutWindow;

    // The enable table; a running pass turns the song-changing commands off on top of it.
    bool m_toBmsOn = false;
    bool m_wavCutOn = false;
    bool m_backOn = false;
    bool m_listOn = true;
    bool m_busy = false;
    std::atomic<bool> m_stop{false};
    std::function<void()> m_waitForJob;
};

}  // namespace zentrowe::app

#pragma once

#include <QWidget>
#include <array>
#include <optional>

#include "core/chartset/chart_set.h"
#include "core/chartset/difficulty.h"
#include "core/convert/settings.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace zentrowe::app {

class BuildOptionsBox;
class ProgressBar;

// The conversion's settings: keysound numbering and naming, long-note or percussion mode, the
// keysound MIDI file's tempo and gap, base-62 codes and keysound merging. It stays above the main window without
// blocking it; Start asks the main window to convert the track selected there at that moment.
class SettingsDialog final : public QWidget {
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    // The entries exactly as they stand.
    convert::SettingsTexts texts() const;
    // Start is off while a pass runs.
    void setStartEnabled(bool enabled);
    // Names what Start does and the track it does it to: the title "一键生成 — 音轨 02 主旋律" and
    // the start button "一键生成". The progress bar is hidden until a pass shows it.
    void prepare(const QString& action, const QString& track);
    // 一键生成 also asks for the set of charts, the header texts and what the build renders
    // with; the keysound MIDI file's fields (first code, gap, tempo) belong to 转换到BMS alone,
    // where the user renders that file by hand.
    void showBuildOptions(bool shown);
    BuildOptionsBox* buildOptions() const { return m_buildOptions; }
    // The title and artist the song gives (song::songCredits), for a song not shown before; the
    // genre is left as the user typed it.
    void fillCredits(const QString& title, const QString& artist);

    // The charts 一键生成 writes: the boxes ticked, easiest first, and the insane box half
    // ticked (its start) for "when the track is denser than ANOTHER". Nothing if no box is ticked.
    std::optional<chartset::ChartSetRequest> chartSet() const;
    QString titleText() const;
    QString artistText() const;
    ProgressBar* bar() const { return m_bar; }

    QLineEdit* startCodeEdit() const { return m_startCode; }
    QLineEdit* keysoundNameEdit() const { return m_keysoundName; }
    QCheckBox* longNotesBox() const { return m_longNotes; }
    QLineEdit* longNoteMinimumEdit() const { return m_longNoteMinimum; }
    QCheckBox* percussionBox() const { return m_percussion; }
    QLineEdit* tempoEdit() const { return m_tempo; }
    QCheckBox* customTempoBox() const { return m_customTempo; }
    QLineEdit* gapEdit() const { return m_gap; }
    QCheckBox* base62Box() const { return m_base62; }
    QLineEdit* velocityStepEdit() const { return m_velocityStep; }
    QLineEdit* lengthStepEdit() const { return m_lengthStep; }
    QCheckBox* bmsonBox() const { return m_bmson; }
    QCheckBox* difficultyBox(chartset::Difficulty difficulty) const
    {
        return m_difficulties[static_cast<std::size_t>(difficulty)];
    }
    QLineEdit* titleEdit() const { return m_title; }
    QLineEdit* artistEdit() const { return m_artist; }
    QLineEdit* genreEdit() const { return m_genre; }
    QPushButton* startButton() const { return m_start; }
    QPushButton* cancelButton() const { return m_cancel; }
    // The boxes and buttons in the order Tab visits them: the visual order, row by row.
    QList<QWidget*> tabOrder() const;

signals:
    void startRequested();
    // 取消 or Esc: the dialog hides, and a pass it started is asked to stop.
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The rows of the dialog, top to bottom; the BMS group gives the label the start code's box
    // must keep clear of.
    QWidget* addBmsGroup();
    void addMidiGroup();
    void addLimitsGroup();
    void addButtons();
    // The code boxes in a face with even digits, and the boxes widened to what they hold.
    void fitEdits(QWidget* keysoundNameLabel);
    void addToolTips();
    void connectControls();
    void addChartSetGroup();
    void addChartTextsGroup();
    void onLongNotesToggled();
    void onPercussionToggled();
    void onCustomTempoToggled();

    QLineEdit* m_startCode;
    QLineEdit* m_keysoundName;
    QCheckBox* m_longNotes;
    QLineEdit* m_longNoteMinimum;
    QCheckBox* m_percussion;
    QLineEdit* m_tempo;
    QCheckBox* m_customTempo;
    QLineEdit* m_gap;
    QCheckBox* m_base62;
    QLineEdit* m_velocityStep;
    QLineEdit* m_lengthStep;
    QCheckBox* m_bmson;
    QWidget* m_startCodeLabel;
    QGroupBox* m_midi;
    QGroupBox* m_limits;
    BuildOptionsBox* m_buildOptions;
    bool m_builds = false;
    QGroupBox* m_chartSet;
    QGroupBox* m_chartTexts;
    std::array<QCheckBox*, chartset::kAllDifficulties.size()> m_difficulties{};
    QLineEdit* m_title;
    QLineEdit* m_artist;
    QLineEdit* m_genre;
    QPushButton* m_start;
    QPushButton* m_cancel;
    ProgressBar* m_bar;
};

}  // namespace zentrowe::app

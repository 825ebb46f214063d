#pragma once

#include <QWidget>

#include "core/convert/settings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace zentrowe::app {

class ProgressBar;

// The conversion's settings: keysound numbering and naming, long-note or percussion mode, the
// keysound MIDI file's tempo and gap, base-62 codes and keysound merging. It stays above the main window without blocking it;
// Start asks the main window to convert the track selected there at that moment.
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
    QPushButton* m_start;
    QPushButton* m_cancel;
    ProgressBar* m_bar;
};

}  // namespace zentrowe::app

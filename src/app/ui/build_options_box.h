#pragma once

#include <QGroupBox>

#include "core/workflow/build.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLineEdit;
class QPushButton;

namespace zentrowe::app {

// What 一键生成 renders and writes with, beyond the conversion's settings: the song's folder, the BGM, the
// loudness, the lane rule, the scratch, following the music and double play, a set of charts per
// part, the grid notes move to and the soundfont. An option is one row (a label and its controls), so that another
// option of `zentrowe-cli build` is another row here.
class BuildOptionsBox final : public QGroupBox {
    Q_OBJECT

public:
    explicit BuildOptionsBox(QWidget* parent = nullptr);

    // Sets the request's fields these rows decide; the others stay as they are.
    void applyTo(workflow::BuildRequest& request) const;
    // The song's folder the build writes into, as typed (the main window fills it in).
    QString folderText() const;
    void setFolderText(const QString& folder);
    // The soundfont as typed; empty for the system's default.
    QString soundFontText() const;
    void setSoundFontText(const QString& file);
    int rowCount() const;
    // The controls in the order Tab visits them, row by row.
    QList<QWidget*> tabOrder() const;

    QComboBox* bgmBox() const { return m_bgm; }
    QCheckBox* loudnessBox() const { return m_loudnessOn; }
    QDoubleSpinBox* loudnessEdit() const { return m_loudness; }
    QComboBox* lanesBox() const { return m_lanes; }
    QCheckBox* scratchBox() const { return m_scratch; }
    QCheckBox* followBox() const { return m_follow; }
    QCheckBox* doublePlayBox() const { return m_doublePlay; }
    QCheckBox* chartsPerPartBox() const { return m_chartsPerPart; }
    QComboBox* quantizeBox() const { return m_quantize; }
    QLineEdit* soundFontEdit() const { return m_soundFont; }
    QPushButton* soundFontButton() const { return m_chooseSoundFont; }
    QLineEdit* folderEdit() const { return m_folder; }
    QPushButton* folderButton() const { return m_chooseFolder; }

signals:
    // The "…" button: the main window asks for the file through its dialogs.
    void soundFontChoiceRequested();
    // The folder row's "…" button, likewise.
    void folderChoiceRequested();

private:
    void addFolderRow();
    void addBgmRow();
    void addLoudnessRow();
    void addLanesRow();
    // A set of charts per part, as `--charts parts` asks.
    void addChartsRow();
    void addQuantizeRow();
    void addSoundFontRow();

    QFormLayout* m_rows;
    QComboBox* m_bgm = nullptr;
    QCheckBox* m_loudnessOn = nullptr;
    QDoubleSpinBox* m_loudness = nullptr;
    QComboBox* m_lanes = nullptr;
    QCheckBox* m_scratch = nullptr;
    QCheckBox* m_follow = nullptr;
    QCheckBox* m_doublePlay = nullptr;
    QCheckBox* m_chartsPerPart = nullptr;
    QComboBox* m_quantize = nullptr;
    QLineEdit* m_soundFont = nullptr;
    QPushButton* m_chooseSoundFont = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_chooseFolder = nullptr;
};

}  // namespace zentrowe::app

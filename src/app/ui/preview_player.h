#pragma once

#include <QWidget>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QSlider;

namespace zentrowe::app {

// Plays a sound file (a set's preview.ogg) inside the program with Qt Multimedia: play and stop,
// a bar that shows and sets the position, the time played and the length. Esc closes it, which
// stops the sound.
class PreviewPlayer final : public QWidget {
    Q_OBJECT

public:
    explicit PreviewPlayer(QWidget* parent = nullptr);

    // Loads `file` and starts playing it from the beginning.
    void play(const QString& file);
    QString file() const { return m_file; }

    QPushButton* playButton() const { return m_play; }
    QPushButton* stopButton() const { return m_stop; }
    QSlider* positionBar() const { return m_position; }
    QMediaPlayer* mediaPlayer() const { return m_player; }

signals:
    // The file cannot be played here (no audio backend, a damaged file): the caller hands it to
    // the desktop instead.
    void cannotPlay(const QString& file, const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void onPositionChanged(qint64 milliseconds);
    void onDurationChanged(qint64 milliseconds);
    void updateButtons();

    QMediaPlayer* m_player;
    QAudioOutput* m_output;
    QPushButton* m_play;
    QPushButton* m_stop;
    QSlider* m_position;
    QLabel* m_time;
    QString m_file;
};

}  // namespace zentrowe::app

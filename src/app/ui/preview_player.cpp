#include "app/ui/preview_player.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <QVBoxLayout>

namespace zentrowe::app {

namespace {

// "1:05" for 65,000 ms.
QString clockText(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Qt picks its media backend when the first player is made. Its GStreamer backend crashes in
// the player's constructor where GStreamer lacks elements it expects; FFmpeg, which Qt's own
// packages pull in, plays Ogg Vorbis by itself. A user's own choice stays.
QMediaPlayer* newMediaPlayer(QObject* parent)
{
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    }
    return new QMediaPlayer(parent);
}

}  // namespace

PreviewPlayer::PreviewPlayer(QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_player(newMediaPlayer(this)),
      m_output(new QAudioOutput(this)),
      m_play(new QPushButton(tr("播放"), this)),
      m_stop(new QPushButton(tr("停止"), this)),
      m_position(new QSlider(Qt::Horizontal, this)),
      m_time(new QLabel(this))
{
    setObjectName(QStringLiteral("PreviewPlayer"));
    setWindowTitle(tr("试听"));
    m_player->setAudioOutput(m_output);
    m_play->setObjectName(QStringLiteral("Play"));
    m_stop->setObjectName(QStringLiteral("Stop"));
    m_position->setObjectName(QStringLiteral("Position"));
    m_time->setObjectName(QStringLiteral("Time"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_play);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_time, 1, Qt::AlignRight);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_position);
    layout->addLayout(buttons);
    resize(360, 90);

    connect(m_play, &QPushButton::clicked, this, [this] {
        if (m_player->playbackState() == QMediaPlayer::PlayingState) {
            m_player->pause();
        } else {
            m_player->play();
        }
    });
    connect(m_stop, &QPushButton::clicked, m_player, &QMediaPlayer::stop);
    // Dragging the bar moves the sound once it is let go; clicking moves it at once.
    connect(m_position, &QSlider::sliderReleased, this, [this] { m_player->setPosition(m_position->value()); });
    connect(m_position, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove) {
            m_player->setPosition(m_position->sliderPosition());
        }
    });
    connect(m_player, &QMediaPlayer::positionChanged, this, &PreviewPlayer::onPositionChanged);
    connect(m_player, &QMediaPlayer::durationChanged, this, &PreviewPlayer::onDurationChanged);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &PreviewPlayer::updateButtons);
    connect(m_player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error, const QString& reason) { emit cannotPlay(m_file, reason); });
    onDurationChanged(0);
}

void PreviewPlayer::play(const QString& file)
{
    m_file = file;
    setWindowTitle(tr("试听 — %1").arg(QFileInfo(file).fileName()));
    m_player->stop();
    // Qt 6.4's FFmpeg backend crashes writing to an audio device that is not there.
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        m_player->setSource(QUrl());
        updateButtons();
        emit cannotPlay(file, tr("没有音频输出设备"));
        return;
    }
    // Loading the same file again reads it anew: the preview was just rewritten.
    m_player->setSource(QUrl());
    m_player->setSource(QUrl::fromLocalFile(file));
    m_player->play();
    updateButtons();
}

void PreviewPlayer::onPositionChanged(qint64 milliseconds)
{
    if (!m_position->isSliderDown()) {
        m_position->setValue(static_cast<int>(milliseconds));
    }
    m_time->setText(clockText(milliseconds) + QStringLiteral(" / ") + clockText(m_player->duration()));
}

void PreviewPlayer::onDurationChanged(qint64 milliseconds)
{
    m_position->setRange(0, static_cast<int>(milliseconds));
    m_time->setText(clockText(m_player->position()) + QStringLiteral(" / ") + clockText(milliseconds));
}

void PreviewPlayer::updateButtons()
{
    const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
    m_play->setText(playing ? tr("暂停") : tr("播放"));
    m_stop->setEnabled(m_player->playbackState() != QMediaPlayer::StoppedState);
}

void PreviewPlayer::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PreviewPlayer::closeEvent(QCloseEvent* event)
{
    m_player->stop();
    QWidget::closeEvent(event);
}

}  // namespace zentrowe::app

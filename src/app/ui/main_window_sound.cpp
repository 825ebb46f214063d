// The main window's sound passes: 试听 of the last chart and 切割 of a rendering.

#include <QAudioDevice>
#include <QFileInfo>
#include <QLineEdit>
#include <QMediaDevices>
#include <QTemporaryDir>

#include "app/controls/progress_bar.h"
#include "app/ui/main_window.h"
#include "app/ui/pass_runner.h"
#include "app/ui/passes/cut_pass.h"
#include "app/ui/passes/preview_pass.h"
#include "app/ui/preview_player.h"
#include "app/ui/progress_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "core/workflow/cut_plan.h"

namespace zentrowe::app {

namespace {

QString leadInText(keysound::LeadIn leadIn)
{
    return leadIn == keysound::LeadIn::FileStart ? QObject::tr("录音从 K-Midi.mid 的开头开始")
                                                 : QObject::tr("录音从第一个K音开始");
}

// The kind of message box an error gets: a failure of the machine or the files (the icon of a
// failure), or a refusal of what was asked or given (a warning).
}  // namespace

void MainWindow::onPreview()
{
    if (isBusy() || !m_lastChart) {
        return;
    }
    // The build's own preview is what players play: heard as it is, never mixed again over it.
    if (m_lastPreview && std::filesystem::is_regular_file(*m_lastPreview)) {
        const QString file = QFileInfo(pathToQString(*m_lastPreview)).absoluteFilePath();
        setResult(tr("试听 %1").arg(file));
        playPreview(file);
        return;
    }
    // A chart without a build's preview is mixed into a file of the program's own, so that
    // listening writes nothing into the chart's folder.
    if (!m_previewFolder) {
        m_previewFolder = std::make_unique<QTemporaryDir>();
    }
    if (!m_previewFolder->isValid()) {
        showError(tr("无法创建临时目录来生成试听：%1").arg(m_previewFolder->errorString()));
        return;
    }
    workflow::PreviewRequest request = workflow::folderPreviewRequest(*m_lastChart);
    request.outputPath = toPath(m_previewFolder->filePath(QStringLiteral("preview.ogg")));
    const QString file = pathToQString(request.outputPath);
    setResult(tr("正在生成试听 %1").arg(pathToQString(m_lastChart->filename())));
    m_jobs->run<PreviewPass::Output>(
        PreviewPass(request),
        [this](int percent, std::int64_t, std::int64_t) { setResult(tr("正在生成试听 %1%").arg(percent)); },
        [this, file](PreviewPass::Output& outcome) {
            if (!outcome) {
                showFailure(outcome.error(), tr("已取消试听"));
            } else {
                setResult(previewMixedText(*outcome));
                playPreview(file);
            }
            emit passFinished();
        });
}

QString MainWindow::previewMixedText(const workflow::PreviewOutcome& outcome) const
{
    QStringList parts{
        tr("试听 %1（%2 秒，临时文件）").arg(pathToQString(m_lastChart->filename())).arg(outcome.seconds, 0, 'f', 1)};
    const auto& missing = outcome.missingKeysounds;
    if (!missing.empty()) {
        QStringList names;
        for (std::size_t i = 0; i < std::min<std::size_t>(missing.size(), 3); ++i) {
            names << toQString(missing[i]);
        }
        parts << tr("缺少 %1 个K音文件，试听中没有它们的声音：%2%3")
                     .arg(missing.size())
                     .arg(names.join(QStringLiteral("、")))
                     .arg(missing.size() > 3 ? tr(" 等") : QString());
    }
    return parts.join(QStringLiteral("；"));
}

void MainWindow::playPreview(const QString& file)
{
    // Without a sound device the program's player would stand at 0:00 / 0:00: the desktop's
    // player gets the file, and only if there is none the user learns where it is, once.
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        if (m_player) {
            m_player->close();
        }
        if (!m_dialogs.openFile(file)) {
            showError(tr("没有音频输出设备，桌面也没有能播放声音文件的程序。试听文件是：\n%1").arg(file), nullptr,
                      UserDialogs::MessageKind::Information);
        }
        return;
    }
    ensurePlayer().play(file);
}

PreviewPlayer* MainWindow::previewPlayer() const
{
    return m_player;
}

PreviewPlayer& MainWindow::ensurePlayer()
{
    if (!m_player) {
        m_player = new PreviewPlayer(this);
        // Without an audio backend (or for a file it cannot decode) the desktop's player is the
        // way left.
        connect(m_player, &PreviewPlayer::cannotPlay, this, [this](const QString& file, const QString&) {
            m_player->close();
            if (!m_dialogs.openFile(file)) {
                showError(tr("桌面没有能播放声音文件的程序。试听文件是：\n%1").arg(file));
            }
        });
    }
    centreOverThis(*m_player);
    m_player->show();
    m_player->raise();
    return *m_player;
}

void MainWindow::onWavCut()
{
    if (isBusy() || m_state.stage != workflow::SessionStage::Converted) {
        return;
    }
    // The recording is usually rendered into the output folder, beside "K-Midi.mid".
    const QString recording = m_dialogs.chooseFileToOpen(this, tr("打开文件"), QStringLiteral("WAVE(*.wav)"),
                                                         pathToQString(m_state.outputFolder));
    if (recording.isEmpty()) {
        return;
    }
    // The keysound name is read from the settings dialog as it stands now, and checked as the
    // command line checks its name.
    const std::string keysoundName = toUtf8(ensureSettings().keysoundNameEdit()->text());
    auto planned =
        workflow::planCut(workflow::cutPlanRequest(m_state, toPath(recording), keysoundName, chosenLeadIn()));
    if (!planned) {
        showFailure(planned.error(), QString());
        return;
    }
    // The job gets the plan as a value: it refers to nothing the window may change meanwhile.
    keysound::CutRequest request = std::move(planned).value();

    const int count = static_cast<int>(request.keysoundStems.size());
    ProgressWindow& window = ensureProgress();
    window.bar()->setMaximum(count);
    window.bar()->setMinimum(0);
    window.bar()->setPosition(0);
    window.showCount(0, count);
    centreOverThis(window);
    window.show();
    window.raise();

    QPointer<ProgressWindow> target = &window;
    const QString folder = pathToQString(m_state.outputFolder);
    setResult(tr("正在切割 %1").arg(recording));
    m_jobs->run<CutPass::Output>(
        CutPass(std::move(request)),
        [target](int, std::int64_t done, std::int64_t total) {
            if (target) {
                target->bar()->setPosition(static_cast<std::int32_t>(done));
                target->showCount(static_cast<int>(done), static_cast<int>(total));
            }
        },
        [this, target, folder](CutPass::Output& report) {
            if (target) {
                target->hide();
            }
            if (!report) {
                showFailure(report.error(), tr("已取消切割：已切好的K音文件完整保留，其余没有写入"));
            } else {
                QStringList parts{tr("已切割 %1 个文件").arg(report->written.size()), leadInText(report->leadInUsed)};
                for (const auto& warning : report->warnings) {
                    parts << toQString(warning);
                }
                parts << tr("输出目录 %1").arg(folder);
                setResult(parts.join(QStringLiteral("；")));
            }
            emit passFinished();
        });
}

keysound::LeadIn MainWindow::chosenLeadIn() const
{
    if (m_leadInFirstNote->isChecked()) {
        return keysound::LeadIn::FirstNote;
    }
    if (m_leadInFileStart->isChecked()) {
        return keysound::LeadIn::FileStart;
    }
    return keysound::LeadIn::Auto;
}

}  // namespace zentrowe::app

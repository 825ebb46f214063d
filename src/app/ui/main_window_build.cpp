// The main window's conversion and build: the settings dialog's Start, 转换到BMS and 一键生成.

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <memory>
#include <utility>

#include "app/controls/list_view.h"
#include "app/controls/progress_bar.h"
#include "app/ui/audit_text.h"
#include "app/ui/build_options_box.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/error_sentence.h"
#include "app/ui/finding_text.h"
#include "app/ui/findings_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/pass_runner.h"
#include "app/ui/passes/build_pass.h"
#include "app/ui/passes/convert_pass.h"
#include "app/ui/progress_window.h"
#include "app/ui/settings_dialog.h"
#include "app/ui/text.h"
#include "app/ui/track_info_window.h"
#include "core/base/time_left.h"
#include "core/workflow/song_folder.h"

namespace zentrowe::app {

namespace {

QString stageText(ProgressStage stage)
{
    switch (stage) {
    case ProgressStage::Converting:
        return QObject::tr("正在转换");
    case ProgressStage::Rendering:
        return QObject::tr("正在生成K音文件");
    case ProgressStage::Previewing:
        return QObject::tr("正在生成试听");
    case ProgressStage::Mixing:
        return QObject::tr("正在混音");
    }
    return {};
}

// A build's progress line: the stage, how far (the conversion counts note starts and ends: only
// its percentage means something), and the time left at the stage's rate so far, as the command
// line gives it.
QString buildProgressText(ProgressStage stage, int percent, std::int64_t done, std::int64_t total,
                          const QElapsedTimer& stageStart)
{
    if (stage == ProgressStage::Converting) {
        return QObject::tr("%1  %2%").arg(stageText(stage)).arg(percent);
    }
    QString text = QObject::tr("%1  %2/%3（%4%）").arg(stageText(stage)).arg(done).arg(total).arg(percent);
    if (const auto left = secondsLeft(static_cast<double>(stageStart.elapsed()) / 1000, done, total);
        left && done < total) {
        text += QObject::tr("，还剩 %1").arg(toQString(durationText(*left)));
    }
    return text;
}

// With a set of charts per part: the parts given a set besides those chosen, those that share
// another's set and those left without one, as the command line tells them.
QStringList partSetPhrases(const workflow::PartSetFindings& found)
{
    const auto labels = [](const std::vector<song::TrackPart>& parts) {
        QStringList named;
        for (const auto& part : parts) {
            named << partLabel(part);
        }
        return named.join(QStringLiteral("、"));
    };
    QStringList phrases;
    if (!found.added.empty()) {
        phrases << QObject::tr("另为音符不少于 %1 个的 %2 各生成一套谱面")
                       .arg(workflow::kLeastPartSetNotes)
                       .arg(labels(found.added));
    }
    for (const auto& alike : found.alike) {
        phrases << QObject::tr("%1 的音符相同，共用一套谱面").arg(labels(alike));
    }
    if (!found.silent.empty()) {
        phrases << QObject::tr("%1 没有音符，没有为它生成谱面").arg(labels(found.silent));
    }
    return phrases;
}

// The release checklist's errors and warnings, a line each; notices, such as this program's own
// files, are left to the list of every finding.
QStringList findingLines(const std::vector<workflow::AuditFinding>& audit)
{
    QStringList lines;
    for (const auto& finding : audit) {
        if (finding.severity != workflow::AuditSeverity::Notice) {
            lines << pathToQString(finding.file) + QStringLiteral(": ") + toQString(finding.message);
        }
    }
    return lines;
}

}  // namespace

void MainWindow::onToBms()
{
    showSettings(false);
}

void MainWindow::onOneStepBuild()
{
    showSettings(true);
}

void MainWindow::showSettings(bool builds)
{
    m_startBuilds = builds;
    SettingsDialog& dialog = ensureSettings();
    const auto parts = chosenParts();
    dialog.prepare(builds ? tr("一键生成") : tr("转换到BMS"),
                   parts.empty() ? tr("未选择音轨") : choiceTitle(parts, m_state.song));
    dialog.showBuildOptions(builds);
    syncPercussionBox();
    // The header texts start as the song gives them, once per song: what the user typed for it stays.
    if (m_creditsSong != m_state.sourceMidiPath) {
        m_creditsSong = m_state.sourceMidiPath;
        dialog.buildOptions()->setFolderText(pathToQString(m_state.outputFolder));
        dialog.fillCredits(toQString(chartset::chartTitle({}, m_state.song, m_state.sourceMidiPath)),
                           toQString(chartset::chartArtist(std::nullopt, m_state.song, m_state.sourceMidiPath)));
    }
    placeBesideSelectedRow(dialog);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

void MainWindow::onStartRequested()
{
    if (isBusy()) {
        return;
    }
    SettingsDialog& dialog = ensureSettings();
    const auto parts = chosenParts();
    if (!acceptStart(dialog, parts) || !prepareFolder(dialog)) {
        return;
    }
    // The request zentrowe-cli makes of the same parts typed after --track.
    const workflow::ConversionRequest request = workflow::conversionRequest(m_state, parts, m_conversionSettings);
    if (m_startBuilds) {
        startBuild(request);
    } else {
        startConversion(dialog, request);
    }
}

bool MainWindow::acceptStart(SettingsDialog& dialog, const std::vector<song::TrackPart>& parts)
{
    auto settings = convert::parseSettings(dialog.texts(), m_conversionSettings);
    if (!settings) {
        m_dialogs.showMessage(&dialog, programCaption(), errorSentence(settings.error()),
                              UserDialogs::MessageKind::Warning);
        return false;
    }
    if (parts.empty() || m_state.stage != workflow::SessionStage::SongOpen) {
        m_dialogs.showMessage(&dialog, programCaption(), tr("请先在音轨列表中选择一个音轨"),
                              UserDialogs::MessageKind::Warning);
        return false;
    }
    // As zentrowe-cli convert: one track or channel; several share a build's lanes.
    if (!m_startBuilds && parts.size() > 1) {
        m_dialogs.showMessage(&dialog, programCaption(),
                              tr("转换到BMS 只转换一个音轨或通道；要让勾选的 %1 一起进入按键，请用 一键生成")
                                  .arg(choiceTitle(parts, m_state.song)),
                              UserDialogs::MessageKind::Warning);
        return false;
    }
    m_conversionSettings = settings.value();
    if (m_trackInfo) {
        m_trackInfo->list()->removeAllItems();
    }
    if (m_startBuilds && !dialog.chartSet()) {
        m_dialogs.showMessage(&dialog, programCaption(), tr("请至少选择一个难度"), UserDialogs::MessageKind::Warning);
        return false;
    }
    return true;
}

void MainWindow::startConversion(SettingsDialog& dialog, const workflow::ConversionRequest& request)
{
    ProgressBar* bar = dialog.bar();
    bar->setMinimum(0);
    bar->setMaximum(100);
    bar->setPosition(0);
    bar->show();
    setResult(tr("正在转换 %1").arg(choiceTitle(workflow::chartedParts(request), m_state.song)));
    QPointer<SettingsDialog> target = &dialog;
    m_jobs->run<ConvertPass::Output>(
        ConvertPass(request),
        [target](int percent, std::int64_t, std::int64_t) {
            if (target) {
                target->bar()->setPosition(percent);
            }
        },
        [this, target](ConvertPass::Output& outcome) {
            if (!outcome) {
                discardMadeFolder();
                showFailure(outcome.error(), tr("已取消转换，没有写入文件"), target);
            } else {
                workflow::finishConversion(m_state, std::move(outcome.value()));
                m_lastChart = m_state.lastConversion->chartPath;
                m_lastPreview.reset();
                showConversion();
            }
            emit passFinished();
        });
}

bool MainWindow::prepareFolder(SettingsDialog& dialog)
{
    // 一键生成 writes where its folder row says; 转换到BMS into the song's folder.
    if (m_startBuilds) {
        const QString typed = dialog.buildOptions()->folderText();
        if (!typed.isEmpty()) {
            m_state.outputFolder = toPath(QDir::cleanPath(typed));
        }
    }
    std::error_code error;
    m_madeFolder.reset();
    if (!std::filesystem::exists(m_state.outputFolder, error)) {
        m_madeFolder = m_state.outputFolder;
    }
    if (const Status ready = workflow::prepareSongFolder(m_state.outputFolder); !ready) {
        setResult(errorSentence(ready.error()));
        m_dialogs.showMessage(&dialog, programCaption(), errorSentence(ready.error()),
                              messageKindOf(ready.error().code));
        return false;
    }
    return true;
}

void MainWindow::discardMadeFolder()
{
    // A refused pass leaves no trace: the folder it made for the song goes if it stayed empty.
    if (m_madeFolder) {
        workflow::removeEmptySongFolder(*m_madeFolder);
        m_madeFolder.reset();
    }
}

std::optional<workflow::BuildRequest> MainWindow::buildRequest(const workflow::ConversionRequest& conversion)
{
    workflow::BuildRequest request;
    request.conversion = conversion;
    const SettingsDialog& settings = ensureSettings();
    request.charts = settings.chartSet().value_or(chartset::ChartSetRequest{});
    request.title = toUtf8(settings.titleText());
    request.artist = toUtf8(settings.artistText());
    settings.buildOptions()->applyTo(request);
    m_places.rememberSoundFont(settings.buildOptions()->soundFontText());
    const auto other = workflow::wouldReplaceAnotherChart(request);
    // The song's own folder: built from this song before (another track, other settings), it is
    // rebuilt without asking. Only a folder of another song, which the user picked, asks.
    if (other && other->song != conversion.sourceMidiPath.filename().string()) {
        // A folder holds one song: the other song's charts and the files they name go.
        const QString question = tr("输出目录中的谱面（如 %1）是由 %2 的音轨 %3 生成的，而一个目录只放一首歌。"
                                    "要删除那首歌的谱面和声音文件，换成 %4 的 %5 的结果吗？")
                                     .arg(toQString(other->chart), toQString(other->song))
                                     .arg(other->track)
                                     .arg(pathToQString(conversion.sourceMidiPath.filename()),
                                          choiceTitle(workflow::chartedParts(conversion), m_state.song));
        if (!m_dialogs.ask(widgetIfShown(m_settings), tr("一键生成"), question)) {
            return std::nullopt;
        }
    }
    request.replace = other.has_value();
    return request;
}

ProgressWindow& MainWindow::showProgress(const QString& label)
{
    ProgressWindow& window = ensureProgress();
    window.bar()->setMinimum(0);
    window.bar()->setMaximum(100);
    window.bar()->setPosition(0);
    window.label()->setText(label);
    centreOverThis(window);
    window.show();
    window.raise();
    return window;
}

void MainWindow::startBuild(const workflow::ConversionRequest& conversion)
{
    auto request = buildRequest(conversion);
    if (!request) {
        discardMadeFolder();
        setResult(tr("没有一键生成：目录中原有的谱面保持不变"));
        emit passFinished();
        return;
    }
    QPointer<ProgressWindow> target = &showProgress(stageText(ProgressStage::Converting));
    QPointer<SettingsDialog> dialog = m_settings;
    // The stage the build is in, as the last report of it reached this thread, and when it
    // began, for the time the stage has left at its rate so far.
    auto stage = std::make_shared<std::pair<ProgressStage, QElapsedTimer>>(ProgressStage::Converting, QElapsedTimer());
    stage->second.start();
    setResult(tr("正在一键生成 %1").arg(choiceTitle(workflow::chartedParts(conversion), m_state.song)));
    m_jobs->run<BuildPass::Output>(
        BuildPass(std::move(*request)),
        [target, stage](int percent, std::int64_t done, std::int64_t total) {
            if (target) {
                target->bar()->setPosition(percent);
                target->label()->setText(buildProgressText(stage->first, percent, done, total, stage->second));
            }
        },
        [this, target, dialog, source = m_state.song,
         choice = ListedChoice{m_trackList->selectionMark(), m_choice.ticked()}](BuildPass::Output& outcome) mutable {
            if (target) {
                target->hide();
            }
            if (!outcome.built) {
                // Every file is staged inside the folder and moved in only when all are whole.
                discardMadeFolder();
                showFailure(outcome.built.error(), tr("已取消一键生成：目录中原有的文件没有改动"), dialog);
            } else {
                finishBuild(std::move(outcome.built).value(), outcome.audit, std::move(source), choice);
            }
            emit passFinished();
        },
        [target, stage](ProgressStage entered) {
            stage->first = entered;
            stage->second.start();
            if (target) {
                target->bar()->setPosition(0);
                target->label()->setText(stageText(entered));
            }
        });
}

void MainWindow::finishBuild(workflow::BuildOutcome built, const std::vector<workflow::AuditFinding>& audit,
                             song::SongSummary source, const ListedChoice& choice)
{
    workflow::finishConversion(m_state, std::move(built.conversion));
    m_lastChart = m_state.lastConversion->chartPath;
    m_lastPreview = built.previewFile;
    showBuild(built, audit);
    // The folder plays as it is: nothing is left to cut, and the next build starts from the
    // source song again.
    relistSource(std::move(source), choice);
    std::vector<std::filesystem::path> charts;
    for (const auto& chart : built.charts) {
        charts.push_back(chart.path);
    }
    showChartPictures(charts);
    m_pictures->addFindings(auditLines(audit, false));
}

void MainWindow::showConvertedSong()
{
    if (m_settings) {
        m_settings->hide();
    }
    showTracks(m_state.song);
    if (m_trackInfo) {
        m_trackInfo->list()->removeAllItems();
    }
    updateCommands();
}

QString MainWindow::conversionWritten() const
{
    const workflow::ConversionOutcome& outcome = *m_state.lastConversion;
    return tr("已写入 %1 和 %2，共 %3 个K音")
        .arg(pathToQString(outcome.chartPath.filename()))
        .arg(pathToQString(outcome.keysoundMidiPath.filename()))
        .arg(outcome.keysounds.size());
}

void MainWindow::showBuild(const workflow::BuildOutcome& built, const std::vector<workflow::AuditFinding>& audit)
{
    showConvertedSong();
    const workflow::ConversionOutcome& outcome = *m_state.lastConversion;
    QString sounds = tr("%1 个K音文件").arg(built.keysoundFiles.size());
    if (built.bgmFiles.size() == 1) {
        sounds += tr("、背景音乐 %1").arg(pathToQString(built.bgmFiles.front().filename()));
    } else if (!built.bgmFiles.empty()) {
        sounds += tr("、背景音乐 %1 段").arg(built.bgmFiles.size());
    }
    // "3 个谱面，等级 3/6/9": the set, easiest first.
    QStringList levels;
    for (const auto& chart : built.charts) {
        levels << QString::number(chart.report.level);
    }
    const QString charts = tr("%1 个谱面，等级 %2").arg(built.charts.size()).arg(levels.join(QLatin1Char('/')));
    QStringList parts{charts,
                      tr("已写入 %1，共 %2 个K音")
                          .arg(pathToQString(outcome.keysoundMidiPath.filename()))
                          .arg(outcome.keysounds.size()),
                      sounds};
    if (outcome.keysounds.mergedAway() != 0) {
        parts << tr("合并省下 %1 个K音").arg(outcome.keysounds.mergedAway());
    }
    // Keysounds whose names come out alike (lengths that round to one slot count) share a file.
    if (built.keysoundFiles.size() < outcome.keysounds.size()) {
        parts << tr("%1 个K音与别的K音同名，共用一个文件").arg(outcome.keysounds.size() - built.keysoundFiles.size());
    }
    if (built.loudness && built.loudness->bound != audio::LoudnessBound::Silent) {
        parts << tr("响度 %1 LUFS，峰值 %2 dBTP")
                     .arg(built.loudness->after.integratedLufs, 0, 'f', 1)
                     .arg(built.loudness->after.truePeakDbtp, 0, 'f', 1);
    }
    if (built.base62) {
        parts << tr("62 进制编号（#BASE 62）");
    }
    // Every kind of finding with its count; the full list is a click on 详情 away.
    parts << partSetPhrases(built.partSets);
    parts << findingSummary(built.findings, audit);
    if (built.previewFile) {
        parts << tr("可直接游玩；试听 播放 %1").arg(pathToQString(built.previewFile->filename()));
    } else {
        parts << tr("可直接游玩");
    }
    parts << tr("目录 %1").arg(pathToQString(m_state.outputFolder));
    setResult(parts.join(QStringLiteral("；")));
    addAuditToolTip(audit);
    m_findings->setRows(findingRows(built.findings, audit));
    if (m_findings->hasRows()) {
        m_resultLine->setToolTip(m_resultLine->toolTip() + tr("\n（单击列出全部提示）"));
    }
}

void MainWindow::addAuditToolTip(const std::vector<workflow::AuditFinding>& audit)
{
    // The tooltip adds the release checklist's first errors and warnings.
    const QStringList findings = findingLines(audit);
    if (!findings.isEmpty()) {
        constexpr int kListedFindings = 10;
        const QString more = findings.size() > kListedFindings ? tr("\n……共 %1 条").arg(findings.size()) : QString();
        m_resultLine->setToolTip(m_resultLine->toolTip() + tr("\n发布检查：\n") +
                                 findings.mid(0, kListedFindings).join(QLatin1Char('\n')) + more);
    }
}

void MainWindow::showConversion()
{
    showConvertedSong();
    const workflow::ConversionOutcome& outcome = *m_state.lastConversion;
    QStringList parts{conversionWritten(),
                      tr("渲染 %1，然后 工具 › 切割").arg(pathToQString(outcome.keysoundMidiPath.filename()))};
    if (outcome.keysounds.mergedAway() != 0) {
        parts.insert(1, tr("合并省下 %1 个K音").arg(outcome.keysounds.mergedAway()));
    }
    if (outcome.allNotesOnDrumChannel) {
        parts << drumChannelHint();
    }
    // The folder goes last: a narrow window cuts the line's end, and the tooltip holds it whole.
    parts << tr("输出目录 %1").arg(pathToQString(outcome.chartPath.parent_path()));
    setResult(parts.join(QStringLiteral("；")));
}

}  // namespace zentrowe::app

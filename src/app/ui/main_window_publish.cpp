// The main window's publishing passes, 文件 › 发布检查 and 文件 › 打包: the release checklist
// on a chart folder, and the zip `zentrowe-cli package` makes of one that passes it.

#include <QLabel>
#include <QTabWidget>
#include <array>
#include <memory>
#include <optional>

#include "app/controls/progress_bar.h"
#include "app/ui/audit_text.h"
#include "app/ui/chart_picture_window.h"
#include "app/ui/error_sentence.h"
#include "app/ui/main_window.h"
#include "app/ui/pass_runner.h"
#include "app/ui/passes/publish_pass.h"
#include "app/ui/progress_window.h"
#include "app/ui/text.h"
#include "core/workflow/audit.h"
#include "core/workflow/package.h"

namespace zentrowe::app {

namespace {

// Errors, warnings and notices, in the order AuditSeverity lists them.
std::array<int, 3> countBySeverity(const std::vector<workflow::AuditFinding>& findings)
{
    std::array<int, 3> counts{};
    for (const auto& finding : findings) {
        ++counts[static_cast<std::size_t>(finding.severity)];
    }
    return counts;
}

}  // namespace

std::filesystem::path MainWindow::folderToPublish() const
{
    return std::filesystem::is_directory(m_state.outputFolder) ? m_state.outputFolder : m_library;
}

void MainWindow::onAudit()
{
    if (isBusy()) {
        return;
    }
    const QString folder = m_dialogs.chooseFolder(this, tr("发布检查：选择谱面目录"), pathToQString(folderToPublish()));
    if (!folder.isEmpty()) {
        runPublish(toPath(folder), std::nullopt);
    }
}

void MainWindow::onAuditChart()
{
    if (isBusy()) {
        return;
    }
    const QString chart =
        m_dialogs.chooseFileToOpen(this, tr("发布检查：选择谱面"), chartFileFilter(), pathToQString(folderToPublish()));
    if (!chart.isEmpty()) {
        runPublish(toPath(chart), std::nullopt);
    }
}

void MainWindow::onPackage()
{
    if (isBusy()) {
        return;
    }
    const QString folder = m_dialogs.chooseFolder(this, tr("打包：选择谱面目录"), pathToQString(folderToPublish()));
    if (folder.isEmpty()) {
        return;
    }
    const QString zip = m_dialogs.chooseFileToSave(this, tr("打包：保存为"), QStringLiteral("Zip (*.zip)"),
                                                   folder + QStringLiteral(".zip"));
    if (!zip.isEmpty()) {
        runPublish(toPath(folder), toPath(zip));
    }
}

void MainWindow::runPublish(const std::filesystem::path& folder, const std::optional<std::filesystem::path>& zip)
{
    QPointer<ProgressWindow> target = &showProgress(zip ? tr("正在打包") : tr("正在发布检查"));
    setResult(tr("正在检查 %1").arg(pathToQString(folder)));
    m_jobs->run<PublishPass::Output>(
        PublishPass(folder, zip),
        [target](int percent, std::int64_t, std::int64_t) {
            if (target) {
                target->bar()->setPosition(percent);
            }
        },
        [this, target](PublishPass::Output& published) {
            if (target) {
                target->hide();
            }
            if (!published.audit) {
                showFailure(published.audit.error(), tr("已取消发布检查"));
            } else if (published.packaged) {
                showPackage(published.audit.value(), *published.packaged);
            } else {
                showAudit(published.audit.value());
            }
            emit passFinished();
        });
}

void MainWindow::showAudit(const workflow::AuditReport& audit)
{
    const auto counts = countBySeverity(audit.findings);
    setResult(tr("发布检查 %1：%2 个错误，%3 个警告，%4 个提示")
                  .arg(pathToQString(audit.folder))
                  .arg(counts[0])
                  .arg(counts[1])
                  .arg(counts[2]));
    std::vector<std::filesystem::path> charts;
    for (const auto& chart : audit.charts) {
        charts.push_back(audit.folder / chart);
    }
    showChartPictures(charts);
    m_pictures->addFindings(auditLines(audit.findings, true));
    m_pictures->tabs()->setCurrentIndex(m_pictures->tabs()->count() - 1);
}

void MainWindow::showPackage(const workflow::AuditReport& audit, const Result<workflow::PackageOutcome>& packaged)
{
    if (packaged) {
        setResult(tr("已打包：%1 个文件，放在 zip 中的目录 %2")
                      .arg(packaged->entries.size())
                      .arg(toQString(packaged->folderName)));
        return;
    }
    if (packaged.error().code != ErrorCode::AuditFailed) {
        showFailure(packaged.error(), tr("已取消打包，没有写入文件"));
        return;
    }
    // The reasons, so that the user knows what to fix before packaging.
    QStringList errors;
    for (const auto& finding : audit.findings) {
        if (finding.severity == workflow::AuditSeverity::Error) {
            errors << auditLines({finding}, false);
        }
    }
    const QString sentence = errorSentence(packaged.error());
    setResult(sentence);
    showError(sentence + QStringLiteral("\n") + errors.join(QLatin1Char('\n')), nullptr,
              UserDialogs::MessageKind::Warning);
}

}  // namespace zentrowe::app

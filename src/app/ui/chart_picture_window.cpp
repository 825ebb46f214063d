#include "app/ui/chart_picture_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/picture/chart_picture.h"
#include "app/ui/error_sentence.h"
#include "app/ui/text.h"
#include "core/chart/chart_score.h"

namespace zentrowe::app {

namespace {

// "HYPER 6": the difficulty as players name it (#DIFFICULTY) and the level (#PLAYLEVEL); the
// file's name for a chart that states no difficulty players know.
QString tabLabel(const chart::ChartScore& score, const std::filesystem::path& chart)
{
    static const char* const kNames[] = {"BEGINNER", "NORMAL", "HYPER", "ANOTHER", "INSANE"};
    if (!score.difficulty || *score.difficulty < 1 || *score.difficulty > 5) {
        return pathToQString(chart.filename());
    }
    const QString name = QString::fromLatin1(kNames[*score.difficulty - 1]);
    return score.playLevel ? name + QLatin1Char(' ') + QString::number(*score.playLevel) : name;
}

QWidget* pictureOf(const std::filesystem::path& chart, const Result<chart::ChartScore>& score)
{
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("ChartPicture"));
    if (!score) {
        label->setText(errorSentence(score.error()));
        label->setWordWrap(true);
        return label;
    }
    const QImage image = picture::drawChartPicture(*score);
    if (image.isNull()) {
        label->setText(QObject::tr("%1 有 %2 个小节，太长，画不进一张图")
                           .arg(pathToQString(chart.filename()))
                           .arg(score->measureCount()));
        return label;
    }
    label->setPixmap(QPixmap::fromImage(image));
    auto* scroll = new QScrollArea;
    scroll->setWidget(label);
    scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return scroll;
}

}  // namespace

ChartPictureWindow::ChartPictureWindow(QWidget* parent) : QWidget(parent, Qt::Window), m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("ChartPictures"));
    setWindowTitle(tr("谱面图"));
    m_tabs->setObjectName(QStringLiteral("ChartTabs"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
    resize(900, 640);
}

void ChartPictureWindow::showCharts(const std::vector<std::filesystem::path>& charts)
{
    while (m_tabs->count() > 0) {
        QWidget* page = m_tabs->widget(0);
        m_tabs->removeTab(0);
        delete page;
    }
    for (const auto& chart : charts) {
        const auto score = chart::readChartScore(chart);
        const int tab =
            m_tabs->addTab(pictureOf(chart, score), score ? tabLabel(*score, chart) : pathToQString(chart.filename()));
        m_tabs->setTabToolTip(tab, pathToQString(chart));
    }
}

void ChartPictureWindow::addFindings(const QStringList& findings)
{
    if (findings.isEmpty()) {
        return;
    }
    auto* list = new QPlainTextEdit;
    list->setObjectName(QStringLiteral("Findings"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    list->setPlainText(findings.join(QLatin1Char('\n')));
    m_tabs->addTab(list, tr("发布检查（%1）").arg(findings.size()));
}

void ChartPictureWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zentrowe::app

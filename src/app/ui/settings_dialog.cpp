#include "app/ui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "app/controls/progress_bar.h"
#include "app/ui/build_options_box.h"
#include "app/ui/text.h"

namespace zentrowe::app {

namespace {

const QStringList kDialogFamilies = {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                                     QStringLiteral("Microsoft YaHei")};

// Places a control at a position given in twips, relative to its parent.
template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
    return widget;
}

// Widens `edit` so that `sample` and one more digit fit inside its frame, moving `next`, the
// control to its right in the same row, along when they would touch.
void widenToFit(QLineEdit* edit, const QString& sample, QWidget* next)
{
    const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
    const QFontMetrics metrics = edit->fontMetrics();
    const int wanted = metrics.horizontalAdvance(sample + QLatin1Char('0')) + 2 * frame;
    edit->resize(std::max(edit->width(), wanted), edit->height());
    const int gap = twipsToPixels(60);
    if (next->x() < edit->geometry().right() + 1 + gap) {
        next->move(edit->geometry().right() + 1 + gap, next->y());
    }
}

// 一键生成's groups sit below the others and push the buttons down by their height.
constexpr int kBuildOptionsTop = 2400;

}  // namespace

// A dialog window stays above its parent, the main window, and nothing else: message boxes
// opened over either of them are not hidden behind it.
SettingsDialog::SettingsDialog(QWidget* parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("Configfrm"));
    setWindowTitle(programCaption());
    // The twip layout was made for 9-point text (12 pixels) in tight boxes, set in a CJK face
    // whose Latin letters and digits are half as wide as its ideographs.
    QFont dialogFont = font();
    dialogFont.setFamilies(kDialogFamilies);
    dialogFont.setPixelSize(12);
    setFont(dialogFont);
    setStyleSheet(QStringLiteral("QLineEdit { padding: 0px; }"));

    QWidget* keysoundNameLabel = addBmsGroup();
    addMidiGroup();
    addLimitsGroup();
    // 一键生成 only: the charts of the set, the texts their headers carry, what the build renders with.
    addChartSetGroup();
    addChartTextsGroup();
    m_buildOptions = new BuildOptionsBox(this);
    addButtons();
    fitEdits(keysoundNameLabel);
    addToolTips();
    setFixedSize(twipsToPixels(5900), twipsToPixels(2940));
    connectControls();

    m_longNoteMinimum->setEnabled(false);
    onCustomTempoToggled();
    showBuildOptions(false);
}

QWidget* SettingsDialog::addBmsGroup()
{
    auto* bms = place(new QGroupBox(QStringLiteral("BMS"), this), "FrameBms", 120, 120, 5655, 975);
    m_startCodeLabel = place(new QLabel(tr("K列表开始位置"), bms), "Label5", 240, 300, 1215, 255);
    m_startCode = place(new QLineEdit(QStringLiteral("00"), bms), "Text4", 1560, 240, 255, 255);
    auto* keysoundNameLabel = place(new QLabel(tr("K音名:"), bms), "Label1", 2280, 300, 615, 255);
    m_keysoundName = place(new QLineEdit(QStringLiteral("A"), bms), "Text5", 2880, 240, 2415, 255);
    m_longNotes = place(new QCheckBox(tr("生成面条"), bms), "Check1", 240, 600, 1215, 255);
    place(new QLabel(tr("面条最小长度:"), bms), "Label3", 1680, 630, 1170, 180);
    m_longNoteMinimum = place(new QLineEdit(QStringLiteral("24"), bms), "Text1", 2880, 600, 1215, 270);
    m_percussion = place(new QCheckBox(tr("打击乐器 "), bms), "Check3", 4320, 600, 1095, 255);
    return keysoundNameLabel;
}

void SettingsDialog::addMidiGroup()
{
    auto* midi = m_midi = place(new QGroupBox(QStringLiteral("MIDI"), this), "FrameMidi", 120, 1080, 5655, 615);
    place(new QLabel(QStringLiteral("BPM:"), midi), "Label2", 360, 285, 615, 300);
    m_tempo = place(new QLineEdit(QStringLiteral("0"), midi), "TxtTempo", 960, 240, 495, 270);
    m_customTempo = place(new QCheckBox(tr("自定义"), midi), "Check2", 1680, 240, 855, 255);
    place(new QLabel(tr("K音间空隙:"), midi), "Label4", 3120, 285, 975, 255);
    m_gap = place(new QLineEdit(QStringLiteral("100"), midi), "Text2", 4080, 240, 855, 270);
}

void SettingsDialog::addLimitsGroup()
{
    // Past the chart format's limits: codes up to "zz", and keysounds merged before they get codes.
    auto* limits = m_limits = place(new QGroupBox(tr("编号与合并"), this), "FrameLimits", 120, 1740, 5655, 615);
    m_base62 = place(new QCheckBox(tr("62进制编号"), limits), "CheckBase62", 240, 240, 1335, 255);
    place(new QLabel(tr("力度合并:"), limits), "LabelVelocityStep", 1800, 285, 855, 255);
    m_velocityStep = place(new QLineEdit(QStringLiteral("1"), limits), "TextVelocityStep", 2640, 240, 495, 270);
    place(new QLabel(tr("长度合并:"), limits), "LabelLengthStep", 3240, 285, 855, 255);
    m_lengthStep = place(new QLineEdit(QStringLiteral("0"), limits), "TextLengthStep", 4080, 240, 495, 270);
    // The other way past the limits: a bmson chart has no code or measure limit at all.
    m_bmson = place(new QCheckBox(QStringLiteral("bmson"), limits), "CheckBmson", 4680, 240, 930, 255);
}

void SettingsDialog::addButtons()
{
    // Wide enough for the longest action a start button names, "转换到BMS".
    m_start = place(new QPushButton(tr("开始"), this), "Command1", 3540, 2430, 1125, 375);
    m_cancel = place(new QPushButton(tr("取消"), this), "Cancel", 4770, 2430, 975, 375);
    m_bar = place(new ProgressBar(this), "PorogrsessBar1", 120, 2460, 3300, 300);
    m_bar->hide();
    m_start->setDefault(true);
}

void SettingsDialog::fitEdits(QWidget* keysoundNameLabel)
{
    QFont codeFont = font();
    codeFont.setFamilies(QStringList{QStringLiteral("宋体"), QStringLiteral("SimSun")} + kDialogFamilies);
    m_startCode->setFont(codeFont);
    m_keysoundName->setFont(codeFont);
    for (auto* edit : {m_startCode, m_keysoundName, m_longNoteMinimum, m_tempo, m_gap, m_velocityStep, m_lengthStep}) {
        edit->setTextMargins(0, 0, 0, 0);
        edit->setContentsMargins(0, 0, 0, 0);
    }
    // The start code box holds "00" and the tempo box a tempo like "120.00" with room to spare,
    // whatever the face.
    widenToFit(m_startCode, QStringLiteral("00"), keysoundNameLabel);
    widenToFit(m_tempo, QStringLiteral("120.00"), m_customTempo);
}

void SettingsDialog::addToolTips()
{
    m_startCode->setToolTip(tr("第一个K音的前一个编号：两位，0-9 和 A-Z（36 进制）"));
    m_keysoundName->setToolTip(tr("K音文件名的开头：字母、数字、- 和 _"));
    m_longNoteMinimum->setToolTip(tr("比这短的音符不生成面条；单位：1/192 小节"));
    m_tempo->setToolTip(tr("K-Midi.mid 的速度；单位：每分钟拍数（BPM）"));
    m_bmson->setToolTip(tr("写 bmson 谱面：时间精确，没有编号和小节数的上限"));
    m_gap->setToolTip(tr("K-Midi.mid 中两个K音之间的空隙；单位：tick（每四分音符 96 tick）"));
    m_base62->setToolTip(tr("K音编号用 0-9、A-Z、a-z（到 zz，共 3843 个），谱面开头写 #BASE 62；较旧的播放器读不了"));
    m_velocityStep->setToolTip(tr("力度取最近的这个数的倍数后再区分K音；1 为不合并"));
    m_lengthStep->setToolTip(tr("长度取最近的这么多个 1/192 小节后再区分K音；0 为不合并，1 使K音名与K音一一对应"));
}

void SettingsDialog::connectControls()
{
    connect(m_longNotes, &QCheckBox::toggled, this, &SettingsDialog::onLongNotesToggled);
    connect(m_percussion, &QCheckBox::toggled, this, &SettingsDialog::onPercussionToggled);
    connect(m_customTempo, &QCheckBox::toggled, this, &SettingsDialog::onCustomTempoToggled);
    connect(m_start, &QPushButton::clicked, this, &SettingsDialog::startRequested);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        hide();
        emit cancelRequested();
    });
    const QList<QWidget*> order = tabOrder();
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
}

void SettingsDialog::addChartSetGroup()
{
    // The difficulty names stay as players show them on the song-select screen.
    m_chartSet = place(new QGroupBox(tr("难度"), this), "FrameCharts", 120, kBuildOptionsTop, 5655, 885);
    // Two rows: the five names side by side do not fit the dialog's width.
    auto* difficulties = new QGridLayout(m_chartSet);
    difficulties->setContentsMargins(twipsToPixels(120), 0, twipsToPixels(120), 0);
    for (const chartset::Difficulty difficulty : chartset::kAllDifficulties) {
        // "[NORMAL]" without its brackets.
        const std::string_view subtitle = chartset::difficultySubtitle(difficulty);
        auto* box = new QCheckBox(QString::fromLatin1(subtitle.data() + 1, static_cast<qsizetype>(subtitle.size()) - 2),
                                  m_chartSet);
        box->setObjectName(QStringLiteral("CheckDifficulty") + QLatin1Char(chartset::difficultyLetter(difficulty)));
        box->setChecked(difficulty == chartset::Difficulty::Normal || difficulty == chartset::Difficulty::Hyper ||
                        difficulty == chartset::Difficulty::Another);
        const auto index = static_cast<int>(difficulty);
        difficulties->addWidget(box, index / 3, index % 3);
        m_difficulties[static_cast<std::size_t>(difficulty)] = box;
    }
    QCheckBox* insane = difficultyBox(chartset::Difficulty::Insane);
    insane->setTristate(true);
    insane->setCheckState(Qt::PartiallyChecked);
    insane->setToolTip(tr("完整的音轨；半选：仅当音轨比 ANOTHER 更密时生成"));
    m_chartSet->setToolTip(tr("每个难度写一个谱面（NAME_B.bms … NAME_X.bms），共用同一套K音；"
                              "不在按键上的音符在背景中原位播放"));
}

void SettingsDialog::addChartTextsGroup()
{
    m_chartTexts =
        place(new QGroupBox(tr("谱面信息"), this), "FrameChartTexts", 120, kBuildOptionsTop + 930, 5655, 1095);
    auto* texts = new QGridLayout(m_chartTexts);
    texts->setContentsMargins(twipsToPixels(120), 0, twipsToPixels(120), twipsToPixels(60));
    m_title = new QLineEdit(m_chartTexts);
    m_title->setObjectName(QStringLiteral("TextTitle"));
    m_artist = new QLineEdit(m_chartTexts);
    m_artist->setObjectName(QStringLiteral("TextArtist"));
    m_genre = new QLineEdit(m_chartTexts);
    m_genre->setObjectName(QStringLiteral("TextGenre"));
    texts->addWidget(new QLabel(tr("标题:"), m_chartTexts), 0, 0);
    texts->addWidget(m_title, 0, 1, 1, 3);
    texts->addWidget(new QLabel(tr("艺术家:"), m_chartTexts), 1, 0);
    texts->addWidget(m_artist, 1, 1);
    texts->addWidget(new QLabel(tr("类型:"), m_chartTexts), 1, 2);
    texts->addWidget(m_genre, 1, 3);
    m_title->setToolTip(tr("谱面的 #TITLE；默认为乐曲自身的名称"));
    m_artist->setToolTip(tr("谱面的 #ARTIST；默认为乐曲文字中的作者，否则为版权信息中的名字"));
    m_genre->setToolTip(tr("谱面的 #GENRE；可以留空"));
}

void SettingsDialog::showBuildOptions(bool shown)
{
    m_builds = shown;
    m_startCodeLabel->setVisible(!shown);
    m_startCode->setVisible(!shown);
    m_midi->setVisible(!shown);
    m_chartSet->setVisible(shown);
    m_chartTexts->setVisible(shown);
    m_buildOptions->setVisible(shown);
    // The groups stacked from the top in twips, 45 apart, as the designed layout has them.
    int top = 1740;
    if (shown) {
        top -= 660;  // where the MIDI group stood
        m_limits->move(m_limits->x(), twipsToPixels(top));
        top += 660;
        m_chartSet->move(m_chartSet->x(), twipsToPixels(top));
        top += 930;
        m_chartTexts->move(m_chartTexts->x(), twipsToPixels(top));
        top += 1140;
        const int optionsHeight = pixelsToTwips(m_buildOptions->sizeHint().height());
        m_buildOptions->setGeometry(m_chartTexts->x(), twipsToPixels(top), m_chartTexts->width(),
                                    twipsToPixels(optionsHeight));
        top += optionsHeight + 45;
    } else {
        m_limits->move(m_limits->x(), twipsToPixels(top));
        top += 660;
    }
    m_start->move(m_start->x(), twipsToPixels(top + 30));
    m_cancel->move(m_cancel->x(), twipsToPixels(top + 30));
    m_bar->move(m_bar->x(), twipsToPixels(top + 60));
    setFixedSize(twipsToPixels(5900), twipsToPixels(top + 540));
}

void SettingsDialog::fillCredits(const QString& title, const QString& artist)
{
    m_title->setText(title);
    m_artist->setText(artist);
}

std::optional<chartset::ChartSetRequest> SettingsDialog::chartSet() const
{
    chartset::ChartSetRequest request;
    for (const chartset::Difficulty difficulty : chartset::kAllDifficulties) {
        const QCheckBox* box = difficultyBox(difficulty);
        if (box->checkState() == Qt::Checked) {
            request.difficulties.push_back(difficulty);
        } else if (box->checkState() == Qt::PartiallyChecked) {
            request.insaneWhenDenser = true;
        }
    }
    if (request.difficulties.empty()) {
        return std::nullopt;
    }
    request.genre = toUtf8(m_genre->text().trimmed());
    return request;
}

QString SettingsDialog::titleText() const
{
    return m_title->text().trimmed();
}

QString SettingsDialog::artistText() const
{
    return m_artist->text().trimmed();
}

void SettingsDialog::onLongNotesToggled()
{
    // Long notes and percussion exclude each other; the minimum length matters only for the former.
    m_percussion->setEnabled(!m_longNotes->isChecked());
    m_longNoteMinimum->setEnabled(m_longNotes->isChecked());
}

void SettingsDialog::onPercussionToggled()
{
    m_longNotes->setEnabled(!m_percussion->isChecked());
    m_longNoteMinimum->setEnabled(m_longNotes->isChecked());
}

void SettingsDialog::onCustomTempoToggled()
{
    m_tempo->setEnabled(m_customTempo->isChecked());
}

convert::SettingsTexts SettingsDialog::texts() const
{
    convert::SettingsTexts texts;
    texts.startCode = toUtf8(m_startCode->text());
    texts.keysoundName = toUtf8(m_keysoundName->text());
    texts.longNotes = m_longNotes->isChecked();
    texts.longNoteMinimum = toUtf8(m_longNoteMinimum->text());
    texts.percussion = m_percussion->isChecked();
    texts.useCustomTempo = m_customTempo->isChecked();
    texts.tempo = toUtf8(m_tempo->text());
    texts.gap = toUtf8(m_gap->text());
    texts.base62 = m_base62->isChecked();
    texts.velocityStep = toUtf8(m_velocityStep->text());
    texts.lengthStep = toUtf8(m_lengthStep->text());
    texts.bmson = m_bmson->isChecked();
    if (m_builds) {
        // Hidden with 一键生成: the keysound MIDI file is the build's own, made as the command
        // line's build makes it.
        const convert::SettingsTexts defaults;
        texts.startCode = defaults.startCode;
        texts.useCustomTempo = defaults.useCustomTempo;
        texts.tempo = defaults.tempo;
        texts.gap = defaults.gap;
    }
    return texts;
}

QList<QWidget*> SettingsDialog::tabOrder() const
{
    QList<QWidget*> order{m_startCode,       m_keysoundName,    m_longNotes,       m_longNoteMinimum,
                          m_percussion,      m_tempo,           m_customTempo,     m_gap,
                          m_base62,          m_velocityStep,    m_lengthStep,      m_bmson,
                          m_difficulties[0], m_difficulties[1], m_difficulties[2], m_difficulties[3],
                          m_difficulties[4], m_title,           m_artist,          m_genre};
    order << m_buildOptions->tabOrder() << m_start << m_cancel;
    return order;
}

void SettingsDialog::prepare(const QString& action, const QString& track)
{
    setWindowTitle(action + QStringLiteral(" — ") + track);
    m_start->setText(action);
    m_bar->setPosition(0);
    m_bar->hide();
}

void SettingsDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        m_cancel->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsDialog::setStartEnabled(bool enabled)
{
    m_start->setEnabled(enabled);
}

}  // namespace zentrowe::app

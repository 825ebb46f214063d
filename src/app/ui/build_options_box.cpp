#include "app/ui/build_options_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/text.h"

namespace zentrowe::app {

namespace {

// A row of several controls side by side.
QWidget* rowOf(QWidget* parent, std::initializer_list<QWidget*> controls)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* control : controls) {
        control->setParent(row);
        layout->addWidget(control);
    }
    layout->addStretch(1);
    return row;
}

}  // namespace

BuildOptionsBox::BuildOptionsBox(QWidget* parent) : QGroupBox(tr("生成"), parent), m_rows(new QFormLayout(this))
{
    setObjectName(QStringLiteral("FrameBuild"));
    m_rows->setContentsMargins(twipsToPixels(120), twipsToPixels(30), twipsToPixels(120), twipsToPixels(30));
    m_rows->setVerticalSpacing(2);
    addFolderRow();
    addBgmRow();
    addLoudnessRow();
    addLanesRow();
    addChartsRow();
    addQuantizeRow();
    addSoundFontRow();
}

void BuildOptionsBox::addFolderRow()
{
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("TextFolder"));
    m_folder->setToolTip(tr("这首歌的谱面和声音文件写入的目录；默认为输出目录下以这首歌命名的目录，"
                            "每首歌一个，再次生成同一首歌时直接更新"));
    m_chooseFolder = new QPushButton(QStringLiteral("…"), this);
    m_chooseFolder->setObjectName(QStringLiteral("ChooseFolder"));
    m_chooseFolder->setFixedWidth(twipsToPixels(375));
    connect(m_chooseFolder, &QPushButton::clicked, this, &BuildOptionsBox::folderChoiceRequested);
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_folder, 1);
    layout->addWidget(m_chooseFolder);
    m_rows->addRow(tr("目录:"), row);
}

QString BuildOptionsBox::folderText() const
{
    return m_folder->text().trimmed();
}

void BuildOptionsBox::setFolderText(const QString& folder)
{
    m_folder->setText(folder);
}

void BuildOptionsBox::addBgmRow()
{
    m_bgm = new QComboBox(this);
    m_bgm->setObjectName(QStringLiteral("ComboBgm"));
    // Each item carries its workflow::BgmMode; the first is the build's default.
    m_bgm->addItem(tr("每个音符一个K音"), static_cast<int>(workflow::BgmMode::Keysounds));
    m_bgm->addItem(tr("分段（bgm-001.ogg…）"), static_cast<int>(workflow::BgmMode::Slices));
    m_bgm->addItem(tr("一个文件（bgm.ogg）"), static_cast<int>(workflow::BgmMode::One));
    m_bgm->addItem(tr("无"), static_cast<int>(workflow::BgmMode::None));
    m_bgm->setToolTip(tr("其它音轨怎样进入谱面：每个音符一个在它自己时刻发声的K音、按小节切成的分段、从第一小节起的一个"
                         "文件，或不要背景音乐"));
    m_rows->addRow(tr("背景音乐:"), m_bgm);
}

void BuildOptionsBox::addLoudnessRow()
{
    m_loudnessOn = new QCheckBox(tr("调整到"), this);
    m_loudnessOn->setObjectName(QStringLiteral("CheckLoudness"));
    m_loudnessOn->setChecked(true);
    m_loudness = new QDoubleSpinBox(this);
    m_loudness->setObjectName(QStringLiteral("SpinLoudness"));
    m_loudness->setRange(-40, -5);
    m_loudness->setDecimals(1);
    m_loudness->setSingleStep(1);
    m_loudness->setValue(-14);
    m_loudness->setSuffix(QStringLiteral(" LUFS"));
    m_loudnessOn->setToolTip(tr("整首自动演奏的响度，真峰值不超过 -1 dBTP；不勾选则保持合成器的固定音量"));
    connect(m_loudnessOn, &QCheckBox::toggled, m_loudness, &QWidget::setEnabled);
    m_rows->addRow(tr("响度:"), rowOf(this, {m_loudnessOn, m_loudness}));
}

void BuildOptionsBox::addLanesRow()
{
    m_lanes = new QComboBox(this);
    m_lanes->setObjectName(QStringLiteral("ComboLanes"));
    m_lanes->addItem(tr("好打（按音高排列，分开和弦，没有快速连打）"), static_cast<int>(chartset::LaneRule::Playable));
    m_lanes->addItem(tr("原样（转换到BMS 的键位）"), static_cast<int>(chartset::LaneRule::Seed));
    m_scratch = new QCheckBox(tr("皿（搓盘）放重音"), this);
    m_scratch->setObjectName(QStringLiteral("CheckScratch"));
    m_scratch->setChecked(true);
    m_scratch->setToolTip(tr("HYPER 及以上难度把重音（小节第一拍、乐句的第一个音、扫弦的第一下）放到皿上；"
                             "不勾选则皿上没有音符"));
    m_follow = new QCheckBox(tr("跟随音乐"), this);
    m_follow->setObjectName(QStringLiteral("CheckFollow"));
    m_follow->setChecked(true);
    m_follow->setToolTip(tr("所选音轨休止超过 2 小节（或 4 秒）时，键位改由当时承载音乐的声部（旋律，其次贝司，"
                            "再次鼓的重音）提供；需要其他音轨作为按键音"));
    m_doublePlay = new QCheckBox(tr("双打（14键）"), this);
    m_doublePlay->setObjectName(QStringLiteral("CheckDoublePlay"));
    m_doublePlay->setToolTip(tr("1P 侧是所选音轨，2P 侧是歌曲的其他声部（贝司、和弦、鼓）；需要其他音轨作为按键音"));
    m_rows->addRow(tr("键位:"), rowOf(this, {m_lanes, m_scratch, m_follow, m_doublePlay}));
}

void BuildOptionsBox::addChartsRow()
{
    m_chartsPerPart = new QCheckBox(tr("每个声部一套谱面"), this);
    m_chartsPerPart->setObjectName(QStringLiteral("CheckChartsPerPart"));
    m_chartsPerPart->setToolTip(tr("勾选的每个音轨或通道各得一套谱面（只选一个时，另给歌曲中音符不少于 %1 个的每个声部"
                                   "一套），各套共用同一批声音文件，谱面名带声部名；不能与双打同时使用，"
                                   "同时勾选时生成单打谱面")
                                    .arg(workflow::kLeastPartSetNotes));
    m_rows->addRow(tr("谱面:"), rowOf(this, {m_chartsPerPart}));
}

void BuildOptionsBox::addQuantizeRow()
{
    m_quantize = new QComboBox(this);
    m_quantize->setObjectName(QStringLiteral("ComboQuantize"));
    // Each item carries its lines per measure, as --quantize takes them; 0 leaves the notes be.
    m_quantize->addItem(tr("不对齐"), 0);
    m_quantize->addItem(tr("16 分音符"), 16);
    m_quantize->addItem(tr("16 分三连音"), 24);
    m_quantize->addItem(tr("32 分音符"), 32);
    m_quantize->setToolTip(tr("把音符和它们的K音移到最近的网格线上：适合随手演奏、没有对齐节拍的音轨"));
    m_rows->addRow(tr("对齐:"), m_quantize);
}

void BuildOptionsBox::addSoundFontRow()
{
    m_soundFont = new QLineEdit(this);
    m_soundFont->setObjectName(QStringLiteral("TextSoundFont"));
    m_soundFont->setPlaceholderText(pathToQString(audio::defaultSoundFont()));
    m_soundFont->setToolTip(tr("渲染K音和背景音乐用的 General MIDI 音色库（.sf2）；留空用系统的默认音色库"));
    m_chooseSoundFont = new QPushButton(QStringLiteral("…"), this);
    m_chooseSoundFont->setObjectName(QStringLiteral("ChooseSoundFont"));
    m_chooseSoundFont->setFixedWidth(twipsToPixels(375));
    connect(m_chooseSoundFont, &QPushButton::clicked, this, &BuildOptionsBox::soundFontChoiceRequested);
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_soundFont, 1);
    layout->addWidget(m_chooseSoundFont);
    m_rows->addRow(tr("音色库:"), row);
}

void BuildOptionsBox::applyTo(workflow::BuildRequest& request) const
{
    request.bgm = static_cast<workflow::BgmMode>(m_bgm->currentData().toInt());
    request.loudness = m_loudnessOn->isChecked() ? std::optional<double>(m_loudness->value()) : std::nullopt;
    request.charts.lanes = static_cast<chartset::LaneRule>(m_lanes->currentData().toInt());
    request.charts.scratch = m_scratch->isChecked();
    request.charts.follow = m_follow->isChecked();
    request.charts.play = m_doublePlay->isChecked() ? chartset::Play::Double : chartset::Play::Single;
    request.charts.setPerPart = m_chartsPerPart->isChecked();
    request.charts.quantizeGrid = m_quantize->currentData().toUInt();
    if (!soundFontText().isEmpty()) {
        request.soundFont = toPath(soundFontText());
    }
    // The sounds earlier builds kept, in the user's cache folder, as the command line keeps them.
    request.cacheFolder = userCacheFolder(qgetenv("XDG_CACHE_HOME").toStdString(), qgetenv("HOME").toStdString());
}

QString BuildOptionsBox::soundFontText() const
{
    return m_soundFont->text().trimmed();
}

void BuildOptionsBox::setSoundFontText(const QString& file)
{
    m_soundFont->setText(file);
}

QList<QWidget*> BuildOptionsBox::tabOrder() const
{
    return {m_folder, m_chooseFolder, m_bgm,           m_loudnessOn, m_loudness,  m_lanes,          m_scratch,
            m_follow, m_doublePlay,   m_chartsPerPart, m_quantize,   m_soundFont, m_chooseSoundFont};
}

int BuildOptionsBox::rowCount() const
{
    return m_rows->rowCount();
}

}  // namespace zentrowe::app

#include "app/ui/finding_text.h"

#include <QObject>
#include <algorithm>
#include <map>

#include "app/ui/audit_text.h"
#include "app/ui/error_sentence.h"
#include "app/ui/text.h"

namespace zentrowe::app {

namespace {

using workflow::Finding;
using workflow::FindingCode;

QString tr(const char* text)
{
    return QObject::tr(text);
}

QString silenceCauseWords(workflow::SilenceCause cause)
{
    switch (cause) {
    case workflow::SilenceCause::VolumeZero:
        return tr("所在通道的音量或表情为 0");
    case workflow::SilenceCause::NoPreset:
        return tr("音色库没有这个乐器，也没有可替代的");
    case workflow::SilenceCause::NoSound:
        return tr("这个乐器没有这个音，或声音太轻听不到");
    }
    return {};
}

QString recoverySentence(const Finding& finding)
{
    if (finding.code == FindingCode::CommitCompleted) {
        return tr("上次生成在移入文件时被中断，谱面已就位：已把它的移动做完");
    }
    if (finding.code == FindingCode::CommitUndone) {
        return tr("上次生成在移入文件时被中断：已放回它替换掉的文件");
    }
    const auto& setAside = finding.as<base::SetAsideStaging>();
    return tr("目录中的 %1 不是一次生成留下的样子：没有照它做，目录未被改动；临时目录另存为 %2")
        .arg(pathToQString(setAside.found), pathToQString(setAside.movedTo));
}

QString silentSentence(const workflow::SilentKeysound& silent)
{
    return tr("%1 的音 %2 没有声音（%3）：%4 个音符未放入任何谱面，它的K音文件不写出")
        .arg(instrumentText(silent.instrument))
        .arg(silent.note)
        .arg(silenceCauseWords(silent.cause))
        .arg(silent.noteCount);
}

QString codesMergedSentence(const workflow::CodesMerging& merging)
{
    return tr("编号超过 ZZ：%1 个听不出差别的K音已合并（力度差 %2 以内，长度差 %3/192 小节以内）；"
              "选 62 进制编号可保持不同")
        .arg(merging.keysounds)
        .arg(std::max(merging.steps.velocityStep, 1))
        .arg(merging.steps.lengthStep);
}

QString playedInSentence(const workflow::PlayedInGrid& played)
{
    const auto& off = played.fit.offShare;
    QString sentence = tr("这个音轨是弹奏录入的，没有对齐节拍：%1% 的音符不在 16 分音符上，%2% 不在 16 分三连音上，"
                          "%3% 不在 32 分音符上")
                           .arg(100 * off[0], 0, 'f', 0)
                           .arg(100 * off[1], 0, 'f', 0)
                           .arg(100 * off[2], 0, 'f', 0);
    if (played.quantizeGrid > 0) {
        sentence += tr("；音符已移到每小节 %1 格的最近位置").arg(played.quantizeGrid);
    }
    return sentence;
}

QString keptSoundsSentence(const CacheTrouble& trouble)
{
    if (trouble.writeError) {
        return tr("无法写入 %1 中保留的声音（%2）：没能保留的声音已重新生成")
            .arg(pathToQString(trouble.folder), QString::fromStdString(trouble.writeError->message()));
    }
    return tr("%1 中有 %2 个保留的声音已损坏，已重新生成")
        .arg(pathToQString(trouble.folder))
        .arg(trouble.damagedEntries);
}

// Why 双打 made single-play charts.
QString singlePlaySentence(workflow::SinglePlayReason reason)
{
    switch (reason) {
    case workflow::SinglePlayReason::OnePart:
        return tr("已生成单打谱面：双打把歌曲的其他声部放在 2P 侧，而所选音轨就是歌曲的全部声部");
    case workflow::SinglePlayReason::BgmNotKeysounds:
        return tr("已生成单打谱面：双打的 2P 音符取自其他音轨的K音，背景音乐须选 K音");
    case workflow::SinglePlayReason::Percussion:
        return tr("已生成单打谱面：打击乐器模式不能生成双打");
    case workflow::SinglePlayReason::SeedLanes:
        return tr("已生成单打谱面：双打需要可玩的键位排列");
    case workflow::SinglePlayReason::PartSets:
        return tr("已生成单打谱面：每个声部一套谱面时，各声部在自己的谱面里占用按键，不能再放到 2P 侧");
    }
    return tr("已生成单打谱面");
}

// The kind a code is counted under in the result line: findings of one kind are said together.
enum class Kind {
    Recovery,
    Bgm,
    Instrument,
    LongFile,
    Silent,
    Merged,
    LeadIn,
    Drums,
    Removed,
    Replaced,
    PlayedIn,
    KeptSounds,
    SinglePlay
};

Kind kindOf(FindingCode code)
{
    switch (code) {
    case FindingCode::CommitCompleted:
    case FindingCode::CommitUndone:
    case FindingCode::StagingSetAside:
        return Kind::Recovery;
    case FindingCode::BgmInOneFile:
    case FindingCode::NoCodeForBgm:
    case FindingCode::NoOtherNotes:
        return Kind::Bgm;
    case FindingCode::InstrumentMissing:
        return Kind::Instrument;
    case FindingCode::SoundOver60s:
        return Kind::LongFile;
    case FindingCode::KeysoundSilent:
        return Kind::Silent;
    case FindingCode::CodesMerged:
        return Kind::Merged;
    case FindingCode::ShortLeadIn:
        return Kind::LeadIn;
    case FindingCode::AllNotesOnDrumChannel:
        return Kind::Drums;
    case FindingCode::EarlierFileRemoved:
        return Kind::Removed;
    case FindingCode::UnlistedFileReplaced:
        return Kind::Replaced;
    case FindingCode::PlayedIn:
        return Kind::PlayedIn;
    case FindingCode::KeptSoundsTrouble:
        return Kind::KeptSounds;
    case FindingCode::SinglePlayMade:
        return Kind::SinglePlay;
    }
    return Kind::PlayedIn;
}

// The result line's words for `count` findings of one kind, the first of them `first`;
// `notes`: the notes of the silent keysounds among them.
QString kindSummary(const Finding& first, int count, std::int64_t notes)
{
    switch (kindOf(first.code)) {
    case Kind::Silent:
        return tr("%1 个K音没有声音，%2 个音符未放入谱面").arg(count).arg(notes);
    case Kind::LongFile:
        return tr("%1 个声音文件长达 60 秒以上，活动不接受").arg(count);
    case Kind::Instrument:
        return tr("音色库缺少 %1 种乐器").arg(count);
    case Kind::Removed:
        return tr("删除了上次生成的 %1 个文件").arg(count);
    case Kind::Replaced:
        return tr("替换了 %1 个非本程序生成的文件").arg(count);
    case Kind::Merged:
        return tr("编号超过 ZZ：%1 个听不出差别的K音已合并").arg(first.as<workflow::CodesMerging>().keysounds);
    default:
        return findingSentence(first);
    }
}

QString auditSummary(const std::vector<workflow::AuditFinding>& audit)
{
    const auto count = [&](workflow::AuditSeverity severity) {
        return std::count_if(audit.begin(), audit.end(), [&](const auto& f) { return f.severity == severity; });
    };
    const auto errors = count(workflow::AuditSeverity::Error);
    const auto warnings = count(workflow::AuditSeverity::Warning);
    // Short: the result line holds two lines at the window's first size.
    if (errors > 0 && warnings > 0) {
        return tr("发布检查 %1 个错误、%2 个警告").arg(errors).arg(warnings);
    }
    if (errors > 0) {
        return tr("发布检查 %1 个错误").arg(errors);
    }
    return warnings > 0 ? tr("发布检查 %1 个警告").arg(warnings) : QString();
}

void addRow(std::vector<FindingRow>& rows, FindingRow row)
{
    const auto same = std::find_if(rows.begin(), rows.end(), [&](const FindingRow& r) {
        return r.text == row.text && r.code == row.code && r.check == row.check;
    });
    if (same != rows.end()) {
        ++same->times;
    } else {
        rows.push_back(std::move(row));
    }
}

}  // namespace

QString findingSentence(const Finding& finding)
{
    switch (finding.code) {
    case FindingCode::CommitCompleted:
    case FindingCode::CommitUndone:
    case FindingCode::StagingSetAside:
        return recoverySentence(finding);
    case FindingCode::BgmInOneFile:
        return skipSentence(workflow::SkipReason::NoCodesForSlices, finding.as<workflow::BgmSkip>().base62);
    case FindingCode::NoCodeForBgm:
        return skipSentence(workflow::SkipReason::NoCodeForBgm, finding.as<workflow::BgmSkip>().base62);
    case FindingCode::NoOtherNotes:
        return skipSentence(workflow::SkipReason::NoOtherNotes, finding.as<workflow::BgmSkip>().base62);
    case FindingCode::InstrumentMissing:
        return missingInstrumentSentence(finding.as<workflow::MissingInstrument>());
    case FindingCode::SoundOver60s:
        return tr("%1 长 %2 秒：活动不接受 60 秒及以上的声音文件；背景音乐选 分段 可让每个文件短于 45 秒")
            .arg(pathToQString(finding.as<workflow::LongSoundFile>().path.filename()))
            .arg(finding.as<workflow::LongSoundFile>().seconds, 0, 'f', 1);
    case FindingCode::KeysoundSilent:
        return silentSentence(finding.as<workflow::SilentKeysound>());
    case FindingCode::CodesMerged:
        return codesMergedSentence(finding.as<workflow::CodesMerging>());
    case FindingCode::ShortLeadIn:
        return tr("谱面在第 %1 秒就开始发声，不足玩家准备所需的 1.5 秒；bmson 谱面没有这个限制")
            .arg(finding.as<double>(), 0, 'f', 3);
    case FindingCode::AllNotesOnDrumChannel:
        return drumChannelHint();
    case FindingCode::EarlierFileRemoved:
        return tr("删除了 %1（上次生成的文件，这次不再用到）").arg(pathToQString(finding.as<std::filesystem::path>()));
    case FindingCode::UnlistedFileReplaced:
        return tr("替换了 %1（不是本程序生成的文件）").arg(pathToQString(finding.as<std::filesystem::path>()));
    case FindingCode::PlayedIn:
        return playedInSentence(finding.as<workflow::PlayedInGrid>());
    case FindingCode::KeptSoundsTrouble:
        return keptSoundsSentence(finding.as<CacheTrouble>());
    case FindingCode::SinglePlayMade:
        return singlePlaySentence(finding.as<workflow::SinglePlayReason>());
    }
    return {};
}

std::vector<FindingRow> findingRows(const std::vector<Finding>& findings,
                                    const std::vector<workflow::AuditFinding>& audit)
{
    std::vector<FindingRow> rows;
    for (const auto& finding : findings) {
        addRow(rows, FindingRow{findingSentence(finding), 1, finding.code, std::nullopt});
    }
    const QStringList lines = auditLines(audit, true);
    for (std::size_t k = 0; k < audit.size() && k < static_cast<std::size_t>(lines.size()); ++k) {
        addRow(rows, FindingRow{lines[static_cast<qsizetype>(k)], 1, std::nullopt, audit[k].check});
    }
    return rows;
}

QStringList findingSummary(const std::vector<Finding>& findings, const std::vector<workflow::AuditFinding>& audit)
{
    // Kinds in the order their first finding came, with their counts.
    std::vector<std::pair<const Finding*, int>> kinds;
    std::int64_t silentNotes = 0;
    for (const auto& finding : findings) {
        if (finding.code == FindingCode::KeysoundSilent) {
            silentNotes += finding.as<workflow::SilentKeysound>().noteCount;
        }
        const auto same = std::find_if(kinds.begin(), kinds.end(), [&](const auto& kind) {
            return kindOf(kind.first->code) == kindOf(finding.code);
        });
        if (same == kinds.end()) {
            kinds.emplace_back(&finding, 1);
        } else {
            ++same->second;
        }
    }
    QStringList parts;
    for (const auto& [first, count] : kinds) {
        parts << kindSummary(*first, count, silentNotes);
    }
    if (const QString checked = auditSummary(audit); !checked.isEmpty()) {
        parts << checked;
    }
    return parts;
}

}  // namespace zentrowe::app

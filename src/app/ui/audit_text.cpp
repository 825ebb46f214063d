#include "app/ui/audit_text.h"

#include <QObject>

#include "app/ui/text.h"

namespace zentrowe::app {

QString auditSeverityText(workflow::AuditSeverity severity)
{
    switch (severity) {
    case workflow::AuditSeverity::Error:
        return QObject::tr("错误");
    case workflow::AuditSeverity::Warning:
        return QObject::tr("警告");
    case workflow::AuditSeverity::Notice:
        return QObject::tr("提示");
    }
    return {};
}

namespace {

// What a chart's own text breaks; an empty string for the other checks.
QString chartTextCheckText(workflow::AuditCheck check)
{
    using workflow::AuditCheck;
    switch (check) {
    case AuditCheck::NoChart:
        return QObject::tr("目录中没有谱面");
    case AuditCheck::UnreadableChart:
        return QObject::tr("谱面无法读取");
    case AuditCheck::ChartLine:
        return QObject::tr("谱面中有读不懂的行");
    case AuditCheck::TextEncoding:
        return QObject::tr("谱面文字不是 Shift_JIS");
    case AuditCheck::MissingHeader:
        return QObject::tr("缺少谱面信息");
    case AuditCheck::HeaderOutOfRange:
        return QObject::tr("谱面信息的值超出播放器能读的范围");
    case AuditCheck::PlayerSide:
        return QObject::tr("#PLAYER 与音符所在的一侧不符");
    case AuditCheck::UndefinedCode:
        return QObject::tr("有编号没有定义");
    case AuditCheck::Base62Codes:
        return QObject::tr("谱面用了 62 进制编号，许多播放器不分大小写或读不懂");
    case AuditCheck::DuplicateDefinition:
        return QObject::tr("编号定义了两次");
    case AuditCheck::UnusedDefinition:
        return QObject::tr("定义了却没有用到的编号");
    default:
        return {};
    }
}

// What the folder's files and the notes' placement break.
QString folderCheckText(workflow::AuditCheck check)
{
    using workflow::AuditCheck;
    switch (check) {
    case AuditCheck::MissingFile:
        return QObject::tr("谱面用到的文件不在目录中");
    case AuditCheck::UnusedFile:
        return QObject::tr("没有谱面用到的文件");
    case AuditCheck::BookkeepingFile:
        return QObject::tr("本程序自己的文件（打包时不放入）");
    case AuditCheck::NamesDifferInCaseOnly:
        return QObject::tr("文件名只有大小写不同，在 Windows 或 macOS 上会成为同一个文件");
    case AuditCheck::NonAsciiFileName:
        return QObject::tr("文件名含非 ASCII 字符，别的系统可能读错");
    case AuditCheck::LongSound:
        return QObject::tr("声音文件长达 60 秒以上");
    case AuditCheck::SilentSound:
        return QObject::tr("声音文件没有声音");
    case AuditCheck::UndecodableSound:
        return QObject::tr("声音文件无法解码");
    case AuditCheck::SoundsTooLarge:
        return QObject::tr("声音文件总大小超出活动的限制");
    case AuditCheck::NoteInFirstMeasure:
        return QObject::tr("第 000 小节有音符");
    case AuditCheck::StackedNotes:
        return QObject::tr("同一键位同一位置有两个音符");
    case AuditCheck::UnendedLongNote:
        return QObject::tr("面条没有结尾");
    case AuditCheck::NoteInLongNote:
        return QObject::tr("面条中间有同一键位的音符");
    case AuditCheck::SoundPlacedTwice:
        return QObject::tr("同一声音在同一时刻放了两次");
    case AuditCheck::NotesWithoutKeysound:
        return QObject::tr("有音符不发声");
    case AuditCheck::LongEnding:
        return QObject::tr("最后一个音符之后还有 30 秒以上的声音");
    case AuditCheck::DifferentKeysoundSets:
        return QObject::tr("同一目录的谱面用了不同的声音");
    case AuditCheck::BmsonValueOutOfScale:
        return QObject::tr("bmson 的值按 BMS 的比例写了");
    default:
        return {};
    }
}

}  // namespace

QString auditCheckText(workflow::AuditCheck check)
{
    QString text = chartTextCheckText(check);
    return text.isEmpty() ? folderCheckText(check) : text;
}

QStringList auditLines(const std::vector<workflow::AuditFinding>& findings, bool withNotices)
{
    QStringList lines;
    for (const auto& finding : findings) {
        if (finding.severity == workflow::AuditSeverity::Notice && !withNotices) {
            continue;
        }
        const QString where = finding.file.empty() ? QObject::tr("目录") : pathToQString(finding.file);
        lines << QObject::tr("%1  %2：%3（%4）")
                     .arg(auditSeverityText(finding.severity), where, auditCheckText(finding.check),
                          toQString(finding.message));
    }
    return lines;
}

}  // namespace zentrowe::app

#include "app/ui/error_sentence.h"

#include <QObject>
#include <cerrno>

#include "app/ui/text.h"
#include "core/convert/keysound_name.h"
#include "core/song/song_summary.h"

namespace zentrowe::app {

namespace {

QString tr(const char* text)
{
    return QObject::tr(text);
}

QString quoted(const std::string& text)
{
    return QStringLiteral("“%1”").arg(toQString(text));
}

QString numberOf(const Error& error)
{
    return error.number ? QString::number(*error.number) : QString();
}

// The system's reason for a refused file operation, in the words a Chinese desktop uses for the
// common ones; the system's own text for the rest.
QString fileReason(const Error& error)
{
    switch (error.systemError) {
    case ENOENT:
        return tr("文件或文件夹不存在");
    case EACCES:
    case EPERM:
        return tr("没有权限");
    case EISDIR:
        return tr("这是一个文件夹");
    case ENOTDIR:
        return tr("路径中有一项不是文件夹");
    case ENOSPC:
        return tr("磁盘空间不足");
    case EDQUOT:
        return tr("超出了磁盘配额");
    case EROFS:
        return tr("文件系统是只读的");
    case EIO:
        return tr("读写出错（输入/输出错误）");
    case ENAMETOOLONG:
        return tr("文件名太长");
    case EFBIG:
        return tr("文件太大");
    case EMFILE:
    case ENFILE:
        return tr("打开的文件太多");
    case EBUSY:
    case ETXTBSY:
        return tr("文件正被使用");
    case 0:
        break;
    default:
        return toQString(error.value);
    }
    if (error.value == "not a regular file") {
        return tr("不是普通文件");
    }
    if (error.value == "it is not a folder") {
        return tr("它不是文件夹");
    }
    return toQString(error.value);
}

// CannotOpen and WriteFailed: the file operation, the file and why.
QString fileSentence(const Error& error, const QString& path)
{
    QString verb;
    if (error.subject == "fault") {
        // An exception that reached a job runner or a face: the program's fault, not the file's.
        return tr("内部错误使工作中止：%1；没有留下写了一半的文件").arg(toQString(error.value));
    }
    if (error.subject.empty()) {
        return path.isEmpty() ? tr("无法使用文件") : tr("无法使用 %1").arg(path);
    }
    if (error.subject == "open") {
        verb = tr("打开");
    } else if (error.subject == "read") {
        verb = tr("读取");
    } else if (error.subject == "write" || error.subject == "write into it") {
        verb = tr("写入");
    } else if (error.subject == "create the folder") {
        verb = tr("创建文件夹");
    } else {
        return {};
    }
    return tr("无法%1 %2：%3").arg(verb, path, fileReason(error));
}

// A refused entry of the settings dialog; the text the user typed is named.
QString settingSentence(const Error& error)
{
    const QString typed = quoted(error.value);
    if (error.subject == "startCode") {
        return tr("输入有误：K列表开始位置 %1 不可用，须是两个字符，每个是 0-9、A-Z 或 a-z").arg(typed);
    }
    if (error.subject == "folderNameEmpty") {
        return tr("输入有误：目录名 %1 不可用，须是一个名字").arg(typed);
    }
    if (error.subject == "folderNameCharacter") {
        return tr("输入有误：目录名 %1 不可用，不能含 < > : \" / \\ | ? * 和控制字符").arg(typed);
    }
    if (error.subject == "folderNameEnding") {
        return tr("输入有误：目录名 %1 不可用，不能以点或空格结尾（Windows 会去掉它们）").arg(typed);
    }
    if (error.subject == "folderNameReserved") {
        return tr("输入有误：目录名 %1 不可用，Windows 把它留给设备").arg(typed);
    }
    if (error.subject == "keysoundName") {
        return tr("输入有误：K音名 %1 不可用，只能用可打印的 ASCII 字符，不能含 / \\ : * ? \" < > |，"
                  "也不能是 . 或 ..")
            .arg(typed);
    }
    if (error.subject == "keysoundNameLength") {
        return tr("输入有误：K音名有 %1 字节，文件名只容许它 %2 字节")
            .arg(numberOf(error))
            .arg(convert::kLongestKeysoundName);
    }
    if (error.subject == "keysoundFileNameLength") {
        return tr("输入有误：这条音轨的通道状态让K音文件名太长，请把K音名缩短到 %1 字节以内").arg(numberOf(error));
    }
    if (error.subject == "longNoteMinimum") {
        return tr("输入有误：面条最小长度 %1 不可用，须是整数").arg(typed);
    }
    if (error.subject == "tempo") {
        return tr("输入有误：BPM %1 不可用，须是每分钟拍数，换算成每四分音符 1 到 16777215 微秒").arg(typed);
    }
    if (error.subject == "gap") {
        return tr("输入有误：K音间空隙 %1 不可用，须是 0 或更大的整数（单位 tick）").arg(typed);
    }
    if (error.subject == "velocityStep") {
        return tr("输入有误：力度合并 %1 不可用，须是 0 到 127 的整数").arg(typed);
    }
    if (error.subject == "lengthStep") {
        return tr("输入有误：长度合并 %1 不可用，须是 0 到 1000000 的整数（单位 1/192 小节）").arg(typed);
    }
    return {};
}

// The other InvalidSetting refusals: what a cut was asked to do with the chart, the keysound
// file or the recording.
QString cutSentence(const Error& error, const QString& path)
{
    const QString number = numberOf(error);
    if (error.subject == "wavLine") {
        return tr("%1 第 %2 行不是“#WAVxx 名称”的K音定义").arg(path, number);
    }
    if (error.subject == "stemEnding") {
        return tr("%1 中的K音 %2 不是以 %3-长度-力度 结尾，无法换掉它的K音名").arg(path, quoted(error.value), number);
    }
    if (error.subject == "division") {
        return tr("K音 MIDI 文件的分辨率是每四分音符 %1 tick，无法算出切割位置").arg(number);
    }
    if (error.subject == "tempoZero") {
        return tr("K音 MIDI 文件的速度是 0，无法算出切割位置");
    }
    if (error.subject == "unsafeStem") {
        return tr("第 %1 个K音的名字 %2 不能用作文件名：只能用可打印的 ASCII 字符，不能含 / \\ : * ? \" < > |")
            .arg(number, quoted(error.value));
    }
    if (error.subject == "beyondWaveLength") {
        return tr("%1：这个K音的位置超出了 WAV 文件能有的长度（K音 MIDI 文件的速度或 tick 数，或录音的字节率太大）")
            .arg(path);
    }
    if (error.subject == "waveSize") {
        return tr("%1：%2 字节的采样放不进一个 WAV 文件").arg(path, number);
    }
    return {};
}

QString notMidiSentence(const Error& error, const QString& path)
{
    const QString head = path.isEmpty() ? tr("这不是 MIDI 文件") : tr("%1 不是 MIDI 文件").arg(path);
    const QString number = numberOf(error);
    if (error.subject.empty()) {
        return head;
    }
    if (error.subject == "tooShort") {
        return head + tr("（太短，放不下文件头）");
    }
    if (error.subject == "noHeader") {
        return head + tr("（没有“MThd”文件头）");
    }
    if (error.subject == "headerLength") {
        return head + tr("（文件头长度不是 6）");
    }
    if (error.subject == "trackCount") {
        return head + tr("（文件头声明了 %1 个音轨）").arg(number);
    }
    if (error.subject == "formatZeroTracks") {
        return head + tr("（格式 0 的文件却有 %1 个音轨）").arg(number);
    }
    return {};
}

QString notWaveSentence(const Error& error, const QString& path)
{
    const QString head = path.isEmpty() ? tr("这不是可用的 WAV 文件") : tr("%1 不是可用的 WAV 文件").arg(path);
    if (error.subject.empty()) {
        return head;
    }
    if (error.subject == "notRiff") {
        return head + tr("（不是 RIFF/WAVE 文件）");
    }
    if (error.subject == "noData") {
        return head + tr("（没有“data”块）");
    }
    if (error.subject == "noFormat") {
        return head + tr("（“data”块之前没有 16 字节或更长的“fmt ”块）");
    }
    if (error.subject == "shortExtensible") {
        return head + tr("（WAVE_FORMAT_EXTENSIBLE 的“fmt ”块短于 40 字节）");
    }
    if (error.subject == "sampleFormat") {
        return head + tr("（采样格式 %1 既不是 PCM 也不是 IEEE 浮点）").arg(toQString(error.value));
    }
    if (error.subject == "channels") {
        return head + tr("（“fmt ”块中的声道数是 0）");
    }
    if (error.subject == "bitsPerSample") {
        return head + tr("（“fmt ”块中的采样位数不是 8、16、24、32（浮点为 32、64））");
    }
    if (error.subject == "sampleRate") {
        return head + tr("（“fmt ”块中的采样率是 0）");
    }
    if (error.subject == "blockAlign") {
        return head + tr("（“fmt ”块中的块对齐与声道数和采样位数不符）");
    }
    if (error.subject == "byteRate") {
        return head + tr("（“fmt ”块中的字节率不等于采样率乘以块对齐）");
    }
    return {};
}

// Codes ran out: for the keysounds (of the track, or of the whole song when every note is one)
// or for the tempos.
QString codesSentence(const Error& error)
{
    const QString number = numberOf(error);
    if (error.subject == "keysounds") {
        if (error.number) {
            return tr("需要 %1 个K音，比 K列表开始位置 %2 之后的编号还多；可改用 62进制编号、K音合并、bmson，"
                      "或把其它音轨做成分段背景音乐")
                .arg(number, toQString(error.value));
        }
        return tr("这个音轨的K音比 K列表开始位置 %1 之后到 ZZ 的编号还多").arg(toQString(error.value));
    }
    if (error.subject == "tempos") {
        return tr("这首歌有超过 %1 种不同的速度，谱面编不了这么多号").arg(number);
    }
    return error.subject.empty() ? tr("K音编号不够用") : QString();
}

// A build that would replace what is not its own: a folder, a file no build made, another song.
QString replaceSentence(const Error& error, const QString& path)
{
    if (error.subject == "folder") {
        return tr("%1 是一个文件夹，一键生成要在这里写入同名文件，不会替换文件夹；请移走或改名，没有写入文件")
            .arg(path);
    }
    if (error.subject == "file") {
        return tr("%1 不是一键生成的文件，一键生成会替换它；没有写入文件").arg(path);
    }
    return tr("%1 是由 %2 生成的，一键生成会替换它；没有写入文件").arg(path, toQString(error.value));
}

// A rendering past the hour, or a chart whose time runs past any clock.
QString tooLongSentence(const Error& error, const QString& path, const QString& number)
{
    if (error.subject == "chartTime") {
        return tr("谱面 %1 的时间过长（BPM 接近 0、极长的 #STOP 或小节），无法绘制").arg(path);
    }
    if (error.subject == "bgm") {
        return tr("音轨 %1 一直播放到 "
                  "%2：背景音乐会超过一小时，这是渲染的上限；请不生成背景音乐，目录中原有的文件没有改动")
            .arg(number, toQString(error.value));
    }
    return tr("要渲染的声音超过一小时，这是渲染的上限；目录中原有的文件没有改动");
}

// A file that cannot be opened: a soundfont says what one is, a MIDI file given as a chart
// says what to do first.
QString openSentence(const Error& error, const QString& path)
{
    if (error.subject == "soundFont") {
        // Without a soundfont nothing can be rendered; say what one is and where Debian's is.
        const QString reason = error.value == "no such file" ? tr("文件不存在")
                               : error.value == "not a file" ? tr("不是普通文件")
                                                             : tr("不是音色库（SoundFont）文件");
        return tr("无法使用音色库 %1：%2；一键生成需要一个 General MIDI 音色库（.sf2），"
                  "可以安装 fluid-soundfont-gm；没有写入文件")
            .arg(path, reason);
    }
    if (error.subject == "midi") {
        return tr("%1 是 MIDI 文件，不是谱面：请先用 一键生成 做出谱面目录，再对目录做发布检查").arg(path);
    }
    return fileSentence(error, path);
}

QString divisionSentence(const Error& error, const QString& path, const QString& number)
{
    if (error.subject == "smpte") {
        return tr("%1 使用 SMPTE 时间分辨率；只支持以每四分音符 tick 数计的分辨率").arg(path);
    }
    if (error.subject == "division") {
        return tr("这首歌的分辨率是每四分音符 %1 tick，音符无法放进小节").arg(number);
    }
    return error.subject.empty() ? tr("不支持这首歌的时间分辨率") : QString();
}

// A track number past the song's, or none chosen (number 0).
QString trackSentence(const Error& error, const QString& number)
{
    if (!error.number) {
        return error.value.empty() ? tr("没有这个音轨") : tr("没有第 %1 个音轨").arg(toQString(error.value));
    }
    return *error.number < 1 ? tr("请先在音轨列表中选择一个音轨") : tr("没有第 %1 个音轨").arg(number);
}

QString invalidSettingSentence(const Error& error, const QString& path)
{
    if (error.subject.empty()) {
        return tr("输入有误");
    }
    if (const QString setting = settingSentence(error); !setting.isNull()) {
        return setting;
    }
    return cutSentence(error, path);
}

QString emptyTrackSentence(const Error& error)
{
    if (!error.number) {
        return tr("这个音轨没有可以转换的音符；没有写入文件");
    }
    // The value is the track's name, or the part as --track names it ("2", "1:3") when one of
    // several parts, or a single channel, plays nothing.
    const int trackNumber = static_cast<int>(*error.number);
    QString track = toQString(song::trackLabel(trackNumber));
    const std::string whole = std::to_string(trackNumber);
    if (error.value.starts_with(whole + ":")) {
        track += tr(" 通道 %1").arg(toQString(error.value.substr(whole.size() + 1)));
    } else if (!error.value.empty() && error.value != whole) {
        track += tr("（%1）").arg(quoted(error.value));
    }
    return tr("%1 没有可以转换的音符；没有写入文件").arg(track);
}

QString overwriteSentence(const Error& error, const QString& path)
{
    if (error.subject == "source") {
        return tr("写入 %1 会覆盖正在转换的 MIDI 文件；没有写入文件").arg(path);
    }
    if (error.subject == "recording") {
        return tr("%1 就是录音本身；没有切割").arg(path);
    }
    return error.subject.empty() ? tr("输出会覆盖输入的文件；没有写入文件") : QString();
}

// The sentence for the code and the values the error carries; null for a subject not known here.
QString chineseSentence(const Error& error)
{
    const QString path = toQString(error.path);
    const QString number = numberOf(error);
    switch (error.code) {
    case ErrorCode::CannotOpen:
        return openSentence(error, path);
    case ErrorCode::WriteFailed:
        return fileSentence(error, path);
    case ErrorCode::NotMidi:
        return notMidiSentence(error, path);
    case ErrorCode::UnsupportedDivision:
        return divisionSentence(error, path, number);
    case ErrorCode::TrackOutOfRange:
        return trackSentence(error, number);
    case ErrorCode::InvalidSetting:
        return invalidSettingSentence(error, path);
    case ErrorCode::CodesExhausted:
        return codesSentence(error);
    case ErrorCode::MeasureOutOfRange:
        return error.number ? tr("有音符或速度变化落在第 %1 小节，而谱面只能有 000 到 999 小节").arg(number)
                            : tr("这首歌太长：谱面只能有 000 到 999 小节");
    case ErrorCode::NoteTooLong:
        return error.number ? tr("第 %1 tick 的音符太长，K-Midi.mid 的时间差装不下；没有写入文件").arg(number)
                            : tr("有音符太长，K-Midi.mid 的时间差装不下；没有写入文件");
    case ErrorCode::NotPcmWave:
        return notWaveSentence(error, path);
    case ErrorCode::SilentRecording:
        return (path.isEmpty() ? tr("录音") : path) +
               tr(" 中没有一个采样达到满幅度的 0.001，没有可切割的声音；渲染时用了音色库（soundfont）吗？"
                  "没有写入文件");
    case ErrorCode::MixTooLong:
        return tr("这个谱面的声音超过一小时，无法一次混音；请只混其中一段");
    case ErrorCode::EmptyTrack:
        return emptyTrackSentence(error);
    case ErrorCode::WouldOverwriteSource:
        return overwriteSentence(error, path);
    case ErrorCode::Cancelled:
        return tr("已取消");
    case ErrorCode::FolderBusy:
        return tr("另一个转换、一键生成或切割正在写入目录 %1；请等它完成后再试，没有写入文件").arg(path);
    case ErrorCode::WouldReplaceChart:
        return replaceSentence(error, path);
    case ErrorCode::TooLong:
        return tooLongSentence(error, path, number);
    case ErrorCode::AuditFailed:
        return tr("目录 %1 的检查发现错误，请先改正；没有打包").arg(path);
    case ErrorCode::OutOfMemory:
        return tr("内存不足，无法完成；没有写入不完整的文件");
    }
    return {};
}

}  // namespace

QString instrumentText(const audio::Instrument& instrument)
{
    if (instrument.drums) {
        return tr("%1 号鼓组").arg(instrument.program);
    }
    return tr("音色组 %1 的 %2 号音色").arg(instrument.bank).arg(instrument.program);
}

QString errorSentence(const Error& error)
{
    const QString sentence = chineseSentence(error);
    return sentence.isNull() ? toQString(error.message) : sentence;
}

QString skipSentence(workflow::SkipReason reason, bool base62)
{
    switch (reason) {
    case workflow::SkipReason::NoCodeForBgm:
        return base62 ? tr("没有生成背景音乐：K音已用完到 zz 的全部编号")
                      : tr("没有生成背景音乐：K音已用完到 ZZ 的全部编号");
    case workflow::SkipReason::NoOtherNotes:
        return tr("没有生成背景音乐：其它音轨没有音符");
    case workflow::SkipReason::NoCodesForSlices:
        return base62 ? tr("背景音乐分段所需编号超过 zz，改为一个文件；改用 bmson 或合并K音可分段")
                      : tr("背景音乐分段所需编号超过 ZZ，改为一个文件；改用 bmson、62 进制编号或合并K音可分段");
    }
    return tr("没有生成背景音乐");
}

QString missingInstrumentSentence(const workflow::MissingInstrument& missing)
{
    const QString who = missing.inBgm ? tr("背景音乐") : tr("K音");
    if (missing.playedBy) {
        return tr("音色库（soundfont）中没有%1，%2改用%3")
            .arg(instrumentText(missing.instrument), who, instrumentText(*missing.playedBy));
    }
    return tr("音色库（soundfont）中没有%1，用到它的%2没有声音").arg(instrumentText(missing.instrument), who);
}

QString drumChannelHint()
{
    return tr("提示：这个音轨的音符都在第 10 通道（鼓），按鼓件生成K音请勾选 打击乐器 再转换");
}

}  // namespace zentrowe::app

#include <gtest/gtest.h>

#include "app/ui/audit_text.h"
#include "app/ui/error_sentence.h"
#include "app/ui/text.h"
#include "core/audio/synth_renderer.h"
#include "core/base/progress.h"
#include "core/convert/settings.h"
#include "core/song/song_summary.h"
#include "support/test_support.h"

namespace zentrowe::app {
namespace {

using namespace zentrowe::testing;
namespace fs = std::filesystem;

bool hasHan(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) {
            return true;
        }
    }
    return false;
}

// Every release check names itself in Chinese, and no two checks read alike, so a finding's
// line in the checklist tells which rule it broke.
TEST(AuditText, EveryCheckHasItsOwnChineseName)
{
    using workflow::AuditCheck;
    QStringList seen;
    for (int check = 0; check <= static_cast<int>(AuditCheck::BmsonValueOutOfScale); ++check) {
        SCOPED_TRACE(check);
        const QString text = auditCheckText(static_cast<AuditCheck>(check));
        EXPECT_TRUE(hasHan(text)) << text.toStdString();
        EXPECT_FALSE(seen.contains(text)) << text.toStdString();
        seen.append(text);
    }
}

TEST(ErrorSentence, EveryCodeHasAChineseSentence)
{
    for (int code = 0; code <= static_cast<int>(kLastErrorCode); ++code) {
        SCOPED_TRACE(code);
        const QString sentence = errorSentence(Error{static_cast<ErrorCode>(code), "an English sentence"});
        EXPECT_TRUE(hasHan(sentence)) << sentence.toStdString();
        EXPECT_FALSE(sentence.contains(QStringLiteral("English"))) << sentence.toStdString();
    }
    // A rule the window has no sentence for keeps the core's sentence rather than a wrong one.
    EXPECT_EQ(errorSentence(Error{ErrorCode::InvalidSetting, "a rule added later"}.about("laterRule")),
              QStringLiteral("a rule added later"));
    EXPECT_EQ(errorSentence(Error{ErrorCode::NotMidi, "x.mid: odd"}.inFile("x.mid").about("laterRule")),
              QStringLiteral("x.mid: odd"));
}

TEST(ErrorSentence, FilesTheCoreCannotReadAreNamedWithTheReasonInChinese)
{
    TempDir temp;
    const fs::path missing = temp / "gone.mid";
    const fs::path text = temp / "notes.mid";
    writeFile(text, std::string_view("this is text, not a song"));
    const fs::path folder = temp / "folder.mid";
    fs::create_directory(folder);
    const fs::path shortFile = temp / "short.mid";
    writeFile(shortFile, bytes({'M', 'T', 'h', 'd'}));
    struct Case {
        fs::path file;
        const char* reason;
    };
    for (const auto& c : {Case{missing, "无法打开"}, Case{missing, "不存在"}, Case{folder, "不是普通文件"},
                          Case{text, "不是 MIDI 文件（没有“MThd”文件头）"}, Case{shortFile, "太短"}}) {
        SCOPED_TRACE(c.file.filename().string() + " " + c.reason);
        NullProgress quiet;
        const auto read = song::readSongSummary(c.file, quiet);
        ASSERT_FALSE(read);
        const QString sentence = errorSentence(read.error());
        EXPECT_TRUE(sentence.contains(toQString(c.file.string()))) << sentence.toStdString();
        EXPECT_TRUE(sentence.contains(QString::fromUtf8(c.reason))) << sentence.toStdString();
        EXPECT_FALSE(sentence.contains(QStringLiteral("cannot"))) << sentence.toStdString();
    }
}

TEST(ErrorSentence, ASoundFontThatCannotRenderIsNamedWithTheReasonInChinese)
{
    TempDir temp;
    const fs::path missing = temp / "gone.sf2";
    const fs::path text = temp / "notes.sf2";
    writeFile(text, std::string_view("RIFF but not a soundfont at all"));
    const fs::path folder = temp / "folder.sf2";
    fs::create_directory(folder);
    struct Case {
        fs::path file;
        const char* reason;
    };
    for (const auto& c : {Case{missing, "文件不存在"}, Case{text, "不是音色库（SoundFont）文件"}, Case{folder, "不是普通文件"}}) {
        SCOPED_TRACE(c.file.filename().string());
        const auto opened = audio::SynthRenderer::open(c.file);
        ASSERT_FALSE(opened);
        const QString sentence = errorSentence(opened.error());
        EXPECT_TRUE(sentence.startsWith(QStringLiteral("无法使用音色库 ") + toQString(c.file.string())))
            << sentence.toStdString();
        EXPECT_TRUE(sentence.contains(QString::fromUtf8(c.reason))) << sentence.toStdString();
        EXPECT_TRUE(sentence.contains(QStringLiteral("fluid-soundfont-gm"))) << sentence.toStdString();
    }
}

TEST(ErrorSentence, AnEmptyTrackIsNamedByItsNameOrTheChannelOfThePartChosen)
{
    struct Case {
        const char* value;  // the track's name, or the part as --track names it
        int track;
        const char* named;
    };
    for (const Case& c : {Case{"Piano", 2, "音轨 02（“Piano”）"}, Case{"1", 1, "音轨 01"}, Case{"1:3", 1, "音轨 01 通道 3"},
                          Case{"12:10", 12, "音轨 12 通道 10"}, Case{"", 4, "音轨 04"}}) {
        SCOPED_TRACE(c.value);
        const Error error = Error{ErrorCode::EmptyTrack, "no notes"}.withValue(c.value).withNumber(c.track);
        EXPECT_EQ(errorSentence(error), QString::fromUtf8(c.named) + QStringLiteral(" 没有可以转换的音符；没有写入文件"));
    }
}

TEST(ErrorSentence, ARefusedSettingStartsWithInputErrorAndNamesTheBoxAndTheText)
{
    struct Case {
        const char* box;
        const char* typed;
        void (*set)(convert::SettingsTexts&, const char*);
    };
    const Case cases[] = {
        {"K列表开始位置", "0", [](convert::SettingsTexts& t, const char* v) { t.startCode = v; }},
        {"K音名", "a/b", [](convert::SettingsTexts& t, const char* v) { t.keysoundName = v; }},
        {"面条最小长度", "1e3", [](convert::SettingsTexts& t, const char* v) { t.longNoteMinimum = v; }},
        {"BPM", "0", [](convert::SettingsTexts& t, const char* v) {
             t.useCustomTempo = true;
             t.tempo = v;
         }},
        {"K音间空隙", "-3", [](convert::SettingsTexts& t, const char* v) { t.gap = v; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        convert::SettingsTexts texts;
        c.set(texts, c.typed);
        const auto refused = convert::parseSettings(texts);
        ASSERT_FALSE(refused);
        const QString sentence = errorSentence(refused.error());
        EXPECT_TRUE(sentence.startsWith(QStringLiteral("输入有误：%1 “%2”").arg(QString::fromUtf8(c.box), c.typed)))
            << sentence.toStdString();
    }
}

TEST(ErrorSentence, BuildNotesAreInChineseWhateverTheBase)
{
    EXPECT_EQ(skipSentence(workflow::SkipReason::NoCodeForBgm, true), QStringLiteral("没有生成背景音乐：K音已用完到 zz 的全部编号"));
    EXPECT_EQ(skipSentence(workflow::SkipReason::NoCodeForBgm, false), QStringLiteral("没有生成背景音乐：K音已用完到 ZZ 的全部编号"));
    EXPECT_TRUE(hasHan(skipSentence(workflow::SkipReason::NoOtherNotes, false)));
    EXPECT_EQ(missingInstrumentSentence({{5, 3, false}, audio::Instrument{0, 3, false}, false}),
              QStringLiteral("音色库（soundfont）中没有音色组 5 的 3 号音色，K音改用音色组 0 的 3 号音色"));
    EXPECT_EQ(missingInstrumentSentence({{0, 0, true}, std::nullopt, true}),
              QStringLiteral("音色库（soundfont）中没有0 号鼓组，用到它的背景音乐没有声音"));
}

}  // namespace
}  // namespace zentrowe::app

#include "core/chart/named_files.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace zentrowe::chart {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string listed(const std::vector<FileReference>& references)
{
    std::string text;
    for (const auto& reference : references) {
        text += std::to_string(static_cast<int>(reference.role)) + " " + reference.name + "\n";
    }
    return text;
}

TEST(NamedFiles, ABmsTextNamesEveryFileOfEveryBranch)
{
    struct Case {
        const char* line;
        const char* name;  // nullptr: the line names no file
        FileRole role;
    };
    const Case cases[] = {
        {"#WAV01 kick.wav", "kick.wav", FileRole::Keysound},
        {"#wavZZ  sub\\snare drum.ogg  ", "sub\\snare drum.ogg", FileRole::Keysound},
        // "#EXWAVxx pvf pan volume frequency name": one number per letter before the name.
        {"#EXWAV04 pv 10000 0 ex.wav", "ex.wav", FileRole::Keysound},
        {"#EXWAV05 f 22050 slow wave.wav", "slow wave.wav", FileRole::Keysound},
        {"#BMP00 poor.bmp", "poor.bmp", FileRole::Picture},
        {"#BMP02 movie.mp4", "movie.mp4", FileRole::Picture},
        {"#EXBMP03 255,0,0,0 layer.png", "layer.png", FileRole::Picture},
        {"#STAGEFILE stage.png", "stage.png", FileRole::Picture},
        {"#BANNER banner.bmp", "banner.bmp", FileRole::Picture},
        {"#BACKBMP back.jpg", "back.jpg", FileRole::Picture},
        {"#PREVIEW prev.wav", "prev.wav", FileRole::Preview},
        {"#VIDEOFILE video.avi", "video.avi", FileRole::Movie},
        {"#CHARFILE char.chp", "char.chp", FileRole::Other},
        {"#WAV02", nullptr, FileRole::Keysound},
        {"#TITLE song.wav", nullptr, FileRole::Keysound},
        {"#00111:0102", nullptr, FileRole::Keysound},
        {"#BPM01 120", nullptr, FileRole::Keysound},
        {"WAV01 kick.wav", nullptr, FileRole::Keysound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto references = bmsFileReferences(bytesOf(std::string("#TITLE t\r\n") + c.line + "\r\n"));
        if (c.name == nullptr) {
            EXPECT_TRUE(references.empty()) << listed(references);
            continue;
        }
        ASSERT_EQ(references.size(), 1u) << listed(references);
        EXPECT_EQ(references[0].name, c.name);
        EXPECT_EQ(references[0].role, c.role);
        EXPECT_EQ(references[0].line, 2u);
    }

    // A player takes one branch of each #RANDOM; a folder needs the files of all of them.
    const auto branches = bmsFileReferences(bytesOf("#RANDOM 2\n#IF 1\n#WAV05 rand1.wav\n#ENDIF\n"
                                                    "#IF 2\r#WAV06 rand2.wav\r#ENDIF\n#ENDRANDOM\n"));
    ASSERT_EQ(branches.size(), 2u) << listed(branches);
    EXPECT_EQ(branches[1].name, "rand2.wav");
    EXPECT_EQ(branches[1].line, 6u);  // CR alone ends a line too

    // UTF-16 with its byte-order mark, as some editors save charts.
    const std::string utf16("\xFF\xFE#\0W\0A\0V\0"
                            "0\0"
                            "1\0 \0k\0.\0w\0a\0v\0\n\0",
                            28);
    const auto wide = bmsFileReferences(bytesOf(utf16));
    ASSERT_EQ(wide.size(), 1u) << listed(wide);
    EXPECT_EQ(wide[0].name, "k.wav");
}

TEST(NamedFiles, ABmsonTextNamesItsImagesPreviewAndEveryChannelsSound)
{
    const auto references = bmsonFileReferences(bytesOf(
        R"({"info":{"title":"t","eyecatch_image":"eye.png","banner_image":"","back_image":"back.png",)"
        R"("title_image":"title.png","preview_music":"prev.ogg"},"bga":{"bga_header":[{"id":1,"name":"bga.png"},)"
        R"({"id":2}]},"sound_channels":[{"name":"a.wav","notes":[]},{"notes":[]}],)"
        R"("key_channels":[{"name":"k.wav"}],"mine_channels":[{"name":"m.wav"}]})"));
    EXPECT_EQ(listed(references),
              "2 back.png\n2 eye.png\n2 title.png\n1 prev.ogg\n2 bga.png\n0 a.wav\n0 k.wav\n0 m.wav\n");
    EXPECT_TRUE(bmsonFileReferences(bytesOf(R"({"info":)")).empty());
    EXPECT_TRUE(bmsonFileReferences(bytesOf("[1,2]")).empty());
}

}  // namespace
}  // namespace zentrowe::chart

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zentrowe::chart {

// What a chart does with a file it names.
enum class FileRole : std::uint8_t {
    Keysound,  // #WAVxx, #EXWAVxx; bmson's sound, key and mine channels
    Preview,   // #PREVIEW; bmson's info.preview_music
    Picture,   // #BMPxx, #EXBMPxx, #STAGEFILE, #BANNER, #BACKBMP; bmson's images and bga
    Movie,     // #VIDEOFILE
    Other,     // #CHARFILE, #MIDIFILE
};

// A file name as a chart writes it.
struct FileReference {
    std::string name;  // bytes as written, blanks around it left out
    FileRole role = FileRole::Other;
    std::uint32_t line = 0;  // 1-based line of a BMS text; 0 in bmson
};

// Every file a BMS text names, in file order, on every branch of its #RANDOM / #IF blocks: a
// player may take any of them, so a folder needs them all. Text in UTF-16 with its byte-order
// mark is read as the same text in UTF-8. A line that names no file is passed over; never fails.
std::vector<FileReference> bmsFileReferences(std::span<const std::uint8_t> bytes);

// Every file a bmson text names (info's images and preview_music, the bga's pictures, every
// channel's sound), in the order the text gives them. Nothing for text that is no JSON object.
std::vector<FileReference> bmsonFileReferences(std::span<const std::uint8_t> bytes);

}  // namespace zentrowe::chart

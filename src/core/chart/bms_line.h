#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrowe::chart {

// One line of a BMS chart, told apart as players read it: a channel line "#mmmcc:data" (three
// decimal digits of measure, two of channel), a command "#WORD argument" (the word is read
// without case, so "#wav01" is "#WAV01"), or anything else (blank, comment, text without '#'),
// which players pass over.
struct BmsLine {
    enum class Kind { Other, Command, Channel };
    Kind kind = Kind::Other;
    std::string command;        // a command's word, upper-cased: "WAV01", "TITLE"
    std::string_view word;      // the same word as written: base-62 codes in it keep their case
    std::string_view argument;  // what follows the word, without the blanks around it
    std::int32_t measure = 0;   // a channel line's 0 to 999
    int channel = 0;            // a channel line's 0 to 99, read as a decimal number
    std::string_view data;      // a channel line's objects, without the blanks around them
};

// Blanks as players skip them around words: space, tab, CR, VT, FF.
bool isBmsBlank(char c);
std::string_view trimBmsBlanks(std::string_view text);

// `line` is one line without its line end; blanks around it are ignored.
BmsLine scanBmsLine(std::string_view line);

// Calls visit(lineNumber, line) for every line of `text`, numbered from 1, without its end: LF,
// CR LF and CR alone each end a line; a last line without an end is visited too.
template <typename Visit>
void forEachBmsLine(std::string_view text, Visit&& visit)
{
    std::uint32_t lineNumber = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++lineNumber;
        visit(lineNumber, text.substr(pos, end - pos));
        pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
}

}  // namespace zentrowe::chart

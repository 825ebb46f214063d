#include "core/chart/bms_line.h"

#include <algorithm>

namespace zentrowe::chart {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int digitsValue(std::string_view digits)
{
    int value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

// "#mmmcc:" followed by the data.
bool isChannelLine(std::string_view text)
{
    return text.size() >= 7 && text[0] == '#' && text[6] == ':' &&
           std::all_of(text.begin() + 1, text.begin() + 6, isDigit);
}

}  // namespace

bool isBmsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimBmsBlanks(std::string_view text)
{
    while (!text.empty() && isBmsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBmsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

BmsLine scanBmsLine(std::string_view line)
{
    const std::string_view text = trimBmsBlanks(line);
    BmsLine scanned;
    if (text.empty() || text[0] != '#') {
        return scanned;
    }
    if (isChannelLine(text)) {
        scanned.kind = BmsLine::Kind::Channel;
        scanned.measure = digitsValue(text.substr(1, 3));
        scanned.channel = digitsValue(text.substr(4, 2));
        scanned.data = trimBmsBlanks(text.substr(7));
        return scanned;
    }
    scanned.kind = BmsLine::Kind::Command;
    const std::size_t wordEnd =
        static_cast<std::size_t>(std::find_if(text.begin() + 1, text.end(), isBmsBlank) - text.begin());
    scanned.word = text.substr(1, wordEnd - 1);
    scanned.command.reserve(scanned.word.size());
    for (const char c : scanned.word) {
        scanned.command += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    scanned.argument = trimBmsBlanks(text.substr(wordEnd));
    return scanned;
}

}  // namespace zentrowe::chart

#include "core/song/event_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/base/exact_ratio.h"
#include "core/base/number_text.h"
#include "core/base/text_decoding.h"

namespace zentrowe::song {

namespace {

constexpr std::array<std::string_view, 12> kNoteNames = {"C",  "C#", "D",  "D#", "E",  "F",
                                                         "F#", "G",  "G#", "A",  "A#", "B"};

void appendNumber(std::string& out, std::int64_t value)
{
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

void appendHex(std::string& out, std::uint8_t value)
{
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    out += kDigits[value >> 4];
    out += kDigits[value & 0x0F];
}

void appendNoteName(std::string& out, int note)
{
    out += kNoteNames[static_cast<std::size_t>(note % 12)];
    appendNumber(out, note / 12 - 1);
}

// 2^exponent in decimal, exactly (a time signature's denominator byte may be anything up to
// 255, far past what any integer type holds).
std::string powerOfTwo(unsigned exponent)
{
    std::vector<std::uint8_t> digits{1};  // least significant first
    for (unsigned i = 0; i < exponent; ++i) {
        unsigned carry = 0;
        for (auto& digit : digits) {
            const unsigned doubled = digit * 2u + carry;
            digit = static_cast<std::uint8_t>(doubled % 10);
            carry = doubled / 10;
        }
        if (carry != 0) {
            digits.push_back(static_cast<std::uint8_t>(carry));
        }
    }
    std::string text;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        text += static_cast<char>('0' + *it);
    }
    return text;
}

}  // namespace

std::string noteName(int note)
{
    std::string text;
    appendNoteName(text, note);
    return text;
}

std::string hexByte(std::uint8_t value)
{
    std::string text;
    appendHex(text, value);
    return text;
}

std::string formatBpm(std::uint32_t tempoMicros)
{
    if (tempoMicros == 0) {
        return "000.00";
    }
    const std::int64_t hundredths = roundRatioHalfEven(std::int64_t{6000000000}, tempoMicros);
    std::string text = std::to_string(hundredths / 100);
    if (text.size() < 3) {
        text.insert(0, 3 - text.size(), '0');
    }
    const auto fraction = static_cast<int>(hundredths % 100);
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    text += static_cast<char>('0' + fraction % 10);
    return text;
}

std::string formatExactBpm(std::uint32_t tempoMicros)
{
    if (tempoMicros == 0) {
        return formatBpm(tempoMicros);
    }
    const double bpm = 60'000'000.0 / tempoMicros;
    for (int decimals = 2;; ++decimals) {
        std::string text = fixedText(bpm, decimals, decimals + 4);
        const double readBack = 60'000'000.0 / parseDecimal(text).value_or(bpm);
        if (decimals == 9 || std::abs(readBack - tempoMicros) < 1e-3) {
            return text;
        }
    }
}

std::uint32_t tempoOf(const MetaEvent& event)
{
    if (event.data.size() < 3) {
        return 0;
    }
    return (std::uint32_t{event.data[0]} << 16) | (std::uint32_t{event.data[1]} << 8) | event.data[2];
}

namespace {

std::string describeSequenceNumber(const MetaEvent& event)
{
    if (event.lengthByte == 0) {
        return "Seqnr";
    }
    std::string text = "    ";
    appendNumber(text, event.data[0] * 256 + event.data[1]);
    return text;
}

std::string describeChannelOrPort(const MetaEvent& event)
{
    std::string text = event.type == 0x20 ? "Midi Chan   " : "Midi Port    ";
    if (event.lengthByte != 1) {
        text += "???len";
    }
    appendHex(text, event.data[0]);
    return text;
}

std::string describeTempo(const MetaEvent& event)
{
    std::string text = "Tempo  ";
    if (event.lengthByte != 3) {
        text += " ???Len ";
    }
    const std::uint32_t tempo = tempoOf(event);
    text += formatBpm(tempo);
    text += " BPM  ";
    appendNumber(text, tempo);
    return text;
}

std::string describeSmpteOffset(const MetaEvent& event)
{
    std::string text = "SMPTE Offs   ";
    if (event.lengthByte != 5) {
        text += " ???Len";
    }
    for (const std::uint8_t b : event.data) {
        appendHex(text, b);
    }
    return text;
}

std::string describeTimeSignature(const MetaEvent& event)
{
    const auto data = event.data;
    std::string text = "Time Sign    ";
    if (event.lengthByte != 4) {
        text += " ???Len ";
    }
    appendNumber(text, data[0]);
    text += "/";
    text += powerOfTwo(data[1]);
    text += " - ";
    appendNumber(text, data[2]);
    text += " clocks- ";
    appendNumber(text, data[3]);
    text += " 32 ";
    return text;
}

std::string describeKeySignature(const MetaEvent& event)
{
    std::string text = "Key Sign     ";
    if (event.lengthByte != 2) {
        text += " ???len";
    }
    for (const std::uint8_t b : event.data) {
        appendHex(text, b);
        text += " ";
    }
    return text;
}

}  // namespace

std::string describeMetaEvent(const MetaEvent& event)
{
    switch (event.type) {
    case 0x00:
        return describeSequenceNumber(event);
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x07:
        // MIDI names no encoding: the detection track names and chart headers use, so that a
        // Shift_JIS song reads the same in every listing.
        return decodeListedText(event.data);
    case 0x20:
    case 0x21:
        return describeChannelOrPort(event);
    case 0x2F:
        return "End of track ";
    case 0x51:
        return describeTempo(event);
    case 0x54:
        return describeSmpteOffset(event);
    case 0x58:
        return describeTimeSignature(event);
    case 0x59:
        return describeKeySignature(event);
    case 0x7F: {
        std::string text = "propr.- len  ";
        appendNumber(text, event.declaredLength);
        return text;
    }
    default:
        return {};
    }
}

std::string_view channelEventLabel(const ChannelEvent& event)
{
    switch (event.kind()) {
    case 0x80:
        return "Note off";
    case 0x90:
        return "Note on";
    case 0xA0:
        return "Key Pressure";
    case 0xB0:
        return "Control Change ";
    case 0xC0:
        return "Program Change";
    case 0xD0:
        return "Chan Press";
    default:
        return "Pitch bend";
    }
}

void describeChannelEvent(const ChannelEvent& event, std::string& out)
{
    switch (event.kind()) {
    case 0x80:
    case 0x90:
        out += "Cannel=";
        appendNumber(out, event.channel());
        out += " Num=";
        appendNumber(out, event.data1);
        out += ' ';
        appendNoteName(out, event.data1);
        out += " Vol=";
        appendNumber(out, event.data2);
        return;
    case 0xA0:
    case 0xB0:
        out += "Num=";
        appendNumber(out, event.data1);
        out += " Value=";
        appendNumber(out, event.data2);
        return;
    case 0xC0:
        out += "Num=";
        appendNumber(out, event.data1);
        return;
    case 0xD0:
        appendNumber(out, event.data1);
        return;
    default:
        out += "Hig=";
        appendNumber(out, event.data1);
        out += " Low=";
        appendNumber(out, event.data2);
        return;
    }
}

void describeSysExEvent(const SysExEvent& event, std::string& out)
{
    out += "SysE - len: ";
    appendNumber(out, event.length);
}

}  // namespace zentrowe::song

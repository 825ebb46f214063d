#pragma once

#include <QString>
#include <filesystem>
#include <string>
#include <string_view>

namespace zentrowe::app {

// The core speaks UTF-8 and std::filesystem; the windows speak QString.
QString toQString(std::string_view utf8);
QString pathToQString(const std::filesystem::path& path);
std::string toUtf8(const QString& text);
std::filesystem::path toPath(const QString& path);

// "Zentrowe 1.1.0": the program's name and the build's version, as `zentrowe-cli --version` says it.
QString programCaption();

// A name from the core's tables as the list shows it: without the padding the tables end in
// (the command line keeps it), and a space after a closing parenthesis that runs into a word.
QString displayedName(std::string_view utf8);

// True for the names MIDI files go by: .mid, .midi and .kar (karaoke), in any case.
bool isMidiFileName(const QString& path);

// The open dialog's filter for them.
QString midiFileFilter();
// The open dialog's filter for charts: BMS in its spellings, and bmson.
QString chartFileFilter();

// Window positions and sizes were laid out in twips: 15 to a pixel.
constexpr int kTwipsPerPixel = 15;
int twipsToPixels(int twips);
int pixelsToTwips(int pixels);

}  // namespace zentrowe::app

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

// Window positions and sizes were laid out in twips: 15 to a pixel.
constexpr int kTwipsPerPixel = 15;
int twipsToPixels(int twips);
int pixelsToTwips(int pixels);

}  // namespace zentrowe::app

#include "app/ui/text.h"

#include <QFile>
#include <cmath>

namespace zentrowe::app {

QString toQString(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString pathToQString(const std::filesystem::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

std::string toUtf8(const QString& text)
{
    return text.toStdString();
}

std::filesystem::path toPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

int twipsToPixels(int twips)
{
    return static_cast<int>(std::nearbyint(static_cast<double>(twips) / kTwipsPerPixel));
}

int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

}  // namespace zentrowe::app

#include "app/ui/text.h"

#include <QFile>
#include <cmath>

namespace zentrowe::app {

QString programCaption()
{
    return QStringLiteral("Zentrowe " ZENTROWE_VERSION);
}

QString displayedName(std::string_view utf8)
{
    QString name = toQString(utf8);
    while (name.endsWith(QLatin1Char(' '))) {
        name.chop(1);
    }
    for (qsizetype at = name.indexOf(QLatin1Char(')')); at >= 0 && at + 1 < name.size();
         at = name.indexOf(QLatin1Char(')'), at + 1)) {
        if (name.at(at + 1).isLetterOrNumber()) {
            name.insert(at + 1, QLatin1Char(' '));
        }
    }
    return name;
}

bool isMidiFileName(const QString& path)
{
    for (const char* extension : {".mid", ".midi", ".kar"}) {
        if (path.endsWith(QLatin1String(extension), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

QString midiFileFilter()
{
    // Both cases spelled out: some desktops' file dialogs match filters case-sensitively.
    return QStringLiteral("MIDI (*.mid *.midi *.kar *.MID *.MIDI *.KAR *.Mid)");
}

QString chartFileFilter()
{
    return QStringLiteral("BMS (*.bms *.bme *.bml *.pms *.bmson *.BMS *.BME *.BML *.PMS *.BMSON)");
}

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

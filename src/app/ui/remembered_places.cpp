#include "app/ui/remembered_places.h"

#include <QFileInfo>
#include <QSettings>

namespace zentrowe::app {

namespace {

const QString kOpenFolderKey = QStringLiteral("places/openFolder");
const QString kOutputFolderKey = QStringLiteral("places/outputFolder");
const QString kRecentFilesKey = QStringLiteral("places/recentFiles");
const QString kSoundFontKey = QStringLiteral("places/soundFont");
const QString kWindowGeometryKey = QStringLiteral("window/geometry");

}  // namespace

QString RememberedPlaces::openFolder() const
{
    return m_settings.value(kOpenFolderKey).toString();
}

QString RememberedPlaces::outputFolder() const
{
    return m_settings.value(kOutputFolderKey).toString();
}

QStringList RememberedPlaces::recentFiles() const
{
    return m_settings.value(kRecentFilesKey).toStringList().mid(0, kMaxRecentFiles);
}

void RememberedPlaces::rememberOpenedFile(const QString& path)
{
    const QFileInfo file(path);
    m_settings.setValue(kOpenFolderKey, file.absolutePath());
    QStringList recent = recentFiles();
    recent.removeAll(file.absoluteFilePath());
    recent.prepend(file.absoluteFilePath());
    m_settings.setValue(kRecentFilesKey, recent.mid(0, kMaxRecentFiles));
}

void RememberedPlaces::rememberOutputFolder(const QString& folder)
{
    m_settings.setValue(kOutputFolderKey, folder);
}

QString RememberedPlaces::soundFont() const
{
    return m_settings.value(kSoundFontKey).toString();
}

void RememberedPlaces::rememberSoundFont(const QString& file)
{
    m_settings.setValue(kSoundFontKey, file);
}

QByteArray RememberedPlaces::windowGeometry() const
{
    return m_settings.value(kWindowGeometryKey).toByteArray();
}

void RememberedPlaces::rememberWindowGeometry(const QByteArray& geometry)
{
    m_settings.setValue(kWindowGeometryKey, geometry);
}

}  // namespace zentrowe::app

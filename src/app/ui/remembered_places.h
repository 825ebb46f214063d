#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QSettings;

namespace zentrowe::app {

// Where the user was last time, kept across runs in the QSettings the program hands over (the
// user's own in the program, a temporary file in tests): the folder of the last file opened,
// the last output folder chosen, the recently opened files, the soundfont of the last build and
// the main window's size.
class RememberedPlaces {
public:
    static constexpr int kMaxRecentFiles = 8;

    explicit RememberedPlaces(QSettings& settings) : m_settings(settings) { }

    // Empty when nothing was remembered yet.
    QString openFolder() const;
    QString outputFolder() const;
    // Newest first, at most kMaxRecentFiles, no path twice.
    QStringList recentFiles() const;

    // Remembers the file's folder for the next open and puts the file first among the recent ones.
    void rememberOpenedFile(const QString& path);
    void rememberOutputFolder(const QString& folder);
    // The soundfont the last build rendered with; empty: the system's default.
    QString soundFont() const;
    void rememberSoundFont(const QString& file);
    // The main window's place and size as QWidget::saveGeometry gave them; empty at first.
    QByteArray windowGeometry() const;
    void rememberWindowGeometry(const QByteArray& geometry);

private:
    QSettings& m_settings;
};

}  // namespace zentrowe::app

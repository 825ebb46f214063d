#include "app/ui/user_dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

namespace zentrowe::app {

QString SystemDialogs::chooseFolder(QWidget* owner, const QString& title, const QString& startFolder)
{
    const QString folder =
        QFileDialog::getExistingDirectory(owner, title, startFolder.isEmpty() ? QDir::currentPath() : startFolder);
    return folder.isEmpty() ? QString() : QDir::toNativeSeparators(QDir::cleanPath(folder));
}

QString SystemDialogs::chooseFileToOpen(QWidget* owner, const QString& title, const QString& filter,
                                        const QString& startFolder)
{
    return QFileDialog::getOpenFileName(owner, title, startFolder.isEmpty() ? userMusicFolder() : startFolder, filter);
}

QString SystemDialogs::chooseFileToSave(QWidget* owner, const QString& title, const QString& filter,
                                        const QString& startPath)
{
    return QFileDialog::getSaveFileName(owner, title, startPath, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

void SystemDialogs::showMessage(QWidget* owner, const QString& title, const QString& text, MessageKind kind)
{
    switch (kind) {
    case MessageKind::Warning:
        QMessageBox::warning(owner, title, text);
        return;
    case MessageKind::Critical:
        QMessageBox::critical(owner, title, text);
        return;
    case MessageKind::Information:
        break;
    }
    QMessageBox::information(owner, title, text);
}

QString userMusicFolder()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir()) {
        return music;
    }
    return QDir::homePath();
}

bool SystemDialogs::ask(QWidget* owner, const QString& title, const QString& question)
{
    return QMessageBox::question(owner, title, question) == QMessageBox::Yes;
}

bool SystemDialogs::showFolder(const QString& folder)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

bool SystemDialogs::openFile(const QString& file)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

}  // namespace zentrowe::app

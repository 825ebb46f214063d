#include "app/ui/user_dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace zentrowe::app {

QString SystemDialogs::chooseFolder(QWidget* owner, const QString& title)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, title, QDir::currentPath());
    return folder.isEmpty() ? QString() : QDir::toNativeSeparators(QDir::cleanPath(folder));
}

QString SystemDialogs::chooseFileToOpen(QWidget* owner, const QString& title, const QString& filter)
{
    // The dialog starts in the program's own folder.
    return QFileDialog::getOpenFileName(owner, title, QCoreApplication::applicationDirPath(), filter);
}

void SystemDialogs::showMessage(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox::information(owner, title, text);
}

void SystemDialogs::showFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace zentrowe::app

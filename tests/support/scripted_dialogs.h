#pragma once

// The window's questions answered from queues, for the tests that drive the window.

#include <QList>
#include <QString>
#include <QStringList>

#include "app/ui/user_dialogs.h"

namespace zentrowe::testing {

// Answers the program's questions from queues, and remembers what it was told.
class ScriptedDialogs final : public app::UserDialogs {
public:
    QString chooseFolder(QWidget*, const QString& title, const QString& startFolder) override
    {
        folderTitles << title;
        folderStarts << startFolder;
        return folders.isEmpty() ? QString() : folders.takeFirst();
    }
    QString chooseFileToOpen(QWidget*, const QString& title, const QString& filter, const QString& startFolder) override
    {
        fileDialogs << title + QLatin1Char('|') + filter;
        fileStarts << startFolder;
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    QString chooseFileToSave(QWidget*, const QString& title, const QString& filter, const QString& startPath) override
    {
        fileDialogs << title + QLatin1Char('|') + filter;
        fileStarts << startPath;
        return saveFiles.isEmpty() ? QString() : saveFiles.takeFirst();
    }
    void showMessage(QWidget* owner, const QString&, const QString& text, MessageKind kind) override
    {
        messages << text;
        messageOwners << owner;
        messageKinds << kind;
    }
    bool ask(QWidget*, const QString&, const QString& question) override
    {
        questions << question;
        return answerYes;
    }
    bool showFolder(const QString& folder) override
    {
        shownFolders << folder;
        return desktopOpensFolders;
    }
    bool openFile(const QString& file) override
    {
        openedFiles << file;
        return desktopOpensFiles;
    }

    QStringList folders;
    QStringList files;
    QStringList saveFiles;
    QStringList folderTitles;
    QStringList fileDialogs;
    QStringList messages;
    QStringList shownFolders;
    QStringList openedFiles;
    QStringList folderStarts;
    QStringList fileStarts;
    QList<QWidget*> messageOwners;
    QList<MessageKind> messageKinds;
    QStringList questions;
    bool answerYes = true;
    bool desktopOpensFolders = true;
    bool desktopOpensFiles = true;
};

}  // namespace zentrowe::testing

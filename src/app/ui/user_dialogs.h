#pragma once

#include <QString>

class QWidget;

namespace zentrowe::app {

// The questions the program asks the user in modal dialogs, and the one thing it hands to the
// desktop. The windows ask through this interface so that tests can answer without a dialog.
// `owner` is the window the dialog stays in front of.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // A folder, without a trailing separator (except a root); empty when cancelled. The dialog
    // starts in `startFolder`, or in the current folder when that is empty.
    virtual QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) = 0;
    // An existing file matching `filter` ("MIDI(*.mid)"); empty when cancelled. The dialog
    // starts in `startFolder`, or in the user's music or home folder when that is empty.
    virtual QString chooseFileToOpen(QWidget* owner, const QString& title, const QString& filter,
                                     const QString& startFolder) = 0;
    // A file to write, matching `filter` ("Zip (*.zip)"); empty when cancelled. The dialog starts
    // at `startPath`. An existing file is not asked about here: the pass refuses it.
    virtual QString chooseFileToSave(QWidget* owner, const QString& title, const QString& filter,
                                     const QString& startPath) = 0;
    // The icon says what the message is: news, a refusal of what was asked, or a failure.
    enum class MessageKind { Information, Warning, Critical };
    virtual void showMessage(QWidget* owner, const QString& title, const QString& text,
                             MessageKind kind = MessageKind::Information) = 0;
    // A yes-or-no question; true for yes.
    virtual bool ask(QWidget* owner, const QString& title, const QString& question) = 0;
    // Shows the folder in the desktop's file browser, without waiting for it; false when the
    // desktop has nothing that opens folders.
    virtual bool showFolder(const QString& folder) = 0;
    // Opens the file in the desktop's default program for its type (a sound file in its
    // player), without waiting; false when the desktop has nothing that opens it.
    virtual bool openFile(const QString& file) = 0;
};

// The user's music folder if there is one, else the home folder: where a first open starts.
QString userMusicFolder();

// The real dialogs: QFileDialog, QMessageBox and QDesktopServices.
class SystemDialogs final : public UserDialogs {
public:
    QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    QString chooseFileToOpen(QWidget* owner, const QString& title, const QString& filter,
                             const QString& startFolder) override;
    QString chooseFileToSave(QWidget* owner, const QString& title, const QString& filter,
                             const QString& startPath) override;
    void showMessage(QWidget* owner, const QString& title, const QString& text, MessageKind kind) override;
    bool ask(QWidget* owner, const QString& title, const QString& question) override;
    bool showFolder(const QString& folder) override;
    bool openFile(const QString& file) override;
};

}  // namespace zentrowe::app

#include <QApplication>
#include <QIcon>
#include <QSettings>

#include "app/ui/main_window.h"
#include "app/ui/qt_translations.h"
#include "app/ui/user_dialogs.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentrowe"));
    QApplication::setOrganizationName(QStringLiteral("zentrowe"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zentrowe/zentrowe.svg")));

    zentrowe::app::installQtTranslations(application);

    QSettings settings;
    zentrowe::app::SystemDialogs dialogs;
    zentrowe::app::MainWindow window(dialogs, settings);
    window.show();
    // The output folder is asked for at every start; without one there is nothing to do.
    if (!window.askOutputFolderAtStart()) {
        return 0;
    }
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) {
        window.openMidiPath(arguments.at(1));
    }
    return QApplication::exec();
}

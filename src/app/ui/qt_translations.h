#pragma once

class QCoreApplication;
class QTranslator;

namespace zentrowe::app {

// Loads Qt's own Simplified Chinese texts (qtbase_zh_CN from Debian's qt6-translations-l10n), so
// that the file, folder and message dialogs match the window's language. Returns the installed
// translator, owned by `application`, or nullptr when the system has no such translations; the
// dialogs then stay in English.
QTranslator* installQtTranslations(QCoreApplication& application);

}  // namespace zentrowe::app

#pragma once

class QApplication;
class QCoreApplication;
class QString;

namespace velmo {

// The program's name on the desktop: its .desktop entry and icon files are installed under it.
inline constexpr const char* kDesktopName = "velmoshop";

// Loads Qt's German translations (Debian's qt6-translations-l10n), so that Qt's own dialogs, buttons
// and context menus speak German like the program: the picture chooser, the print dialog, the
// edit fields' menus. The program speaks German whatever the machine's language is. Returns false
// when they are not installed; Qt's texts stay English then.
bool loadQtTranslations(QCoreApplication& app);

// Sets the program up on the desktop once at start, before any window is created: Qt's German
// translations, and the shop logo as the icon of the program and of every window.
void setUpDesktop(QApplication& app);

// Moves a local file to the desktop's trash, the way back from a local delete. False when it is not
// in a trash afterwards; the file is then where it was.
bool moveToTrash(const QString& path);

} // namespace velmo

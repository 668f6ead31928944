#pragma once
// Which language the windows speak. They are written in Spanish; where the
// system's language is English they speak English, from the catalogue built
// into the program. Qt's own texts (the buttons of its message boxes, its
// file dialogs) follow the same language, from Qt's catalogues on the system.

#include <QLocale>
#include <QString>

namespace fornax::app {

// What InstallTranslations installed.
struct TLanguageSetup {
  // The language the windows speak: English or Spanish.
  QLocale::Language Language = QLocale::Spanish;
  // The file each installed catalogue came from, or empty when none was
  // installed: Spanish needs none of our own, and Qt is written in English
  // (its English catalogue, where there is one, holds no texts and is not
  // installed). A missing catalogue of Qt's leaves its texts in English.
  QString OwnCatalogue;
  QString QtCatalogue;
};

// Where the English catalogue lives in the program's resources.
inline constexpr const char* kEnglishCatalogue = ":/i18n/fornax_en.qm";

// The language for a locale: English for English, Spanish for any other.
QLocale::Language WindowLanguage(const QLocale& locale);

// Installs the catalogues for `locale` into the running application (which
// must exist), in place of any a previous call installed; they live as long
// as the application. Qt's are looked for in `qtCatalogues`, Qt's own folder
// of translations when empty. A catalogue that cannot be loaded is left out:
// without our own the windows stay in Spanish, and Qt's texts follow them;
// without Qt's, its buttons stay in English.
TLanguageSetup InstallTranslations(const QLocale& locale, const QString& qtCatalogues = {});

// Removes and frees the catalogues InstallTranslations installed.
void RemoveTranslations();

}  // namespace fornax::app

#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <functional>

namespace fornax::app {
namespace {

// The catalogues are children of the application, so they live as long as it
// does; the name tells ours apart from any other the application holds.
constexpr const char* kTranslatorName = "FornaxCatalogue";

// Loads a catalogue and installs it; the file it came from, or empty when it
// cannot be loaded or holds no texts (Qt installs no empty catalogue).
QString Install(const std::function<bool(QTranslator&)>& load) {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) return {};
  auto* translator = new QTranslator(application);
  translator->setObjectName(kTranslatorName);
  if (!load(*translator) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return {};
  }
  return translator->filePath();
}

}  // namespace

QLocale::Language WindowLanguage(const QLocale& locale) {
  return locale.language() == QLocale::English ? QLocale::English : QLocale::Spanish;
}

TLanguageSetup InstallTranslations(const QLocale& locale, const QString& qtCatalogues) {
  RemoveTranslations();
  TLanguageSetup setup;
  setup.Language = WindowLanguage(locale);
  if (setup.Language == QLocale::English) {
    setup.OwnCatalogue = Install([](QTranslator& t) { return t.load(QString::fromLatin1(kEnglishCatalogue)); });
    // Without it the windows speak Spanish, and Qt's buttons with them.
    if (setup.OwnCatalogue.isEmpty()) setup.Language = QLocale::Spanish;
  }
  // "qtbase_es.qm" for Spanish: the catalogue of the language itself, not of
  // the locale's country, which is the system's and may be any.
  const QLocale language(setup.Language);
  const QString folder =
      qtCatalogues.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : qtCatalogues;
  setup.QtCatalogue =
      Install([&](QTranslator& t) { return t.load(language, QStringLiteral("qtbase"), QStringLiteral("_"), folder); });
  return setup;
}

void RemoveTranslations() {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) return;
  const QList<QTranslator*> installed =
      application->findChildren<QTranslator*>(kTranslatorName, Qt::FindDirectChildrenOnly);
  for (QTranslator* translator : installed) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

}  // namespace fornax::app

// The windows' language: English where the system speaks English, Spanish (the
// texts as written) anywhere else, and Qt's own buttons and file dialogs in
// the same language as the rest; and the English catalogue, which must hold a
// translation of every text the sources have, and no text they dropped.

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include "app/about_dialog.h"
#include "app/burn_progress.h"
#include "app/capabilities_dialog.h"
#include "app/disc_info_dialog.h"
#include "app/settings_dialog.h"
#include "app/translations.h"
#include "clipped_texts.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

// The texts Qt's own widgets show in the installed language, read from real
// widgets: a question box and a file-open dialog.
struct TQtTexts {
  QString Yes, No;
  QString Open, Cancel, LookIn;
};

TQtTexts QtTexts() {
  TQtTexts texts;
  QMessageBox box(QMessageBox::Question, "Fornax", "?", QMessageBox::Yes | QMessageBox::No);
  texts.Yes = box.button(QMessageBox::Yes)->text();
  texts.No = box.button(QMessageBox::No)->text();
  QFileDialog dialog(nullptr, "Fornax");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (const auto* buttons = dialog.findChild<QDialogButtonBox*>()) {
    if (const QPushButton* open = buttons->button(QDialogButtonBox::Open)) texts.Open = open->text();
    if (const QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel)) texts.Cancel = cancel->text();
  }
  if (const auto* lookIn = dialog.findChild<QLabel*>("lookInLabel")) texts.LookIn = lookIn->text();
  return texts;
}

// A catalogue's messages: context and source, to the translation and whether
// it is finished.
struct TMessage {
  QString Translation;
  QString Type;  // "unfinished", "obsolete", "vanished" ... or empty
};
using TCatalogue = QMap<QPair<QString, QString>, TMessage>;

TCatalogue ReadCatalogue(const QString& path, QString& error) {
  TCatalogue catalogue;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = "cannot read " + path;
    return catalogue;
  }
  QXmlStreamReader xml(&file);
  QString context, source;
  TMessage message;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      if (xml.name() == u"name") {
        context = xml.readElementText();
      } else if (xml.name() == u"message") {
        source.clear();
        message = {};
      } else if (xml.name() == u"source") {
        source = xml.readElementText();
      } else if (xml.name() == u"translation") {
        message.Type = xml.attributes().value("type").toString();
        message.Translation = xml.readElementText();
      }
    } else if (xml.isEndElement() && xml.name() == u"message") {
      catalogue.insert({context, source}, message);
    }
  }
  if (xml.hasError()) error = path + ": " + xml.errorString();
  return catalogue;
}

// The %1, %2 ... of a text, in order of the numbers.
QStringList Placeholders(const QString& text) {
  QStringList found;
  for (const QRegularExpressionMatch& match : QRegularExpression("%\\d+").globalMatch(text))
    found.append(match.captured());
  found.sort();
  return found;
}

// How many keyboard accelerators a text marks: an "&" before a letter ("&&" is
// an ampersand, "& " a word).
int Accelerators(const QString& text) {
  int count = 0;
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    if (text[i + 1].isLetterOrNumber()) ++count;
  }
  return count;
}

QString Listed(const QList<QPair<QString, QString>>& keys) {
  QStringList lines;
  for (const auto& [context, source] : keys) lines.append(context + ": \"" + source + "\"");
  return lines.join("\n");
}

}  // namespace

class TranslationsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;

 private slots:
  void initTestCase() { WriteFile(FWork.filePath("src/docs/report.txt"), QByteArray(5000, 'r')); }

  // Every case leaves the application as the other classes expect it: no
  // catalogue, the texts as written.
  void cleanup() { app::RemoveTranslations(); }

  void anEnglishSystemGetsEnglishWindowsAndQtButtons() {
    const app::TLanguageSetup setup = app::InstallTranslations(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QCOMPARE(setup.Language, QLocale::English);
    QCOMPARE(setup.OwnCatalogue, QString(app::kEnglishCatalogue));
    // Qt speaks English by itself: its English catalogue is empty where it is
    // shipped at all, and an empty one is not installed.
    QVERIFY2(setup.QtCatalogue.isEmpty() || setup.QtCatalogue.endsWith("/qtbase_en.qm"),
             qPrintable(setup.QtCatalogue));

    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    QCOMPARE(w.bBurn->text(), QString("Burn"));
    QCOMPARE(w.bSaveISO->text(), QString("Create ISO"));
    QCOMPARE(w.bQErase->text(), QString("Quick Erase"));
    QCOMPARE(w.cPathInfo->text(), QString("Keep paths"));
    QCOMPARE(w.clBox->horizontalHeaderItem(1)->text(), QString("Name"));
    QCOMPARE(w.clBox->horizontalHeaderItem(2)->text(), QString("Size"));
    QCOMPARE(w.lDrive->text(), QString("  Drive:"));
    // The window's own log lines, written at start-up.
    QVERIFY(f.Logged("Fornax, data disc burning"));

    // A burn asks first, with the figures in their places.
    w.SetPathState(app::TPathState::Unchecked);
    w.clBox->AddRow(FWork.filePath("src") + "/", 0, true);
    f.Prompter.AskAnswers = {false};
    w.bBurn->click();
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QCOMPARE(f.Prompter.Asked[0].Caption, QString("Do you want to burn the CD/DVD?"));
    QVERIFY2(QRegularExpression("^[0-9.,]+ MB will be written \\([0-9.,]+ MB will stay free on the disc\\)\\.$")
                 .match(f.Prompter.Asked[0].Text)
                 .hasMatch(),
             qPrintable(f.Prompter.Asked[0].Text));
    QVERIFY(f.Logged(">>> ADDING FILES/FOLDERS TO THE CD/DVD FINISHED"));

    // Texts kept in tables and helpers, outside any class, follow too.
    app::TForm2 capabilities(w.Recorder(), &w);
    QCOMPARE(capabilities.UnderrunProtection->text(), QString("Underrun Protection"));
    QCOMPARE(capabilities.WriteCDR->text(), QString("Write CDR"));
    app::TfrmSettings settings(w.Recorder(), w.Settings(), w.PathState(), f.Prompter, &w);
    QCOMPARE(settings.Button1->text(), QString("&OK"));
    QCOMPARE(settings.windowTitle(), QString("Advanced Options"));
    app::TBurnProgress progress;
    progress.Written = 1000000;
    progress.Total = 4000000;
    progress.Seconds = 2;
    QVERIFY2(app::ProgressText(progress).contains(" · time left "), qPrintable(app::ProgressText(progress)));

    const TQtTexts qt = QtTexts();
    QCOMPARE(qt.Yes, QString("&Yes"));
    QCOMPARE(qt.No, QString("&No"));
    QCOMPARE(qt.Open, QString("&Open"));
    QCOMPARE(qt.Cancel, QString("Cancel"));
  }

  void aSpanishSystemKeepsTheTextsAsWrittenWithSpanishQtButtons() {
    const app::TLanguageSetup setup = app::InstallTranslations(QLocale(QLocale::Spanish, QLocale::Mexico));
    QCOMPARE(setup.Language, QLocale::Spanish);
    QVERIFY(setup.OwnCatalogue.isEmpty());
    QVERIFY2(setup.QtCatalogue.endsWith("/qtbase_es.qm"),
             qPrintable("Qt's Spanish catalogue (qt6-translations-l10n) was not installed: " + setup.QtCatalogue));

    TSimDrive drive;
    drive.Insert("cd-rw");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    QCOMPARE(w.bBurn->text(), QString("Quemar"));
    QCOMPARE(w.bSaveISO->text(), QString("Crear ISO"));
    QCOMPARE(w.clBox->horizontalHeaderItem(1)->text(), QString("Nombre"));
    QVERIFY(f.Logged("Fornax, grabacion de discos de datos"));
    f.Prompter.AskAnswers = {false};
    w.bQErase->click();
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QCOMPARE(f.Prompter.Asked[0].Caption, QString("¿Desea iniciar eliminado rapido?"));
    QCOMPARE(f.Prompter.Asked[0].Text, QString("Toda la data en el disco se perdera"));

    const TQtTexts qt = QtTexts();
    QCOMPARE(qt.Yes, QString("&Sí"));
    QCOMPARE(qt.No, QString("&No"));
    QCOMPARE(qt.Open, QString("&Abrir"));
    QCOMPARE(qt.Cancel, QString("Cancelar"));
    QCOMPARE(qt.LookIn, QString("Ver en:"));

    // Removed, the catalogues leave nothing behind.
    app::RemoveTranslations();
    QCOMPARE(QtTexts().Yes, QString("&Yes"));
  }

  void anyOtherLanguageGetsSpanishWindowsAndQtButtons() {
    // A second call replaces what the first installed.
    app::InstallTranslations(QLocale(QLocale::English));
    const app::TLanguageSetup setup = app::InstallTranslations(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(setup.Language, QLocale::Spanish);
    QVERIFY(setup.OwnCatalogue.isEmpty());
    QVERIFY2(setup.QtCatalogue.endsWith("/qtbase_es.qm"), qPrintable(setup.QtCatalogue));

    TSimDrive drive;
    drive.Insert("cd-rw");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    QCOMPARE(w.bBurn->text(), QString("Quemar"));
    QCOMPARE(w.bQErase->text(), QString("Borrado rapido"));
    QCOMPARE(w.clBox->horizontalHeaderItem(2)->text(), QString("Tamaño"));
    const TQtTexts qt = QtTexts();
    QCOMPARE(qt.Yes, QString("&Sí"));
    QCOMPARE(qt.Cancel, QString("Cancelar"));
  }

  // English texts have lengths of their own: each window still shows them
  // whole, in its fonts, within the screen.
  void theEnglishWindowsShowTheirTextsWhole() {
    app::InstallTranslations(QLocale(QLocale::English));
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.clBox->AddRow(FWork.filePath("src") + "/", 1212232704, true);
    QTest::qWait(50);
    QStringList cut = ClippedTexts(w);
    app::TfrmAcercaDe about(f.Prompter, &w);
    app::TForm2 capabilities(w.Recorder(), &w);
    app::TfrmSessions sessions(w.Recorder(), f.Prompter, &w);
    QVERIFY(sessions.Fill());
    app::TfrmSettings settings(w.Recorder(), w.Settings(), w.PathState(), f.Prompter, &w);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&about, &capabilities, &sessions, &settings}) {
      dialog->show();
      QVERIFY(QTest::qWaitForWindowExposed(dialog));
      for (const QString& text : ClippedTexts(*dialog)) cut.append(dialog->objectName() + ": " + text);
      if (const QString off = OffScreen(*dialog); !off.isEmpty()) cut.append(dialog->objectName() + ": " + off);
      dialog->hide();
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
  }

  void missingQtCataloguesLeaveQtInEnglishAndTheWindowsAsChosen() {
    QTemporaryDir empty;
    const app::TLanguageSetup english = app::InstallTranslations(QLocale(QLocale::English), empty.path());
    QCOMPARE(english.Language, QLocale::English);
    QCOMPARE(english.OwnCatalogue, QString(app::kEnglishCatalogue));
    QVERIFY(english.QtCatalogue.isEmpty());
    {
      TSimDrive drive;
      TMainFixture f;
      QCOMPARE(f.Window->bBurn->text(), QString("Burn"));
    }
    QCOMPARE(QtTexts().Yes, QString("&Yes"));

    const app::TLanguageSetup spanish = app::InstallTranslations(QLocale(QLocale::Spanish), empty.path());
    QCOMPARE(spanish.Language, QLocale::Spanish);
    QVERIFY(spanish.OwnCatalogue.isEmpty() && spanish.QtCatalogue.isEmpty());
    TSimDrive drive;
    TMainFixture f;
    QCOMPARE(f.Window->bBurn->text(), QString("Quemar"));
    QCOMPARE(QtTexts().Yes, QString("&Yes"));
  }

  // The catalogue kept in translations/ against the one the sources give
  // now: the same texts, each translated, with the same placeholders and
  // accelerators.
  void theEnglishCatalogueIsCompleteAndCurrent() {
    const QString lupdate = FORNAX_LUPDATE;
    if (lupdate.isEmpty()) QSKIP("lupdate (Debian: qt6-l10n-tools) is missing: the catalogue cannot be checked");
    QTemporaryDir scratch;
    const QString fresh = scratch.filePath("fornax_en.ts");
    QProcess update;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LUPDATE", lupdate);
    update.setProcessEnvironment(environment);
    update.start("bash", {FORNAX_SOURCE_DIR "/tools/update-translations.sh", fresh});
    QVERIFY(update.waitForFinished(120000));
    QVERIFY2(update.exitStatus() == QProcess::NormalExit && update.exitCode() == 0,
             update.readAllStandardError().constData());

    QString error;
    const TCatalogue current = ReadCatalogue(fresh, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const TCatalogue kept = ReadCatalogue(FORNAX_SOURCE_DIR "/translations/fornax_en.ts", error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(current.size() > 100);

    QList<QPair<QString, QString>> missing, dropped, untranslated, mismatched, unqualified;
    for (auto it = current.keyBegin(); it != current.keyEnd(); ++it)
      if (!kept.contains(*it)) missing.append(*it);
    for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
      const auto& [context, source] = it.key();
      if (!current.contains(it.key())) dropped.append(it.key());
      if (!it->Type.isEmpty() || it->Translation.isEmpty()) untranslated.append(it.key());
      else if (Placeholders(source) != Placeholders(it->Translation) ||
               Accelerators(source) != Accelerators(it->Translation))
        mismatched.append(it.key());
      // tr() finds a text by its class's full name: a context without the
      // namespace is one lupdate could not place, and is never looked up.
      if (!context.startsWith("fornax::app::")) unqualified.append(it.key());
    }
    const char* refresh = "\n(run tools/update-translations.sh and translate what it adds)";
    QVERIFY2(missing.isEmpty(), qPrintable("texts without a translation:\n" + Listed(missing) + refresh));
    QVERIFY2(dropped.isEmpty(), qPrintable("texts the sources no longer have:\n" + Listed(dropped) + refresh));
    QVERIFY2(untranslated.isEmpty(), qPrintable("unfinished translations:\n" + Listed(untranslated)));
    QVERIFY2(mismatched.isEmpty(), qPrintable("placeholders or accelerators differ:\n" + Listed(mismatched)));
    QVERIFY2(unqualified.isEmpty(), qPrintable("contexts outside fornax::app:\n" + Listed(unqualified)));
  }
};

FORNAX_GUI_TEST(TranslationsTest)

}  // namespace fornax::guitest

#include "translations_test.moc"

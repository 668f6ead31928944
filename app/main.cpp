// Fornax, the desktop program: the splash, then the main window.

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/app_icon.h"
#include "app/flat_style.h"
#include "app/main_window.h"
#include "app/prompter.h"
#include "app/splash_window.h"
#include "app/translations.h"

namespace {

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "fornax: no desktop to show the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                 "On a machine without a display use the command line program, for example:\n"
                 "  fornax-cli iso backup.iso ~/Documents     builds an ISO image file\n"
                 "  fornax-cli burn ~/Documents               writes to the disc in the drive\n"
                 "  fornax-cli --help                         lists every command\n");
    return 1;
  }
  QApplication application(argc, argv);
  fornax::app::InstallTranslations(QLocale::system());
  application.setApplicationName("fornax");
  application.setWindowIcon(fornax::app::FornaxIcon());
  fornax::app::ApplyFlatStyle(application);
  auto* splash = new fornax::app::TfrmSplash();
  splash->show();
  QApplication::setApplicationDisplayName(fornax::app::kWindowCaption);
  fornax::app::TDesktopPrompter prompter;
  fornax::app::TfrmMain window(prompter);
  window.showMaximized();
  splash->raise();
  return application.exec();
}

// Runs the registered test classes: all of them, or the one named first on
// the command line (the rest of the line goes to Qt Test).

#include <QApplication>
#include <QTest>
#include <cstring>
#include <memory>
#include <vector>

#include "gui_support.h"

int main(int argc, char* argv[]) {
  fornax::guitest::PrepareEnvironment();
  QApplication application(argc, argv);
  const auto& suites = fornax::guitest::Registry();
  const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
  std::vector<char*> args{argv[0]};
  for (int i = only ? 2 : 1; i < argc; ++i) args.push_back(argv[i]);
  int failures = 0;
  bool found = false;
  for (const auto& [name, factory] : suites) {
    if (only && name != only) continue;
    found = true;
    std::unique_ptr<QObject> suite(factory());
    failures += QTest::qExec(suite.get(), static_cast<int>(args.size()), args.data());
  }
  if (!found) {
    std::fprintf(stderr, "no test class named %s\n", only ? only : "(any)");
    return 2;
  }
  return failures == 0 ? 0 : 1;
}

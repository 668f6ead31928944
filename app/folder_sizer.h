#pragma once
// Counts the size of the sources dropped on the compilation list off the
// window's thread: a folder may hold a whole system, and counting it must not
// freeze the window. Each count can be cancelled, and none outlives the sizer.

#include <QObject>
#include <QString>
#include <atomic>
#include <list>
#include <memory>
#include <thread>

namespace fornax::app {

class TFolderSizer : public QObject {
  Q_OBJECT
 public:
  explicit TFolderSizer(QObject* parent = nullptr) : QObject(parent) {}
  // Cancels every count and waits for its thread: no thread is left that
  // could report to a window that is going.
  ~TFolderSizer() override;

  // Starts counting a file, or a folder (a path ending with "/").
  void Measure(const QString& path);
  void Cancel(const QString& path);
  void CancelAll();
  int Running() const;

 signals:
  // On the sizer's thread. `complete` is false when the count was cancelled.
  void Measured(const QString& path, qint64 bytes, bool complete);

 private:
  struct TJob {
    QString Path;
    std::atomic<bool> Cancel{false};
    std::atomic<bool> Done{false};
    std::thread Thread;
  };
  void Reap();

  std::list<std::unique_ptr<TJob>> FJobs;
};

}  // namespace fornax::app

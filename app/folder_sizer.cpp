#include "app/folder_sizer.h"

#include <QMetaObject>

#include "engine/image/compilation.h"

namespace fornax::app {

TFolderSizer::~TFolderSizer() {
  CancelAll();
  for (auto& job : FJobs)
    if (job->Thread.joinable()) job->Thread.join();
}

void TFolderSizer::Measure(const QString& path) {
  Reap();
  auto job = std::make_unique<TJob>();
  job->Path = path;
  TJob* raw = job.get();
  job->Thread = std::thread([this, raw] {
    const TFolderSize size = TCompilation::FolderSize(raw->Path.toStdString(), &raw->Cancel);
    const bool complete = !size.Cut && !raw->Cancel;
    const qint64 bytes = size.Bytes;
    const QString path = raw->Path;
    // Queued to this object: the destructor joins this thread first, so the
    // object is there when the call is made, and a call still queued when it
    // goes is dropped by Qt.
    QMetaObject::invokeMethod(
        this, [this, path, bytes, complete] { emit Measured(path, bytes, complete); }, Qt::QueuedConnection);
    raw->Done = true;
  });
  FJobs.push_back(std::move(job));
}

void TFolderSizer::Cancel(const QString& path) {
  for (auto& job : FJobs)
    if (job->Path == path) job->Cancel = true;
}

void TFolderSizer::CancelAll() {
  for (auto& job : FJobs) job->Cancel = true;
}

int TFolderSizer::Running() const {
  int running = 0;
  for (const auto& job : FJobs) running += job->Done ? 0 : 1;
  return running;
}

// Threads that have finished are joined as new ones start.
void TFolderSizer::Reap() {
  for (auto it = FJobs.begin(); it != FJobs.end();) {
    if ((*it)->Done) {
      (*it)->Thread.join();
      it = FJobs.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace fornax::app

#include "engine/pipeline/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fornax {

void SetCurrentThreadPriority(TThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case TThreadPriority::Idle: nice = 19; break;
    case TThreadPriority::Lowest: nice = 10; break;
    case TThreadPriority::Lower: nice = 5; break;
    case TThreadPriority::Normal: nice = 0; break;
    case TThreadPriority::TimeCritical: nice = -10; break;
  }
  // Linux keeps a nice value per thread; a refused raise leaves it as it was.
  const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

}  // namespace fornax

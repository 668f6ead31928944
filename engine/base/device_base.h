#pragma once
// TDeviceBase: the core every engine component stands on. It carries the log
// sink through which every report line travels and the one lock that the cache
// and write threads share. The device component (drive/scsi_device.h) builds
// on it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/base/component.h"

namespace fornax {

// Message types of the log.
enum TLogType : uint8_t {
  ltStatus = 0,     // status, failure and command trace lines
  ltInfo = 1,       // information and progress lines
  ltCapacity = 3,   // a capacity limit of the compilation was reached
  ltImageError = 4  // an error in a compilation or image operation
};

using TOnDebugMsg =
    std::function<void(TObject* Sender, const std::string& Message, uint8_t mType)>;

class TDeviceBase : public TComponent {
 public:
  explicit TDeviceBase(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TDeviceBase() override = default;

  TOnDebugMsg OnDebugMessage;
  // Asks for the optional report lines (device scan, layout report).
  std::atomic<bool> DoDebug{false};

  // Hands a line to OnDebugMessage on the calling thread; without a handler the
  // line is dropped. Callers build the whole text, prefix included.
  void Log(const std::string& Message, uint8_t mType) {
    if (OnDebugMessage) OnDebugMessage(this, Message, mType);
  }

  // The lock is re-entrant: the write thread holds it around each take from the
  // cache, which takes it again inside.
  std::recursive_mutex& CacheLock() { return FCacheLock; }
  void Lock() { FCacheLock.lock(); }
  void Unlock() { FCacheLock.unlock(); }

  bool Erasing() const { return FErasing.load(); }

 protected:
  std::atomic<bool> FErasing{false};

 private:
  std::recursive_mutex FCacheLock;
};

}  // namespace fornax

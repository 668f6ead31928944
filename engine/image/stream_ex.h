#pragma once
// File streams with 64-bit positions, used for source, boot and image files.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fornax {

// Raised when a file cannot be opened or created, or a stream cannot be sized.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStreamEx {
 public:
  virtual ~TStreamEx() = default;
  virtual void SetSize(int64_t NewSize) { (void)NewSize; }
  virtual int Read(void* Buffer, int Count) = 0;
  virtual int Write(const void* Buffer, int Count) = 0;
  virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;
  int64_t Size();
};

// A stream over a file descriptor it does not own. Read and Write return the
// bytes moved, 0 when the call fails.
class THandleStreamEx : public TStreamEx {
 public:
  explicit THandleStreamEx(int handle) : FHandle(handle) {}
  void SetSize(int64_t NewSize) override;
  int Read(void* Buffer, int Count) override;
  int Write(const void* Buffer, int Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int Handle() const { return FHandle; }

 protected:
  int FHandle;
};

// Open modes: fmCreate creates or truncates; the others open an existing file.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A stream that owns its file. Creation that cannot get the file throws
// EStreamError naming it.
class TFileStreamEx : public THandleStreamEx {
 public:
  TFileStreamEx(const std::string& FileName, uint16_t Mode);
  ~TFileStreamEx() override;
  TFileStreamEx(const TFileStreamEx&) = delete;
  TFileStreamEx& operator=(const TFileStreamEx&) = delete;
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

}  // namespace fornax

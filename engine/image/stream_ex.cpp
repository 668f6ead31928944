#include "engine/image/stream_ex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fornax {

int64_t TStreamEx::Size() {
  const int64_t position = Seek(0, soFromCurrent);
  const int64_t end = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return end;
}

void THandleStreamEx::SetSize(int64_t NewSize) {
  Seek(NewSize, soFromBeginning);
  if (::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError(std::string("Stream size error: ") + std::strerror(errno));
}

// The system may move fewer bytes than asked (signals, pipes); a stream
// reports the whole count unless the file really ended or failed.
int THandleStreamEx::Read(void* Buffer, int Count) {
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::read(FHandle, static_cast<char*>(Buffer) + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done;
    if (n == 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

int THandleStreamEx::Write(const void* Buffer, int Count) {
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::write(FHandle, static_cast<const char*>(Buffer) + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done;
    done += static_cast<int>(n);
  }
  return done;
}

int64_t THandleStreamEx::Seek(int64_t Offset, uint16_t Origin) {
  const int whence = Origin == soFromCurrent ? SEEK_CUR : Origin == soFromEnd ? SEEK_END : SEEK_SET;
  return static_cast<int64_t>(::lseek(FHandle, static_cast<off_t>(Offset), whence));
}

namespace {

int OpenFor(const std::string& name, uint16_t mode) {
  if (mode == fmCreate) return ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const int access = (mode & 3) == fmOpenWrite ? O_WRONLY : (mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  return ::open(name.c_str(), access | O_CLOEXEC);
}

}  // namespace

TFileStreamEx::TFileStreamEx(const std::string& FileName, uint16_t Mode)
    : THandleStreamEx(OpenFor(FileName, Mode)), FFileName(FileName) {
  if (FHandle < 0) {
    const char* verb = Mode == fmCreate ? "Cannot create file" : "Cannot open file";
    throw EStreamError(std::string(verb) + " \"" + FileName + "\". " + std::strerror(errno));
  }
}

TFileStreamEx::~TFileStreamEx() {
  if (FHandle >= 0) ::close(FHandle);
}

}  // namespace fornax

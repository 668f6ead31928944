#include "engine/image/image_file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>
#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/device_base.h"
#include "engine/base/sector.h"
#include "engine/image/compilation.h"
#include "engine/image/extent_copy.h"
#include "engine/image/layout.h"
#include "engine/image/stream_ex.h"

namespace fornax {
namespace {

bool IsRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// What the writer knows of the image it writes, taken once.
struct TImageTarget {
  TFileStreamEx& Stream;
  dev_t Device = 0;
  ino_t Inode = 0;
  // A regular file written from its end on: what is not written reads as
  // zeros, so zeros need not be written.
  bool HolesReadAsZero = false;
  int64_t Position = 0;

  explicit TImageTarget(TFileStreamEx& stream) : Stream(stream) {
    Position = stream.Seek(0, soFromCurrent);
    struct stat st {};
    if (::fstat(stream.Handle(), &st) == 0) {
      Device = st.st_dev;
      Inode = st.st_ino;
      HolesReadAsZero = S_ISREG(st.st_mode) && Position >= st.st_size;
    }
  }
};

// Copies one source into its extent at the image's position and moves the
// position past the extent.
void AppendSource(TImageTarget& image, const std::string& path, int64_t plannedBytes,
                  const TImageSources& sources, TChangedFiles& changed) {
  TFileStreamEx source(path, fmOpenRead | fmShareDenyNone);
  struct stat st {};
  if (::fstat(source.Handle(), &st) != 0) throw EStreamError("Cannot read \"" + path + "\"");
  if (st.st_dev == image.Device && st.st_ino == image.Inode)
    throw EStreamError(fmt::format(kMsgImageAmongSources, image.Stream.FileName()));
  const TExtentCopy copy = CopyExtent(source.Handle(), st.st_size, image.Stream.Handle(), image.Position,
                                      plannedBytes, image.HolesReadAsZero, sources.Progress);
  if (copy.Shrunk || copy.Grown) changed.push_back(path);
  image.Position += RoundUpToSector(plannedBytes);
}

void WriteBytes(TFileStreamEx& image, const uint8_t* data, size_t length) {
  while (length > 0) {
    const int piece = static_cast<int>(std::min<size_t>(length, 1 << 30));
    if (image.Write(data, piece) != piece)
      throw EStreamError("Write error on the image file \"" + image.FileName() + "\": " +
                         std::strerror(errno ? errno : ENOSPC));
    data += piece;
    length -= static_cast<size_t>(piece);
  }
}

void WriteZeros(TImageTarget& image, int64_t length) {
  static const std::vector<uint8_t> zeros(65536, 0);
  for (int64_t done = 0; done < length;) {
    const size_t piece = static_cast<size_t>(std::min<int64_t>(length - done, static_cast<int64_t>(zeros.size())));
    image.Stream.Seek(image.Position + done, soFromBeginning);
    WriteBytes(image.Stream, zeros.data(), piece);
    done += static_cast<int64_t>(piece);
  }
}

void AppendFiles(TImageTarget& image, const TImageSources& sources, TChangedFiles& changed) {
  const TImageLayout& plan = sources.Plan;
  sources.Compilation.Files().ForEach([&](const TFEntry* entry) {
    // A symbolic link is recorded by its target alone: nothing to read.
    if (entry->IsDirectory() || entry->Imported || entry->IsSymbolicLink()) return;
    if (entry->ISOSize > 0) {
      const int64_t expected = static_cast<int64_t>(plan.FirstFileLocation) + entry->ISOLocation;
      const int64_t actual = image.Position / kSectorSize;
      if (expected != actual && sources.Log)
        sources.Log(fmt::format(">>> {} {} {}<>{}", kMsgInternalError0004, entry->SourcePath(),
                                expected, actual),
                    ltImageError);
    }
    if (entry->SourcePath().empty() || entry->ISOSize == 0) {
      // Nothing to read: an empty file has no extent, and a new file without
      // a source (never expected) keeps its planned sectors as zeros so that
      // every later file keeps its place.
      if (!image.HolesReadAsZero) WriteZeros(image, RoundUpToSector(entry->ISOSize));
      image.Position += RoundUpToSector(entry->ISOSize);
      return;
    }
    AppendSource(image, entry->SourcePath(), entry->ISOSize, sources, changed);
  });
}

}  // namespace

void AppendFileData(TFileStreamEx& image, const TImageSources& sources, TChangedFiles& changed) {
  TImageTarget target(image);
  AppendFiles(target, sources, changed);
  image.Seek(target.Position, soFromBeginning);
}

TChangedFiles WriteImageFile(const std::string& FileName, const TImageSources& sources) {
  TChangedFiles changed;
  TFileStreamEx image(FileName, fmCreate);
  const bool regular = IsRegularFile(image.Handle());
  try {
    if (sources.Header)
      sources.Header([&](const uint8_t* bytes, size_t length) {
        WriteBytes(image, bytes, length);
        if (sources.Progress) sources.Progress->fetch_add(static_cast<int64_t>(length));
      });
    TImageTarget target(image);
    if (!sources.BootImageFile.empty())
      AppendSource(target, sources.BootImageFile, sources.BootImageBytes, sources, changed);
    AppendFiles(target, sources, changed);
    // Trailing holes leave the file short of its last sectors; give it its length.
    if (regular) image.SetSize(target.Position);
  } catch (...) {
    // An image cut short must not be mistaken for a complete one.
    if (regular) ::unlink(FileName.c_str());
    throw;
  }
  return changed;
}

}  // namespace fornax

#include "engine/image/image_file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/scsi_device.h"
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

bool SameFile(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Copies one source into its extent at the stream's position and moves the
// position past the extent.
void AppendSource(TFileStreamEx& image, const std::string& path, int64_t plannedBytes,
                  const TImageSources& sources, TChangedFiles& changed) {
  TFileStreamEx source(path, fmOpenRead | fmShareDenyNone);
  if (SameFile(source.Handle(), image.Handle()))
    throw EStreamError("The image file \"" + image.FileName() + "\" is among its own sources");
  const int64_t at = image.Seek(0, soFromCurrent);
  const TExtentCopy copy = CopyExtent(source.Handle(), image.Handle(), at, plannedBytes,
                                      IsRegularFile(image.Handle()), sources.Progress);
  if (copy.Shrunk || copy.Grown) changed.push_back(path);
  image.Seek(at + RoundUpToSector(plannedBytes), soFromBeginning);
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

}  // namespace

void AppendFileData(TFileStreamEx& image, const TImageSources& sources, TChangedFiles& changed) {
  const TImageLayout& plan = sources.Plan;
  sources.Compilation.Files().ForEach([&](const TFEntry* entry) {
    if (entry->IsDirectory() || entry->Imported) return;
    const int64_t position = image.Seek(0, soFromCurrent);
    if (entry->ISOSize > 0) {
      const int64_t expected = static_cast<int64_t>(plan.FirstFileLocation) + entry->ISOLocation;
      const int64_t actual = position / kSectorSize;
      if (expected != actual && sources.Log)
        sources.Log(fmt::format(">>> {} {} {}<>{}", kMsgInternalError0004, entry->SourcePath,
                                expected, actual),
                    ltImageError);
    }
    if (entry->SourcePath.empty()) {
      // No source to read (never expected of a new file): its planned sectors
      // stay zeros so that every later file keeps its place.
      image.Seek(position + RoundUpToSector(entry->ISOSize), soFromBeginning);
      return;
    }
    AppendSource(image, entry->SourcePath, entry->ISOSize, sources, changed);
  });
}

TChangedFiles WriteImageFile(const std::string& FileName, const TImageSources& sources) {
  TChangedFiles changed;
  TFileStreamEx image(FileName, fmCreate);
  const bool regular = IsRegularFile(image.Handle());
  try {
    WriteBytes(image, sources.Header.data(), sources.Header.size());
    if (sources.Progress) sources.Progress->fetch_add(static_cast<int64_t>(sources.Header.size()));
    if (!sources.BootImageFile.empty())
      AppendSource(image, sources.BootImageFile, sources.BootImageBytes, sources, changed);
    AppendFileData(image, sources, changed);
    // Trailing holes leave the file short of its last sectors; give it its length.
    if (regular) image.SetSize(image.Seek(0, soFromCurrent));
  } catch (...) {
    // An image cut short must not be mistaken for a complete one.
    if (regular) ::unlink(FileName.c_str());
    throw;
  }
  return changed;
}

}  // namespace fornax

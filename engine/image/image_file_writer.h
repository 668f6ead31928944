#pragma once
// Quick save: writes a laid-out compilation as an image file on the caller's
// thread: the header, the boot image, then every file at its planned sector.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/image/header_builder.h"

namespace fornax {

class TCompilation;
class TFileStreamEx;
struct TImageLayout;

using TLogLine = std::function<void(const std::string& Message, uint8_t mType)>;

struct TImageSources {
  const TCompilation& Compilation;
  const TImageLayout& Plan;
  THeaderSource Header;  // empty when the header is not written here
  std::string BootImageFile;  // empty when the image does not boot
  int64_t BootImageBytes = 0;  // the boot file's size when the layout was made
  TLogLine Log;
  std::atomic<int64_t>* Progress = nullptr;  // bytes written so far
};

// Source files whose size changed after they were added: each still fills
// exactly its planned extent, so the image stays consistent, but it does not
// hold the file as it is now.
using TChangedFiles = std::vector<std::string>;

// Creates (or overwrites) FileName and writes the whole image. Throws
// EStreamError on any failure to create, read or write a file.
TChangedFiles WriteImageFile(const std::string& FileName, const TImageSources& sources);

// Appends the data of every new file of the file table to an open image whose
// position is the first file location; logs "INTERNAL ERROR 0004" when a file
// would not begin at its planned sector.
void AppendFileData(TFileStreamEx& image, const TImageSources& sources, TChangedFiles& changed);

}  // namespace fornax

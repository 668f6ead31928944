#pragma once
// Copying files of a session on a disc to this computer. Every file is made
// in a folder opened for extraction (extraction_folder.h), under a name that
// was checked as one safe component, and appears only whole: its bytes go to
// a new file of its own that takes the name once they are all written.

#include <functional>
#include <string>
#include <vector>

#include "engine/disc/extraction_folder.h"
#include "engine/disc/sector_source.h"
#include "engine/image/image_file_writer.h"

namespace fornax {

struct TDEntry;
struct TFEntry;

// Copies an entry of the compilation that lies on the disc into the file
// `name` of `folder`, 31 sectors a read, and gives it the entry's date. A
// file already there is replaced only once the new one is whole: a read
// that fails leaves it as it was, and no new file behind. `error` says why.
bool ExtractFileTo(TSectorSource& source, const TFEntry& entry, const TExtractionFolder& folder,
                   const std::string& name, const TLogLine& log, std::string& error);
// The same into a path the user chose (its folder must exist).
bool ExtractFileTo(TSectorSource& source, const TFEntry& entry, const std::string& destination,
                   const TLogLine& log, std::string& error);

struct TTreeExtraction {
  int Files = 0;
  std::vector<std::string> Failures;  // one line each: what was not extracted, and why
  // Told of each failure as it happens.
  std::function<void(const std::string& failure)> OnFailure;
  // Asked before each file and folder; false stops the extraction there.
  std::function<bool(const TFEntry& entry)> BeforeEntry;
  bool Stopped = false;
};

// Extracts a directory of the compilation into `folder`, subfolders made
// below it. A name that is no safe local name, two entries that would take
// the same local name, a link or a file where a folder is to go: each is a
// failure, and the rest goes on.
void ExtractTree(TSectorSource& source, const TDEntry& directory, const TExtractionFolder& folder,
                 const TLogLine& log, TTreeExtraction& result);

}  // namespace fornax

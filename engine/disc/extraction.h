#pragma once
// Copying files of a session on a disc to this computer.

#include <string>

#include "engine/disc/sector_source.h"
#include "engine/image/image_file_writer.h"

namespace fornax {

struct TFEntry;

// Copies an entry of the compilation that lies on the disc into a local
// file, 31 sectors a read, and gives it the entry's date. A read that fails
// leaves no file behind; `error` says why.
bool ExtractFileTo(TSectorSource& source, const TFEntry& entry, const std::string& destination,
                   const TLogLine& log, std::string& error);

}  // namespace fornax

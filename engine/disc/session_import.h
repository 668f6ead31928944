#pragma once
// Importing a session of a multisession disc into the compilation: finding
// its volume descriptors, preferring the Joliet tree, and walking it.

#include <string>

#include "engine/disc/sector_source.h"
#include "engine/image/image_file_writer.h"

namespace fornax {

class TCompilation;
struct TDEntry;

// Session 255 (or one past the disc's count) is the last one that holds its
// file system whole. True when a descriptor was found and its tree walked.
bool ImportSession(TSessionSource& source, TCompilation& compilation, int session, TDEntry* target,
                   const TLogLine& log);

// Whether a session's file system claims sectors its track does not hold (a
// write interrupted and its session closed later), with both ends.
bool SessionCutShort(TSessionSource& source, int session, uint32_t& volumeEnd, uint32_t& recordedEnd);

}  // namespace fornax

#include "engine/disc/session_import.h"

#include <cstring>
#include <fmt/format.h>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/base/date_time.h"
#include "engine/base/messages.h"
#include "engine/disc/directory_reader.h"
#include "engine/disc/rock_ridge_reader.h"
#include "engine/disc/volume_descriptors.h"
#include "engine/image/compilation.h"

namespace fornax {
namespace {

constexpr int kDescriptorSpan = 21;  // start + 16 to start + 36

// The skip length of the Rock Ridge entries of the tree whose root extent is
// `root`; false when its "." record carries no SUSP indicator.
bool RockRidgeTree(TSessionSource& source, uint32_t root, uint8_t& skip) {
  alignas(16) uint8_t sector[2048];
  TDiscRecord dot;
  if (source.RecordedArea().Place(root, 1) != TRecordedArea::TPlace::Inside || !source.ReadSectors(root, 1, sector))
    return false;
  if (ReadDiscRecord(sector, 0, dot) != TRecordRead::Record || !dot.IsSelfOrParent()) return false;
  return StartsWithSuspIndicator(reinterpret_cast<const uint8_t*>(dot.SystemUse.data()), dot.SystemUse.size(), skip);
}

// Looks for the descriptor of a type among the session's first sectors and
// walks its tree. False when there is none before a terminator, and, when
// `rockRidge` is asked for, when the tree carries none.
bool ImportPass(TSessionSource& source, TCompilation& compilation, uint32_t start, uint8_t type,
                TDEntry* target, const TLogLine& log, bool rockRidge = false) {
  alignas(16) uint8_t sector[2048];
  for (int i = 0; i < kDescriptorSpan; ++i) {
    std::memset(sector, 0, sizeof sector);
    const bool read = source.ReadSectors(start + 16 + static_cast<uint32_t>(i), 1, sector);
    const bool descriptor = std::memcmp(sector + 1, "CD001", 5) == 0;
    if (read && descriptor && sector[0] == type) {
      TDirectoryReader reader(source, compilation, log, type == 2);
      uint8_t skip = 0;
      if (rockRidge) {
        if (!RockRidgeTree(source, GetLe32(sector + 158), skip)) return false;
        reader.UseRockRidge(skip);
      }
      reader.Read(GetLe32(sector + 158), GetLe32(sector + 166), target);
      return true;
    }
    if (descriptor && sector[0] == 255) return false;
  }
  return false;
}

// Where a session's file system ends and where its track does; false when the
// medium does not tell or the session holds no descriptor set.
bool SessionExtent(TSessionSource& source, int session, uint32_t start, uint32_t& volumeEnd,
                   uint32_t& recordedEnd) {
  if (!source.SessionRecordedEnd(session, recordedEnd)) return false;
  const TDescriptorSet set =
      ScanDescriptorSet([&](uint32_t lba, uint8_t* sector) { return source.ReadSectors(lba, 1, sector); }, start);
  volumeEnd = set.VolumeEnd;
  return set.Found;
}

// The newest session that holds a file system its track holds whole. A write
// that was interrupted and closed afterwards leaves a session whose
// descriptors claim more than was recorded; it is passed over.
int NewestWholeSession(TSessionSource& source, int count, const TLogLine& log) {
  for (int session = count; session >= 1; --session) {
    uint32_t start = 0, volumeEnd = 0, recordedEnd = 0;
    if (!source.SessionStart(session, start)) return count;
    if (!source.SessionRecordedEnd(session, recordedEnd)) return session;  // the medium cannot tell
    if (SessionExtent(source, session, start, volumeEnd, recordedEnd) && volumeEnd <= recordedEnd)
      return session;
    if (session > 1 && log) log(">>> " + fmt::format(kMsgSessionPassedOver, session), 0);
  }
  return count;
}

}  // namespace

bool SessionCutShort(TSessionSource& source, int session, uint32_t& volumeEnd, uint32_t& recordedEnd) {
  uint32_t start = 0;
  if (!source.SessionStart(session, start)) return false;
  return SessionExtent(source, session, start, volumeEnd, recordedEnd) && volumeEnd > recordedEnd;
}

bool ImportSession(TSessionSource& source, TCompilation& compilation, int session, TDEntry* target,
                   const TLogLine& log) {
  if (!target) target = compilation.RootDirectory();
  const int count = source.SessionCount();
  if (count == 0) return false;
  if (session == 255 || session > count) session = NewestWholeSession(source, count, log);
  if (session <= 0) return false;
  if (log) log(">>> " + fmt::format(kMsgImportingSession, session), 1);
  uint32_t start = 0;
  if (!source.SessionStart(session, start)) {
    if (log) log(fmt::format(">>> {} # {}", kMsgErrorImportingSession, session), 4);
    return false;
  }
  uint32_t volumeEnd = 0, recordedEnd = 0;
  if (SessionCutShort(source, session, volumeEnd, recordedEnd) && log)
    log(">>> " + fmt::format(kMsgSessionCutShort, session, volumeEnd, recordedEnd), 4);
  // The Rock Ridge tree, when one is kept, holds what the Joliet tree cannot:
  // modes, owners, links and whole names.
  if (compilation.RecordsRockRidge() && ImportPass(source, compilation, start, 1, target, log, true)) return true;
  if (ImportPass(source, compilation, start, 2, target, log)) return true;
  if (ImportPass(source, compilation, start, 1, target, log)) return true;
  if (log) log(">>> " + fmt::format(kMsgIsoImageNotFound, session), 4);
  return false;
}

}  // namespace fornax

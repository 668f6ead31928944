#pragma once
// Verifying a session against what it should hold: the files a burn sent
// (their hashes kept by the read-ahead cache), the chunks of an image file,
// or local files. The session's tree is read from the disc through the
// session readers, and file data in large reads in disc order, so a verify
// costs about one read of the session.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/content_hash.h"
#include "engine/disc/sector_source.h"
#include "engine/disc/verify_report.h"
#include "engine/image/image_file_writer.h"

namespace fornax {

class TBurnRecord;

// Sectors asked for in one read of a verify (1 MiB).
inline constexpr uint32_t kVerifyReadSectors = 512;

// The data of one file on the disc.
struct TExtentFile {
  uint32_t Extent = 0;
  int64_t Size = 0;
};

struct TExtentHash {
  bool Read = true;  // every sector of it could be read
  THash128 Hash;
  std::vector<TSectorRange> Failed;
  std::string Error;
};

// Hashes every file's bytes as the disc gives them. Files are read in disc
// order, neighbours together in large reads; a read that fails is tried
// again sector by sector, so only the sectors that really fail are counted.
std::vector<TExtentHash> HashExtents(TSectorSource& source, const std::vector<TExtentFile>& files);

// The sectors of a file's extent whose bytes differ from a local file (or
// cannot be read); false with `error` when the local file cannot be read.
bool DifferingSectors(TSectorSource& source, const TExtentFile& file, const std::string& localPath,
                      std::vector<TSectorRange>& sectors, std::string& error);

// A local file and the path of the session it is compared with.
struct TLocalFile {
  std::string DiscPath;  // "/docs/a.txt"
  std::string LocalPath;
};

// The files a burn wrote, from the session it wrote, against their kept hashes.
TVerifyReport VerifySentFiles(TSessionSource& source, int session, const TBurnRecord& record, const TLogLine& log);
// The sectors an image file burn wrote against its kept chunk hashes.
TVerifyReport VerifySentImage(TSectorSource& source, const TBurnRecord& record);
// Every file of a session against local files; files on one side only are
// reported too.
TVerifyReport VerifyAgainstLocal(TSessionSource& source, int session, const std::vector<TLocalFile>& locals,
                                 const TLogLine& log);

// The session's files by path ("/a/b.txt"), with the same names `ls` shows.
std::vector<std::pair<std::string, TExtentFile>> SessionFiles(TSessionSource& source, int session,
                                                              const TLogLine& log, std::string& error);

}  // namespace fornax

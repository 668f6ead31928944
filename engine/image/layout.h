#pragma once
// The sector plan of one image or session: where every descriptor, path table,
// directory extent, boot item and file extent lies.

#include <cstdint>
#include <string>
#include <vector>

namespace fornax {

class TCompilation;
struct TDEntry;
struct TFEntry;

// The longest extent one directory record can describe, in whole sectors. A
// larger file is recorded as several consecutive extents.
inline constexpr int64_t kMaxExtentBytes = 0xFFFFF800LL;

struct TLayoutOptions {
  int32_t SessionStart = 0;
  bool Joliet = true;
  bool Bootable = false;
  int64_t BootImageBytes = 0;
  bool RockRidge = false;
};

struct TImageLayout {
  int32_t SessionStart = 0;
  bool Joliet = true;
  bool Bootable = false;

  int32_t PrimaryDescriptor = 0;
  int32_t BootRecord = 0;  // when Bootable
  int32_t JolietDescriptor = 0;  // when Joliet
  int32_t Terminator = 0;

  int32_t IsoPathTableL = 0, IsoPathTableM = 0;
  int64_t IsoPathTableSize = 0;  // bytes
  int32_t JolietPathTableL = 0, JolietPathTableM = 0;
  int64_t JolietPathTableSize = 0;

  int32_t IsoDirectoryArea = 0;
  int64_t IsoDirectoryAreaSize = 0;  // bytes
  // With Rock Ridge: the continuation areas of the ISO 9660 tree, right after it.
  bool RockRidge = false;
  int32_t ContinuationArea = 0;
  int32_t ContinuationSectors = 0;
  int32_t JolietDirectoryArea = 0;
  int64_t JolietDirectoryAreaSize = 0;

  int32_t BootCatalogLocation = 0, BootImageLocation = 0, BootImageSectors = 0;
  int32_t PadSectors = 0;
  int32_t FirstFileLocation = 0;
  int64_t VolumeSpaceSize = 0;
  int64_t TrackSectors = 0;

  // Sectors of the header stream: from SessionStart to the end of the padding.
  int64_t HeaderSectors() const;
};

// Number of directory records (extents) a file of this size needs.
int64_t ExtentCount(int64_t size);

// Bytes of a directory's extent in a tree, its records packed so that none
// crosses a sector boundary; always whole sectors.
int64_t PackedDirectorySize(const TDEntry& dir, bool isoTree);
// The same for the ISO 9660 tree whose records carry system use areas of
// these sizes (one per record, "." and ".." first; see TRockRidgeTree).
struct TSystemUseSize;
int64_t PackedDirectorySize(const TDEntry& dir, const std::vector<TSystemUseSize>& uses);
// Whether a directory extent starts with its "." and ".." records: not when its
// first entry is itself named "." in that tree.
bool HasDotRecords(const TDEntry& dir, bool isoTree);

// Lays the compilation out: orders and numbers the directories, fills the
// locations and sizes of every record, and returns the plan.
TImageLayout PlanLayout(TCompilation& compilation, const TLayoutOptions& options);

// The lines that report a layout, in the order they are logged.
std::vector<std::string> LayoutReport(const TImageLayout& layout, int fileCount);

}  // namespace fornax

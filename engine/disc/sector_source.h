#pragma once
// Where the readers of existing discs get their sectors: the disc in a
// drive, or an image file. Everything read through a source is untrusted.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fornax {

// The sectors of a medium that hold recorded data, and where the session
// about to be written starts. What an import takes must lie wholly within
// the one and before the other: elsewhere it would read a gap between
// sessions, stale sectors past a file system, or, once the new session is
// written, that session's own sectors.
class TRecordedArea {
 public:
  enum class TPlace { Inside, Outside, InNewSession };

  // Sectors 0 to `end` - 1, and no new session.
  static TRecordedArea UpTo(uint64_t end);
  // Adds sectors `first` to `end` - 1; ranges that touch become one.
  void Add(uint64_t first, uint64_t end);
  // The new session is written from `start` on; the lowest start told wins.
  void SetNewSessionStart(uint64_t start);
  bool HasNewSession() const { return FNewSession != kNone; }
  uint64_t NewSessionStart() const { return FNewSession; }
  const std::vector<std::pair<uint64_t, uint64_t>>& Ranges() const { return FRanges; }

  // Where `sectors` sectors from `first` lie; nothing (0 sectors) lies inside.
  TPlace Place(uint64_t first, uint64_t sectors) const;
  // How many sectors from `first` on lie inside before a gap or the new
  // session; 0 when `first` itself does not.
  uint64_t InsideFrom(uint64_t first) const;

 private:
  static constexpr uint64_t kNone = UINT64_MAX;
  std::vector<std::pair<uint64_t, uint64_t>> FRanges;  // [first, end), sorted, apart
  uint64_t FNewSession = kNone;
};

class TSectorSource {
 public:
  virtual ~TSectorSource() = default;
  // Reads `count` 2048-byte sectors from `lba` into `out`.
  virtual bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) = 0;
  // Why the last read failed.
  virtual std::string LastError() const = 0;
  // Sectors the medium holds, when it is known (extents beyond are refused).
  virtual uint64_t SectorLimit() const { return UINT32_MAX; }
  // What the readers take extents from: everything below SectorLimit unless
  // the medium tells more.
  virtual TRecordedArea RecordedArea() { return TRecordedArea::UpTo(SectorLimit()); }
};

// A medium of sessions, each one data track.
class TSessionSource : public TSectorSource {
 public:
  virtual int SessionCount() = 0;
  // First sector of a session's track (sessions count from 1).
  virtual bool SessionStart(int session, uint32_t& start) = 0;
  // One past the last sector the session's track holds, where the medium
  // tells it (an image file does not).
  virtual bool SessionRecordedEnd(int session, uint32_t& end) {
    (void)session;
    (void)end;
    return false;
  }
};

// An image file; its sessions start where the caller says (one, at sector 0,
// unless told otherwise).
class TImageFileSource : public TSessionSource {
 public:
  explicit TImageFileSource(const std::string& path, std::vector<uint32_t> sessionStarts = {0});
  ~TImageFileSource() override;
  TImageFileSource(const TImageFileSource&) = delete;
  TImageFileSource& operator=(const TImageFileSource&) = delete;

  bool Opened() const { return FHandle >= 0; }
  bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) override;
  std::string LastError() const override { return FLastError; }
  uint64_t SectorLimit() const override { return FSectors; }
  int SessionCount() override { return static_cast<int>(FStarts.size()); }
  bool SessionStart(int session, uint32_t& start) override;

 private:
  int FHandle = -1;
  uint64_t FSectors = 0;
  std::vector<uint32_t> FStarts;
  std::string FLastError;
};

// Sectors held in memory (tests and the fuzzer).
class TMemorySource : public TSessionSource {
 public:
  explicit TMemorySource(std::vector<uint8_t> bytes, std::vector<uint32_t> sessionStarts = {0})
      : FBytes(std::move(bytes)), FStarts(std::move(sessionStarts)) {}
  bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) override;
  std::string LastError() const override { return "LOGICAL BLOCK ADDRESS OUT OF RANGE"; }
  uint64_t SectorLimit() const override { return FBytes.size() / 2048; }
  int SessionCount() override { return static_cast<int>(FStarts.size()); }
  bool SessionStart(int session, uint32_t& start) override;
  // The whole of the bytes, unless told otherwise (a disc with gaps, a
  // session about to be written).
  TRecordedArea RecordedArea() override { return FArea ? *FArea : TSessionSource::RecordedArea(); }
  void SetRecordedArea(TRecordedArea area) { FArea = std::move(area); }
  std::vector<std::pair<uint32_t, uint32_t>> Reads;  // (sector, count) of every read

 private:
  std::optional<TRecordedArea> FArea;
  std::vector<uint8_t> FBytes;
  std::vector<uint32_t> FStarts;
};

}  // namespace fornax

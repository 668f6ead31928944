#pragma once
// TThWrite: the consumer of the read-ahead cache. It takes the image chunk by
// chunk and writes it to the selected drive (running the whole recording
// session around the data) or appends it to an image file, then reports the
// end through the engine's OnWriteDone.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/pipeline/worker_thread.h"

namespace fornax {

class TCacheThread;
class TQzRecorder;

class TThWrite {
 public:
  // imageFile: the open image file written to (the writer closes it), or -1
  // for a write to the drive.
  TThWrite(TQzRecorder& engine, TCacheThread& cache, bool toImageFile, int imageFile = -1);
  ~TThWrite();
  TThWrite(const TThWrite&) = delete;
  TThWrite& operator=(const TThWrite&) = delete;

  void Start();
  TWorkerThread& Thread() { return FThread; }

 private:
  void Execute();
  bool WriteToImageFile();
  bool FollowDirectWrite();
  bool WriteChunksToFile(bool regular, int64_t& position);
  void PrepareDrive();
  void WriteToDrive();
  void FinishDrive();
  void CloseTrackAndSession();
  bool WriteChunk(uint32_t sector, const uint8_t* data, int bytes, int& retries);
  // Overwritable media: the descriptors that make the new session the one a
  // reader finds go to the start of the disc last, once everything else is
  // on the disc, so that an interruption leaves the earlier tree in place.
  void CommitStartOfDisc();
  void CheckSessionReadable();
  void FormatDvdPlusRw();
  int NextChunk();
  bool Aborted() const;
  bool DriveBusy() const;
  void Fail(const std::string& text);
  bool Failed() const;
  void Final();
  std::string SpeedText(uint16_t speed) const;
  bool IsDvd() const { return FMedium >= 5 && FMedium <= 12; }

  TQzRecorder& FEngine;
  TCacheThread& FCache;
  const bool FToImageFile;
  std::vector<uint8_t> FTransfer;
  // The first unit of a session that starts at sector 0 of an overwritable
  // disc, written last.
  std::vector<uint8_t> FHeldUnit;
  bool FImageMode = false;
  bool FDataWritten = false;
  uint8_t FMedium = 0;
  uint32_t FSessionStart = 0;
  uint32_t FSectorOffset = 0;
  int FChunkBytes = 0;
  int FTrackNumber = 1;
  int FCapacityCountdown = 5;
  bool FCapacityPolling = false;
  int FImageFile = -1;
  bool FFormatted = false;
  TWorkerThread FThread;
};

}  // namespace fornax

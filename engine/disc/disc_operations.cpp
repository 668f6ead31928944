// The engine's operations on existing discs: importing a session of the disc
// in the drive, reading one of its directories, extracting a file.

#include "engine/disc/directory_reader.h"
#include "engine/disc/drive_session_source.h"
#include "engine/disc/extraction.h"
#include "engine/disc/session_import.h"
#include "engine/recorder.h"

namespace fornax {

bool TQzRecorder::ImportDiscSession(int Session, TDEntry* Target) {
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  // A burn that lays its session out has asked the drive where it starts.
  if (LayingOutForBurn && FNextSessionStart > 0) source.SetNewSessionStart(FNextSessionStart);
  return ImportSession(source, FCompilation, Session, Target, [this](const std::string& m, uint8_t t) { Log(m, t); });
}

bool TQzRecorder::SessionCutShort(int Session) {
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  uint32_t volumeEnd = 0, recordedEnd = 0;
  return fornax::SessionCutShort(source, Session, volumeEnd, recordedEnd);
}

bool TQzRecorder::ReadJolietDirectory(uint32_t Extent, uint32_t Length, TDEntry* Target) {
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  TDirectoryReader reader(source, FCompilation, [this](const std::string& m, uint8_t t) { Log(m, t); }, true);
  return reader.Read(Extent, Length, Target ? Target : RootDirectory());
}

bool TQzRecorder::ReadISODirectory(uint32_t Extent, uint32_t Length, TDEntry* Target) {
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  TDirectoryReader reader(source, FCompilation, [this](const std::string& m, uint8_t t) { Log(m, t); }, false);
  return reader.Read(Extent, Length, Target ? Target : RootDirectory());
}

bool TQzRecorder::ExtractFile(const TFEntry* Entry, const TExtractionFolder& Folder, const std::string& Name) {
  FExtractError.clear();
  if (!Entry) return false;
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  return ExtractFileTo(source, *Entry, Folder, Name, [this](const std::string& m, uint8_t t) { Log(m, t); },
                       FExtractError);
}

void TQzRecorder::ExtractTree(const TDEntry* Directory, const TExtractionFolder& Folder, TTreeExtraction& Result) {
  if (!Directory) return;
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  fornax::ExtractTree(source, *Directory, Folder, [this](const std::string& m, uint8_t t) { Log(m, t); }, Result);
}

bool TQzRecorder::ExtractFile(const TFEntry* Entry, const std::string& Destination) {
  FExtractError.clear();
  if (!Entry) return false;
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  return ExtractFileTo(source, *Entry, Destination, [this](const std::string& m, uint8_t t) { Log(m, t); },
                       FExtractError);
}

}  // namespace fornax

#include "app/app_settings.h"

#include "app/settings_file.h"
#include "engine/base/text.h"
#include "engine/recorder.h"

namespace fornax::app {

const char* PathStateWord(TPathState state) {
  switch (state) {
    case TPathState::Checked:
      return "Checked";
    case TPathState::Grayed:
      return "Grayed";
    case TPathState::Unchecked:
      break;
  }
  return "Unchecked";
}

TPathState PathStateFromWord(const std::string& word) {
  const std::string upper = UpperCase(word);
  if (upper == "GRAYED") return TPathState::Grayed;
  if (upper == "CHECKED") return TPathState::Checked;
  return TPathState::Unchecked;
}

void LoadSettings(const TSettingsFile& file, TQzRecorder& recorder, TAppSettings& settings) {
  const char* s = kOptionsSection;
  settings.ArchiveFiles = file.ReadBool(s, "ArchiveFiles", settings.ArchiveFiles);
  settings.SavePath = PathStateFromWord(file.ReadString(s, "SavePath", ""));
  recorder.FinalizeDisc = file.ReadBool(s, "CloseDisc", recorder.FinalizeDisc);
  recorder.JolietFileSystem = file.ReadBool(s, "JolietFS", recorder.JolietFileSystem);
  recorder.RockRidge = file.ReadBool(s, "RockRidge", recorder.RockRidge);
  recorder.TestWrite = file.ReadBool(s, "TestWrite", recorder.TestWrite);
  recorder.PerformOPC = file.ReadBool(s, "PerformOPC", recorder.PerformOPC);
  settings.QuickSaveISO = file.ReadBool(s, "QuickSaveISO", settings.QuickSaveISO);
  // Stored as typed: -1 (the last session) comes back as 255.
  settings.SessionNo = file.ReadBool(s, "ImportSession", false)
                           ? static_cast<uint8_t>(file.ReadInteger(s, "SessionNo", recorder.SessionToImport))
                           : 0;
  settings.EjectDisc = file.ReadBool(s, "EjectDisc", false);
  settings.ShowFiles = file.ReadBool(s, "ShowFiles", false);
  settings.VerifyAfterBurn = file.ReadBool(s, "VerifyAfterBurn", settings.VerifyAfterBurn);
  settings.ImportSession = file.ReadBool(s, "ImportSession", false);
  recorder.BootImageFile = file.ReadString(s, "BootImage", recorder.BootImageFile);
  recorder.Bootable = file.ReadBool(s, "Bootable", recorder.Bootable);
  recorder.IdVolume = file.ReadString(s, "VolumeLable", recorder.IdVolume);
  recorder.SetCacheSize(file.ReadInteger(s, "CacheSize", recorder.CacheSize()));
}

}  // namespace fornax::app

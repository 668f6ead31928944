#pragma once
// The application's own options, a value type, and the start-up load of the
// settings file into them and into the engine.

#include <cstdint>
#include <string>

namespace fornax {
class TQzRecorder;
}

namespace fornax::app {

class TSettingsFile;

inline constexpr const char* kOptionsSection = "Options";

// The three states of "Guardar ruta".
enum class TPathState { Unchecked, Checked, Grayed };
// "Checked", "Grayed" or "Unchecked", as the file stores them.
const char* PathStateWord(TPathState state);
// Any case of "GRAYED" or "CHECKED"; anything else is Unchecked.
TPathState PathStateFromWord(const std::string& word);

struct TAppSettings {
  bool ArchiveFiles = false;   // add only files marked for archiving, clear the mark after a write
  bool EjectDisc = false;      // eject after a successful write or erase
  bool ShowFiles = false;      // show the compilation layout before burning
  bool ImportSession = false;  // the saved state of the import box
  bool QuickSaveISO = false;
  bool VerifyAfterBurn = false;  // read a burn back and compare it with what was sent
  uint8_t SessionNo = 0;       // session to import before feeding; 0 none, 255 the last
  TPathState SavePath = TPathState::Unchecked;
};

// Reads the "Options" section in the order the program always has; every
// key missing from the file keeps the value held before.
void LoadSettings(const TSettingsFile& file, TQzRecorder& recorder, TAppSettings& settings);

}  // namespace fornax::app

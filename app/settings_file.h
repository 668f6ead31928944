#pragma once
// The settings file: an INI file of sections and "key=value" lines, read and
// written the way the program has always done it (keys and sections without
// regard to case, booleans as "1" and "0", every write stored at once).
// Lines it does not know are kept as they are.

#include <string>
#include <vector>

namespace fornax::app {

class TSettingsFile {
 public:
  // Reads the file at `path`; a missing file is an empty one.
  explicit TSettingsFile(std::string path);

  // $XDG_CONFIG_HOME/fornax/QZREC.ini (or ~/.config/fornax/QZREC.ini).
  static std::string DefaultPath();

  const std::string& Path() const { return FPath; }
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
  // A value that is not a whole number gives the fallback.
  int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
  // True for every whole number but 0.
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

  // Each write replaces the file (through a temporary file, so a failure
  // never leaves half a file). False with Error() saying why.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);
  bool WriteBool(const std::string& section, const std::string& key, bool value);
  const std::string& Error() const { return FError; }

 private:
  // Index of the line holding the key in the section, or -1.
  int FindKey(const std::string& section, const std::string& key) const;
  bool Save();

  std::string FPath;
  std::vector<std::string> FLines;
  std::string FError;
};

}  // namespace fornax::app

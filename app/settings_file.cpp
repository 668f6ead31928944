#include "app/settings_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <QCoreApplication>

namespace fornax::app {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Why a save failed, in the windows' language: the file or folder, and the
// system's reason.
std::string SaveFailure(const char* text, const std::string& path, const std::string& reason) {
  return QCoreApplication::translate("fornax::app::TSettingsFile", text)
      .arg(QString::fromStdString(path), QString::fromStdString(reason))
      .toStdString();
}

// "[name]" -> name; anything else -> empty.
std::string SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return "";
  return Trim(t.substr(1, t.size() - 2));
}

bool ParseInteger(const std::string& text, int& value) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(t.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

TSettingsFile::TSettingsFile(std::string path) : FPath(std::move(path)) {
  std::ifstream in(FPath);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    FLines.push_back(line);
  }
}

std::string TSettingsFile::DefaultPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/fornax/QZREC.ini";
}

int TSettingsFile::FindKey(const std::string& section, const std::string& key) const {
  bool inSection = false;
  for (size_t i = 0; i < FLines.size(); ++i) {
    const std::string name = SectionOf(FLines[i]);
    if (!name.empty()) {
      inSection = SameText(name, section);
      continue;
    }
    const size_t equals = FLines[i].find('=');
    if (inSection && equals != std::string::npos && SameText(Trim(FLines[i].substr(0, equals)), key))
      return static_cast<int>(i);
  }
  return -1;
}

std::string TSettingsFile::ReadString(const std::string& section, const std::string& key,
                                      const std::string& fallback) const {
  const int at = FindKey(section, key);
  if (at < 0) return fallback;
  const std::string& line = FLines[static_cast<size_t>(at)];
  return Trim(line.substr(line.find('=') + 1));
}

int TSettingsFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  int value = fallback;
  return ParseInteger(ReadString(section, key, ""), value) ? value : fallback;
}

bool TSettingsFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

bool TSettingsFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string line = key + "=" + value;
  const int at = FindKey(section, key);
  if (at >= 0) {
    FLines[static_cast<size_t>(at)] = line;
    return Save();
  }
  // After the last line of the section, or in a new section at the end.
  size_t insert = FLines.size();
  bool found = false;
  for (size_t i = 0; i < FLines.size(); ++i) {
    const std::string name = SectionOf(FLines[i]);
    if (!name.empty()) {
      if (found) break;
      found = SameText(name, section);
      if (found) insert = i + 1;
    } else if (found && !Trim(FLines[i]).empty()) {
      insert = i + 1;
    }
  }
  if (!found) {
    if (!FLines.empty() && !Trim(FLines.back()).empty()) FLines.emplace_back();
    FLines.push_back("[" + section + "]");
    insert = FLines.size();
  }
  FLines.insert(FLines.begin() + static_cast<long>(insert), line);
  return Save();
}

bool TSettingsFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool TSettingsFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

bool TSettingsFile::Save() {
  std::error_code error;
  const std::filesystem::path path(FPath);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
  if (error) {
    FError = SaveFailure(QT_TRANSLATE_NOOP("fornax::app::TSettingsFile", "cannot make the folder %1: %2"),
                         path.parent_path().string(), error.message());
    return false;
  }
  const std::string temporary = FPath + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string& line : FLines) out << line << "\r\n";
    out.flush();
    if (!out) {
      FError = SaveFailure(QT_TRANSLATE_NOOP("fornax::app::TSettingsFile", "cannot write %1: %2"), temporary,
                           std::strerror(errno));
      ::unlink(temporary.c_str());
      return false;
    }
  }
  if (::rename(temporary.c_str(), FPath.c_str()) != 0) {
    FError = SaveFailure(QT_TRANSLATE_NOOP("fornax::app::TSettingsFile", "cannot replace %1: %2"), FPath,
                         std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace fornax::app

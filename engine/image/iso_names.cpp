#include "engine/image/iso_names.h"

#include "engine/base/text.h"
#include "engine/image/entries.h"

namespace fornax {
namespace {

std::string SpecialOr(std::string identifier) {
  if (identifier == ".") return std::string(1, '\0');
  if (identifier == "..") return std::string(1, '\1');
  return identifier;
}

}  // namespace

std::string JolietBytes(const std::string& text) {
  const std::u16string units = Utf8ToUtf16(text);
  std::string out;
  out.reserve(units.size() * 2);
  for (const char16_t u : units) {
    out += static_cast<char>(u >> 8);
    out += static_cast<char>(u & 0xFF);
  }
  return out;
}

std::string EntryIdentifier(const TFEntry& entry, TTree tree) {
  const std::string suffix = entry.IsDirectory() ? "" : ";1";
  if (tree == TTree::Iso) return SpecialOr(entry.ShortName + suffix);
  const std::string name = entry.LongName + suffix;
  if (name == "." || name == "..") return SpecialOr(name);
  return JolietBytes(name);
}

std::string DirectoryIdentifier(const TDEntry& dir, bool isRoot, TTree tree) {
  if (isRoot) return std::string(1, '\0');
  if (tree == TTree::Iso) return SpecialOr(dir.ShortName);
  if (dir.LongName == "." || dir.LongName == "..") return SpecialOr(dir.LongName);
  return JolietBytes(dir.LongName);
}

bool NamesFitRecord(const std::string& shortName, const std::string& longName, bool isDirectory) {
  const size_t suffix = isDirectory ? 0 : 2;
  const size_t isoLength = shortName.size() + suffix;
  const size_t jolietLength = 2 * (Utf16Length(longName) + suffix);
  return !shortName.empty() && !longName.empty() &&
         DirectoryRecordLength(isoLength) <= kMaxRecordLength &&
         DirectoryRecordLength(jolietLength) <= kMaxRecordLength;
}

std::string ShortNameFromDirectoryName(const std::string& name) {
  std::string out;
  size_t pos = 0;
  for (int count = 0; count < 13 && pos < name.size(); ++count) {
    const char32_t c = DecodeUtf8(name, pos);
    if (c < 33 || c > 122)
      out += '_';
    else
      out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return out;
}

std::string IsoNameKey(const std::string& shortName) {
  if (!shortName.empty() && shortName.back() == '.') return shortName.substr(0, shortName.size() - 1);
  return shortName;
}

}  // namespace fornax

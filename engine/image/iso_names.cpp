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

size_t EntryIdentifierLength(const TFEntry& entry, TTree tree) {
  const size_t suffix = entry.IsDirectory() ? 0 : 2;
  const std::string& name = tree == TTree::Iso ? entry.ShortName : entry.LongName;
  // "." and ".." (as only a directory can be named) become one byte.
  if (suffix == 0 && (name == "." || name == "..")) return 1;
  return tree == TTree::Iso ? name.size() + suffix : 2 * (Utf16Length(name) + suffix);
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

std::string JolietNameWithin(const std::string& name, size_t units) {
  if (Utf16Length(name) <= units) return name;
  const size_t dot = name.rfind('.');
  std::string extension;
  if (dot != std::string::npos && dot > 0 && Utf16Length(name.substr(dot)) <= 17) extension = name.substr(dot);
  const std::string stem = name.substr(0, name.size() - extension.size());
  const size_t room = units - Utf16Length(extension);
  std::string out;
  size_t used = 0, pos = 0;
  while (pos < stem.size()) {
    const size_t start = pos;
    const char32_t c = DecodeUtf8(stem, pos);
    const size_t width = c > 0xFFFF ? 2 : 1;
    if (used + width > room) break;
    used += width;
    out.append(stem, start, pos - start);
  }
  return out + extension;
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

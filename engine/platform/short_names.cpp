#include "engine/platform/short_names.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "engine/base/text.h"

namespace fornax {
namespace {

constexpr size_t kStemLength = 8;
constexpr size_t kExtensionLength = 3;

bool IsDChar(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDCharEitherCase(char32_t c) { return IsDChar(c) || (c >= 'a' && c <= 'z'); }

// "\" is the compilation's path separator; Joliet holds no control character.
bool UnusableInLongName(char32_t c) { return c == '\\' || c < 0x20 || c == 0x7F; }

// One d-character per character of the name: a letter's upper case, "_" for
// everything a d-character cannot spell (so "ñ" costs one "_", not two).
char ToDChar(char32_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return IsDChar(c) ? static_cast<char>(c) : '_';
}

std::u32string Decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) out += DecodeUtf8(text, pos);
  return out;
}

template <typename TChar>
std::string ToDChars(std::basic_string_view<TChar> chars, size_t limit) {
  std::string out;
  out.reserve(std::min(chars.size(), limit));
  for (const TChar c : chars) {
    if (out.size() == limit) break;
    if (c != '.') out += ToDChar(static_cast<char32_t>(c));
  }
  return out;
}

// The base of a name spelled in characters of TChar: bytes of a plain ASCII
// name, or the code points of any other.
template <typename TChar>
TShortNameBase BaseOfCharacters(std::basic_string_view<TChar> name, bool isDirectory) {
  std::basic_string<TChar> chars;
  chars.reserve(name.size());
  for (const TChar c : name)
    if (c != ' ' && !(isDirectory && c == '.')) chars += c;
  const std::basic_string_view<TChar> kept(chars);
  const size_t firstKept = kept.find_first_not_of(TChar('.'));
  const std::basic_string_view<TChar> rest =
      firstKept == std::basic_string_view<TChar>::npos ? std::basic_string_view<TChar>() : kept.substr(firstKept);
  const size_t lastDot = rest.rfind(TChar('.'));
  TShortNameBase base;
  if (lastDot == std::basic_string_view<TChar>::npos) {
    base.Stem = ToDChars(rest, std::string::npos);
  } else {
    base.Stem = ToDChars(rest.substr(0, lastDot), std::string::npos);
    base.Extension = ToDChars(rest.substr(lastDot + 1), kExtensionLength);
  }
  if (base.Stem.empty()) base.Stem = "_";
  return base;
}

// The first `count` characters of text.
std::string_view CutChars(std::string_view text, size_t count) {
  size_t pos = 0;
  for (size_t n = 0; n < count && pos < text.size(); ++n) DecodeUtf8(text, pos);
  return text.substr(0, pos);
}

// The first candidate from tail `n` on that is not taken; `n` is left at it.
std::string FirstFreeTail(const std::string& Stem, const std::string& Extension,
                          const TNameTaken& isTaken, uint64_t& n) {
  for (; n <= kMaxShortNameTail; ++n) {
    std::string candidate = ShortNameWithTail(Stem, Extension, n);
    if (!isTaken(candidate)) return candidate;
  }
  throw std::length_error("no free short name for " + Stem);
}

std::string FirstFreeTail(const std::string& Stem, const std::string& Extension,
                          const TNameTaken& isTaken) {
  uint64_t n = 1;
  return FirstFreeTail(Stem, Extension, isTaken, n);
}

// Stem and extension of an identifier: a directory's is all stem.
TShortNameBase SplitIdentifier(const std::string& ShortName, bool isDirectory) {
  const size_t dot = isDirectory ? std::string::npos : ShortName.rfind('.');
  if (dot == std::string::npos) return {ShortName, ""};
  return {ShortName.substr(0, dot), ShortName.substr(dot + 1)};
}

}  // namespace

std::string MakeLongName(const std::string& Name) {
  const auto plain = [](char ch) { return ch >= 0x20 && ch < 0x7F && ch != '\\'; };
  // Most names need no repair: spare them the decoding.
  if (std::all_of(Name.begin(), Name.end(), plain)) return Name;
  std::string out;
  out.reserve(Name.size());
  size_t pos = 0;
  while (pos < Name.size()) {
    const char32_t c = DecodeUtf8(Name, pos);
    AppendUtf8(out, UnusableInLongName(c) ? U'_' : c);
  }
  return out;
}

bool LongNameReplacesCharacters(const std::string& Name) {
  // The unusable characters are ASCII, and no UTF-8 sequence hides an ASCII
  // byte, so the bytes tell.
  return std::any_of(Name.begin(), Name.end(),
                     [](char ch) { return UnusableInLongName(static_cast<unsigned char>(ch)); });
}

bool IsShortNameValid(const std::string& LongName, bool isDirectory) {
  const size_t dot = LongName.find('.');
  if (isDirectory && dot != std::string::npos) return false;
  const std::string_view name(LongName);
  const std::string_view stem = name.substr(0, dot);
  const std::string_view ext = dot == std::string::npos ? std::string_view() : name.substr(dot + 1);
  if (stem.empty() || stem.size() > kStemLength) return false;
  if (dot != std::string::npos && (ext.empty() || ext.size() > kExtensionLength)) return false;
  for (const std::string_view part : {stem, ext})
    for (const char ch : part)
      if (!IsDCharEitherCase(static_cast<unsigned char>(ch))) return false;  // also a second dot
  return true;
}

TShortNameBase ShortNameBase(const std::string& LongName, bool isDirectory) {
  // Most names are plain ASCII: one byte is one character, no decoding.
  if (std::all_of(LongName.begin(), LongName.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }))
    return BaseOfCharacters(std::string_view(LongName), isDirectory);
  return BaseOfCharacters(std::u32string_view(Decode(LongName)), isDirectory);
}

std::string ShortNameWithTail(const std::string& Stem, const std::string& Extension,
                              uint64_t N) {
  const std::string tail = "_" + std::to_string(N);
  const size_t room = tail.size() < kStemLength ? kStemLength - tail.size() : 0;
  std::string out(CutChars(Stem, room));
  out += tail;
  if (!Extension.empty()) out += "." + Extension;
  return out;
}

std::string MakeShortName(const std::string& LongName, const TNameTaken& isTaken,
                          bool isDirectory) {
  const TShortNameBase base = ShortNameBase(LongName, isDirectory);
  return FirstFreeTail(base.Stem, base.Extension, isTaken);
}

std::string MakeUniqueShortName(const std::string& ShortName, bool isDirectory,
                                const TNameTaken& isTaken) {
  const TShortNameBase base = SplitIdentifier(ShortName, isDirectory);
  return FirstFreeTail(base.Stem, base.Extension, isTaken);
}

std::string MakeUniqueShortName(const std::string& ShortName, bool isDirectory, const TNameTaken& isTaken,
                                TTailHints& hints) {
  const TShortNameBase base = SplitIdentifier(ShortName, isDirectory);
  // Every candidate depends only on the first six stem characters (the most
  // a tail leaves) and the extension.
  const std::string series = std::string(CutChars(base.Stem, 6)) + "." + base.Extension;
  uint64_t& next = hints.try_emplace(series, 1).first->second;
  std::string candidate = FirstFreeTail(base.Stem, base.Extension, isTaken, next);
  ++next;
  return candidate;
}

}  // namespace fornax

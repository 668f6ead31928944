#include "engine/image/iso_records.h"

#include <algorithm>
#include <string_view>

#include "engine/base/bytes.h"
#include "engine/base/text.h"
#include "engine/image/iso_names.h"

namespace fornax {
namespace {

constexpr uint8_t kJolietEscape[3] = {0x25, 0x2F, 0x40};

// What the primary descriptor's identifiers may hold besides A-Z and 0-9.
constexpr std::string_view kAPunctuation = "_ !\"%&'()*+,-./:;<=>?";

char ToAChar(char32_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  const bool kept = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    (c < 0x80 && kAPunctuation.find(static_cast<char>(c)) != std::string_view::npos);
  return kept ? static_cast<char>(c) : '_';
}

// A free text as a primary descriptor identifier. Readers of the ISO 9660 tree
// show these bytes as they are, so only a-characters read alike everywhere;
// the label as typed goes in the Joliet descriptor. One "_" per character, so
// "Año" keeps its length.
std::string ACharacters(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) out += ToAChar(DecodeUtf8(text, pos));
  return out;
}

// Cuts a UTF-8 text at a character boundary to at most `width` bytes, then
// pads it with spaces.
void PutPaddedText(uint8_t* p, size_t width, const std::string& text) {
  size_t end = 0, pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    DecodeUtf8(text, next);
    if (next > width) break;
    end = pos = next;
  }
  std::fill(p, p + width, ' ');
  std::copy(text.begin(), text.begin() + static_cast<ptrdiff_t>(end), p);
}

void PutPaddedUtf16(uint8_t* p, size_t characters, const std::string& text) {
  std::string bytes = JolietBytes(text);
  if (bytes.size() > characters * 2) {
    bytes.resize(characters * 2);
    // Never leave the first half of a surrogate pair at the cut.
    const uint8_t high = static_cast<uint8_t>(bytes[bytes.size() - 2]);
    if (high >= 0xD8 && high <= 0xDB) bytes.resize(bytes.size() - 2);
  }
  for (size_t i = 0; i < characters; ++i) {
    const bool inText = 2 * i + 1 < bytes.size();
    p[2 * i] = inText ? static_cast<uint8_t>(bytes[2 * i]) : 0x00;
    p[2 * i + 1] = inText ? static_cast<uint8_t>(bytes[2 * i + 1]) : 0x20;
  }
}

void PutDescriptorHeader(TSector& s, uint8_t type) {
  s.fill(0);
  s[0] = type;
  PutText(&s[1], "CD001");
  s[6] = 1;
}

void PutRootRecord(uint8_t* p, uint32_t extent, uint32_t size) {
  std::vector<uint8_t> record;
  TDirectoryRecord root;
  root.Extent = extent;
  root.DataLength = size;
  root.HasDate = false;
  root.Flags = kFlagDirectory;
  root.Identifier = std::string(1, '\0');
  AppendDirectoryRecord(record, root);
  std::copy(record.begin(), record.end(), p);
}

void PutCommonFields(TSector& s, const TDescriptorPlan& plan) {
  PutBoth32(&s[80], plan.VolumeSpaceSize);
  PutBoth16(&s[120], 1);
  PutBoth16(&s[124], 1);
  PutBoth16(&s[128], 2048);
  PutBoth32(&s[132], plan.PathTableSize);
  PutLe32(&s[140], plan.PathTableL);
  PutBe32(&s[148], plan.PathTableM);
  PutRootRecord(&s[156], plan.RootExtent, plan.RootSize);
  PutUnsetDescriptorDate(&s[847]);
  PutUnsetDescriptorDate(&s[864]);
  s[881] = 1;
  std::fill(&s[1024], &s[1032], ' ');
}

}  // namespace

void PutRecordDate(uint8_t* p, TDateTime date, int timeZone) {
  const TDateTimeParts parts = DecodeDateTime(date);
  p[0] = static_cast<uint8_t>(std::clamp(parts.Year - 1900, 0, 255));
  p[1] = static_cast<uint8_t>(parts.Month);
  p[2] = static_cast<uint8_t>(parts.Day);
  p[3] = static_cast<uint8_t>(parts.Hour);
  p[4] = static_cast<uint8_t>(parts.Minute);
  p[5] = static_cast<uint8_t>(parts.Second);
  p[6] = static_cast<uint8_t>(static_cast<int8_t>(timeZone));
}

void AppendDirectoryRecord(std::vector<uint8_t>& out, const TDirectoryRecord& record) {
  const size_t n = record.Identifier.size();
  const size_t length = DirectoryRecordLength(n) + record.SystemUse.size();
  const size_t at = out.size();
  out.resize(at + length, 0);
  uint8_t* p = out.data() + at;
  p[0] = static_cast<uint8_t>(length);
  PutBoth32(p + 2, record.Extent);
  PutBoth32(p + 10, record.DataLength);
  if (record.HasDate) PutRecordDate(p + 18, record.Date, record.TimeZone);
  p[25] = record.Flags;
  PutBoth16(p + 28, 1);
  p[32] = static_cast<uint8_t>(n);
  PutText(p + 33, record.Identifier);
  std::copy(record.SystemUse.begin(), record.SystemUse.end(), p + DirectoryRecordLength(n));
}

void AppendPathTableRecord(std::vector<uint8_t>& out, const std::string& identifier,
                           uint32_t extent, uint16_t parent, bool bigEndian) {
  const size_t n = identifier.size();
  const size_t at = out.size();
  out.resize(at + 8 + n + (n % 2), 0);
  uint8_t* p = out.data() + at;
  p[0] = static_cast<uint8_t>(n);
  if (bigEndian) {
    PutBe32(p + 2, extent);
    PutBe16(p + 6, parent);
  } else {
    PutLe32(p + 2, extent);
    PutLe16(p + 6, parent);
  }
  PutText(p + 8, identifier);
}

void PutDescriptorDate(uint8_t* p, TDateTime date) {
  PutText(p, FormatDescriptorDigits(date));
  p[16] = static_cast<uint8_t>(static_cast<int8_t>(LocalUtcOffsetQuarterHours(date)));
}

void PutUnsetDescriptorDate(uint8_t* p) {
  PutText(p, "0000000000000000");
  p[16] = 0;
}

TSector PrimaryVolumeDescriptor(const TVolumeIdentifiers& ids, const TDescriptorPlan& plan,
                                TDateTime now) {
  TSector s;
  PutDescriptorHeader(s, 1);
  PutPaddedText(&s[8], 32, ACharacters(ids.System));
  PutPaddedText(&s[40], 32, ACharacters(ids.Volume));
  // Bytes 88-119 of a primary descriptor are reserved and stay zero even with a
  // Joliet tree: readers that check them (libarchive) otherwise find no volume.
  PutCommonFields(s, plan);
  PutPaddedText(&s[190], 128, ACharacters(ids.VolumeSet));
  PutPaddedText(&s[318], 128, ACharacters(ids.Publisher));
  PutPaddedText(&s[446], 128, ACharacters(ids.Preparer));
  PutPaddedText(&s[574], 128, ACharacters(ids.Application));
  PutPaddedText(&s[702], 37, UpperCase(ids.Copyright));
  PutPaddedText(&s[739], 37, UpperCase(ids.Abstract));
  PutPaddedText(&s[776], 37, UpperCase(ids.Bibliographic));
  PutDescriptorDate(&s[813], now);
  PutDescriptorDate(&s[830], now);
  return s;
}

TSector JolietVolumeDescriptor(const TVolumeIdentifiers& ids, const TDescriptorPlan& plan) {
  TSector s;
  PutDescriptorHeader(s, 2);
  PutPaddedUtf16(&s[8], 16, ids.System);
  PutPaddedUtf16(&s[40], 16, ids.Volume);
  std::copy(std::begin(kJolietEscape), std::end(kJolietEscape), &s[88]);
  PutCommonFields(s, plan);
  PutPaddedUtf16(&s[190], 64, ids.VolumeSet);
  PutPaddedUtf16(&s[318], 64, ids.Publisher);
  PutPaddedUtf16(&s[446], 64, ids.Preparer);
  PutPaddedUtf16(&s[574], 64, ids.Application);
  PutPaddedUtf16(&s[702], 18, ids.Copyright);
  PutPaddedUtf16(&s[739], 18, ids.Abstract);
  PutPaddedUtf16(&s[776], 18, ids.Bibliographic);
  PutDescriptorDate(&s[813], ids.JolietCreation);
  PutDescriptorDate(&s[830], ids.JolietModification);
  return s;
}

TSector TerminatorDescriptor() {
  TSector s;
  PutDescriptorHeader(s, 255);
  return s;
}

}  // namespace fornax

#include "simdrive/mode_pages.h"

#include <algorithm>

#include "simdrive/bytes.h"

namespace fornax::sim {
namespace {

constexpr int kModeHeaderBytes = 8;
constexpr int kCapabilitiesFixedBytes = 32;
constexpr uint8_t kLinkSizeCd = 7;
constexpr uint8_t kLinkSizeDvd = 16;

void AppendPage(std::vector<uint8_t>& out, std::span<const uint8_t> page) {
  out.insert(out.end(), page.begin(), page.end());
}

bool BlockTypeFits(uint8_t write_type, uint8_t block_type) {
  if (write_type == 3) return block_type >= 1 && block_type <= 3;  // raw needs raw blocks with subcode
  return block_type == 0 || (block_type >= 8 && block_type <= 13);
}

Sense ValidateCdPage(std::span<const uint8_t> p) {
  const uint8_t write_type = p[2] & 0x0F;
  if (write_type > 3) return sense::kInvalidFieldInParameters;
  if (!BlockTypeFits(write_type, p[4] & 0x0F)) return sense::kInvalidFieldInParameters;
  if ((p[2] & 0x20) && p[5] != kLinkSizeCd) return sense::kInvalidFieldInParameters;
  return sense::kNone;
}

Sense ValidateDvdMinusPage(std::span<const uint8_t> p) {
  const uint8_t write_type = p[2] & 0x0F;
  if (write_type != 0 && write_type != 2) return sense::kInvalidFieldInParameters;
  if ((p[4] & 0x0F) != 8) return sense::kInvalidFieldInParameters;
  if ((p[2] & 0x20) && p[5] != kLinkSizeDvd) return sense::kInvalidFieldInParameters;
  return sense::kNone;
}

Sense CheckChangeable(const std::array<uint8_t, kPage05Bytes>& current, std::span<const uint8_t> page) {
  const auto mask = WriteParametersChangeable();
  for (int i = 2; i < kPage05Bytes; ++i)
    if (((page[i] ^ current[i]) & ~mask[i]) != 0) return sense::kInvalidFieldInParameters;
  return sense::kNone;
}

}  // namespace

std::vector<uint8_t> CapabilitiesPage(const DriveState& state, PageControl pc) {
  const SpeedTable speeds = SpeedsFor(state.disc.kind);
  std::vector<uint8_t> p(kCapabilitiesFixedBytes + 4 * speeds.write_count, 0);
  p[0] = kPageCapabilities;
  p[1] = static_cast<uint8_t>(p.size() - 2);
  if (pc == PageControl::kChangeable) return p;  // nothing in it can be changed
  const bool current = pc == PageControl::kCurrent;
  const uint16_t read =
      current ? std::clamp(state.read_speed_request, speeds.one_x, speeds.max_read) : speeds.max_read;
  const uint16_t write = current ? PickSpeed(speeds, state.write_speed_request) : speeds.write[0];
  p[2] = 0x3F;  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
  p[3] = 0x37;  // writes CD-R, CD-RW, DVD-R, DVD-RAM; test write
  p[4] = 0xF0;  // BUF, multi-session, mode 2 form 1 and 2
  p[6] = 0x29;  // tray, eject, lock
  if (current && state.prevent_removal) p[6] |= 0x02;
  PutBe16(&p[8], speeds.max_read);
  PutBe16(&p[12], kBufferBytes / 1024);
  PutBe16(&p[14], read);
  PutBe16(&p[18], speeds.write[0]);
  PutBe16(&p[20], write);
  PutBe16(&p[28], write);
  PutBe16(&p[30], static_cast<uint16_t>(speeds.write_count));
  for (int i = 0; i < speeds.write_count; ++i) PutBe16(&p[kCapabilitiesFixedBytes + 4 * i + 2], speeds.write[i]);
  return p;
}

std::array<uint8_t, kPage05Bytes> WriteParametersChangeable() {
  std::array<uint8_t, kPage05Bytes> m{};
  m[0] = kPageWriteParameters;
  m[1] = kPage05Bytes - 2;
  m[2] = 0x7F;  // BUFE, LS_V, test write, write type
  m[3] = 0xFF;  // multi-session, FP, copy, track mode
  m[4] = 0x0F;  // data block type
  m[5] = 0xFF;  // link size
  m[7] = 0x3F;  // host application code
  m[8] = 0xFF;  // session format
  std::fill(m.begin() + 10, m.end(), 0xFF);  // packet size, pause, MCN, ISRC, sub-header
  return m;
}

std::array<uint8_t, kPage05Bytes> WriteParametersPage(const DriveState& state, PageControl pc) {
  switch (pc) {
    case PageControl::kChangeable: return WriteParametersChangeable();
    case PageControl::kDefault: return DefaultPage05();
    default: return state.page05;
  }
}

std::vector<uint8_t> ModeSenseAnswer(const DriveState& state, uint8_t page, PageControl pc,
                                     Sense* refusal) {
  std::vector<uint8_t> out(kModeHeaderBytes, 0);
  const bool all = page == kPageAll;
  if (page == kPageWriteParameters || all) AppendPage(out, WriteParametersPage(state, pc));
  if (page == kPageCapabilities || all) AppendPage(out, CapabilitiesPage(state, pc));
  if (out.size() == kModeHeaderBytes) {
    *refusal = sense::InvalidFieldInCdb(2, 5);
    return {};
  }
  PutBe16(&out[0], static_cast<uint32_t>(out.size() - 2));
  return out;
}

WriteParameters DecodeWriteParameters(const std::array<uint8_t, kPage05Bytes>& p) {
  WriteParameters w;
  w.write_type = p[2] & 0x0F;
  w.test_write = p[2] & 0x10;
  w.multisession = static_cast<uint8_t>(p[3] >> 6);
  w.track_mode = p[3] & 0x0F;
  w.block_type = p[4] & 0x0F;
  return w;
}

Sense ValidateWriteParameters(const Disc& disc, std::span<const uint8_t> page) {
  if (!UsesWriteParameters(disc.kind, disc.restricted_overwrite)) return sense::kNone;
  if ((page[3] >> 6) == 2) return sense::kInvalidFieldInParameters;  // reserved multi-session value
  return IsCd(disc.kind) ? ValidateCdPage(page) : ValidateDvdMinusPage(page);
}

Sense ApplyModeSelect(DriveState& state, std::span<const uint8_t> list) {
  if (list.empty()) return sense::kNone;
  if (list.size() < kModeHeaderBytes) return sense::kParameterListLength;
  if (GetBe16(&list[6]) != 0) return sense::kInvalidFieldInParameters;  // no block descriptors
  auto page05 = state.page05;
  size_t at = kModeHeaderBytes;
  while (at < list.size()) {
    if (list.size() - at < 2) return sense::kParameterListLength;
    const uint8_t code = list[at];
    const size_t length = list[at + 1];
    if (list.size() - at < 2 + length) return sense::kParameterListLength;
    // PS and SPF are not for the host to set; only page 05 can be changed.
    if (code != kPageWriteParameters || length != kPage05Bytes - 2) return sense::kInvalidFieldInParameters;
    const auto page = list.subspan(at, kPage05Bytes);
    if (Sense s = CheckChangeable(page05, page); !s.Good()) return s;
    if (Sense s = ValidateWriteParameters(state.disc, page); !s.Good()) return s;
    std::copy(page.begin() + 2, page.end(), page05.begin() + 2);
    at += kPage05Bytes;
  }
  if ((page05[2] & 0x10) != (state.page05[2] & 0x10)) state.disc.test_offset = 0;
  state.page05 = page05;
  return sense::kNone;
}

}  // namespace fornax::sim

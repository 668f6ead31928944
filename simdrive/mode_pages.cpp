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

namespace {

// Page 01h, read error recovery: read retry count 5, as QEMU offers it.
std::vector<uint8_t> ReadErrorRecoveryPage(PageControl pc) {
  std::vector<uint8_t> p{kPageReadErrorRecovery, 6, 0, 0, 0, 0, 0, 0};
  if (pc != PageControl::kChangeable) p[3] = 5;
  return p;
}

// Page 0Eh, CD audio control: Immed, ports 0 and 1 on channels 1 and 2 at
// full volume, as QEMU offers it. Nothing in it can be changed.
std::vector<uint8_t> CdAudioControlPage(PageControl pc) {
  std::vector<uint8_t> p(16, 0);
  p[0] = kPageCdAudioControl;
  p[1] = 14;
  if (pc == PageControl::kChangeable) return p;
  p[2] = 0x04;
  p[8] = 0x01;
  p[9] = 0xFF;
  p[10] = 0x02;
  p[11] = 0xFF;
  return p;
}

constexpr size_t kModeHeader6Bytes = 4;
constexpr size_t kBlockDescriptorBytes = 8;
constexpr uint32_t kBlockLength = 2048;

}  // namespace

std::vector<uint8_t> ModePages(const DriveState& state, uint8_t page, PageControl pc, Sense* refusal) {
  std::vector<uint8_t> out;
  const bool all = page == kPageAll;
  if (page == kPageReadErrorRecovery || all) AppendPage(out, ReadErrorRecoveryPage(pc));
  if (page == kPageWriteParameters || all) AppendPage(out, WriteParametersPage(state, pc));
  if (page == kPageCdAudioControl || all) AppendPage(out, CdAudioControlPage(pc));
  if (page == kPageCapabilities || all) AppendPage(out, CapabilitiesPage(state, pc));
  if (out.empty()) *refusal = sense::InvalidFieldInCdb(2, 5);
  return out;
}

std::vector<uint8_t> ModeSenseAnswer(const DriveState& state, uint8_t page, PageControl pc,
                                     Sense* refusal) {
  const auto pages = ModePages(state, page, pc, refusal);
  if (pages.empty()) return {};
  std::vector<uint8_t> out(kModeHeaderBytes, 0);
  AppendPage(out, pages);
  PutBe16(&out[0], static_cast<uint32_t>(out.size() - 2));
  return out;
}

std::vector<uint8_t> ModeSense6Answer(const DriveState& state, uint8_t page, PageControl pc, bool dbd,
                                      Sense* refusal) {
  const auto pages = ModePages(state, page, pc, refusal);
  if (pages.empty()) return {};
  std::vector<uint8_t> out(kModeHeader6Bytes, 0);
  if (!dbd) {
    out[3] = kBlockDescriptorBytes;
    out.resize(kModeHeader6Bytes + kBlockDescriptorBytes, 0);
    // Density 0, all blocks; the block length is not changeable.
    if (pc != PageControl::kChangeable) PutBe24(&out[kModeHeader6Bytes + 5], kBlockLength);
  }
  AppendPage(out, pages);
  // The mode data length leaves out only itself.
  out[0] = static_cast<uint8_t>(std::min<size_t>(out.size() - 1, 0xFF));
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

Sense ApplyModeSelect(DriveState& state, std::span<const uint8_t> list, size_t header_bytes) {
  if (list.empty()) return sense::kNone;
  if (list.size() < header_bytes) return sense::kParameterListLength;
  const size_t descriptor_bytes = header_bytes == kModeHeader6Bytes ? list[3] : GetBe16(&list[6]);
  if (descriptor_bytes != 0 && descriptor_bytes != kBlockDescriptorBytes) return sense::kInvalidFieldInParameters;
  if (list.size() < header_bytes + descriptor_bytes) return sense::kParameterListLength;
  if (descriptor_bytes != 0) {
    // Density 0 and 2048-byte blocks: raw blocks (2336, 2340, 2352) would need
    // READ of raw sectors, which the drive does not do.
    const uint8_t* d = &list[header_bytes];
    if (d[0] != 0 || GetBe24(d + 5) != kBlockLength) return sense::kInvalidFieldInParameters;
  }
  auto page05 = state.page05;
  size_t at = header_bytes + descriptor_bytes;
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
  // A host that leaves session at once before writing any block of its cue
  // sheet gives the sheet up.
  CueSheet& cue = state.disc.cue;
  if ((page05[2] & 0x0F) != 2 && cue.Active() && cue.next == cue.tracks.front().first) cue = CueSheet{};
  state.page05 = page05;
  return sense::kNone;
}

}  // namespace fornax::sim

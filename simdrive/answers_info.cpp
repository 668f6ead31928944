#include "simdrive/answers_info.h"

#include <algorithm>
#include <cstring>

#include "simdrive/bytes.h"

namespace fornax::sim {

void PutPaddedText(uint8_t* field, int width, const std::string& text) {
  std::memset(field, ' ', static_cast<size_t>(width));
  const size_t n = std::min(text.size(), static_cast<size_t>(width));
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    field[i] = c >= 0x20 && c < 0x7F ? c : '?';
  }
}

std::vector<uint8_t> InquiryAnswer(const Identity& identity) {
  std::vector<uint8_t> b(kInquiryBytes, 0);
  b[0] = 0x05;  // CD/DVD device
  b[1] = 0x80;  // removable medium
  b[2] = 0x05;
  b[3] = 0x02;  // response data format
  b[4] = kInquiryBytes - 5;
  PutPaddedText(&b[8], 8, identity.vendor);
  PutPaddedText(&b[16], 16, identity.product);
  PutPaddedText(&b[32], 4, identity.revision);
  // The bytes left to the vendor say plainly that there is no hardware behind it.
  PutPaddedText(&b[36], 20, "SOFTWARE SIMULATION");
  return b;
}

std::vector<uint8_t> DiscInformationAnswer(const DiscSummary& s) {
  std::vector<uint8_t> b(kDiscInformationBytes, 0);
  PutBe16(&b[0], kDiscInformationBytes - 2);
  b[2] = static_cast<uint8_t>((s.erasable ? 0x10 : 0) | (s.last_session_state << 2) | s.status);
  b[3] = 1;
  b[4] = static_cast<uint8_t>(s.sessions);
  b[5] = static_cast<uint8_t>(s.first_track_last_session);
  b[6] = static_cast<uint8_t>(s.last_track_last_session);
  b[7] = static_cast<uint8_t>(0x20 | (s.background_format & 0x03));  // unrestricted use
  b[8] = s.disc_type;
  b[9] = static_cast<uint8_t>(s.sessions >> 8);
  b[10] = static_cast<uint8_t>(s.first_track_last_session >> 8);
  b[11] = static_cast<uint8_t>(s.last_track_last_session >> 8);
  PutBe32(&b[16], s.lead_in_field);
  PutBe32(&b[20], s.lead_out_field);
  return b;
}

std::vector<uint8_t> TrackInformationAnswer(const TrackInfo& t) {
  std::vector<uint8_t> b(kTrackInformationBytes, 0);
  PutBe16(&b[0], kTrackInformationBytes - 2);
  b[2] = static_cast<uint8_t>(t.number);
  b[3] = static_cast<uint8_t>(t.session);
  b[5] = t.track_mode & 0x0F;
  b[6] = static_cast<uint8_t>((t.reserved ? 0x80 : 0) | (t.blank ? 0x40 : 0) | (t.packet ? 0x20 : 0) |
                              (t.fixed_packet ? 0x10 : 0) | (t.data_mode & 0x0F));
  b[7] = static_cast<uint8_t>((t.lra_valid ? 0x02 : 0) | (t.nwa_valid ? 0x01 : 0));
  PutBe32(&b[8], t.start);
  PutBe32(&b[12], t.nwa_valid ? t.nwa : 0);
  PutBe32(&b[16], t.free);
  PutBe32(&b[20], t.packet_size);
  PutBe32(&b[24], t.size);
  PutBe32(&b[28], t.lra_valid ? t.last_recorded : 0);
  b[32] = static_cast<uint8_t>(t.number >> 8);
  b[33] = static_cast<uint8_t>(t.session >> 8);
  return b;
}

std::vector<uint8_t> ReadCapacityAnswer(uint32_t last_lba) {
  std::vector<uint8_t> b(8, 0);
  PutBe32(&b[0], last_lba);
  PutBe32(&b[4], 2048);
  return b;
}

std::vector<uint8_t> FormatCapacitiesAnswer(const CapacityDescriptor& current,
                                            const std::vector<FormatDescriptor>& offered) {
  std::vector<uint8_t> b(12 + 8 * offered.size(), 0);
  b[3] = static_cast<uint8_t>(8 * (1 + offered.size()));
  PutBe32(&b[4], current.blocks);
  b[8] = current.descriptor_type & 0x03;
  PutBe24(&b[9], 2048);
  for (size_t i = 0; i < offered.size(); ++i) {
    uint8_t* d = &b[12 + 8 * i];
    PutBe32(d, offered[i].blocks);
    d[4] = static_cast<uint8_t>(offered[i].type << 2);
    PutBe24(d + 5, offered[i].parameter);
  }
  return b;
}

std::vector<uint8_t> BufferCapacityAnswer(bool in_blocks, uint32_t buffer_bytes, uint32_t free_bytes) {
  std::vector<uint8_t> b(12, 0);
  PutBe16(&b[0], 10);
  if (in_blocks) {
    b[3] = 0x01;
    PutBe32(&b[8], free_bytes / 2048);
  } else {
    PutBe32(&b[4], buffer_bytes);
    PutBe32(&b[8], free_bytes);
  }
  return b;
}

}  // namespace fornax::sim

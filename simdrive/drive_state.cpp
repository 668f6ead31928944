#include "simdrive/drive_state.h"

#include "simdrive/bytes.h"

namespace fornax::sim {

std::array<uint8_t, kPage05Bytes> DefaultPage05() {
  std::array<uint8_t, kPage05Bytes> p{};
  p[0] = 0x05;
  p[1] = kPage05Bytes - 2;
  p[2] = 0x41;  // BUFE, track at once
  p[3] = 0x04;  // no next session, data track uninterrupted
  p[4] = 0x08;  // mode 1, 2048 bytes
  PutBe16(&p[14], 150);
  return p;
}

Disc BlankDisc(MediumKind kind, bool restricted_overwrite) {
  Disc d;
  d.kind = kind;
  switch (kind) {
    case MediumKind::kDvdRw:
      d.restricted_overwrite = restricted_overwrite;
      if (restricted_overwrite) {
        d.formatted = true;
        d.formatted_blocks = geometry::kDvdRw;
      }
      break;
    case MediumKind::kDvdRam:
      d.formatted = true;
      d.formatted_blocks = geometry::kDvdRam;
      break;
    default: break;
  }
  return d;
}

DriveState FreshDriveState() {
  DriveState s;
  s.page05 = DefaultPage05();
  s.disc = BlankDisc(MediumKind::kDvdPlusR, false);
  return s;
}

}  // namespace fornax::sim

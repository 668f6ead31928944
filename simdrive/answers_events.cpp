#include "simdrive/answers_events.h"

#include <algorithm>

#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"
#include "simdrive/media.h"

namespace fornax::sim {
namespace {

constexpr uint8_t kNoEventAvailable = 0x80;
constexpr uint32_t kDvdStartPsn = 0x030000;
constexpr size_t kDvdStructureBytes = 2048;
constexpr size_t kAdipBytes = 256;
constexpr size_t kPerformanceHeaderBytes = 8;
constexpr size_t kPerformanceDescriptorBytes = 16;

namespace dvd_format {
constexpr uint8_t kPhysical = 0x00;
constexpr uint8_t kCopyright = 0x01;
constexpr uint8_t kManufacturing = 0x04;
constexpr uint8_t kAdip = 0x11;
constexpr uint8_t kList = 0xFF;
}  // namespace dvd_format

// Blocks the medium holds: its recordable or formatted capacity.
uint32_t Capacity(const Disc& disc) {
  if (disc.kind == MediumKind::kNone) return 0;
  if (IsSequential(disc)) return UsableEnd(disc);
  return OverwriteCapacity(disc);
}

bool IsPlus(MediumKind kind) {
  return kind == MediumKind::kDvdPlusR || kind == MediumKind::kDvdPlusRw || kind == MediumKind::kDvdPlusRDl;
}

// Book type and part version (data byte 0), as dvd+rw-mediainfo shows them.
uint8_t BookType(MediumKind kind) {
  switch (kind) {
    case MediumKind::kDvdR: return 0x25;
    case MediumKind::kDvdRw: return 0x32;
    case MediumKind::kDvdPlusR: return 0xA1;
    case MediumKind::kDvdPlusRw: return 0x92;
    case MediumKind::kDvdRam: return 0x16;
    case MediumKind::kDvdPlusRDl: return 0xE1;
    default: return 0x00;
  }
}

bool Rewritable(MediumKind kind) {
  return kind == MediumKind::kDvdRw || kind == MediumKind::kDvdPlusRw || kind == MediumKind::kDvdRam;
}

std::vector<uint8_t> WithLengthHeader(std::vector<uint8_t> data) {
  std::vector<uint8_t> b(4, 0);
  PutBe16(&b[0], static_cast<uint32_t>(data.size() + 2));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::vector<uint8_t> PhysicalFormat(const Disc& disc) {
  std::vector<uint8_t> d(kDvdStructureBytes, 0);
  const bool dual = disc.kind == MediumKind::kDvdPlusRDl;
  d[0] = BookType(disc.kind);
  d[1] = 0x0F;  // 120 mm, maximum rate unspecified
  d[2] = static_cast<uint8_t>((dual ? 0x30 : 0x00) | (Rewritable(disc.kind) ? 0x04 : 0x02));
  PutBe32(&d[4], kDvdStartPsn);
  const uint32_t capacity = Capacity(disc);
  if (dual) {
    // Opposite track path: layer 1 counts on from the complement of layer 0's end.
    const uint32_t layer0_end = kDvdStartPsn + geometry::kDvdPlusRDl / 2 - 1;
    const uint32_t layer1_start = ~layer0_end & 0xFFFFFF;
    PutBe32(&d[8], layer1_start + (capacity - geometry::kDvdPlusRDl / 2) - 1);
    PutBe32(&d[12], layer0_end);
  } else {
    PutBe32(&d[8], kDvdStartPsn + capacity - 1);
  }
  return d;
}

std::vector<uint8_t> Adip(const Disc& disc) {
  std::vector<uint8_t> d(kAdipBytes, 0);
  d[0] = BookType(disc.kind);
  d[1] = 0x0F;
  const char* id = "FORNAXSM";
  std::copy(id, id + 8, d.begin() + 19);
  const char* type = disc.kind == MediumKind::kDvdPlusRw ? "W01" : disc.kind == MediumKind::kDvdPlusRDl ? "D01" : "R01";
  std::copy(type, type + 3, d.begin() + 27);
  return d;
}

std::vector<uint8_t> StructureList(const Disc& disc) {
  std::vector<uint8_t> d;
  auto add = [&](uint8_t format, uint16_t length) {
    d.push_back(format);
    d.push_back(0x40);  // RDS: READ DVD STRUCTURE returns it
    d.push_back(static_cast<uint8_t>(length >> 8));
    d.push_back(static_cast<uint8_t>(length));
  };
  add(dvd_format::kPhysical, kDvdStructureBytes + 4);
  add(dvd_format::kCopyright, 8);
  add(dvd_format::kManufacturing, kDvdStructureBytes + 4);
  if (IsPlus(disc.kind)) add(dvd_format::kAdip, kAdipBytes + 4);
  return d;
}

}  // namespace

std::vector<uint8_t> EventStatusAnswer(const EventInputs& in, bool* media_reported) {
  *media_reported = false;
  const uint8_t asked = in.requested & event_class::kSupported;
  if (asked == 0) return {0x00, 0x00, kNoEventAvailable, event_class::kSupported};
  std::vector<uint8_t> b{0x00, 0x04, 0x00, event_class::kSupported, 0, 0, 0, 0};
  const bool media_event = (asked & event_class::kMedia) && in.media_event != MediaEvent::kNone;
  const bool busy_event = (asked & event_class::kBusy) && in.busy;
  if (media_event || (!busy_event && (asked & event_class::kMedia))) {
    b[2] = 4;
    b[4] = static_cast<uint8_t>(in.media_event);
    b[5] = static_cast<uint8_t>((in.medium_present && !in.tray_open ? 0x02 : 0) | (in.tray_open ? 0x01 : 0));
    *media_reported = media_event;
  } else if (asked & event_class::kBusy) {
    b[2] = 6;
    if (in.busy) {
      b[4] = 1;  // busy event
      b[5] = 1;  // busy
      PutBe16(&b[6], in.busy_tenths);
    }
  } else {
    b[2] = 2;
    b[5] = 1;  // active, no change
  }
  return b;
}

std::vector<uint8_t> PerformanceAnswer(const DriveState& s, uint8_t qualifier, uint16_t max, Sense* refusal) {
  if (((qualifier >> 3) & 0x03) != 0x02) {  // tolerance 10b: 10 %
    *refusal = sense::InvalidFieldInCdb(1, 4);
    return {};
  }
  const bool write = qualifier & 0x04;
  const uint8_t except = qualifier & 0x03;
  std::vector<uint8_t> b(kPerformanceHeaderBytes, 0);
  b[4] = static_cast<uint8_t>((write ? 0x02 : 0) | (except != 0 ? 0x01 : 0));
  if (except == 0 && max > 0) {
    const SpeedTable speeds = SpeedsFor(s.disc.kind);
    const uint32_t speed = write ? PickSpeed(speeds, s.write_speed_request) : speeds.max_read;
    const uint32_t capacity = s.MediumReachable() ? Capacity(s.disc) : 0;
    std::vector<uint8_t> d(kPerformanceDescriptorBytes, 0);
    PutBe32(&d[4], speed);
    PutBe32(&d[8], capacity > 0 ? capacity - 1 : 0);
    PutBe32(&d[12], speed);
    b.insert(b.end(), d.begin(), d.end());
  }
  PutBe32(&b[0], static_cast<uint32_t>(b.size() - 4));
  return b;
}

std::vector<uint8_t> WriteSpeedAnswer(const DriveState& s, uint16_t max) {
  const SpeedTable speeds = SpeedsFor(s.disc.kind);
  const uint32_t capacity = s.MediumReachable() ? Capacity(s.disc) : 0;
  std::vector<uint8_t> b(kPerformanceHeaderBytes, 0);
  PutBe32(&b[0], static_cast<uint32_t>(4 + kPerformanceDescriptorBytes * speeds.write_count));
  for (int i = 0; i < speeds.write_count && i < max; ++i) {
    std::vector<uint8_t> d(kPerformanceDescriptorBytes, 0);
    PutBe32(&d[4], capacity > 0 ? capacity - 1 : 0);
    PutBe32(&d[8], speeds.max_read);
    PutBe32(&d[12], speeds.write[i]);
    b.insert(b.end(), d.begin(), d.end());
  }
  return b;
}

std::vector<uint8_t> DvdStructureAnswer(const Disc& disc, uint8_t layer, uint8_t format, Sense* refusal) {
  if (format == dvd_format::kList) return WithLengthHeader(StructureList(disc));
  if (!IsDvd(disc.kind)) {
    *refusal = sense::kIncompatibleMedium;
    return {};
  }
  const uint8_t layers = disc.kind == MediumKind::kDvdPlusRDl ? 2 : 1;
  if (layer >= layers) {
    *refusal = sense::InvalidFieldInCdb(6);
    return {};
  }
  switch (format) {
    case dvd_format::kPhysical: return WithLengthHeader(PhysicalFormat(disc));
    case dvd_format::kCopyright: return WithLengthHeader(std::vector<uint8_t>(4, 0));
    case dvd_format::kManufacturing: return WithLengthHeader(std::vector<uint8_t>(kDvdStructureBytes, 0));
    case dvd_format::kAdip:
      if (IsPlus(disc.kind)) return WithLengthHeader(Adip(disc));
      break;
    default: break;
  }
  *refusal = sense::InvalidFieldInCdb(7);
  return {};
}

std::vector<uint8_t> MechanismStatusAnswer(bool tray_open, bool busy) {
  std::vector<uint8_t> b(8, 0);
  b[1] = static_cast<uint8_t>((busy ? 0x60 : 0x00) | (tray_open ? 0x10 : 0x00));  // 3: active with the host
  return b;
}

}  // namespace fornax::sim

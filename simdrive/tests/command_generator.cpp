#include "command_generator.h"

#include <algorithm>
#include <cstring>

#include "drive_fixture.h"
#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"
#include "simdrive/format_unit.h"
#include "simdrive/state_check.h"

namespace fornax::sim::test {

const std::vector<MediumChoice> kEveryMedium{
    {MediumKind::kCdR, false, "cd-r"},
    {MediumKind::kCdRw, false, "cd-rw"},
    {MediumKind::kDvdR, false, "dvd-r"},
    {MediumKind::kDvdRw, false, "dvd-rw-seq"},
    {MediumKind::kDvdRw, true, "dvd-rw-ro"},
    {MediumKind::kDvdPlusR, false, "dvd+r"},
    {MediumKind::kDvdPlusRw, false, "dvd+rw"},
    {MediumKind::kDvdRam, false, "dvd-ram"},
    {MediumKind::kDvdPlusRDl, false, "dvd+r-dl"},
};

bool NullSectors::Read(uint32_t, uint32_t count, uint8_t* out) {
  std::memset(out, 0, size_t{count} * 2048);
  return true;
}

namespace {

constexpr uint32_t kMostBlocks = 512;  // a megabyte of data a write

std::vector<uint8_t> Cdb(std::initializer_list<uint8_t> bytes) { return bytes; }

// A cue sheet entry of a time point at an LBA (ADR 1 in the low nibble of the first byte).
void PutCueEntry(std::vector<uint8_t>& sheet, uint8_t control_adr, uint8_t track, uint8_t index, uint8_t form,
                 int32_t lba) {
  const Msf msf = LbaToMsf(lba);
  sheet.insert(sheet.end(), {control_adr, track, index, form, 0, msf.m, msf.s, msf.f});
}

}  // namespace

GeneratedStep CommandGenerator::Next(const DriveState& s) {
  GeneratedStep step;
  const uint32_t pick = Below(100);
  if (pick < 30)
    step = Write(s);
  else if (pick < 40)
    step = Close(s);
  else if (pick < 45)
    step = Reserve(s);
  else if (pick < 53)
    step = WriteParameters(s);
  else if (pick < 58)
    step = SendCue(s);
  else if (pick < 63)
    step = Format(s);
  else if (pick < 66)
    step = Blank();
  else if (pick < 72)
    step = Read(s);
  else if (pick < 87)
    step = Query(s);
  else
    step = Other();
  step.advance_ms = OneOf<int64_t>({0, 0, 0, 1, 30, 200, 5000, 600000});
  return step;
}

void CommandGenerator::ChangeSettings(DriveState& s) {
  s.border_gap = OneOf<uint32_t>({0, 16, 1024, geometry::kDefaultBorderGap, 1000000, kMaxBorderGap});
  s.sao_on_appendable = Percent(50);
}

GeneratedStep CommandGenerator::Write(const DriveState& s) {
  const Disc& d = s.disc;
  uint32_t count = OneOf<uint32_t>({1, 16, 32, 64, 150, 300, kMostBlocks});
  uint32_t lba = 0;
  if (d.cue.Active()) {
    lba = static_cast<uint32_t>(d.cue.next);
    count = std::min<uint32_t>(count, static_cast<uint32_t>(d.cue.lead_out - d.cue.next));
  } else if (IsSequential(d)) {
    std::vector<uint32_t> writable{d.open_start + d.open_recorded};
    for (const Track& t : d.tracks)
      if (t.reserved && !t.closed) writable.push_back(t.start + t.recorded);
    lba = writable[Below(static_cast<uint32_t>(writable.size()))];
    if (s.page05[2] & 0x10) lba += d.test_offset;  // a simulation goes on where it got to
  } else {
    const uint32_t end = d.intermediate ? d.grow_nwa : std::max<uint32_t>(d.formatted_blocks, 16);
    lba = Percent(30) ? d.grow_nwa : Below(end) / 16 * 16;
    count = (count + 15) / 16 * 16;
  }
  if (Percent(4)) lba = static_cast<uint32_t>(rng_());
  if (Percent(4)) lba += OneOf<uint32_t>({1, 16, 150});
  count = std::clamp<uint32_t>(count, 1, kMostBlocks);
  GeneratedStep step{"WRITE " + std::to_string(static_cast<int32_t>(lba)) + "+" + std::to_string(count),
                     cdb::Write10(lba, static_cast<uint16_t>(count)),
                     {},
                     0,
                     0};
  step.data_out.assign(size_t{count} * 2048, 0x5A);
  return step;
}

GeneratedStep CommandGenerator::Close(const DriveState& s) {
  const uint8_t function = OneOf<uint8_t>({1, 1, 2, 2, 2, 5, 6, 0, 3, 4});
  const auto tracks = static_cast<uint32_t>(s.disc.tracks.size());
  const uint16_t track = static_cast<uint16_t>(OneOf<uint32_t>({tracks + 1, tracks + 1, tracks, 1, 0, tracks + 2}));
  return {"CLOSE " + std::to_string(function) + " track " + std::to_string(track),
          cdb::Close(Percent(50), function, track),
          {},
          0,
          0};
}

GeneratedStep CommandGenerator::Reserve(const DriveState& s) {
  const uint32_t usable = UsableEnd(s.disc);
  const uint32_t room = usable > s.disc.open_start ? usable - s.disc.open_start : 0;
  const uint32_t blocks = OneOf<uint32_t>({1, 16, 300, 1000, 40000, room, room + 1, 0, 0xFFFFFFF8});
  return {"RESERVE " + std::to_string(blocks), cdb::ReserveTrack(blocks), {}, 0, 0};
}

// Page 05 as a host sets it: the current page with bytes 2 to 5 replaced.
GeneratedStep CommandGenerator::WriteParameters(const DriveState& s) {
  std::vector<uint8_t> list(8, 0);
  list.insert(list.end(), s.page05.begin(), s.page05.end());
  uint8_t* page = &list[8];
  page[0] &= 0x3F;  // PS is not for the host to set
  const uint8_t write_type = OneOf<uint8_t>({1, 1, 1, 0, 2, 2, 2, 3});
  page[2] = static_cast<uint8_t>(0x40 | (Percent(15) ? 0x10 : 0) | write_type);
  page[3] = static_cast<uint8_t>((OneOf<uint8_t>({0, 3, 3, 3, 1, 2}) << 6) | OneOf<uint8_t>({4, 4, 5, 7}));
  page[4] = OneOf<uint8_t>({8, 8, 8, 10, 1, 13});
  page[5] = OneOf<uint8_t>({0, 0, 7, 16});
  page[8] = OneOf<uint8_t>({0, 0, 0x10, 0x20});
  if (Percent(4)) page[6] = 1;  // a byte no host may change
  char what[48];
  std::snprintf(what, sizeof what, "MODE SELECT 05: %02X %02X %02X %02X", page[2], page[3], page[4], page[5]);
  return {what, cdb::ModeSelect(static_cast<uint16_t>(list.size())), list, 0, 0};
}

// One to three data tracks from the invisible track's start, with or without
// pre-gaps announced, mostly well formed.
GeneratedStep CommandGenerator::SendCue(const DriveState& s) {
  const Disc& d = s.disc;
  std::vector<uint8_t> sheet{0x41, 0x00, 0x00, 0x14, 0, 0, 0, 0};
  const uint8_t control = OneOf<uint8_t>({0x41, 0x41, 0x61, 0x01});
  auto number = static_cast<uint8_t>(d.tracks.size() + 1);
  auto at = static_cast<int32_t>(d.open_start);
  if (Percent(60)) PutCueEntry(sheet, control, number, 0, 0x10, at - 150);
  const uint32_t tracks = 1 + Below(3);
  for (uint32_t i = 0; i < tracks; ++i, ++number) {
    if (i > 0 && Percent(50)) {
      PutCueEntry(sheet, control, number, 0, 0x10, at);
      at += 150;
    }
    PutCueEntry(sheet, control, number, 1, 0x10, at);
    at += static_cast<int32_t>(OneOf<uint32_t>({300, 301, 450, 900, 300 + Below(3000)}));
  }
  PutCueEntry(sheet, 0x41, 0xAA, 1, 0x14, at);
  if (Percent(5)) sheet[Below(static_cast<uint32_t>(sheet.size()))] ^= static_cast<uint8_t>(1 + Below(255));
  const auto size = static_cast<uint32_t>(sheet.size());
  return {"SEND CUE SHEET of " + std::to_string(tracks) + " tracks to " + std::to_string(at),
          Cdb({0x5D, 0, 0, 0, 0, 0, static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8),
               static_cast<uint8_t>(size), 0}),
          sheet, 0, 0};
}

GeneratedStep CommandGenerator::Format(const DriveState& s) {
  const auto offered = OfferedFormats(s.disc);
  FormatDescriptor d;
  if (!offered.empty() && Percent(85)) {
    d = offered[Below(static_cast<uint32_t>(offered.size()))];
    if (d.type == format_type::kQuick || d.type == format_type::kGrow)
      d.blocks = OneOf<uint32_t>({d.blocks, 0, 32, 1000, 100000});
    if (d.type == format_type::kDvdPlusRw) d.parameter = OneOf<uint32_t>({0, 0, 1});
  } else {
    d.type = OneOf<uint8_t>({0x00, 0x01, 0x10, 0x13, 0x15, 0x26});
    d.blocks = static_cast<uint32_t>(rng_());
    d.parameter = OneOf<uint32_t>({0, 1, 16, 0x800});
  }
  std::vector<uint8_t> list(12, 0);
  list[1] = Percent(50) ? 0x82 : 0x00;  // FOV with Immed
  list[3] = 8;
  PutBe32(&list[4], d.blocks);
  list[8] = static_cast<uint8_t>(d.type << 2);
  PutBe24(&list[9], d.parameter);
  return {"FORMAT type " + std::to_string(d.type) + " of " + std::to_string(d.blocks), cdb::FormatUnit(), list, 0, 0};
}

GeneratedStep CommandGenerator::Blank() {
  const uint8_t type = OneOf<uint8_t>({0, 1, 1, 2});
  return {"BLANK " + std::to_string(type), cdb::Blank(Percent(50), type), {}, 0, 0};
}

GeneratedStep CommandGenerator::Read(const DriveState& s) {
  std::vector<uint32_t> starts{0, s.disc.open_start, Below(static_cast<uint32_t>(AddressLimit(s.disc)) + 1)};
  for (const Track& t : s.disc.tracks) starts.push_back(t.start);
  const uint32_t lba = starts[Below(static_cast<uint32_t>(starts.size()))] + OneOf<uint32_t>({0, 0, 1, 299});
  const uint16_t count = OneOf<uint16_t>({1, 16, 64});
  return {"READ " + std::to_string(lba) + "+" + std::to_string(count),
          cdb::Read10(lba, count),
          {},
          uint32_t{count} * 2048,
          0};
}

// The questions a host asks about the disc and the drive.
GeneratedStep CommandGenerator::Query(const DriveState& s) {
  const auto tracks = static_cast<uint32_t>(s.disc.tracks.size());
  const uint16_t room = OneOf<uint16_t>({4, 12, 255, 4096});
  switch (Below(14)) {
    case 0: {
      const uint8_t format = static_cast<uint8_t>(Below(6));
      const uint8_t from = OneOf<uint8_t>({0, 1, 2, 0xAA, static_cast<uint8_t>(tracks)});
      return {"READ TOC " + std::to_string(format), cdb::ReadToc(format, Percent(50), from, room), {}, room, 0};
    }
    case 1: return {"READ DISC INFORMATION", cdb::DiscInformation(34), {}, 34, 0};
    case 2: {
      const uint8_t type = static_cast<uint8_t>(Below(3));
      const uint32_t number = OneOf<uint32_t>({0, 1, tracks, tracks + 1, 0xFF, s.disc.open_start, 2});
      return {"READ TRACK INFORMATION", cdb::TrackInformation(number, type), {}, 40, 0};
    }
    case 3: return {"READ FORMAT CAPACITIES", cdb::FormatCapacities(), {}, 248, 0};
    case 4: return {"READ CAPACITY", cdb::ReadCapacity(), {}, 8, 0};
    case 5:
      return {"GET CONFIGURATION",
              cdb::GetConfiguration(static_cast<uint8_t>(Below(3)), OneOf<uint16_t>({0, 0x2F})),
              {},
              114,
              0};
    case 6: return {"MODE SENSE", cdb::ModeSense(OneOf<uint8_t>({0x05, 0x2A, 0x3F, 0x45})), {}, 255, 0};
    case 7: return {"MECHANISM STATUS", Cdb({0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0}), {}, 8, 0};
    case 8: return {"GET EVENT STATUS", Cdb({0x4A, 1, 0, 0, 0x50, 0, 0, 0, 8, 0}), {}, 8, 0};
    case 9: return {"GET PERFORMANCE", Cdb({0xAC, 0x10, 0, 0, 0, 0, 0, 0, 0, 2, OneOf<uint8_t>({0, 3}), 0}), {}, 40, 0};
    case 10: {
      const uint8_t format = OneOf<uint8_t>({0x00, 0x01, 0x04, 0x11, 0xFF});
      return {"READ DVD STRUCTURE", Cdb({0xAD, 0, 0, 0, 0, 0, 0, format, 0x08, 0x04, 0, 0}), {}, 2052, 0};
    }
    case 11: return {"READ BUFFER CAPACITY", Cdb({0x5C, OneOf<uint8_t>({0, 1}), 0, 0, 0, 0, 0, 0, 12, 0}), {}, 12, 0};
    case 12: return {"REQUEST SENSE", cdb::RequestSense(), {}, 18, 0};
    default: return {"TEST UNIT READY", cdb::TestUnitReady(), {}, 0, 0};
  }
}

GeneratedStep CommandGenerator::Other() {
  switch (Below(7)) {
    case 0: {
      const uint8_t control = OneOf<uint8_t>({0x02, 0x03, 0x03, 0x01});
      return {"START STOP " + std::to_string(control), cdb::StartStop(control), {}, 0, 0};
    }
    case 1: return {"PREVENT ALLOW", cdb::PreventAllow(Percent(30)), {}, 0, 0};
    case 2: return {"SYNCHRONIZE CACHE", cdb::SyncCache(Percent(50)), {}, 0, 0};
    case 3: return {"SEND OPC", Cdb({0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}), {}, 0, 0};
    case 4: return {"SET CD SPEED", Cdb({0xBB, 0, 0xFF, 0xFF, 0x1B, 0x90, 0, 0, 0, 0, 0, 0}), {}, 0, 0};
    case 5: {
      std::vector<uint8_t> descriptor(28, 0);
      PutBe32(&descriptor[20], OneOf<uint32_t>({1385, 11080, 0}));
      PutBe32(&descriptor[24], 1000);
      return {"SET STREAMING", Cdb({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}), descriptor, 0, 0};
    }
    default: return {"SYNCHRONIZE CACHE", cdb::SyncCache(false), {}, 0, 0};
  }
}

}  // namespace fornax::sim::test

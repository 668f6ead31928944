#include "simdrive/describe.h"

#include <cstdio>
#include <sstream>

#include "simdrive/disc_model.h"
#include "simdrive/write_buffer.h"

namespace fornax::sim {
namespace {

const char* const kStatusNames[] = {"blank", "appendable", "complete", "formatted"};

void DescribeTracks(std::ostringstream& o, const Disc& disc) {
  for (const TrackInfo& t : TrackInfos(disc)) {
    o << "  track " << t.number << " (session " << t.session << "): start " << t.start << ", " << t.size
      << " blocks";
    if (t.nwa_valid) o << ", next writable " << t.nwa << ", " << t.free << " free";
    if (t.reserved) o << ", reserved";
    if (t.blank) o << ", blank";
    o << '\n';
  }
}

void DescribeFaults(std::ostringstream& o, const DriveState& s, int64_t now_ms) {
  const Faults& f = s.faults;
  if (f.busy_commands > 0)
    o << "fault: busy for " << f.busy_commands << " commands (" << (f.busy_as_status ? "BUSY" : "2/04/08")
      << ")\n";
  for (const WriteFault& w : f.write_errors) {
    char sense[16];
    std::snprintf(sense, sizeof sense, "%X/%02X/%02X", w.key, w.asc, w.ascq);
    o << "fault: write error at " << w.lba << " (" << sense << ")\n";
  }
  for (const ReadFault& r : f.read_errors) {
    o << "fault: read error at " << r.lba;
    if (r.count > 1) o << "-" << uint64_t{r.lba} + r.count - 1;
    o << " (3/11/00, " << (r.remaining > 0 ? std::to_string(r.remaining) + " more reads" : "every read") << ")\n";
  }
  if (f.not_ready_until_ms > now_ms) o << "fault: not ready for " << f.not_ready_until_ms - now_ms << " ms\n";
  if (f.write_speed_kbps > 0) o << "fault: writes at " << f.write_speed_kbps << " kB/s\n";
}

}  // namespace

std::string DescribeState(const DriveState& s, int64_t now_ms) {
  std::ostringstream o;
  o << s.identity.vendor << ' ' << s.identity.product << ' ' << s.identity.revision
    << " (simulated recorder)\n";
  o << "tray " << (s.tray_open ? "open" : "closed") << ", medium "
    << (s.HasMedium() ? MediumName(s.disc.kind, s.disc.restricted_overwrite) : "none") << '\n';
  if (!s.refused_state.empty()) o << s.refused_state << '\n';
  if (s.HasMedium()) {
    const DiscSummary summary = Summarize(s.disc);
    o << "disc " << kStatusNames[summary.status & 3] << ", " << summary.sessions << " session(s), "
      << RecordedEnd(s.disc) << " blocks recorded\n";
    DescribeTracks(o, s.disc);
    if (s.disc.cue.Active())
      o << "session at once: next block " << s.disc.cue.next << " of a cue sheet ending at "
        << s.disc.cue.lead_out << '\n';
  }
  if (const uint64_t fill = BufferFill(s, now_ms * 1000); fill > 0)
    o << "buffer: " << fill / 1024 << " of " << kBufferBytes / 1024 << " KiB to write\n";
  DescribeFaults(o, s, now_ms);
  return o.str();
}

}  // namespace fornax::sim

#include "simdrive/state_codec.h"

#include <charconv>
#include <functional>
#include <map>
#include <sstream>
#include <string_view>
#include <vector>

namespace fornax::sim {
namespace {

constexpr const char* kOperationNames[] = {"none", "blank", "format", "close", "flush"};
constexpr const char* kBackgroundNames[] = {"none", "suspended", "running", "done"};

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 0x0F];
  }
  return s;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

template <class T>
bool ParseNumber(std::string_view text, T* out) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// Reads the words of one value into numbers; false when any is malformed.
template <class... T>
bool ParseWords(std::string_view value, T*... out) {
  const auto words = Words(value);
  if (words.size() != sizeof...(T)) return false;
  size_t i = 0;
  return (ParseNumber(words[i++], out) && ...);
}

bool ParseFlag(std::string_view value, bool* out) {
  int v = 0;
  if (!ParseWords(value, &v) || v < 0 || v > 1) return false;
  *out = v == 1;
  return true;
}

template <size_t N>
bool ParseName(std::string_view value, const char* const (&names)[N], uint8_t* out) {
  for (size_t i = 0; i < N; ++i)
    if (value == names[i]) return *out = static_cast<uint8_t>(i), true;
  return false;
}

bool ParseHex(std::string_view value, uint8_t* out, size_t n) {
  if (value.size() != 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    const char* digits = value.data() + 2 * i;
    const auto [ptr, ec] = std::from_chars(digits, digits + 2, out[i], 16);
    if (ec != std::errc() || ptr != digits + 2) return false;
  }
  return true;
}

void EncodeDisc(std::ostringstream& o, const Disc& d) {
  o << "medium " << MediumToken(d.kind) << '\n'
    << "disc.restricted-overwrite " << d.restricted_overwrite << '\n'
    << "disc.open " << d.open_start << ' ' << d.open_recorded << ' ' << int{d.open_cd_mode} << '\n'
    << "disc.closed-sessions " << d.closed_sessions << '\n'
    << "disc.complete " << d.complete << '\n'
    << "disc.formatted " << d.formatted << ' ' << d.formatted_blocks << '\n'
    << "disc.intermediate " << d.intermediate << ' ' << d.grow_nwa << '\n'
    << "disc.background " << kBackgroundNames[static_cast<int>(d.background)] << ' '
    << d.background_end_ms << '\n'
    << "disc.minimally-blanked " << d.minimally_blanked << '\n'
    << "disc.written-end " << d.written_end << '\n'
    << "disc.test-offset " << d.test_offset << '\n';
  for (const Track& t : d.tracks)
    o << "track " << t.start << ' ' << t.size << ' ' << t.recorded << ' ' << t.session << ' '
      << t.reserved << ' ' << t.closed << ' ' << int{t.cd_mode} << '\n';
}

bool DecodeTrack(std::string_view value, Disc* d) {
  Track t;
  int reserved = 0, closed = 0, mode = 0;
  if (!ParseWords(value, &t.start, &t.size, &t.recorded, &t.session, &reserved, &closed, &mode)) return false;
  t.reserved = reserved != 0;
  t.closed = closed != 0;
  t.cd_mode = static_cast<uint8_t>(mode);
  d->tracks.push_back(t);
  return true;
}

using FieldParser = std::function<bool(std::string_view, DriveState*)>;

const std::map<std::string_view, FieldParser>& Parsers() {
  static const std::map<std::string_view, FieldParser> parsers{
      {"identity.vendor", [](auto v, auto s) { return s->identity.vendor = v, true; }},
      {"identity.product", [](auto v, auto s) { return s->identity.product = v, true; }},
      {"identity.revision", [](auto v, auto s) { return s->identity.revision = v, true; }},
      {"tray", [](auto v, auto s) { return s->tray_open = v == "open", v == "open" || v == "closed"; }},
      {"prevent", [](auto v, auto s) { return ParseFlag(v, &s->prevent_removal); }},
      {"unit-attention", [](auto v, auto s) { return ParseFlag(v, &s->unit_attention); }},
      {"page05", [](auto v, auto s) { return ParseHex(v, s->page05.data(), s->page05.size()); }},
      {"speed", [](auto v, auto s) { return ParseWords(v, &s->read_speed_request, &s->write_speed_request); }},
      {"fault.busy", [](auto v, auto s) {
         int status = 0;
         return ParseWords(v, &s->faults.busy_commands, &status) && (s->faults.busy_as_status = status != 0, true);
       }},
      {"fault.write-error", [](auto v, auto s) {
         WriteFault f;
         if (!ParseWords(v, &f.lba, &f.key, &f.asc, &f.ascq, &f.remaining) &&
             !ParseWords(v, &f.lba, &f.key, &f.asc, &f.ascq))
           return false;
         s->faults.write_errors.push_back(f);
         return true;
       }},
      {"fault.signal", [](auto v, auto s) {
         return ParseWords(v, &s->faults.signal_opcode, &s->faults.signal_countdown, &s->faults.signal_number);
       }},
      {"fault.not-ready-until", [](auto v, auto s) { return ParseWords(v, &s->faults.not_ready_until_ms); }},
      {"fault.write-speed", [](auto v, auto s) { return ParseWords(v, &s->faults.write_speed_kbps); }},
      {"durations", [](auto v, auto s) {
         return ParseWords(v, &s->durations.blank_ms, &s->durations.format_ms, &s->durations.close_ms);
       }},
      {"border-gap", [](auto v, auto s) { return ParseWords(v, &s->border_gap); }},
      {"operation", [](auto v, auto s) {
         const auto w = Words(v);
         uint8_t kind = 0;
         if (w.size() != 3 || !ParseName(w[0], kOperationNames, &kind)) return false;
         s->operation.kind = static_cast<OperationKind>(kind);
         return ParseNumber(w[1], &s->operation.start_ms) && ParseNumber(w[2], &s->operation.duration_ms);
       }},
      {"medium", [](auto v, auto s) {
         const auto kind = ParseMediumToken(v);
         return kind && (s->disc.kind = *kind, true);
       }},
      {"disc.restricted-overwrite", [](auto v, auto s) { return ParseFlag(v, &s->disc.restricted_overwrite); }},
      {"disc.open", [](auto v, auto s) {
         return ParseWords(v, &s->disc.open_start, &s->disc.open_recorded, &s->disc.open_cd_mode);
       }},
      {"disc.closed-sessions", [](auto v, auto s) { return ParseWords(v, &s->disc.closed_sessions); }},
      {"disc.complete", [](auto v, auto s) { return ParseFlag(v, &s->disc.complete); }},
      {"disc.formatted", [](auto v, auto s) {
         int f = 0;
         return ParseWords(v, &f, &s->disc.formatted_blocks) && (s->disc.formatted = f != 0, true);
       }},
      {"disc.intermediate", [](auto v, auto s) {
         int f = 0;
         return ParseWords(v, &f, &s->disc.grow_nwa) && (s->disc.intermediate = f != 0, true);
       }},
      {"disc.background", [](auto v, auto s) {
         const auto w = Words(v);
         uint8_t bg = 0;
         if (w.size() != 2 || !ParseName(w[0], kBackgroundNames, &bg)) return false;
         s->disc.background = static_cast<BackgroundFormat>(bg);
         return ParseNumber(w[1], &s->disc.background_end_ms);
       }},
      {"disc.minimally-blanked", [](auto v, auto s) { return ParseFlag(v, &s->disc.minimally_blanked); }},
      {"disc.written-end", [](auto v, auto s) { return ParseWords(v, &s->disc.written_end); }},
      {"disc.test-offset", [](auto v, auto s) { return ParseWords(v, &s->disc.test_offset); }},
      {"track", [](auto v, auto s) { return DecodeTrack(v, &s->disc); }},
  };
  return parsers;
}

}  // namespace

std::string EncodeState(const DriveState& s) {
  std::ostringstream o;
  o << kStateMagic << '\n'
    << "identity.vendor " << s.identity.vendor << '\n'
    << "identity.product " << s.identity.product << '\n'
    << "identity.revision " << s.identity.revision << '\n'
    << "tray " << (s.tray_open ? "open" : "closed") << '\n'
    << "prevent " << s.prevent_removal << '\n'
    << "unit-attention " << s.unit_attention << '\n'
    << "page05 " << Hex(s.page05.data(), s.page05.size()) << '\n'
    << "speed " << s.read_speed_request << ' ' << s.write_speed_request << '\n'
    << "fault.busy " << s.faults.busy_commands << ' ' << s.faults.busy_as_status << '\n';
  for (const WriteFault& f : s.faults.write_errors)
    o << "fault.write-error " << f.lba << ' ' << int{f.key} << ' ' << int{f.asc} << ' ' << int{f.ascq} << ' '
      << f.remaining << '\n';
  if (s.faults.signal_countdown > 0)
    o << "fault.signal " << int{s.faults.signal_opcode} << ' ' << s.faults.signal_countdown << ' '
      << s.faults.signal_number << '\n';
  o << "fault.not-ready-until " << s.faults.not_ready_until_ms << '\n'
    << "fault.write-speed " << s.faults.write_speed_kbps << '\n'
    << "durations " << s.durations.blank_ms << ' ' << s.durations.format_ms << ' ' << s.durations.close_ms << '\n'
    << "border-gap " << s.border_gap << '\n'
    << "operation " << kOperationNames[static_cast<int>(s.operation.kind)] << ' ' << s.operation.start_ms << ' '
    << s.operation.duration_ms << '\n';
  EncodeDisc(o, s.disc);
  return o.str();
}

bool DecodeState(const std::string& text, DriveState* state, std::string* error) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kStateMagic) {
    *error = "not a simulated drive state (first line is not \"" + std::string(kStateMagic) + "\")";
    return false;
  }
  DriveState s;  // fields the file leaves out keep their defaults
  s.page05 = DefaultPage05();
  int number = 1;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    const std::string_view key = std::string_view(line).substr(0, space);
    const std::string_view value = space == std::string::npos ? "" : std::string_view(line).substr(space + 1);
    auto parser = Parsers().find(key);
    if (parser == Parsers().end()) continue;
    if (!parser->second(value, &s)) {
      *error = "line " + std::to_string(number) + " of the state is malformed: " + line;
      return false;
    }
  }
  *state = std::move(s);
  return true;
}

}  // namespace fornax::sim

#include "simdrive/state_codec.h"

#include <charconv>
#include <functional>
#include <map>
#include <sstream>
#include <string_view>
#include <vector>

#include "simdrive/state_check.h"

namespace fornax::sim {
namespace {

constexpr const char* kOperationNames[] = {"none", "blank", "format", "close", "flush", "opc"};
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

bool DecodeTrack(std::string_view value, Disc* d) {
  Track t;
  int reserved = 0, closed = 0;
  if (!ParseWords(value, &t.start, &t.size, &t.recorded, &t.session, &reserved, &closed, &t.cd_mode)) return false;
  if (reserved < 0 || reserved > 1 || closed < 0 || closed > 1) return false;
  t.reserved = reserved == 1;
  t.closed = closed == 1;
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
      {"fault.read-error", [](auto v, auto s) {
         ReadFault f;
         if (!ParseWords(v, &f.lba, &f.count, &f.remaining)) return false;
         s->faults.read_errors.push_back(f);
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
      {"disc.type", [](auto v, auto s) { return ParseWords(v, &s->disc.disc_type); }},
      {"cue", [](auto v, auto s) {
         return ParseWords(v, &s->disc.cue.next, &s->disc.cue.lead_out, &s->disc.cue.disc_type);
       }},
      {"cue.track", [](auto v, auto s) {
         CueTrack t;
         if (!ParseWords(v, &t.number, &t.control, &t.first, &t.start, &t.end)) return false;
         s->disc.cue.tracks.push_back(t);
         return true;
       }},
      {"media-event", [](auto v, auto s) {
         int e = 0;
         if (!ParseWords(v, &e) || e < 0 || e > 3) return false;
         s->media_event = static_cast<MediaEvent>(e);
         return true;
       }},
      {"duration.opc", [](auto v, auto s) { return ParseWords(v, &s->durations.opc_ms); }},
      {"wipe-pending", [](auto v, auto s) { return ParseFlag(v, &s->wipe_pending); }},
      {"sao-on-appendable", [](auto v, auto s) { return ParseFlag(v, &s->sao_on_appendable); }},
      {"buffer", [](auto v, auto s) { return ParseWords(v, &s->buffer.fill_bytes, &s->buffer.at_us); }},
      {"refused-state", [](auto v, auto s) { return s->refused_state = v, true; }},
  };
  return parsers;
}

}  // namespace

namespace {

// The encoder runs after every command that changes the drive (every WRITE),
// so it appends with to_chars instead of going through a stream.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  Writer& Key(std::string_view key) {
    out_.append(key);
    return *this;
  }
  template <class T>
  Writer& Num(T value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    out_ += ' ';
    out_.append(digits, end);
    return *this;
  }
  Writer& Flag(bool value) { return Num(value ? 1 : 0); }
  Writer& Word(std::string_view word) {
    out_ += ' ';
    out_.append(word);
    return *this;
  }
  void End() { out_ += '\n'; }

 private:
  std::string& out_;
};

void EncodeDisc(Writer& w, const Disc& d) {
  w.Key("medium").Word(MediumToken(d.kind)).End();
  w.Key("disc.restricted-overwrite").Flag(d.restricted_overwrite).End();
  w.Key("disc.open").Num(d.open_start).Num(d.open_recorded).Num(int{d.open_cd_mode}).End();
  w.Key("disc.closed-sessions").Num(d.closed_sessions).End();
  w.Key("disc.complete").Flag(d.complete).End();
  w.Key("disc.formatted").Flag(d.formatted).Num(d.formatted_blocks).End();
  w.Key("disc.intermediate").Flag(d.intermediate).Num(d.grow_nwa).End();
  w.Key("disc.background").Word(kBackgroundNames[static_cast<int>(d.background)]).Num(d.background_end_ms).End();
  w.Key("disc.minimally-blanked").Flag(d.minimally_blanked).End();
  w.Key("disc.written-end").Num(d.written_end).End();
  w.Key("disc.test-offset").Num(d.test_offset).End();
  w.Key("disc.type").Num(int{d.disc_type}).End();
  for (const Track& t : d.tracks)
    w.Key("track").Num(t.start).Num(t.size).Num(t.recorded).Num(t.session).Flag(t.reserved).Flag(t.closed)
        .Num(int{t.cd_mode}).End();
  if (d.cue.Active()) {
    w.Key("cue").Num(d.cue.next).Num(d.cue.lead_out).Num(int{d.cue.disc_type}).End();
    for (const CueTrack& t : d.cue.tracks)
      w.Key("cue.track").Num(int{t.number}).Num(int{t.control}).Num(t.first).Num(t.start).Num(t.end).End();
  }
}

}  // namespace

std::string EncodeState(const DriveState& s) {
  std::string out;
  out.reserve(1024 + 64 * (s.disc.tracks.size() + s.disc.cue.tracks.size() + s.faults.write_errors.size()));
  out.append(kStateMagic);
  out += '\n';
  Writer w(out);
  w.Key("identity.vendor").Word(s.identity.vendor).End();
  w.Key("identity.product").Word(s.identity.product).End();
  w.Key("identity.revision").Word(s.identity.revision).End();
  w.Key("tray").Word(s.tray_open ? "open" : "closed").End();
  w.Key("prevent").Flag(s.prevent_removal).End();
  w.Key("unit-attention").Flag(s.unit_attention).End();
  w.Key("media-event").Num(static_cast<int>(s.media_event)).End();
  w.Key("page05").Word(Hex(s.page05.data(), s.page05.size())).End();
  w.Key("speed").Num(s.read_speed_request).Num(s.write_speed_request).End();
  w.Key("fault.busy").Num(s.faults.busy_commands).Flag(s.faults.busy_as_status).End();
  for (const WriteFault& f : s.faults.write_errors)
    w.Key("fault.write-error").Num(f.lba).Num(int{f.key}).Num(int{f.asc}).Num(int{f.ascq}).Num(f.remaining).End();
  for (const ReadFault& f : s.faults.read_errors)
    w.Key("fault.read-error").Num(f.lba).Num(f.count).Num(f.remaining).End();
  if (s.faults.signal_countdown > 0)
    w.Key("fault.signal").Num(int{s.faults.signal_opcode}).Num(s.faults.signal_countdown)
        .Num(s.faults.signal_number).End();
  w.Key("fault.not-ready-until").Num(s.faults.not_ready_until_ms).End();
  w.Key("fault.write-speed").Num(s.faults.write_speed_kbps).End();
  w.Key("durations").Num(s.durations.blank_ms).Num(s.durations.format_ms).Num(s.durations.close_ms).End();
  w.Key("duration.opc").Num(s.durations.opc_ms).End();
  w.Key("border-gap").Num(s.border_gap).End();
  w.Key("sao-on-appendable").Flag(s.sao_on_appendable).End();
  w.Key("operation").Word(kOperationNames[static_cast<int>(s.operation.kind)]).Num(s.operation.start_ms)
      .Num(s.operation.duration_ms).End();
  if (s.wipe_pending) w.Key("wipe-pending").Flag(true).End();
  if (!s.refused_state.empty()) w.Key("refused-state").Word(s.refused_state).End();
  w.Key("buffer").Num(s.buffer.fill_bytes).Num(s.buffer.at_us).End();
  EncodeDisc(w, s.disc);
  return out;
}

bool DecodeState(const std::string& text, DriveState* state, std::string* error) {
  if (text.size() > kMaxStateBytes) {
    *error = "the state is larger than any the drive stores (" + std::to_string(text.size()) + " bytes)";
    return false;
  }
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
  if (std::string fault = StateFault(s); !fault.empty()) {
    *error = std::move(fault);
    return false;
  }
  *state = std::move(s);
  return true;
}

}  // namespace fornax::sim

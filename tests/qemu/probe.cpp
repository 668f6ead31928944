// fornax_qemu_probe: runs inside the test VM, next to QEMU's emulated CD/DVD
// drive, and reports what the engine makes of it. It decides nothing: every
// line is "key<TAB>field<TAB>field...", and the host side compares the fields
// with the image it attached and with what the drive model answers.
//
// The program is linked statically: the VM's initramfs holds no C library.

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/drive/medium_queries.h"
#include "engine/drive/srb.h"
#include "engine/drive/transport.h"
#include "engine/recorder.h"

namespace {

constexpr uint32_t kSector = 2048;

// The same CRC-32 as zlib's crc32(), which the host side uses.
uint32_t Crc32(const uint8_t* data, size_t size) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string Hex(const uint8_t* bytes, size_t count) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

std::string CrcText(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

// One report line. Tabs and line ends inside a field would break the line
// apart, so they are shown escaped.
void Emit(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += '\t';
    for (const char c : fields[i]) {
      if (c == '\t') line += "\\t";
      else if (c == '\n') line += "\\n";
      else if (c == '\r') line += "\\r";
      else line += c;
    }
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string Flag(bool value) { return value ? "1" : "0"; }

class TProbe {
 public:
  TProbe() {
    FRec.OnDebugMessage = [this](fornax::TObject*, const std::string& message, uint8_t type) {
      if (FCapture) FCaptured.push_back(message);
      else Emit({"log", std::to_string(type), message});
    };
  }

  void Run() {
    SysfsAddresses();
    if (Start()) {
      // An address the scan did not list: no drive answers there.
      const bool selected = FRec.SelectDevice("7:7:7,/dev/sr9 NOBODY");
      Emit({"selectmissing", Flag(selected), FRec.DeviceId(), FRec.DeviceDescription(),
            std::to_string(FRec.HostAdapter())});
      // Every listed drive in turn, each in its own section of the report.
      const std::vector<std::string> lines = FRec.DeviceList();
      for (size_t i = 0; i < lines.size(); ++i) {
        Emit({"drive", std::to_string(i), lines[i]});
        if (!Select(lines[i])) continue;
        Medium();
        Reads();
        Refusals();
      }
    }
    Emit({"done"});
  }

 private:
  // What the kernel says the drives' addresses are, for comparing with the
  // list lines.
  void SysfsAddresses() {
    for (int n = 0; n < 8; ++n) {
      const std::string name = "sr" + std::to_string(n);
      char link[512] = {};
      const std::string path = "/sys/class/block/" + name + "/device";
      const ssize_t size = ::readlink(path.c_str(), link, sizeof link - 1);
      if (size <= 0) continue;
      std::string target(link, static_cast<size_t>(size));
      Emit({"sysfs", name, target.substr(target.rfind('/') + 1)});
    }
  }

  bool Start() {
    FCapture = true;  // what the scan logs is reported by itself below
    FCaptured.clear();
    const bool ok = FRec.InitTransport(true, "");
    FCapture = false;
    Emit({"init", Flag(ok), fornax::TransportName(), Flag(fornax::TransportIsEmulation())});
    for (const std::string& line : FCaptured) Emit({"scanlog", line});
    if (!ok) return false;
    for (const std::string& line : FRec.DeviceList()) Emit({"list", line});
    Emit({"listed", std::to_string(FRec.DeviceList().size())});
    return !FRec.DeviceList().empty();
  }

  bool Select(const std::string& line) {
    FCapture = true;
    FCaptured.clear();
    const bool ok = FRec.SelectDevice(line);
    FCapture = false;
    Emit({"select", Flag(ok), FRec.DeviceId(), FRec.DeviceDescription(),
          std::to_string(FRec.DeviceType())});
    for (const std::string& logged : FCaptured) Emit({"selectlog", logged});
    Emit({"address", std::to_string(FRec.HostAdapter()), std::to_string(FRec.Target()),
          std::to_string(FRec.Lun())});
    FPath = FRec.DrivePath();
    Emit({"drivepath", FPath});
    TransferLimits();
    return ok;
  }

  // The largest transfer the transport announces for the drive's adapter,
  // and what the kernel's queue of the drive takes.
  void TransferLimits() {
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = FRec.HostAdapter();
    fornax::SendASPI32Command(&inquiry);
    const uint32_t announced = static_cast<uint32_t>(inquiry.HA_Unique[4]) |
                               static_cast<uint32_t>(inquiry.HA_Unique[5]) << 8 |
                               static_cast<uint32_t>(inquiry.HA_Unique[6]) << 16 |
                               static_cast<uint32_t>(inquiry.HA_Unique[7]) << 24;
    const std::string queue = "/sys/class/block/" + FPath.substr(FPath.rfind('/') + 1) + "/queue/";
    Emit({"limits", std::to_string(inquiry.SRB_Status), std::to_string(announced),
          ReadText(queue + "max_hw_sectors_kb"), ReadText(queue + "max_sectors_kb")});
  }

  static std::string ReadText(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return "";
    char text[64] = {};
    const size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    std::string value(text, size);
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
  }

  // The same READ (10) sent with SG_IO directly, without the engine: the
  // kernel's own verdict (0, or the errno of the ioctl) and the SCSI status.
  void KernelRead(const std::string& name, uint32_t lba, uint16_t blocks) {
    const int fd = ::open(FPath.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
      Emit({"kernelread", name, "open", std::to_string(errno)});
      return;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(blocks) * kSector);
    uint8_t cdb[10] = {0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                       static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                       static_cast<uint8_t>(blocks >> 8), static_cast<uint8_t>(blocks), 0};
    uint8_t sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = sizeof cdb;
    io.cmdp = cdb;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.dxfer_len = static_cast<unsigned>(buffer.size());
    io.dxferp = buffer.data();
    io.timeout = 20000;
    const int result = ::ioctl(fd, SG_IO, &io);
    const int error = result < 0 ? errno : 0;
    ::close(fd);
    Emit({"kernelread", name, std::to_string(error), std::strerror(error), std::to_string(io.status),
          std::to_string(io.host_status), std::to_string(io.driver_status),
          CrcText(Crc32(buffer.data(), buffer.size()))});
  }

  void Medium() {
    const bool ready = FRec.TestUnitReady(5000);
    Emit({"tur", Flag(ready), FRec.LastError()});
    const uint8_t code = FRec.MediumType();
    Emit({"medium", std::to_string(code), code < fornax::MediumNames.size() ? fornax::MediumNames[code] : "?"});
    Emit({"discstatus", std::to_string(FRec.DiscStatus())});
    Emit({"sessions", std::to_string(FRec.SessionCount())});

    uint32_t last = 0, blockLength = 0;
    const bool capacity = FRec.ReadCapacity(last, blockLength);
    FLastSector = capacity ? last : 0;
    Emit({"capacity", Flag(capacity), std::to_string(last), std::to_string(blockLength), FRec.LastError()});
    Emit({"fssectors", std::to_string(FRec.FileSystemSectors())});

    // What the drive answers when asked for the ATIP (READ TOC format 4),
    // for explaining the capacity below.
    uint8_t atip[26] = {};
    const bool atipRead = FRec.ReadToc(true, 4, 0, atip, sizeof atip);
    Emit({"atip", Flag(atipRead), Hex(atip, sizeof atip), FRec.LastError()});

    fornax::TDiscInfoRecord info;
    const bool known = FRec.DiscInfo(info);
    Emit({"discinfo", Flag(known), std::to_string(info.Ready), std::to_string(info.Capacity),
          std::to_string(info.Used), std::to_string(info.BlockSize), std::to_string(info.FirstSession),
          std::to_string(info.LastSession), std::to_string(info.DiscStatus), std::to_string(info.Profile),
          info.MediumName, std::to_string(info.Erasable)});
  }

  // READ (10) of `blocks` sectors from `lba`: whether it went through, the
  // CRC of the whole answer, and each sector's CRC when asked.
  void Read(const std::string& name, uint32_t lba, uint16_t blocks, bool perSector) {
    std::vector<uint8_t> buffer(static_cast<size_t>(blocks) * kSector, 0xA5);
    const bool ok = FRec.ReadSectors(lba, blocks, buffer.data(), static_cast<uint32_t>(buffer.size()));
    Emit({"read", name, std::to_string(lba), std::to_string(blocks), Flag(ok),
          CrcText(Crc32(buffer.data(), buffer.size())), FRec.LastError()});
    if (!ok || !perSector) return;
    for (uint16_t i = 0; i < blocks; ++i)
      Emit({"sector", std::to_string(lba + i), CrcText(Crc32(buffer.data() + i * kSector, kSector))});
  }

  void Reads() {
    Read("descriptors", 16, 17, true);
    // The same sectors one command each, as the file system lookup reads them.
    for (uint32_t lba = 16; lba <= 32; ++lba) Read("single", lba, 1, false);
    if (FLastSector == 0) return;
    Read("last", FLastSector, 1, false);
    Read("middle", FLastSector / 2, 4, false);
    Read("beyond", FLastSector + 1, 1, false);
    // 128 KiB, which every queue takes, and 1 MiB, well within the maximum
    // transfer the transport announces.
    Read("limit", 0, 64, false);
    Read("large", 0, 512, false);
    KernelRead("large", 0, 512);
  }

  // A command the drive may refuse, under the trace-all switch: its result,
  // its last error, the sense bytes it kept, and the trace lines it logged.
  void Refusal(const std::string& name, const std::function<bool()>& command) {
    FCaptured.clear();
    FCapture = true;
    const bool ok = command();
    FCapture = false;
    Emit({"command", name, Flag(ok), FRec.LastError(), Hex(FRec.LastSense(), 18)});
    for (const std::string& line : FCaptured) Emit({"trace", name, line});
  }

  void Refusals() {
    fornax::TSCSIDevice::SetTraceAll(true);
    static uint8_t block[kSector] = {};
    Refusal("write10", [&] { return FRec.Write10(0, 1, block, sizeof block); });
    Refusal("synchronize", [&] { return FRec.SynchronizeCache(false, 10000); });
    Refusal("setcdspeed", [&] { return FRec.SetCdSpeed(0, 0); });
    Refusal("trackinfo", [&] { return FRec.ReadTrackInfo(1); });
    Refusal("buffercapacity", [&] { return FRec.ReadBufferCapacity(); });
    Refusal("formatcapacities", [&] {
      uint32_t blocks = 0, size = 0;
      return FRec.ReadFormatCapacities(blocks, size);
    });
    Refusal("modesense05", [&] {
      uint8_t page[256];
      return FRec.ModeSense10(0x05, false, page, sizeof page);
    });
    Refusal("modeselect05", [&] {
      // A write parameters page as the engine sends it: track at once.
      uint8_t list[8 + 60] = {};
      list[8] = 0x05;
      list[9] = 0x32;
      list[10] = 0x01;
      list[11] = 0x04;
      list[12] = 0x08;
      return FRec.ModeSelect10(list, sizeof list);
    });
    Refusal("tur", [&] { return FRec.TestUnitReady(5000); });
    Refusal("read10", [&] {
      uint8_t sector[kSector] = {};
      return FRec.ReadSectors(16, 1, sector, sizeof sector);
    });
    fornax::TSCSIDevice::SetTraceAll(false);
  }

  fornax::TQzRecorder FRec;
  std::string FPath;
  bool FCapture = false;
  std::vector<std::string> FCaptured;
  uint32_t FLastSector = 0;
};

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Emit({"probe", "start"});
  TProbe probe;
  probe.Run();
  return 0;
}

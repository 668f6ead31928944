#include "vrecorder/lio_target.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <fstream>

namespace fornax::vrec {
namespace {

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Why(const std::string& what, const std::string& path) {
  return fmt::format("{} {}: {}", what, path, std::strerror(errno));
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(dir);
  }
  return names;
}

// The kernel's scan sees any disc size; the drive itself answers READ
// CAPACITY. This is only what LIO keeps for its own emulation, never used.
constexpr uint64_t kBackStoreBytes = 8ULL << 30;

}  // namespace

// The kernel splits the control text at commas and line ends: a folder's
// name must not add options of its own (it only names the device).
std::string BackStoreControl(const std::string& config, uint64_t sizeBytes) {
  std::string name = config;
  for (char& c : name)
    if (c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
  return fmt::format("dev_config=fornax/{},dev_size={},hw_block_size=2048", name, sizeBytes);
}

// The kernel names the device "tcm-user/<hba number>/<device>/<dev_config>".
bool UioNameMatches(const std::string& uioName, const std::string& hba, const std::string& device) {
  const std::string number = hba.substr(hba.find('_') + 1);
  return uioName.rfind(fmt::format("tcm-user/{}/{}/fornax/", number, device), 0) == 0;
}

std::string NaaName(uint64_t wwn) { return fmt::format("naa.{:016x}", wwn); }

bool TLioTarget::MakeDirectory(const std::string& path, std::string& error, bool mayExist,
                               std::vector<std::function<void()>>& undo) {
  if (::mkdir(path.c_str(), 0755) == 0) {
    undo.push_back([path] { ::rmdir(path.c_str()); });
    return true;
  }
  if (mayExist && errno == EEXIST) return true;
  error = Why("cannot make", path);
  return false;
}

bool TLioTarget::WriteText(const std::string& path, const std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (!ok) error = Why("cannot write \"" + text + "\" to", path);
  if (fd >= 0) ::close(fd);
  return ok;
}

std::string TLioTarget::DevicePath() const {
  return FNames.ConfigRoot + "/core/" + FNames.Hba + "/" + FNames.Device;
}

std::string TLioTarget::TpgPath() const {
  return FNames.ConfigRoot + "/loopback/" + NaaName(FNames.Wwn) + "/tpgt_1";
}

bool TLioTarget::SetUpBackStore(std::string& error) {
  if (::access(FNames.ConfigRoot.c_str(), F_OK) != 0) {
    error = FNames.ConfigRoot + " is missing: configfs is not mounted, or the target_core_user and tcm_loop "
            "modules are not loaded";
    return false;
  }
  const std::string device = DevicePath();
  if (!MakeDirectory(FNames.ConfigRoot + "/core/" + FNames.Hba, error, true, FStoreUndo)) return false;
  if (!MakeDirectory(device, error, false, FStoreUndo)) {
    if (errno == EEXIST) error = "a back store " + device + " exists already: is another recorder running?";
    return false;
  }
  if (!WriteText(device + "/control", BackStoreControl(FNames.Config, kBackStoreBytes), error)) return false;
  // Blanking, formatting and closing may take a while without the Immed bit.
  std::string ignored;
  WriteText(device + "/attrib/cmd_time_out", "600", ignored);
  if (!WriteText(device + "/enable", "1", error)) return false;
  return OpenRing(error);
}

bool TLioTarget::OpenRing(std::string& error) {
  const std::string classes = FNames.SysRoot + "/class/uio";
  for (const std::string& uio : Entries(classes)) {
    if (!UioNameMatches(ReadLine(classes + "/" + uio + "/name"), FNames.Hba, FNames.Device)) continue;
    const std::string node = "/dev/" + uio;
    FRingSize = std::stoull(ReadLine(classes + "/" + uio + "/maps/map0/size"), nullptr, 0);
    FUioFd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (FUioFd < 0) {
      error = Why("cannot open", node);
      return false;
    }
    void* map = ::mmap(nullptr, FRingSize, PROT_READ | PROT_WRITE, MAP_SHARED, FUioFd, 0);
    if (map == MAP_FAILED) {
      error = Why("cannot map", node);
      ::close(FUioFd);
      FUioFd = -1;
      return false;
    }
    FRing = static_cast<uint8_t*>(map);
    FStoreUndo.push_back([this] {
      ::munmap(FRing, FRingSize);
      ::close(FUioFd);
      FRing = nullptr;
      FUioFd = -1;
    });
    return true;
  }
  error = "the kernel made no UIO device for " + DevicePath();
  return false;
}

bool TLioTarget::SetUpLun(std::string& error) {
  const std::string naa = FNames.ConfigRoot + "/loopback/" + NaaName(FNames.Wwn);
  const std::string tpg = TpgPath();
  const std::string lun = tpg + "/lun/lun_0";
  if (!MakeDirectory(FNames.ConfigRoot + "/loopback", error, true, FLunUndo)) return false;
  if (!MakeDirectory(naa, error, false, FLunUndo) || !MakeDirectory(tpg, error, false, FLunUndo) ||
      !MakeDirectory(lun, error, false, FLunUndo))
    return false;
  if (!WriteText(tpg + "/nexus", NaaName(FNames.Wwn + 1), error)) return false;
  FLunUndo.push_back([this, tpg] {
    std::string ignored;
    WriteText(tpg + "/nexus", "NULL", ignored);
  });
  const std::string link = lun + "/fornax";
  if (::symlink(DevicePath().c_str(), link.c_str()) != 0) {
    error = Why("cannot link the back store into", lun);
    return false;
  }
  FLunUndo.push_back([link] { ::unlink(link.c_str()); });
  return true;
}

// The loopback host's SCSI address, then the block device the sr driver
// made of that address's LUN 0.
std::string TLioTarget::BlockDevice() const {
  const std::string address = ReadLine(TpgPath() + "/address");  // "host:channel:target"
  if (address.empty()) return "";
  return [&]() -> std::string {
    const std::string folder = FNames.SysRoot + "/class/scsi_device/" + address + ":0/device/block";
    const auto names = Entries(folder);
    return names.empty() ? "" : names.front();
  }();
}

void TLioTarget::TearDownLun() {
  while (!FLunUndo.empty()) {
    FLunUndo.back()();
    FLunUndo.pop_back();
  }
}

void TLioTarget::TearDown() {
  TearDownLun();
  while (!FStoreUndo.empty()) {
    FStoreUndo.back()();
    FStoreUndo.pop_back();
  }
}

}  // namespace fornax::vrec

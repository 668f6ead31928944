#pragma once
// The kernel's own SCSI target (LIO), set up through configfs so that it
// presents a user-space back store as a SCSI device on a loopback host: a
// TCMU back store whose commands come to this process through a UIO ring,
// and a tcm_loop LUN that the kernel's sr driver binds as /dev/srN.
// Everything made is taken down again, in reverse order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fornax::vrec {

struct TLioNames {
  std::string ConfigRoot = "/sys/kernel/config/target";
  std::string SysRoot = "/sys";
  std::string Hba = "user_0";
  std::string Device = "fornax";
  std::string Config;  // what follows "fornax/" in the back store's dev_config
  uint64_t Wwn = 0x5001405f0a000000ULL;
};

// The control text of a TCMU back store that answers every command itself;
// `config` (the state folder) is kept from adding options.
std::string BackStoreControl(const std::string& config, uint64_t sizeBytes);
// The name the kernel gives the back store's UIO device.
bool UioNameMatches(const std::string& uioName, const std::string& hba, const std::string& device);
// "naa." and 16 hex digits.
std::string NaaName(uint64_t wwn);

class TLioTarget {
 public:
  explicit TLioTarget(TLioNames names) : FNames(std::move(names)) {}
  ~TLioTarget() { TearDown(); }
  TLioTarget(const TLioTarget&) = delete;
  TLioTarget& operator=(const TLioTarget&) = delete;

  // The back store and its ring (commands can be answered from here on).
  bool SetUpBackStore(std::string& error);
  // The loopback LUN: from here on the kernel sends commands and scans.
  bool SetUpLun(std::string& error);
  // The block device the kernel made of the LUN ("sr0"), empty until it has.
  std::string BlockDevice() const;
  // The LUN goes first, while the ring is still answered (the kernel sends
  // commands as it lets the device go); then the back store.
  void TearDownLun();
  void TearDown();

  int UioFd() const { return FUioFd; }
  uint8_t* Ring() const { return FRing; }
  size_t RingSize() const { return FRingSize; }

 private:
  bool MakeDirectory(const std::string& path, std::string& error, bool mayExist,
                     std::vector<std::function<void()>>& undo);
  bool WriteText(const std::string& path, const std::string& text, std::string& error);
  bool OpenRing(std::string& error);
  std::string DevicePath() const;
  std::string TpgPath() const;

  TLioNames FNames;
  std::vector<std::function<void()>> FStoreUndo, FLunUndo;  // run from the back
  int FUioFd = -1;
  uint8_t* FRing = nullptr;
  size_t FRingSize = 0;
};

}  // namespace fornax::vrec

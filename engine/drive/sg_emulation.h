#pragma once
// The pass-through emulation: answers SRBs for the optical drives the system
// lists as /dev/srN, sending each command with the SG_IO ioctl.

#include <cstdint>
#include <string>

namespace fornax {

// Probes /dev/sr0, /dev/sr1, ...: opens each, captures its INQUIRY answer and
// its SCSI address. Returns the number of drives found; a second start while
// started finds none.
int EmulationStartup();
void EmulationShutdown();
bool EmulationStarted();

uint32_t EmulationGetSupportInfo();
uint32_t EmulationSendCommand(void* srb);
void EmulationSetCloseAfterCommand(bool on);

// The device node of the drive at an address ("/dev/sr0"), or empty.
std::string EmulationDevicePath(uint8_t adapter, uint8_t target, uint8_t lun);

// SCSI address of a block device as sysfs tells it (/sys/class/block/srN/device
// names host:channel:target:lun). False when it cannot be read.
bool SysfsScsiAddress(const std::string& blockName, int& host, int& target, int& lun);

}  // namespace fornax

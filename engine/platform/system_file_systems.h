#pragma once
// File systems that are windows onto the kernel (proc, sysfs, devices,
// cgroups, ...). Their "files" are kernel state: some never end, some block
// when read, and none is data a user means to put on a disc. A walk that met
// them under "/" would take minutes and bring nothing, so folders on them are
// not entered. They are known by the type statfs reports, never by where they
// are mounted.

#include <cstdint>
#include <string>
#include <string_view>

namespace fornax {

// The upper-case name ("PROC", "SYSFS") of the system file system whose statfs
// f_type is Type; empty for file systems that hold data (disks, network
// shares, tmpfs). devtmpfs reports tmpfs's type, so it is not known here.
std::string SystemFileSystemName(uint32_t Type);

// Whether a file system type as the mount table writes it ("tmpfs",
// "devtmpfs") is one that only a mount table tells apart from tmpfs.
bool IsDeviceFileSystem(std::string_view MountType);

// The file system type of mount MountId in a /proc/self/mountinfo text; empty
// when the table has no such mount.
std::string MountTypeOf(std::string_view MountInfo, uint64_t MountId);

// The system file system holding the item Name of the folder open as
// DirDescriptor (AT_FDCWD and a path for the caller's own paths), upper case;
// empty for any other and when the item cannot be examined. The item is
// looked at without being opened for reading, so an automount point is not
// mounted by asking. Follow says whether a link at Name itself is followed.
std::string SystemFileSystemAt(int DirDescriptor, const std::string& Name, bool Follow);

}  // namespace fornax

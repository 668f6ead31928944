#include "engine/platform/system_file_systems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x00001000U
#endif

namespace fornax {
namespace {

struct TSystemType {
  uint32_t Magic;
  const char* Name;
};

// The kernel's magic numbers (linux/magic.h, and the file systems' own sources
// for the few it lacks).
constexpr TSystemType kSystemTypes[] = {
    {0x00009fa0, "PROC"},       {0x62656572, "SYSFS"},      {0x00001cd1, "DEVPTS"},
    {0x0027e0eb, "CGROUP"},     {0x63677270, "CGROUP2"},    {0x64626720, "DEBUGFS"},
    {0x74726163, "TRACEFS"},    {0x73636673, "SECURITYFS"}, {0x6165676c, "PSTORE"},
    {0xcafe4a11, "BPF"},        {0x62656570, "CONFIGFS"},   {0x65735543, "FUSECTL"},
    {0x19800202, "MQUEUE"},     {0x958458f6, "HUGETLBFS"},  {0x00000187, "AUTOFS"},
    {0x42494e4d, "BINFMT_MISC"}, {0xde5e81e4, "EFIVARFS"},
    // Also kernel interfaces only: namespaces, security modules, resource
    // control, the NFS server's and RPC's control files.
    {0x6e736673, "NSFS"},       {0xf97cff8c, "SELINUXFS"},  {0x43415d53, "SMACKFS"},
    {0x07655821, "RESCTRL"},    {0x67596969, "RPC_PIPEFS"}, {0x6e667364, "NFSD"},
};

constexpr uint32_t kTmpfsMagic = 0x01021994;
constexpr uint32_t kRamfsMagic = 0x858458f6;

// The next space-separated field of Text from Start, moving Start past it.
std::string_view NextField(std::string_view text, size_t& start) {
  const size_t begin = text.find_first_not_of(' ', start);
  if (begin == std::string_view::npos) {
    start = text.size();
    return {};
  }
  const size_t end = std::min(text.find(' ', begin), text.size());
  start = end;
  return text.substr(begin, end - begin);
}

std::string ReadMountTable() {
  std::ifstream in("/proc/self/mountinfo", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// devtmpfs is tmpfs (or ramfs) inside and reports its type; only the mount
// table names it. Crossing into such a mount is rare (/dev, /run, /tmp), so
// reading the table then costs little.
std::string DeviceFileSystemOf(int descriptor) {
  struct statx info {};
  if (statx(descriptor, "", AT_EMPTY_PATH, STATX_MNT_ID, &info) != 0) return "";
  if (!(info.stx_mask & STATX_MNT_ID)) return "";
  return IsDeviceFileSystem(MountTypeOf(ReadMountTable(), info.stx_mnt_id)) ? "DEVTMPFS" : "";
}

}  // namespace

std::string SystemFileSystemName(uint32_t Type) {
  for (const TSystemType& known : kSystemTypes)
    if (known.Magic == Type) return known.Name;
  return "";
}

bool IsDeviceFileSystem(std::string_view MountType) { return MountType == "devtmpfs"; }

std::string MountTypeOf(std::string_view MountInfo, uint64_t MountId) {
  const std::string id = std::to_string(MountId);
  size_t lineStart = 0;
  while (lineStart < MountInfo.size()) {
    const size_t lineEnd = std::min(MountInfo.find('\n', lineStart), MountInfo.size());
    const std::string_view line = MountInfo.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    size_t at = 0;
    if (NextField(line, at) != id) continue;
    // Paths in the table write a space as \040, so the separator is unique.
    const size_t separator = line.find(" - ");
    if (separator == std::string_view::npos) return "";
    size_t typeAt = separator + 3;
    return std::string(NextField(line, typeAt));
  }
  return "";
}

std::string SystemFileSystemAt(int DirDescriptor, const std::string& Name, bool Follow) {
  // O_PATH without O_DIRECTORY neither reads the item nor triggers an
  // automount, yet it is enough for fstatfs.
  const int flags = O_PATH | O_CLOEXEC | (Follow ? 0 : O_NOFOLLOW);
  const int descriptor = openat(DirDescriptor, Name.c_str(), flags);
  if (descriptor < 0) return "";
  std::string name;
  struct statfs info {};
  if (fstatfs(descriptor, &info) == 0) {
    const uint32_t type = static_cast<uint32_t>(info.f_type);
    name = SystemFileSystemName(type);
    if (name.empty() && (type == kTmpfsMagic || type == kRamfsMagic)) name = DeviceFileSystemOf(descriptor);
  }
  close(descriptor);
  return name;
}

}  // namespace fornax

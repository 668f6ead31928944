#pragma once
// Whether this process may read a file it has examined, decided from the
// examination itself where the permission bits settle it, so that a scan does
// not ask the file system a second time for every file.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fornax {

// Who the process is, as the kernel checks file access (the effective ids).
struct TCredentials {
  uid_t User = 0;
  gid_t Group = 0;
  std::vector<gid_t> Groups;  // supplementary groups
};

TCredentials ProcessCredentials();

// What the permission bits of Mode (owned by Owner and OwnerGroup) grant Who
// for reading: the owner's bits for the owner, else the group's bits for a
// member of the group, else the others' bits. A "no" may still be overruled
// by privilege or an access control list; a "yes" is what the kernel grants.
bool PermissionBitsGrantRead(uint32_t Mode, uint32_t Owner, uint32_t OwnerGroup, const TCredentials& Who);

// Whether the item Name of the folder open as Folder (AT_FDCWD for a path)
// can be read: the bits alone when they grant it, the system's own check
// when they do not (privilege, access control lists).
bool MayRead(int Folder, const std::string& Name, uint32_t Mode, uint32_t Owner, uint32_t OwnerGroup,
             const TCredentials& Who);

}  // namespace fornax

#include "engine/platform/read_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace fornax {

TCredentials ProcessCredentials() {
  TCredentials who;
  who.User = geteuid();
  who.Group = getegid();
  const int count = getgroups(0, nullptr);
  if (count > 0) {
    who.Groups.resize(static_cast<size_t>(count));
    const int read = getgroups(count, who.Groups.data());
    who.Groups.resize(read > 0 ? static_cast<size_t>(read) : 0);
  }
  return who;
}

bool PermissionBitsGrantRead(uint32_t Mode, uint32_t Owner, uint32_t OwnerGroup, const TCredentials& Who) {
  if (Who.User == Owner) return (Mode & S_IRUSR) != 0;
  const bool member = Who.Group == OwnerGroup ||
                      std::find(Who.Groups.begin(), Who.Groups.end(), OwnerGroup) != Who.Groups.end();
  if (member) return (Mode & S_IRGRP) != 0;
  return (Mode & S_IROTH) != 0;
}

bool MayRead(int Folder, const std::string& Name, uint32_t Mode, uint32_t Owner, uint32_t OwnerGroup,
             const TCredentials& Who) {
  if (PermissionBitsGrantRead(Mode, Owner, OwnerGroup, Who)) return true;
  return faccessat(Folder, Name.c_str(), R_OK, AT_EACCESS) == 0;
}

}  // namespace fornax

#include "vrecorder/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

namespace fornax::vrec {
namespace {

bool Fail(std::string& error, const char* what) {
  error = fmt::format("cannot give up root ({}): {}", what, std::strerror(errno));
  return false;
}

// The capability sets of this process, through the system call (no libcap).
bool Capabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3], bool set) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

bool DropPrivileges(uid_t uid, gid_t gid, std::string& error) {
  // The bounding set goes while CAP_SETPCAP is still held.
  for (int cap = 0; ::prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return Fail(error, "bounding set");
  if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
    return Fail(error, "ambient capabilities");
  if (::setgroups(0, nullptr) != 0) return Fail(error, "setgroups");
  if (::setresgid(gid, gid, gid) != 0) return Fail(error, "setresgid");
  if (::setresuid(uid, uid, uid) != 0) return Fail(error, "setresuid");
  // Root served as root keeps its capabilities through setresuid.
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  if (!Capabilities(none, true)) return Fail(error, "capset");
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Fail(error, "no new privileges");
  // The ring's descriptor stays with this process: no other process of the
  // user may trace it or take its descriptors.
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return Fail(error, "dumpable");

  __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
  uid_t r = 0, e = 0, s = 0;
  gid_t rg = 0, eg = 0, sg = 0;
  bool held = !Capabilities(left, false);
  for (const auto& word : left) held = held || word.effective != 0 || word.permitted != 0 || word.inheritable != 0;
  if (held || ::getresuid(&r, &e, &s) != 0 || r != uid || e != uid || s != uid || ::getresgid(&rg, &eg, &sg) != 0 ||
      rg != gid || eg != gid || sg != gid || ::getgroups(0, nullptr) != 0 || (uid != 0 && ::setuid(0) == 0)) {
    error = "cannot give up root: the process still holds privileges after giving them up";
    return false;
  }
  return true;
}

}  // namespace fornax::vrec

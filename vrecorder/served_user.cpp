#include "vrecorder/served_user.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fmt/format.h>

namespace fornax::vrec {
namespace {

std::string AccountName(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid); pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
  return fmt::format("uid {}", uid);
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::optional<uint32_t> ParseId(const char* text) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 10) return std::nullopt;
  uint64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(*c - '0');
  }
  if (value >= static_cast<uid_t>(-1)) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool ResolveServedUser(const std::string& name, const char* sudoUid, const char* sudoGid, TServedUser& user,
                       std::string& error) {
  if (!name.empty()) {
    const passwd* pw = ::getpwnam(name.c_str());
    if (pw == nullptr) return error = "no user named " + name, false;
    user = {pw->pw_uid, pw->pw_gid, name};
    return true;
  }
  if (sudoUid == nullptr || *sudoUid == '\0') {
    user = {0, 0, AccountName(0)};
    return true;
  }
  const auto uid = ParseId(sudoUid);
  if (!uid) return error = fmt::format("SUDO_UID is no user id: \"{}\"", sudoUid), false;
  auto gid = ParseId(sudoGid);
  if (!gid) {
    const passwd* pw = ::getpwuid(*uid);
    if (pw == nullptr) return error = fmt::format("SUDO_GID is no group id and uid {} has no account", *uid), false;
    gid = pw->pw_gid;
  }
  user = {*uid, *gid, AccountName(*uid)};
  return true;
}

bool DefaultStateFolder(const TServedUser& user, std::string& folder, std::string& error) {
  if (const char* dir = std::getenv("FORNAX_SIMDRIVE_DIR"); dir != nullptr && *dir != '\0') {
    folder = dir;
    return true;
  }
  const passwd* pw = ::getpwuid(user.Uid);
  if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] != '/')
    return error = user.Name + " has no home folder: give the state folder with --state", false;
  folder = std::string(pw->pw_dir) + "/.local/state/fornax/simdrive";
  return true;
}

std::string StateFolderRefusal(const std::string& folder, const TServedUser& user) {
  const std::string path = WithoutTrailingSlashes(folder);
  // O_PATH: the owner and mode are learnt also of a folder the user may
  // not read, and a link is examined, not followed.
  const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fmt::format("cannot open the state folder {}: {}", path, std::strerror(errno));
  struct stat st {};
  const bool examined = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!examined) return fmt::format("cannot examine the state folder {}: {}", path, std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return "the state folder " + path + " is a symbolic link: refused";
  if (!S_ISDIR(st.st_mode)) return "the state folder " + path + " is not a folder: refused";
  if (st.st_uid != user.Uid)
    return fmt::format("the state folder {} belongs to {}, not to {} whom the recorder serves: refused", path,
                       AccountName(st.st_uid), user.Name);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return fmt::format("the state folder {} may be written by {} (mode {:04o}): refused", path,
                       (st.st_mode & S_IWOTH) != 0 ? "others" : "its group", st.st_mode & 07777);
  return "";
}

}  // namespace fornax::vrec

#pragma once
// Whom the recorder serves, and the folder it keeps that user's disc in. The
// recorder is started as root (sudo) but reads and writes the disc of the
// user who started it: the serving process becomes that user (see
// privileges.h), and a folder that user does not own alone is refused.

#include <sys/types.h>

#include <optional>
#include <string>

namespace fornax::vrec {

struct TServedUser {
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::string Name;  // for messages: the account's name, else "uid N"
};

// A user or group id as sudo writes it: decimal digits only, below the
// (uid_t)-1 that means "no change" to setresuid.
std::optional<uint32_t> ParseId(const char* text);

// `--user NAME` when given, else the user who ran sudo (SUDO_UID and
// SUDO_GID), else root.
bool ResolveServedUser(const std::string& name, const char* sudoUid, const char* sudoGid, TServedUser& user,
                       std::string& error);

// $FORNAX_SIMDRIVE_DIR, else the served user's ~/.local/state/fornax/simdrive
// (the folder that user's own fornax-cli takes by default).
bool DefaultStateFolder(const TServedUser& user, std::string& folder, std::string& error);

// Why a state folder must not be served to `user`: it is a symbolic link or
// no folder, belongs to someone else, or its group or others may write it
// (and so put links or files in it). Empty when it may be served.
std::string StateFolderRefusal(const std::string& folder, const TServedUser& user);

}  // namespace fornax::vrec

#pragma once
// Giving up root for good: what the serving process does before it opens
// any file of the state folder, so that a folder the user controls can
// reach nothing the user could not reach.

#include <sys/types.h>

#include <string>

namespace fornax::vrec {

// Becomes uid:gid with no supplementary group, no capability (none
// effective, permitted, inheritable, ambient or in the bounding set, so
// that nothing executed later regains one, root included), no new
// privileges and not dumpable; then checks that none of it can be undone.
bool DropPrivileges(uid_t uid, gid_t gid, std::string& error);

}  // namespace fornax::vrec

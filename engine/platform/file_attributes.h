#pragma once
// Attributes of an item already examined with stat(), for the listing code that
// has the stat data at hand and should not ask the file system twice.

#include <string>

#include <sys/stat.h>

namespace fornax {

// faDirectory and faHidden, which follow from the name and the type alone.
int BasicAttributes(const std::string& Name, const struct stat& Info);

// BasicAttributes plus faArchive for a regular file that changed since it was
// last archived. Path is where the item is (symbolic links are followed).
int ItemAttributes(const std::string& Path, const std::string& Name, const struct stat& Info);

}  // namespace fornax

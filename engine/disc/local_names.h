#pragma once
// Names of a disc as names of this computer's file system. A disc is hostile
// input: whatever transformation a name goes through, the result is checked
// afterwards, so that it is always one path component below the folder it is
// made in.

#include <string>
#include <string_view>

namespace fornax {

// One path component that stays in its folder: not empty, not "." or "..",
// no "/" and no NUL.
bool IsSafeLocalComponent(std::string_view name);

// The local file name of a disc name: a final dot that only marks "no
// extension" on the disc ("README.") is dropped, as other systems do. Empty
// when the result would not be a safe component ("...", whose final dot is
// no extension mark, keeps it and stays "...").
std::string LocalFileName(std::string_view discName);

}  // namespace fornax

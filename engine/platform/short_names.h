#pragma once
// Names of the compilation made from file-system names: the long (Joliet)
// spelling and the 8.3 alias of ISO 9660 d-characters.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace fornax {

using TNameTaken = std::function<bool(const std::string& upperName)>;

// The compilation's spelling of a file-system name: invalid UTF-8 bytes become
// their Latin-1 characters; "\" (the compilation's path separator) and control
// characters (which Joliet cannot hold) become "_".
std::string MakeLongName(const std::string& Name);
// True when MakeLongName replaces characters of Name by "_", so that the name
// on the disc is not the one on the file system and the user must be told.
// (Latin-1 bytes are not counted: they keep their characters.)
bool LongNameReplacesCharacters(const std::string& Name);

// True when LongName already is an 8.3 name of d-characters (A-Z 0-9 _, either
// case): a stem of 1-8 characters and an optional extension of 1-3 after one dot.
// A directory identifier has no extension: a folder's name must be 1-8
// d-characters.
bool IsShortNameValid(const std::string& LongName, bool isDirectory = false);

// The 8.3 alias the Windows file system would make, but only of d-characters:
// upper case; spaces, leading dots and dots other than the last dropped; every
// other character outside A-Z 0-9 _ becomes "_"; the stem is cut and a numeric
// tail "_N" added (N from 1) so that the alias is not taken.
// "My Report 2024.docx" gives MYREPO_1.DOC. The tail is added even when the
// plain name would be free, because the name had to be altered: only call this
// for names that are not IsShortNameValid.
// Throws std::length_error when every tail up to _9999999 is taken, which only a
// predicate that never says "free" can cause.
// A folder's alias has no extension: its dots are dropped like spaces
// ("release.v2" gives RELEAS_1).
std::string MakeShortName(const std::string& LongName, const TNameTaken& isTaken,
                          bool isDirectory = false);

// A free variant of an identifier already in use in a directory: the stem (the
// part before the last dot of a file name, the whole name of a directory) is cut
// to leave room for a tail "_N" within 8 characters, the extension kept.
// With seven-digit tails the stem is gone and the result is "_N" + extension.
// Throws std::length_error like MakeShortName.
std::string MakeUniqueShortName(const std::string& ShortName, bool isDirectory,
                                const TNameTaken& isTaken);

// The same, remembering per series of aliases the tail it got to, so that
// thousands of names of one beginning (IMG_20230101_...) do not each probe
// every tail before theirs. The hints hold only while names are added: when
// one is removed from the directory, clear them.
using TTailHints = std::unordered_map<std::string, uint64_t>;
std::string MakeUniqueShortName(const std::string& ShortName, bool isDirectory, const TNameTaken& isTaken,
                                TTailHints& hints);

// The parts an alias of MakeShortName is made of: the d-character stem before
// it is cut for the tail (never empty) and the extension (0-3 characters).
struct TShortNameBase {
  std::string Stem;
  std::string Extension;
};
TShortNameBase ShortNameBase(const std::string& LongName, bool isDirectory = false);

// Stem cut so that it and "_N" fit in 8 characters, "_N", and "." + Extension
// when there is one. Cuts between characters, never inside one.
std::string ShortNameWithTail(const std::string& Stem, const std::string& Extension,
                              uint64_t N);

// The largest tail the aliases use: "_9999999" alone fills 8 characters.
inline constexpr uint64_t kMaxShortNameTail = 9999999;

}  // namespace fornax

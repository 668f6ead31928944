#pragma once
// How the names of the compilation become identifiers in directory records and
// path tables, and the limits a one-byte record length puts on them.

#include <cstddef>
#include <string>

namespace fornax {

struct TFEntry;
struct TDEntry;

enum class TTree { Iso, Joliet };

// A directory record is 33 bytes, the identifier, and a pad byte when the
// identifier's length is even; its length field is one byte.
inline constexpr size_t DirectoryRecordLength(size_t identifierLength) {
  return 33 + identifierLength + (identifierLength % 2 == 0 ? 1 : 0);
}
inline constexpr size_t kMaxRecordLength = 255;

// Identifier bytes of an entry in a tree: ISO 9660 the short name (";1" for a
// file), Joliet the UTF-16 big-endian long name (";1" for a file). "." and ".."
// become the single bytes 0x00 and 0x01.
std::string EntryIdentifier(const TFEntry& entry, TTree tree);
// EntryIdentifier(entry, tree).size(), without making it.
size_t EntryIdentifierLength(const TFEntry& entry, TTree tree);
// Identifier of a directory in the path tables (the root: a single 0x00).
std::string DirectoryIdentifier(const TDEntry& dir, bool isRoot, TTree tree);

// UTF-16 big-endian bytes of a UTF-8 text.
std::string JolietBytes(const std::string& text);

// True when both identifiers of an entry with these names fit a directory record.
bool NamesFitRecord(const std::string& shortName, const std::string& longName, bool isDirectory);

// A name cut to at most `units` UTF-16 code units for the Joliet tree, when
// Rock Ridge holds the whole name: the end of the stem goes, the extension
// (up to 16 characters after the last dot) stays; never inside a character.
std::string JolietNameWithin(const std::string& name, size_t units);

// Short name of a directory created by name rather than from a source folder:
// its first 13 characters, a to z upper-cased, every character below 33 or
// above 122 replaced by "_".
std::string ShortNameFromDirectoryName(const std::string& name);

// Key under which two identifiers of one directory count as the same for
// readers: the short name without a trailing dot ("README." and "README").
std::string IsoNameKey(const std::string& shortName);

}  // namespace fornax

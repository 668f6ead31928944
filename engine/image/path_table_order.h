#pragma once
// Directory numbering: the order in which the path tables list directories.

#include <vector>

namespace fornax {

struct TDEntry;

// Orders the directories for the path tables and numbers them from 1: the root,
// then the children of the root by ISO 9660 identifier (bytes compared as
// unsigned values, a prefix first), then the children of directory 2, of
// directory 3, and so on. `directories` is the directory table (root first);
// the result holds the same directories in path-table order. Directories with
// equal keys keep their creation order.
std::vector<TDEntry*> OrderForPathTables(const std::vector<TDEntry*>& directories);

}  // namespace fornax

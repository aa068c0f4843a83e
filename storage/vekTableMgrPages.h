#pragma once
// The index pages the table-definition managers handle themselves: the empty
// leaf root of a new index, and the release of a whole index tree.

#include "host/System.h"

namespace orvex {

class TBaseIOInterface;
class TTableHeader;

// Gives each of the header's index slots 0 .. Count - 1 a new empty
// 4096-byte leaf page in IO as its root, of depth 1.
void WriteEmptyIndexRoots(TBaseIOInterface& IO, TTableHeader& Header, int Count);
// Releases every page of the index tree at Root (Depth levels, 1 for a root
// that is a leaf) from IO; nothing for Root 0.
void FreeIndexTree(TBaseIOInterface& IO, Cardinal Root, Integer Depth);

} // namespace orvex

// Empty index roots and the release of index trees, through the B-tree of
// the index unit.

#include "storage/vekTableMgrPages.h"

#include "storage/vekDataUnitTables.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekTableMgrUnit.h"

namespace orvex {

void WriteEmptyIndexRoots(TBaseIOInterface& IO, TTableHeader& Header, int Count)
{
    for (int i = 0; i < Count; ++i) {
        Cardinal root = 0;
        Integer depth = 0;
        TBTree tree;
        tree.ConnectToIFace(&IO, DefaultIndexPageSize, &root, &depth);
        tree.CreateTree();
        Header.SetIndexRoot(i, root);
        Header.SetIndexDepth(i, static_cast<Word>(depth));
    }
}

void FreeIndexTree(TBaseIOInterface& IO, Cardinal Root, Integer Depth)
{
    TBTree tree;
    tree.ConnectToIFace(&IO, IO.BlockSize(), &Root, &Depth);
    tree.EmptyTree(true);
}

} // namespace orvex

#pragma once
// The index unit: key fields and keys (vekIndexUnitKeys.h), the temporary
// sort (vekIndexUnitSort.h), B-tree pages and trees (vekIndexUnitTree.h),
// and index definitions with the index manager (vekIndexUnitManager.h).
// Each of those headers compiles on its own; this one gathers them.

#include "storage/vekIndexUnitKeys.h"
#include "storage/vekIndexUnitSort.h"
#include "storage/vekIndexUnitTree.h"
#include "storage/vekIndexUnitManager.h"

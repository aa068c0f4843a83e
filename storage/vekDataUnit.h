#pragma once
// The data unit: fields and record images, blob states and the record
// manager, table headers and the table map, and the read-ahead buffer.

#include "storage/vekDataUnitFields.h"
#include "storage/vekDataUnitReadAhead.h"
#include "storage/vekDataUnitTables.h"

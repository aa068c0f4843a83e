#pragma once
// The host framework's dataset layer, in one include: field types and the
// dataset error (host/DBTypes.h), its texts (host/DBConsts.h), variants,
// fields, definitions, the dataset, data sources and links, parameters and
// the connection base. host/DBRecordLayout.h documents the record buffer of
// the engine's datasets.

#include "host/DBConnection.h"
#include "host/DBConsts.h"
#include "host/DBDefs.h"
#include "host/DBFields.h"
#include "host/DBLinks.h"
#include "host/DBParams.h"
#include "host/DBRecordLayout.h"
#include "host/DBTypes.h"
#include "host/DataSet.h"
#include "host/Variants.h"

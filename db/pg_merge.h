// The keyed merge of the PostgreSQL layer; KeyedMerge::open chooses it for a server connection.
#pragma once

#include "db/keyed_merge.h"

namespace kalder::pg {

std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options);

} // namespace kalder::pg

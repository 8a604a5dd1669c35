// The keyed merge of the SQLite layer; KeyedMerge::open chooses it for an SQLite connection.
#pragma once

#include "db/keyed_merge.h"

namespace kalder::sqlite {

std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options);

} // namespace kalder::sqlite

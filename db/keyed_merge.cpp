#include "db/keyed_merge.h"

#include "db/sqlite_merge.h"

namespace kalder {

std::unique_ptr<KeyedMerge> KeyedMerge::open(Connection& conn, const MergeFields& fields, const MergeOptions& options)
{
    return sqlite::openMerge(conn, fields, options);
}

} // namespace kalder

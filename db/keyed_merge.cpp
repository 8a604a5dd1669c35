#include "db/keyed_merge.h"

#include "db/engine.h"

namespace kalder {

std::unique_ptr<KeyedMerge> KeyedMerge::open(Connection& conn, const MergeFields& fields, const MergeOptions& options)
{
    return conn.engine().openMerge(conn, fields, options);
}

} // namespace kalder
